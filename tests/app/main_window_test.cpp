// The real Quaderix Puzzle dialog on Qt's offscreen platform: its layout, the button
// rules, whole runs started with the Start button, the close handling, Load Config, the
// worker messages and the About box. No display is needed.

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <filesystem>
#include <fstream>
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
#include "app/qt_message_sink.h"
#include "app/settings.h"

namespace quaderix {
namespace {

// ---------------------------------------------------------------------------------------
// Helpers

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
  QString text = QString::fromStdString(log);
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return text;
}

template <class T>
T* Child(QWidget& window, const char* name) {
  T* child = window.findChild<T*>(QString::fromUtf8(name));
  EXPECT_NE(child, nullptr) << name;
  return child;
}

std::string WriteFile(const QTemporaryDir& dir, const char* name, const std::string& text) {
  const std::string path = dir.filePath(QString::fromUtf8(name)).toStdString();
  std::ofstream out(path, std::ios::binary);
  out << text;
  return path;
}

// Two stone types of the same domino shape, two copies each, in a 4 x 2 x 1 block with no
// symmetry positions. The block has 5 domino tilings and each tiling can take the two
// types in C(4, 2) = 6 ways: 30 packings, 15 with each type on the first cell.
constexpr const char* kDominoPuzzle =
    "[BlockInfo]\r\n"
    "XSize=4\r\nYSize=2\r\nZSize=1\r\nEdgeZone=2\r\n"
    "YZLine_00_00=1,2,3,4\r\n"
    "YZLine_01_00=5,6,7,8\r\n"
    "[StoneInfo]\r\n"
    "StoneCount=2\r\nStoneOrder=0,1\r\n"
    "Stone_00=2,2,0,0,0,1,0,0\r\n"
    "Stone_01=2,2,0,0,0,1,0,0\r\n"
    "[SymetryInfo]\r\n"
    "SymetryPosCount=0\r\nEnhancedSymetryCheck=0\r\n"
    "[OutputInfo]\r\n"
    "WriteEveryNSolution=0\r\n";
constexpr int kDominoPackings = 30;

// The real window with its modal contacts (question, file choice, bell) recorded instead
// of shown. One per test, on the GUI thread; it stops whatever run the test left behind.
struct Harness {
  int beeps = 0;
  int questions = 0;
  bool answer = false;
  std::vector<std::string> offeredFiles;
  std::string nextChoice;
  std::unique_ptr<MainWindow> window;

  enum FileChoice { kRecordedChoice, kRealFileDialog };

  explicit Harness(std::string commandLineConfig = "", RunSupervisor::JobFactory factory = nullptr,
                   FileChoice fileChoice = kRecordedChoice) {
    MainWindow::Hooks hooks;
    hooks.beep = [this] { ++beeps; };
    hooks.confirmForcedQuit = [this](const QString& question) {
      ++questions;
      EXPECT_EQ(question.toStdString(), kForceQuitQuestion);
      return answer;
    };
    if (fileChoice == kRecordedChoice) {
      hooks.chooseConfigFile = [this](const std::string& initialFile) {
        offeredFiles.push_back(initialFile);
        return nextChoice;
      };
    }
    hooks.jobFactory = std::move(factory);
    window = std::make_unique<MainWindow>(std::move(commandLineConfig), std::move(hooks));
  }

