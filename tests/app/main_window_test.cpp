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
#include "app/main_window.h"
#include "app/puzzle_app.h"
#include "app/settings.h"
#include "support/temp_files.h"
#include "threads/run_puzzles.h"

namespace quaderix {
namespace {

using testing::TempDir;
using Names = std::vector<std::string>;

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
  std::string nextChoice;
  std::unique_ptr<MainWindow> window;

  explicit Harness(std::string commandLineConfig = "", bool realFileDialog = false) {
    MainWindow::Hooks hooks;
    hooks.beep = [this] { ++beeps; };
    hooks.confirmForcedQuit = [this](const QString&) { return ++questions > 0; };
    if (!realFileDialog) hooks.chooseConfigFile = [this](const std::string&) { return nextChoice; };
    window = std::make_unique<MainWindow>(std::move(commandLineConfig), std::move(hooks));
    window->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
  }
  ~Harness() {
    if (window->supervisor().jobsCreated) window->supervisor().StopSequence();
    DrainEvents();
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
  // Starts the endless puzzle's first job, one at a time, and waits until its worker runs.
  void StartEndlessJob(const TempDir& dir) {
    run().SetConfigFileName(dir.WriteFile("endless.ini", testing::EndlessPuzzle()));
    run().maxThreads = 1;
    Click("startButton");
    Tick();  // starts job 0 and waits for its set-up
    ASSERT_EQ(run().jobs.size(), 2u);
    ASSERT_EQ(run().jobs[0]->started, 1) << window->log().text();
    ASSERT_TRUE(WaitUntil([&] { return LogHas("-> Puzzle is running"); }));
  }
};

// The dialog's controls in template order, in dialog units.
struct ExpectedControl {
  const char* name;
  const char* className;
  const char* text;
  QRect units;
};
const ExpectedControl kExpectedControls[] = {
    {"statusGroup", "QGroupBox", "Status", {5, 155, 170, 50}},
    {"pastTimeLabel", "QLabel", "Past Time :", {15, 170, 40, 13}},
    {"pastTimeField", "QLabel", "", {70, 170, 100, 13}},
    {"startButton", "QPushButton", "Start", {320, 10, 50, 14}},
    {"pauseButton", "QPushButton", "Pause", {320, 30, 50, 14}},
    {"stopButton", "QPushButton", "Stop", {320, 70, 50, 14}},
    {"outputGroup", "QGroupBox", "Output", {5, 5, 310, 145}},
    {"logView", "QPlainTextEdit", "", {10, 15, 300, 130}},
    {"solutionsField", "QLabel", "", {70, 185, 100, 13}},
    {"solutionsLabel", "QLabel", "Solutions :", {15, 185, 40, 13}},
    {"continueButton", "QPushButton", "Continue", {320, 50, 50, 14}},
    {"quitButton", "QPushButton", "Beenden", {320, 190, 50, 14}},
    {"completeRateField", "QLabel", "", {255, 170, 50, 13}},
    {"completeLabel", "QLabel", "Complete:", {185, 170, 32, 8}},
    {"lastSolutionsLabel", "QLabel", "Last Solutions:", {185, 187, 47, 8}},
    {"ratesGroup", "QGroupBox", "Solutions per Second", {180, 155, 135, 50}},
    {"lastRateField", "QLabel", "", {255, 185, 50, 13}},
    {"loadConfigButton", "QPushButton", "Load Config", {320, 135, 50, 14}},
    {"solutionsButton", "QPushButton", "&Solutions…", {320, 90, 50, 14}},
};

// Pixels from dialog units, worked out here on their own: a horizontal unit is a quarter
// of the 52 letters' mean advance (rounded), a vertical unit an eighth of the height.
QRect ExpectedPixels(const QRect& units, const QFontMetrics& m) {
  int sum = 0;
  for (char c = 'a'; c <= 'z'; ++c) {
    sum += m.horizontalAdvance(QChar(c)) + m.horizontalAdvance(QChar(c).toUpper());
  }
  const int cx = (sum + 26) / 52;
  const int cy = m.height();
  return QRect(units.x() * cx / 4, units.y() * cy / 8, units.width() * cx / 4,
               units.height() * cy / 8);
}

TEST(MainWindowLayout, EveryControlSitsAtItsDialogUnitPlaceWithItsText) {
  Harness h;
  MainWindow& w = h.w();
  const QFontMetrics metrics = w.fontMetrics();
  EXPECT_EQ(w.font().pointSize(), 8);
  EXPECT_EQ(w.windowTitle().toStdString(), "Quaderix Puzzle");
  const QSize size = ExpectedPixels({0, 0, 377, 211}, metrics).size();
  EXPECT_EQ(w.minimumSize(), size);
  EXPECT_EQ(w.maximumSize(), size);
  EXPECT_FALSE(w.windowIcon().isNull());

  // Direct children in creation order are the template order, and the tab order.
  std::vector<QWidget*> controls;
  for (QObject* child : w.children()) {
    if (auto* widget = qobject_cast<QWidget*>(child)) controls.push_back(widget);
  }
  ASSERT_EQ(controls.size(), std::size(kExpectedControls));
  for (size_t i = 0; i < controls.size(); ++i) {
    const ExpectedControl& expected = kExpectedControls[i];
    SCOPED_TRACE(expected.name);
    EXPECT_EQ(controls[i]->objectName().toStdString(), expected.name);
    EXPECT_EQ(std::string(controls[i]->metaObject()->className()), expected.className);
    EXPECT_EQ(controls[i]->geometry(), ExpectedPixels(expected.units, metrics));
    const char* textProperty = qobject_cast<QGroupBox*>(controls[i]) ? "title" : "text";
    EXPECT_EQ(controls[i]->property(textProperty).toString().toStdString(), expected.text);
    EXPECT_TRUE(controls[i]->isVisible());
    if (auto* field = qobject_cast<QLabel*>(controls[i]); field && expected.text[0] == '\0') {
      EXPECT_EQ(field->frameShadow(), QFrame::Sunken);
    }
  }
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
  std::string expected = before + "50% %s %d%n %x line\r\n::> ";
  for (int i = 0; i < 100; ++i) expected += "line " + std::to_string(i) + "\r\n::> ";
  // Texts full of conversions from a worker thread: shown as they are, in order.
  QtMessageSink sink(&h.w());
  std::thread worker([&sink] {
    sink.Post({WM_PUZZLE_LOG, 0, 0, "50% %s"});
    sink.Post({WM_PUZZLE_LOG, 0, 0, " %d%n"});
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
  EXPECT_TRUE(h.LogHas("::> Number of Threads = 2\r\n"));
  EXPECT_EQ(h.Enabled(), (Names{"stopButton", "quitButton"}));
  ASSERT_TRUE(WaitUntil(
      [&] {
        return h.Field("pastTimeField").contains(QStringLiteral("(finished)")) &&
               h.LogHas("==> Thread(1) Stopped ==> 0 Threads Running");
      },
      [&] { h.Tick(); }))
      << h.w().log().text();
  // 9 packings with the marked domino on the first cell, 27 with a plain one.
  EXPECT_EQ(h.Field("solutionsField").trimmed().toStdString(), "36");
  EXPECT_GE(h.beeps, 1);  // two notices may both find the run complete; each beeps
  const std::string& log = h.w().log().text();
  EXPECT_EQ(testing::Occurrences(log, "-> Puzzle has finished\r\n"), 2u);
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
  TempDir dir;
  Harness h;
  h.StartEndlessJob(dir);
  EXPECT_EQ(h.Enabled(), (Names{"pauseButton", "stopButton", "quitButton"}));
  h.Click("pauseButton");
  EXPECT_EQ(h.run().jobs[0]->GetState(), StatePaused);
  EXPECT_EQ(h.Enabled(), (Names{"stopButton", "continueButton", "quitButton"}));
  h.Click("continueButton");
  EXPECT_EQ(h.run().jobs[0]->GetState(), StateRunning);

  h.Click("stopButton");
  ASSERT_EQ(h.run().jobsCreated, 1);
  EXPECT_EQ(h.run().jobs[0]->GetState(), StatePaused);
  h.Tick();
  EXPECT_TRUE(h.Field("pastTimeField").contains(QStringLiteral("(paused)")));
  EXPECT_EQ(h.Enabled(), (Names{"stopButton", "continueButton", "quitButton"}));

  h.Click("stopButton");
  EXPECT_EQ(h.run().jobsCreated, 0);
  EXPECT_TRUE(h.run().jobs.empty());
  EXPECT_TRUE(WaitUntil([&] { return h.LogHas("-> Puzzle has stopped"); }));
  EXPECT_EQ(h.Enabled(), (Names{"startButton", "quitButton", "loadConfigButton"}));
}

TEST(MainWindowClose, ClosingDuringRunStopsAndDestroysTheJobsWithoutQuestion) {
  TempDir dir;
  const std::vector<std::pair<const char*, std::function<void(Harness&)>>> ways = {
      {"close", [](Harness& h) { EXPECT_TRUE(h.w().close()); }},
      {"Beenden", [](Harness& h) { h.Click("quitButton"); }},
      {"Escape", [](Harness& h) { QTest::keyClick(&h.w(), Qt::Key_Escape); }},
  };
  for (const auto& [name, close] : ways) {
    SCOPED_TRACE(name);
    Harness h;
    h.StartEndlessJob(dir);
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
