// The real Quaderix Puzzle dialog on Qt's offscreen platform: its layout, the button
// rules, whole runs started with the Start button, the close handling, Load Config, the
// worker messages and the About box. No display is needed.

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "app/about_box.h"
#include "app/dialog_units.h"
#include "app/main_window.h"
#include "app/puzzle_app.h"
#include "run/settings.h"
#include "run/tree_model.h"
#include "support/run_puzzles.h"
#include "support/temp_files.h"

namespace quaderix {
namespace {

using testing::TempDir;
using Names = std::vector<std::string>;

// Trees so slow that a run outlasts any test.
ModelBuilder SlowTrees() {
  auto model = std::make_shared<testing::TreeModel>(3, 14, 1);
  model->stepDelayUs = 500;
  return [model](const std::string&, bool, SetupError*) {
    return std::shared_ptr<const RunModel>(model);
  };
}

// Runs the event loop until `done` holds, calling `step` between rounds; false on timeout.
bool WaitUntil(const std::function<bool()>& done, const std::function<void()>& step = nullptr,
               int timeoutMs = 10000) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > timeoutMs) return false;
    if (step) step();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(5);
  }
  return true;
}

void DrainEvents() {
  for (int i = 0; i < 5; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

// The log as the view shows it: every "\r\n" a line break.
QString AsShown(const std::string& log) {
  return QString::fromStdString(log).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

template <class T>
T* Child(QWidget& window, const char* name) {
  T* child = window.findChild<T*>(QString::fromUtf8(name));
  EXPECT_NE(child, nullptr) << name;
  return child;
}

// The real window with its modal contacts (question, bell, and unless the real file
// dialog is asked for, the file choice) recorded instead of shown. One per test, on the
// GUI thread; it stops whatever run the test left behind.
struct Harness {
  int beeps = 0;
  int questions = 0;
  std::vector<std::string> messages;
  std::string nextChoice;
  std::vector<std::string> checkpointQuestions;
  int checkpointAnswer = MainWindow::kStartAfresh;
  std::unique_ptr<MainWindow> window;

  explicit Harness(std::string commandLineConfig = "", bool realFileDialog = false,
                   ModelBuilder builder = nullptr) {
    MainWindow::Hooks hooks;
    hooks.beep = [this] { ++beeps; };
    hooks.showMessage = [this](const QString& text) { messages.push_back(text.toStdString()); };
    hooks.modelBuilder = std::move(builder);
    hooks.confirmForcedQuit = [this](const QString&) { return ++questions > 0; };
    hooks.askAboutCheckpoint = [this](const QString& text, bool) {
      checkpointQuestions.push_back(text.toStdString());
      return checkpointAnswer;
    };
    if (!realFileDialog) hooks.chooseConfigFile = [this](const std::string&) { return nextChoice; };
    window = std::make_unique<MainWindow>(std::move(commandLineConfig), std::move(hooks));
    window->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
  }
  ~Harness() {
    if (window->supervisor().jobsCreated) window->supervisor().StopSequence();
    DrainEvents();
    // A stopped run leaves its checkpoint in the program's directory.
    const std::string checkpoint = window->supervisor().checkpointPath;
    if (!checkpoint.empty()) {
      std::filesystem::remove(checkpoint);
      std::filesystem::remove(checkpoint + ".new");
    }
  }

  MainWindow& w() { return *window; }
  RunSupervisor& run() { return window->supervisor(); }
  QString Field(const char* name) { return Child<QLabel>(*window, name)->text(); }
  QString LogView() { return Child<QPlainTextEdit>(*window, "logView")->toPlainText(); }
  bool LogHas(const std::string& text) {
    return window->log().text().find(text) != std::string::npos;
  }
  void Click(const char* name) {
    QTest::mouseClick(Child<QPushButton>(*window, name), Qt::LeftButton);
  }
  // The buttons that may be pressed now, as timer 2 would set them.
  Names Enabled() {
    window->UpdateControls();
    Names names;
    for (QPushButton* button : window->findChildren<QPushButton*>()) {
      // Solutions… reads files only and may be pressed at any time, so no rule covers it.
      if (button->isEnabled() && button->objectName() != "solutionsButton")
        names.push_back(button->objectName().toStdString());
    }
    return names;
  }
  // One status tick and the worker messages that are waiting.
  void Tick() {
    DrainEvents();
    window->OnStatusTick();
    DrainEvents();
  }
  // Starts a run that outlasts any test and waits until its workers search.
  void StartEndlessRun() {
    run().maxThreads = 2;
    Click("startButton");
    ASSERT_TRUE(WaitUntil([&] { return run().BusyWorkers() == 2; }, [&] { Tick(); }))
        << window->log().text();
  }
};

TEST(MainWindowLayout, ControlsCarryTheirTextsInsideTheDialog) {
  Harness h;
  MainWindow& w = h.w();
  const QFontMetrics metrics = w.fontMetrics();
  EXPECT_EQ(w.font().pointSize(), 8);
  EXPECT_EQ(w.windowTitle().toStdString(), "Quaderix Puzzle");
  // One row below the status groups holds the progress and the time left.
  const QSize size = DialogUnitsToPixels(377, 226, metrics);
  EXPECT_EQ(w.minimumSize(), size);
  EXPECT_EQ(w.maximumSize(), size);
  EXPECT_FALSE(w.windowIcon().isNull());
  EXPECT_EQ(Child<QPushButton>(w, "startButton")->geometry(),
            DialogUnitsToPixels(DialogUnitRect{320, 10, 50, 14}, metrics));

  const std::pair<const char*, const char*> texts[] = {{"statusGroup", "Status"},
                                                       {"pastTimeLabel", "Past Time :"},
                                                       {"startButton", "Start"},
                                                       {"pauseButton", "Pause"},
                                                       {"stopButton", "Stop"},
                                                       {"outputGroup", "Output"},
                                                       {"solutionsLabel", "Solutions :"},
                                                       {"continueButton", "Continue"},
                                                       {"quitButton", "Beenden"},
                                                       {"completeLabel", "Complete:"},
                                                       {"lastSolutionsLabel", "Last Solutions:"},
                                                       {"ratesGroup", "Solutions per Second"},
                                                       {"loadConfigButton", "Load Config"},
                                                       {"solutionsButton", "&Solutions…"}};
  for (const auto& [name, text] : texts) {
    QWidget* control = Child<QWidget>(w, name);
    const char* property = qobject_cast<QGroupBox*>(control) ? "title" : "text";
    EXPECT_EQ(control->property(property).toString().toStdString(), text) << name;
  }
  const QRect dialog(QPoint(0, 0), size);
  const int groupsBottom = std::max(Child<QWidget>(w, "statusGroup")->geometry().bottom(),
                                    Child<QWidget>(w, "ratesGroup")->geometry().bottom());
  for (QObject* child : w.children()) {
    auto* widget = qobject_cast<QWidget*>(child);
    if (widget == nullptr) continue;
    EXPECT_TRUE(dialog.contains(widget->geometry())) << widget->objectName().toStdString();
    EXPECT_TRUE(widget->isVisible());
  }
  EXPECT_GT(Child<QWidget>(w, "progressBar")->geometry().top(), groupsBottom);
  EXPECT_GT(Child<QWidget>(w, "timeLeftField")->geometry().top(), groupsBottom);
  auto* log = Child<QPlainTextEdit>(w, "logView");
  EXPECT_TRUE(log->isReadOnly());
  EXPECT_EQ(log->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
}

TEST(MainWindowLayout, AboutEntryAndAboutBoxCarryTheirTexts) {
  Harness h;
  ASSERT_FALSE(h.w().actions().isEmpty());
  EXPECT_EQ(h.w().contextMenuPolicy(), Qt::ActionsContextMenu);
  EXPECT_EQ(h.w().actions().back()->text().toStdString(), "Inf&o über QuaderixPuzzle...");
  EXPECT_EQ(h.w().actions().back()->shortcut(), QKeySequence(Qt::Key_F1));
  AboutBox box;
  EXPECT_EQ(box.windowTitle().toStdString(), "Info über QuaderixPuzzle");
  EXPECT_FALSE(Child<QLabel>(box, "aboutIcon")->pixmap().isNull());
  EXPECT_EQ(Child<QLabel>(box, "aboutText")->text().toStdString(), "QuaderixPuzzle Version 1.0");
  EXPECT_EQ(Child<QPushButton>(box, "okButton")->text().toStdString(), "OK");
  EXPECT_TRUE(Child<QPushButton>(box, "okButton")->isDefault());
}

TEST(MainWindowStartup, LogShowsTheSettingsAndTheCommandLineFileAsTyped) {
  const char* argv[] = {"quaderix", "-v", "puzzles/../my puzzle.ini", "second.ini"};
  EXPECT_EQ(ParseCommandLine(1, argv), "");
  EXPECT_EQ(ParseCommandLine(2, argv), "");
  EXPECT_EQ(ParseCommandLine(4, argv), "puzzles/../my puzzle.ini");

  Harness h(ParseCommandLine(4, argv));
  // The program's directory is the current directory from now on.
  EXPECT_TRUE(std::filesystem::equivalent(std::filesystem::current_path(), ProgramDirectory()));
  EXPECT_EQ(h.w().log().text(),
            "::> Maximum number of active threads = " + std::to_string(h.run().maxThreads) +
                "\r\n::> Output file name base = " + h.run().outputFileNameBase +
                "\r\n::> Active configuration file = puzzles/../my puzzle.ini\r\n::> ");
  EXPECT_EQ(h.LogView(), AsShown(h.w().log().text()));
}

TEST(MainWindowLog, WorkerTextsArriveUnformattedAndKeepTheViewAtItsEnd) {
  Harness h;
  const std::string before = h.w().log().text();
  std::string expected = before + "50% %s %d%n\r\n %x line\r\n::> ";
  for (int i = 0; i < 100; ++i) expected += "line " + std::to_string(i) + "\r\n::> ";
  // Texts full of conversions from a worker thread: shown as they are, in order.
  QtMessageSink sink(&h.w());
  std::thread worker([&sink] {
    sink.Post({WM_PUZZLE_LOG, 0, 0, "50% %s"});
    sink.Post({WM_PUZZLE_LOG, 0, 0, " %d%n\r"});  // a line end split over two texts
    sink.Post({WM_PUZZLE_LOG, 0, 0, "\n"});
    sink.Post({WM_PUZZLE_LOG, 1, 0, " %x line"});
    for (int i = 0; i < 100; ++i) sink.Post({WM_PUZZLE_LOG, 1, 0, "line " + std::to_string(i)});
  });
  worker.join();
  DrainEvents();
  EXPECT_EQ(h.w().log().text(), expected);
  EXPECT_EQ(h.LogView(), AsShown(expected));
  QScrollBar* bar = Child<QPlainTextEdit>(h.w(), "logView")->verticalScrollBar();
  EXPECT_GT(bar->maximum(), 0);
  EXPECT_EQ(bar->value(), bar->maximum());
}

TEST(MainWindowControls, WithoutRunOnlyStartLoadConfigAndBeendenAreEnabled) {
  Harness h;
  EXPECT_EQ(h.Enabled(), (Names{"startButton", "quitButton", "loadConfigButton"}));
  // Enter presses nothing, not even the focused Start.
  Child<QPushButton>(h.w(), "startButton")->setFocus();
  QTest::keyClick(&h.w(), Qt::Key_Return);
  DrainEvents();
  EXPECT_EQ(h.run().jobsCreated, 0);
  // With no job table a status tick shows "0" twice and leaves the rate fields alone.
  h.w().OnStatusTick();
  EXPECT_EQ(h.Field("pastTimeField").toStdString(), "0");
  EXPECT_EQ(h.Field("solutionsField").toStdString(), "0");
  EXPECT_TRUE(h.Field("completeRateField").isEmpty());
}

TEST(MainWindowRun, SmallPuzzleStartedWithStartRunsToFinished) {
  TempDir dir;
  Harness h;
  h.run().maxThreads = 1;
  // Choose the puzzle through Load Config, as a user would.
  h.nextChoice = dir.WriteFile("dominoes.ini", testing::DominoCube());
  h.Click("loadConfigButton");
  EXPECT_TRUE(h.LogHas("::> Active configuration file = " + h.nextChoice + "\r\n"));

  h.Click("startButton");
  ASSERT_TRUE(WaitUntil(
      [&] {
        return h.Field("pastTimeField").contains(QStringLiteral("(finished)")) &&
               h.LogHas("==> Thread(1) Stopped ==> 0 Threads Running");
      },
      [&] { h.Tick(); }))
      << h.w().log().text();
  // 9 packings with the marked domino on the first cell, 27 with a plain one.
  EXPECT_EQ(h.Field("solutionsField").trimmed().toStdString(), "36");
  EXPECT_EQ(h.beeps, 1);
  EXPECT_EQ(h.Field("timeLeftField").toStdString(), "100 %");
  const std::string& log = h.w().log().text();
  EXPECT_NE(log.find("::> Number of Threads = 2\r\n"), std::string::npos);
  EXPECT_NE(log.find("::> ==> Run finished: 36 solutions in "), std::string::npos);
  EXPECT_NE(log.find("Solutions Found=9\r\n"), std::string::npos);
  EXPECT_NE(log.find("Solutions Found=27\r\n"), std::string::npos);
  EXPECT_EQ(h.LogView(), AsShown(log));

  // A finished run has nothing to pause or continue; one Stop ends it.
  EXPECT_EQ(h.Enabled(), (Names{"stopButton", "quitButton"}));
  h.Click("stopButton");
  EXPECT_EQ(h.run().jobsCreated, 0);
  EXPECT_EQ(h.Enabled(), (Names{"startButton", "quitButton", "loadConfigButton"}));
}

TEST(MainWindowRun, StopDuringRunPausesFirstAndEndsOnTheSecondPress) {
  Harness h("", false, SlowTrees());
  h.StartEndlessRun();
  EXPECT_EQ(h.Enabled(), (Names{"pauseButton", "stopButton", "quitButton"}));
  h.Click("pauseButton");
  h.Tick();
  EXPECT_EQ(h.run().BusyWorkers(), 0);
  EXPECT_EQ(h.Enabled(), (Names{"stopButton", "continueButton", "quitButton"}));
  h.Click("continueButton");
  ASSERT_TRUE(WaitUntil([&] { return h.run().BusyWorkers() == 2; }, [&] { h.Tick(); }));

  h.Click("stopButton");
  ASSERT_EQ(h.run().jobsCreated, 1);
  h.Tick();
  EXPECT_TRUE(h.Field("pastTimeField").contains(QStringLiteral("(paused)")));
  EXPECT_EQ(h.Enabled(), (Names{"stopButton", "continueButton", "quitButton"}));

  h.Click("stopButton");
  EXPECT_EQ(h.run().jobsCreated, 0);
  // The log keeps what the stopped run found.
  EXPECT_TRUE(h.LogHas("==> Run stopped: "));
  EXPECT_EQ(h.Enabled(), (Names{"startButton", "quitButton", "loadConfigButton"}));
}

TEST(MainWindowRun, StartAsksWhetherToContinueAStoppedRun) {
  Harness h("", false, SlowTrees());
  h.StartEndlessRun();
  h.run().StopSequence();
  ASSERT_TRUE(std::filesystem::exists(h.run().checkpointPath));
  EXPECT_TRUE(h.checkpointQuestions.empty());
  struct Case {
    int answer;
    bool starts;
    size_t resumes;  // "Resuming" lines in the log so far
  } cases[] = {{MainWindow::kStartNothing, false, 0},
               {MainWindow::kContinueRun, true, 1},
               {MainWindow::kStartAfresh, true, 1}};
  for (const Case& c : cases) {
    h.checkpointAnswer = c.answer;
    h.w().UpdateControls();
    h.Click("startButton");
    EXPECT_EQ(h.run().jobsCreated, c.starts ? 1 : 0);
    EXPECT_EQ(testing::Occurrences(h.w().log().text(), "Resuming the interrupted run"), c.resumes);
    if (c.starts) {
      ASSERT_TRUE(WaitUntil([&] { return h.run().BusyWorkers() == 2; }, [&] { h.Tick(); }));
      h.run().StopSequence();
    }
  }
  EXPECT_EQ(h.checkpointQuestions.size(), 3u);
  EXPECT_NE(h.checkpointQuestions[0].find("An interrupted run of this puzzle was found in "),
            std::string::npos);
}

TEST(MainWindowRun, MaxThreadsBelowOneIsRefusedWithAMessage) {
  Harness h;
  h.run().maxThreads = 0;
  h.Click("startButton");
  EXPECT_EQ(h.messages.size(), 1u);
  EXPECT_EQ(h.run().jobsCreated, 0);
}

TEST(MainWindowClose, ClosingDuringRunStopsAndDestroysTheJobsWithoutQuestion) {
  const std::vector<std::pair<const char*, std::function<void(Harness&)>>> ways = {
      {"close", [](Harness& h) { EXPECT_TRUE(h.w().close()); }},
      {"Beenden", [](Harness& h) { h.Click("quitButton"); }},
      {"Escape", [](Harness& h) { QTest::keyClick(&h.w(), Qt::Key_Escape); }},
  };
  for (const auto& [name, close] : ways) {
    SCOPED_TRACE(name);
    Harness h("", false, SlowTrees());
    h.StartEndlessRun();
    close(h);
    EXPECT_TRUE(WaitUntil([&] { return !h.w().isVisible(); }));
    EXPECT_EQ(h.questions, 0);
    EXPECT_EQ(h.run().jobsCreated, 0);
    EXPECT_TRUE(h.run().jobs.empty());
  }
}

TEST(MainWindowLoadConfig, CancelLeavesTheLogUnchanged) {
  TempDir dir;
  Harness h("", true);
  const std::string puzzle = dir.WriteFile("dominoes.ini", testing::DominoCube());
  h.run().SetConfigFileName(puzzle);
  const std::string logBefore = h.w().log().text();
  // Looks at the modal file dialog as a user would, and cancels it.
  QStringList filters, selected;
  QString suffix;
  QTimer::singleShot(0, [&] {
    QFileDialog* dialog = nullptr;
    WaitUntil([&] {
      return (dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) != nullptr;
    });
    if (dialog == nullptr) return;
    filters = dialog->nameFilters();
    suffix = dialog->defaultSuffix();
    selected = dialog->selectedFiles();
    dialog->reject();
  });
  h.Click("loadConfigButton");
  EXPECT_EQ(filters, QStringList({"Ini Dateien (*.ini)", "Alle Dateien (*.*)"}));
  EXPECT_EQ(suffix.toStdString(), "ini");
  EXPECT_EQ(selected, QStringList(QString::fromStdString(puzzle)));
  EXPECT_EQ(h.w().log().text(), logBefore);
  EXPECT_EQ(h.LogView(), AsShown(logBefore));
  EXPECT_EQ(h.run().configFileName, puzzle);
}

}  // namespace
}  // namespace quaderix

int main(int argc, char** argv) {
  // No display is needed: the window draws into memory.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