  MainWindow& w() { return *window; }
  RunSupervisor& run() { return window->supervisor(); }
  QPushButton* Button(const char* name) { return Child<QPushButton>(*window, name); }
  QString Field(const char* name) { return Child<QLabel>(*window, name)->text(); }
  QString LogView() { return Child<QPlainTextEdit>(*window, "logView")->toPlainText(); }
  bool LogHas(const std::string& text) {
    return window->log().text().find(text) != std::string::npos;
  }
  void Click(const char* name) { QTest::mouseClick(Button(name), Qt::LeftButton); }
  // One status tick and the worker messages that are waiting.
  void Tick() {
    DrainEvents();
    window->OnStatusTick();
    DrainEvents();
  }
  // Stops and destroys whatever the test left running.
  ~Harness() {
    if (window && window->supervisor().jobsCreated) window->supervisor().StopSequence();
    DrainEvents();
  }
};

// ---------------------------------------------------------------------------------------
// Layout

struct ExpectedControl {
  const char* name;
  const char* className;
  const char* text;
  DialogUnitRect rect;
};

// The dialog's controls in template order.
const ExpectedControl kExpectedControls[] = {
    {"statusGroup", "QGroupBox", "Status", {5, 155, 170, 50}},
    {"pastTimeLabel", "QLabel", "Past Time :", {15, 170, 40, 13}},
    {"pastTimeField", "QLabel", "", {70, 170, 100, 13}},
    {"startButton", "QPushButton", "Start", {320, 10, 50, 14}},
    {"pauseButton", "QPushButton", "Pause", {320, 30, 50, 14}},
    {"stopButton", "QPushButton", "Stop", {320, 70, 50, 14}},
    {"outputGroup", "QGroupBox", "Output", {5, 5, 310, 145}},
    {"logView", "QPlainTextEdit", nullptr, {10, 15, 300, 130}},
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
};

QString TextOf(QWidget* widget) {
  if (auto* box = qobject_cast<QGroupBox*>(widget)) return box->title();
  if (auto* label = qobject_cast<QLabel*>(widget)) return label->text();
  if (auto* button = qobject_cast<QAbstractButton*>(widget)) return button->text();
  return QString();
}

// The dialog font's average character width: the 52 letters' mean advance, rounded.
int LetterWidth(const QFontMetrics& m) {
  const QString letters = QStringLiteral("abcdefghijklmnopqrstuvwxyz");
  int sum = 0;
  for (QChar c : letters) sum += m.horizontalAdvance(c) + m.horizontalAdvance(c.toUpper());
  return (sum + 26) / 52;
}

// Pixels from dialog units, worked out here from the font's metrics.
QRect ExpectedPixels(const DialogUnitRect& r, const QFontMetrics& m) {
  const int cx = LetterWidth(m);
  const int cy = m.height();
  return QRect(r.x * cx / 4, r.y * cy / 8, r.width * cx / 4, r.height * cy / 8);
}

TEST(MainWindowLayout, EveryControlSitsAtItsDialogUnitPlaceWithItsText) {
  Harness h;
  MainWindow& w = h.w();
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  const QFontMetrics metrics = w.fontMetrics();
  ASSERT_GT(LetterWidth(metrics), 0);
  ASSERT_GT(metrics.height(), 0);
  EXPECT_EQ(w.font().pointSize(), 8);

  EXPECT_EQ(w.windowTitle().toStdString(), "Quaderix Puzzle");
  const QSize size(377 * LetterWidth(metrics) / 4, 211 * metrics.height() / 8);
  EXPECT_EQ(w.size(), size);
  EXPECT_EQ(w.minimumSize(), size);
  EXPECT_EQ(w.maximumSize(), size);
  EXPECT_FALSE(w.windowIcon().isNull());

  // Direct children in creation order are the template order; nothing else is in it.
  std::vector<QWidget*> controls;
  for (QObject* child : w.children()) {
    if (auto* widget = qobject_cast<QWidget*>(child)) controls.push_back(widget);
  }
  ASSERT_EQ(controls.size(), std::size(kExpectedControls));
  for (size_t i = 0; i < controls.size(); ++i) {
    const ExpectedControl& expected = kExpectedControls[i];
    QWidget* widget = controls[i];
    SCOPED_TRACE(expected.name);
    EXPECT_EQ(widget->objectName().toStdString(), expected.name);
    EXPECT_EQ(std::string(widget->metaObject()->className()), expected.className);
    EXPECT_EQ(widget->geometry(), ExpectedPixels(expected.rect, metrics));
    if (expected.text != nullptr) {
      EXPECT_EQ(TextOf(widget).toStdString(), expected.text);
    }
    EXPECT_TRUE(widget->isVisible());
  }

  // The fields: sunken, single line, left-aligned and vertically centred, empty at first.
  for (const char* name :
       {"pastTimeField", "solutionsField", "completeRateField", "lastRateField"}) {
    auto* field = Child<QLabel>(w, name);
    SCOPED_TRACE(name);
    EXPECT_EQ(field->frameShadow(), QFrame::Sunken);
    EXPECT_NE(field->frameShape(), QFrame::NoFrame);
    EXPECT_FALSE(field->wordWrap());
    EXPECT_EQ(field->alignment(), Qt::AlignLeft | Qt::AlignVCenter);
    EXPECT_TRUE(field->text().isEmpty());
  }
  EXPECT_TRUE(Child<QLabel>(w, "pastTimeLabel")->alignment() & Qt::AlignVCenter);
  EXPECT_TRUE(Child<QLabel>(w, "solutionsLabel")->alignment() & Qt::AlignVCenter);

  auto* log = Child<QPlainTextEdit>(w, "logView");
  EXPECT_TRUE(log->isReadOnly());
  EXPECT_EQ(log->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);

  // Every button is enabled at first, and none is a default button.
  for (QPushButton* button : w.findChildren<QPushButton*>()) {
    SCOPED_TRACE(button->objectName().toStdString());
    EXPECT_TRUE(button->isEnabled());
    EXPECT_FALSE(button->isDefault());
    EXPECT_FALSE(button->autoDefault());
  }

  // Tab order: the focusable controls in template order, and round again.
  std::vector<std::string> focusable;
  for (const ExpectedControl& c : kExpectedControls) {
    if (Child<QWidget>(w, c.name)->focusPolicy() & Qt::TabFocus) focusable.push_back(c.name);
  }
  ASSERT_GE(focusable.size(), 6u);
  QWidget* at = Child<QWidget>(w, focusable.front().c_str());
  std::vector<std::string> chain;
  for (size_t i = 0; i <= focusable.size(); ++i) {
    chain.push_back(at->objectName().toStdString());
    do {
      at = at->nextInFocusChain();
    } while (!(at->focusPolicy() & Qt::TabFocus) || at->parentWidget() != &w);
  }
  std::vector<std::string> expectedChain = focusable;
  expectedChain.push_back(focusable.front());
  EXPECT_EQ(chain, expectedChain);
}

TEST(MainWindowLayout, AboutEntryIsInTheContextMenuAndOnF1) {
  Harness h;
  MainWindow& w = h.w();
  EXPECT_EQ(w.contextMenuPolicy(), Qt::ActionsContextMenu);
  QAction* about = nullptr;
  for (QAction* action : w.actions()) {
    if (!action->isSeparator()) about = action;
  }
  ASSERT_NE(about, nullptr);
  EXPECT_EQ(about->text().toStdString(), "Inf&o über QuaderixPuzzle...");
  EXPECT_EQ(about->shortcut(), QKeySequence(Qt::Key_F1));
  ASSERT_GE(w.actions().size(), 2);
  EXPECT_TRUE(w.actions().front()->isSeparator());

  // F1 opens the About box modally; close it as a user would, with OK.
  w.show();
  w.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
  QString seenTitle;
  QTimer::singleShot(0, [&seenTitle] {
    WaitUntil([] { return QApplication::activeModalWidget() != nullptr; }, nullptr, 5000);
    QWidget* box = QApplication::activeModalWidget();
    if (box == nullptr) return;
    seenTitle = box->windowTitle();
    if (auto* ok = box->findChild<QPushButton*>("okButton")) ok->click();
  });
  QTest::keyClick(&w, Qt::Key_F1);
  EXPECT_EQ(seenTitle.toStdString(), "Info über QuaderixPuzzle");
  EXPECT_TRUE(w.isVisible());
}

TEST(AboutBox, ShowsIconNameAndVersionWithDefaultOk) {
  AboutBox box;
  const QFontMetrics m = box.fontMetrics();
  EXPECT_EQ(box.windowTitle().toStdString(), "Info über QuaderixPuzzle");
  EXPECT_EQ(box.size(), QSize(235 * LetterWidth(m) / 4, 55 * m.height() / 8));
  auto* icon = Child<QLabel>(box, "aboutIcon");
  auto* text = Child<QLabel>(box, "aboutText");
  auto* ok = Child<QPushButton>(box, "okButton");
  EXPECT_EQ(icon->geometry(), ExpectedPixels({11, 17, 20, 20}, m));
  EXPECT_FALSE(icon->pixmap().isNull());
  EXPECT_EQ(text->geometry(), ExpectedPixels({40, 10, 119, 8}, m));
  EXPECT_EQ(text->text().toStdString(), "QuaderixPuzzle Version 1.0");
  EXPECT_EQ(ok->geometry(), ExpectedPixels({178, 7, 50, 14}, m));
  EXPECT_EQ(ok->text().toStdString(), "OK");
  EXPECT_TRUE(ok->isDefault());
}

// ---------------------------------------------------------------------------------------
// Start-up and the log

TEST(MainWindowStartup, LogShowsTheThreeSettingsLinesAndTheCommandLineFile) {
  Harness h("puzzles/../my puzzle.ini");
  // The program's directory is the current directory from now on.
  EXPECT_TRUE(std::filesystem::equivalent(std::filesystem::current_path(), ProgramDirectory()));
  const std::string& log = h.w().log().text();
  const std::string expected =
      "::> Maximum number of active threads = " + std::to_string(h.run().maxThreads) +
      "\r\n::> Output file name base = " + h.run().outputFileNameBase +
      "\r\n::> Active configuration file = puzzles/../my puzzle.ini\r\n::> ";
  EXPECT_EQ(log, expected);
  EXPECT_EQ(h.LogView(), AsShown(log));
  EXPECT_EQ(h.run().configFileName, "puzzles/../my puzzle.ini");
}

TEST(MainWindowStartup, CommandLineFileIsTheFirstArgumentThatIsNoSwitch) {
  const char* none[] = {"quaderix"};
  EXPECT_EQ(ParseCommandLine(1, none), "");
  const char* switches[] = {"quaderix", "-v", "--x=1"};
  EXPECT_EQ(ParseCommandLine(3, switches), "");
  const char* mixed[] = {"quaderix", "-v", "./a b.ini", "second.ini"};
  EXPECT_EQ(ParseCommandLine(4, mixed), "./a b.ini");
  const char* absolute[] = {"quaderix", "/tmp/puzzle.ini"};
  EXPECT_EQ(ParseCommandLine(2, absolute), "/tmp/puzzle.ini");
}

TEST(MainWindowLog, WorkerTextsArriveInOrderUnformattedAndKeepTheViewAtItsEnd) {
  Harness h;
  MainWindow& w = h.w();
  w.show();
  const std::string before = w.log().text();
  // Texts full of conversions: shown as they are, never used as a format.
  QCoreApplication::postEvent(&w, new PuzzleMessageEvent({WM_PUZZLE_LOG, 0, 0, "50% %s"}));
  QCoreApplication::postEvent(&w, new PuzzleMessageEvent({WM_PUZZLE_LOG, 0, 0, " %d%n"}));
  QCoreApplication::postEvent(&w, new PuzzleMessageEvent({WM_PUZZLE_LOG, 1, 0, " %x line"}));
  DrainEvents();
  EXPECT_EQ(w.log().text(), before + "50% %s %d%n %x line\r\n::> ");
  EXPECT_EQ(h.LogView(), AsShown(w.log().text()));

  // Many lines from several threads: each thread's lines in its own order.
  QtMessageSink sink(&w);
  std::vector<std::thread> posters;
  for (int t = 0; t < 3; ++t) {
    posters.emplace_back([&sink, t] {
      for (int i = 0; i < 100; ++i) {
        sink.Post({WM_PUZZLE_LOG, 1, 0, "T" + std::to_string(t) + " line " + std::to_string(i)});
      }
    });
  }
  for (std::thread& poster : posters) poster.join();
  DrainEvents();
  const std::string& log = w.log().text();
  for (int t = 0; t < 3; ++t) {
    size_t from = 0;
    for (int i = 0; i < 100; ++i) {
      const std::string line = "::> T" + std::to_string(t) + " line " + std::to_string(i) + "\r\n";
      const size_t at = log.find(line, from);
      ASSERT_NE(at, std::string::npos) << line;
      from = at + line.size();
    }
  }
  EXPECT_EQ(h.LogView(), AsShown(log));
  QScrollBar* bar = Child<QPlainTextEdit>(w, "logView")->verticalScrollBar();
  EXPECT_GT(bar->maximum(), 0);
  EXPECT_EQ(bar->value(), bar->maximum());
}

// Receives worker messages and notes which thread handled each. Lives on the GUI thread;
// workers only post to it.
class MessageRecorder : public QObject {
 public:
  std::vector<PuzzleMessage> messages;
  std::vector<QThread*> threads;

 protected:
  bool event(QEvent* e) override {
    if (e->type() != PuzzleMessageEvent::EventType()) return QObject::event(e);
    messages.push_back(static_cast<PuzzleMessageEvent*>(e)->message());
    threads.push_back(QThread::currentThread());
    return true;
  }
};

TEST(QtMessageSink, DeliversOnTheReceiversThreadInPostingOrder) {
  MessageRecorder recorder;
  QtMessageSink sink(&recorder);
  std::thread worker([&sink] {
    for (uintptr_t i = 0; i < 500; ++i) {
      sink.Post({i % 2 ? WM_PUZZLE_NOTIFY : WM_PUZZLE_LOG, i, i * 3, std::to_string(i)});
    }
  });
  worker.join();
  // Nothing arrives before the receiver's thread runs its event loop.
  EXPECT_TRUE(recorder.messages.empty());
  DrainEvents();
  ASSERT_EQ(recorder.messages.size(), 500u);
  for (uintptr_t i = 0; i < 500; ++i) {
    const PuzzleMessage& m = recorder.messages[i];
    EXPECT_EQ(m.message, i % 2 ? WM_PUZZLE_NOTIFY : WM_PUZZLE_LOG);
    EXPECT_EQ(m.wParam, i);
    EXPECT_EQ(m.lParam, i * 3);
    EXPECT_EQ(m.text, std::to_string(i));
    EXPECT_EQ(recorder.threads[i], QThread::currentThread());
  }
}

// ---------------------------------------------------------------------------------------
// Buttons and runs

TEST(MainWindowControls, WithoutRunOnlyStartLoadConfigAndBeendenAreEnabled) {
  Harness h;
  h.w().show();
  h.w().UpdateControls();
  EXPECT_TRUE(h.Button("startButton")->isEnabled());
  EXPECT_TRUE(h.Button("loadConfigButton")->isEnabled());
  EXPECT_TRUE(h.Button("quitButton")->isEnabled());
  EXPECT_FALSE(h.Button("pauseButton")->isEnabled());
  EXPECT_FALSE(h.Button("continueButton")->isEnabled());
  EXPECT_FALSE(h.Button("stopButton")->isEnabled());

  // With no job table a status tick shows "0" twice and leaves the rate fields alone.
  h.w().OnStatusTick();
  EXPECT_EQ(h.Field("pastTimeField").toStdString(), "0");
  EXPECT_EQ(h.Field("solutionsField").toStdString(), "0");
  EXPECT_TRUE(h.Field("completeRateField").isEmpty());
  EXPECT_TRUE(h.Field("lastRateField").isEmpty());
}

TEST(MainWindowControls, EnterPressesNothing) {
  Harness h;
  MainWindow& w = h.w();
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  h.Button("startButton")->setFocus();
  QTest::keyClick(h.Button("startButton"), Qt::Key_Return);
  QTest::keyClick(&w, Qt::Key_Enter);
  DrainEvents();
  EXPECT_EQ(h.run().jobsCreated, 0);
  EXPECT_TRUE(w.isVisible());
}

TEST(MainWindowRun, SmallPuzzleStartedWithStartRunsToFinished) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::string puzzle = WriteFile(dir, "dominoes.ini", kDominoPuzzle);
  Harness h;
  MainWindow& w = h.w();
  w.show();
  h.run().maxThreads = 1;

  // Choose the puzzle through Load Config, as a user would.
  h.nextChoice = puzzle;
  h.Click("loadConfigButton");
  EXPECT_EQ(h.run().configFileName, puzzle);
  EXPECT_TRUE(h.LogHas("::> Active configuration file = " + puzzle + "\r\n"));

  h.Click("startButton");
  ASSERT_EQ(h.run().jobsCreated, 1);
  EXPECT_EQ(h.run().jobCount, 2);
  EXPECT_TRUE(h.LogHas("::> Number of Threads = 2\r\n"));
  EXPECT_TRUE(h.LogHas("::> Block Size X*Y*Z=4*2*1\r\n"));
  h.w().UpdateControls();
  EXPECT_FALSE(h.Button("startButton")->isEnabled());
  EXPECT_FALSE(h.Button("loadConfigButton")->isEnabled());
  EXPECT_TRUE(h.Button("stopButton")->isEnabled());

  const bool finished = WaitUntil(
      [&] {
        return h.Field("pastTimeField").contains(QStringLiteral("(finished)")) &&
               h.LogHas("==> Thread(1) Stopped ==> 0 Threads Running");
      },
      [&] { h.Tick(); });
  ASSERT_TRUE(finished) << w.log().text();

  EXPECT_EQ(h.Field("solutionsField").trimmed().toStdString(), std::to_string(kDominoPackings));
  // Two notices of finished jobs may both find the run complete; each beeps.
  EXPECT_GE(h.beeps, 1);
  const std::string& log = w.log().text();
  EXPECT_NE(log.find("==> Thread(0) Started ==> 1 Threads Running"), std::string::npos);
  EXPECT_NE(log.find("==> Thread(0) Stopped ==> 0 Threads Running"), std::string::npos);
  EXPECT_NE(log.find("==> Thread(1) Started ==> 1 Threads Running"), std::string::npos);
  EXPECT_NE(log.find("-> Puzzle has finished"), std::string::npos);
  // The per-job counts of the ThreadStat lines add up to the total in the field.
  const std::string stat = "ThreadStat: Elapsed Time=";
  const std::string found = "sec, Solutions Found=";
  int sum = 0;
  int stats = 0;
  for (size_t at = log.find(stat); at != std::string::npos; at = log.find(stat, at + 1)) {
    const size_t count = log.find(found, at);
    ASSERT_NE(count, std::string::npos);
    sum += std::stoi(log.substr(count + found.size()));
    ++stats;
  }
  EXPECT_EQ(stats, 2);
  EXPECT_EQ(sum, kDominoPackings);
  EXPECT_EQ(h.LogView(), AsShown(log));

  // A finished run has nothing to pause or continue; one Stop ends it.
  h.w().UpdateControls();
  EXPECT_FALSE(h.Button("pauseButton")->isEnabled());
  EXPECT_FALSE(h.Button("continueButton")->isEnabled());
  EXPECT_TRUE(h.Button("stopButton")->isEnabled());
  h.Click("stopButton");
  EXPECT_EQ(h.run().jobsCreated, 0);
  h.w().UpdateControls();
  EXPECT_TRUE(h.Button("startButton")->isEnabled());
  EXPECT_FALSE(h.Button("stopButton")->isEnabled());
}

// Dominoes filling a 6 x 6 x 6 block: far more packings than any test waits for, so the
// one job is still running whenever the test acts.
std::string EndlessPuzzle(const QTemporaryDir& dir) {
  std::string text = "[BlockInfo]\r\nXSize=6\r\nYSize=6\r\nZSize=6\r\nEdgeZone=2\r\n";
  int key = 1;
  for (int z = 0; z < 6; ++z) {
    for (int y = 0; y < 6; ++y) {
      text += "YZLine_0" + std::to_string(y) + "_0" + std::to_string(z) + "=";
      for (int x = 0; x < 6; ++x) text += std::to_string(key++) + (x < 5 ? "," : "\r\n");
    }
  }
  text +=
      "[StoneInfo]\r\nStoneCount=1\r\nStoneOrder=0\r\nStone_00=108,2,0,0,0,1,0,0\r\n"
      "[SymetryInfo]\r\nSymetryPosCount=0\r\nEnhancedSymetryCheck=0\r\n";
  return WriteFile(dir, "endless.ini", text);
}

void StartFirstJob(Harness& h, const std::string& puzzle) {
  h.run().SetConfigFileName(puzzle);
  h.run().maxThreads = 1;
  h.Click("startButton");
  ASSERT_EQ(h.run().jobsCreated, 1);
  h.Tick();  // starts job 0 and waits for its set-up
  ASSERT_EQ(h.run().jobs.size(), 1u);
  ASSERT_EQ(h.run().jobs[0]->started, 1) << h.w().log().text();
  ASSERT_TRUE(WaitUntil([&] { return h.LogHas("-> Puzzle is running"); }));
}

TEST(MainWindowRun, StopDuringRunPausesFirstAndEndsOnTheSecondPress) {
  QTemporaryDir dir;
  Harness h;
  h.w().show();
  StartFirstJob(h, EndlessPuzzle(dir));
  h.w().UpdateControls();
  EXPECT_TRUE(h.Button("pauseButton")->isEnabled()) << h.w().log().text();
  EXPECT_FALSE(h.Button("continueButton")->isEnabled());

  h.Click("stopButton");
  ASSERT_EQ(h.run().jobsCreated, 1);
  EXPECT_EQ(h.run().runState, RunPaused);
  EXPECT_EQ(h.run().jobs[0]->GetState(), StatePaused);
  ASSERT_TRUE(WaitUntil([&] { return h.LogHas("-> Puzzle has paused"); }));
  h.w().UpdateControls();
  EXPECT_FALSE(h.Button("pauseButton")->isEnabled());
  EXPECT_TRUE(h.Button("continueButton")->isEnabled());
  h.Tick();
  EXPECT_TRUE(h.Field("pastTimeField").contains(QStringLiteral("(paused)")));

  h.Click("stopButton");
  EXPECT_EQ(h.run().jobsCreated, 0);
  EXPECT_TRUE(h.run().jobs.empty());
  ASSERT_TRUE(WaitUntil([&] { return h.LogHas("-> Puzzle has stopped"); }));
  h.w().UpdateControls();
  EXPECT_TRUE(h.Button("startButton")->isEnabled());
}

TEST(MainWindowRun, PauseAndContinueFollowTheButtons) {
  QTemporaryDir dir;
  Harness h;
  h.w().show();
  StartFirstJob(h, EndlessPuzzle(dir));
  h.Click("pauseButton");
  ASSERT_EQ(h.run().jobs.size(), 1u);
  EXPECT_EQ(h.run().jobs[0]->GetState(), StatePaused);
  EXPECT_EQ(h.run().runState, RunPaused);
  h.Click("continueButton");
  EXPECT_EQ(h.run().jobs[0]->GetState(), StateRunning);
  EXPECT_EQ(h.run().runState, RunRunning);
  h.Tick();
  EXPECT_TRUE(h.Field("pastTimeField").contains(QStringLiteral("(running)")));
}

// ---------------------------------------------------------------------------------------
// Closing

TEST(MainWindowClose, ClosingDuringRunStopsAndDestroysTheJobsWithoutQuestion) {
  QTemporaryDir dir;
  Harness h;
  MainWindow& w = h.w();
  w.show();
  StartFirstJob(h, EndlessPuzzle(dir));
  EXPECT_TRUE(w.close());
  EXPECT_EQ(h.questions, 0);
  EXPECT_EQ(h.run().jobsCreated, 0);
  EXPECT_TRUE(h.run().jobs.empty());
  EXPECT_FALSE(w.isVisible());
  EXPECT_FALSE(w.JobsRemain());
}

TEST(MainWindowClose, BeendenAndEscapeTakeTheSameCloseHandling) {
  QTemporaryDir dir;
  {
    Harness h;
    h.w().show();
    StartFirstJob(h, EndlessPuzzle(dir));
    h.Click("quitButton");
    ASSERT_TRUE(WaitUntil([&] { return !h.w().isVisible(); }));
    EXPECT_EQ(h.run().jobsCreated, 0);
    EXPECT_EQ(h.questions, 0);
  }
  {
    Harness h;
    h.w().show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&h.w()));
    StartFirstJob(h, EndlessPuzzle(dir));
    QTest::keyClick(&h.w(), Qt::Key_Escape);
    ASSERT_TRUE(WaitUntil([&] { return !h.w().isVisible(); }));
    EXPECT_EQ(h.run().jobsCreated, 0);
    EXPECT_EQ(h.w().result(), QDialog::Rejected);
  }
}

// A job without a worker that runs at once and refuses Stop while told to, so that the
// question asked when a stop is not acknowledged can be reached. Owned by the window's
// supervision and used on the GUI thread only.
class StubbornJob : public PuzzleThreadBase {
 public:
  StubbornJob(int32_t stone, std::shared_ptr<std::atomic<bool>> refuseStop)
      : PuzzleThreadBase(stone, stone, "", ""), refuseStop_(std::move(refuseStop)) {}
  int Start(uint32_t) override {
    state = StateRunning;
    return 0;
  }
  int Pause(uint32_t) override {
    state = StatePaused;
    return 0;
  }
  int Continue(uint32_t) override {
    state = StateRunning;
    return 0;
  }
  int Stop(uint32_t) override {
    if (*refuseStop_) return 2;
    state = StateIdle;
    return 0;
  }
  void PostText(std::string) override {}
  void PostLine(std::string) override {}
  void PostNotify() override {}

 private:
  std::shared_ptr<std::atomic<bool>> refuseStop_;
};

TEST(MainWindowClose, UnacknowledgedStopAsksAndNoKeepsTheWindowAndItsJobs) {
  auto refuse = std::make_shared<std::atomic<bool>>(true);
  Harness h("",
            [refuse](MessageSink&, int32_t start, int32_t, const std::string&, const std::string&) {
              return std::make_unique<StubbornJob>(start, refuse);
            });
  MainWindow& w = h.w();
  w.show();
  h.run().maxThreads = 1;
  h.Click("startButton");
  h.Tick();
  ASSERT_FALSE(h.run().jobs.empty());
  ASSERT_EQ(h.run().jobs[0]->GetState(), StateRunning);

  h.answer = false;
  EXPECT_FALSE(w.close());
  EXPECT_EQ(h.questions, 1);
  EXPECT_TRUE(w.isVisible());
  EXPECT_EQ(h.run().jobsCreated, 1);
  EXPECT_EQ(h.run().runState, RunPaused);
  // The timers live on: the status fields keep being refreshed.
  Child<QLabel>(w, "pastTimeField")->clear();
  ASSERT_TRUE(WaitUntil([&] { return !h.Field("pastTimeField").isEmpty(); }, nullptr, 3000));

  h.answer = true;
  EXPECT_TRUE(w.close());
  EXPECT_EQ(h.questions, 2);
  EXPECT_FALSE(w.isVisible());
  EXPECT_TRUE(w.JobsRemain());
  // With the timers gone nothing refreshes the fields any more.
  Child<QLabel>(w, "pastTimeField")->clear();
  QTest::qWait(1300);
  EXPECT_TRUE(h.Field("pastTimeField").isEmpty());

  *refuse = false;  // let the harness tidy up
}

// ---------------------------------------------------------------------------------------
// Load Config

TEST(MainWindowLoadConfig, CancelChangesNothingAndOkLogsTheFullPath) {
  QTemporaryDir dir;
  Harness h;
  MainWindow& w = h.w();
  const std::string configBefore = h.run().configFileName;
  const std::string logBefore = w.log().text();
  const QString viewBefore = h.LogView();

  h.nextChoice = "";
  h.Click("loadConfigButton");
  ASSERT_EQ(h.offeredFiles.size(), 1u);
  EXPECT_EQ(h.offeredFiles[0], configBefore);
  EXPECT_EQ(h.run().configFileName, configBefore);
  EXPECT_EQ(w.log().text(), logBefore);
  EXPECT_EQ(h.LogView(), viewBefore);

  // A relative choice is made a full path against the current directory.
  h.nextChoice = "sub/../other.ini";
  h.Click("loadConfigButton");
  const std::string full = (std::filesystem::current_path() / "other.ini").string();
  EXPECT_EQ(h.run().configFileName, full);
  EXPECT_EQ(w.log().text(), logBefore + "Active configuration file = " + full + "\r\n::> ");
  EXPECT_EQ(h.offeredFiles.size(), 2u);
}

// Handles the next modal QFileDialog as a user would: `act` looks at it and closes it.
void OnNextFileDialog(std::function<void(QFileDialog*)> act) {
  QTimer::singleShot(0, [act = std::move(act)] {
    QFileDialog* dialog = nullptr;
    WaitUntil(
        [&dialog] {
          dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
          return dialog != nullptr;
        },
        nullptr, 5000);
    if (dialog != nullptr) act(dialog);
  });
}

TEST(MainWindowLoadConfig, FileDialogOffersIniFilesAndTheActiveFile) {
  QTemporaryDir dir;
  const std::string puzzle = WriteFile(dir, "dominoes.ini", kDominoPuzzle);
  const std::string other = WriteFile(dir, "other.ini", kDominoPuzzle);
  Harness h("", nullptr, Harness::kRealFileDialog);
  MainWindow& w = h.w();
  w.show();
  h.run().SetConfigFileName(puzzle);
  const std::string logBefore = w.log().text();

  QStringList filters;
  QString suffix;
  QStringList selected;
  OnNextFileDialog([&](QFileDialog* dialog) {
    filters = dialog->nameFilters();
    suffix = dialog->defaultSuffix();
    selected = dialog->selectedFiles();
    dialog->reject();
  });
  h.Click("loadConfigButton");
  EXPECT_EQ(filters, QStringList({"Ini Dateien (*.ini)", "Alle Dateien (*.*)"}));
  EXPECT_EQ(suffix.toStdString(), "ini");
  ASSERT_EQ(selected.size(), 1);
  EXPECT_EQ(selected.first().toStdString(), puzzle);
  EXPECT_EQ(w.log().text(), logBefore);
  EXPECT_EQ(h.run().configFileName, puzzle);

  OnNextFileDialog([&](QFileDialog* dialog) {
    dialog->selectFile(QString::fromStdString(other));
    // QFileDialog::accept is protected; through QDialog it runs the same as the Open button.
    static_cast<QDialog*>(dialog)->accept();
  });
  h.Click("loadConfigButton");
  EXPECT_EQ(h.run().configFileName, other);
  EXPECT_EQ(w.log().text(), logBefore + "Active configuration file = " + other + "\r\n::> ");
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
