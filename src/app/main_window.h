#pragma once

// The main window of the Qt front end, laid out in dialog units like a dialog template.

#include <QDialog>
#include <QString>
#include <functional>
#include <string>

#include "app/qt_message_sink.h"
#include "run/run_log.h"
#include "run/run_supervisor.h"

class QAction;
class QGroupBox;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace quaderix {

inline constexpr const char* kWindowTitle = "Quaderix Puzzle";
inline constexpr const char* kAboutEntryText = "Inf&o über QuaderixPuzzle...";
inline constexpr const char* kForceQuitQuestion =
    "Ein fehler ist beim Beenden aufgetreten. Wollen Sie das beenden erzwingen? ";
inline constexpr const char* kApplicationName = "QuaderixPuzzle";

// The Quaderix Puzzle dialog: the buttons that drive a run, the log, the four status
// fields and, below them, the run's progress and time left. It owns the run's supervision, the log
// and the message sink through which the workers reach it, and it is used on the GUI thread only;
// workers touch none of its widgets, they post messages that arrive here as queued events.
class MainWindow : public QDialog {
  Q_OBJECT

 public:
  // The window's contacts with the person in front of it. Each one left empty gets the
  // real thing (a file dialog, a message box, the bell); tests put in their own so that
  // nothing modal blocks them.
  struct Hooks {
    // Load Config: returns the chosen file, or "" when the choice was cancelled.
    std::function<std::string(const std::string& initialFile)> chooseConfigFile;
    // Closing with a job that did not acknowledge its stop: true means quit anyway.
    std::function<bool(const QString& question)> confirmForcedQuit;
    std::function<void()> beep;
    // A message the user must acknowledge (a refused setting).
    std::function<void(const QString& text)> showMessage;
    // Start found the checkpoint of an interrupted run: returns kContinueRun,
    // kStartAfresh or kStartNothing. Without `canContinue` the text says why the run
    // cannot be continued, and only starting afresh or nothing is offered.
    std::function<int(const QString& text, bool canContinue)> askAboutCheckpoint;
    // Builds the run's model; empty means the real search.
    ModelBuilder modelBuilder;
  };

  static constexpr int kContinueRun = 0;
  static constexpr int kStartAfresh = 1;
  static constexpr int kStartNothing = 2;

  // `commandLineConfig` is the puzzle file named on the command line, or "".
  explicit MainWindow(std::string commandLineConfig, Hooks hooks = Hooks());
  ~MainWindow() override;

  RunSupervisor& supervisor() { return supervisor_; }
  const RunLog& log() const { return log_; }
  // True when the window closed with jobs that never acknowledged their stop: their
  // workers may still be running and only the end of the process ends them.
  bool JobsRemain() const { return supervisor_.jobsCreated != 0; }

 public slots:
  void OnStart();
  void OnPause();
  void OnContinue();
  void OnStop();
  void OnLoadConfig();
  // Solutions…: a viewer window on an output file the user picks.
  void OnSolutions();
  // Beenden: asks the window to close, as the caption's close button does.
  void OnQuit();
  void OnAbout();
  // Timer 1: supervision, the four status texts and the progress.
  void OnStatusTick();
  // Timer 2: which buttons may be pressed.
  void UpdateControls();

 protected:
  bool event(QEvent* event) override;
  void timerEvent(QTimerEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void changeEvent(QEvent* event) override;
  // Escape: the same close handling as every other way of closing.
  void reject() override;

 private:
  void CreateControls();
  // Places every control from its dialog-unit position; again when the font changes.
  void LayOut();
  void OnInitDialog();
  void ShowStatusTexts();
  // Mirrors text added to the log into the log view, "\r\n" becoming a line break.
  void AppendToLogView(const std::string& added);
  void ScrollLogToEnd();

  Hooks hooks_;
  std::string commandLineConfig_;
  int statusTimer_ = 0;
  int controlsTimer_ = 0;
  // A '\r' that ended the last append; it may be the first half of a "\r\n".
  bool pendingCarriageReturn_ = false;

  QGroupBox* statusGroup_ = nullptr;
  QLabel* pastTimeLabel_ = nullptr;
  QLabel* pastTimeField_ = nullptr;
  QPushButton* startButton_ = nullptr;
  QPushButton* pauseButton_ = nullptr;
  QPushButton* stopButton_ = nullptr;
  QGroupBox* outputGroup_ = nullptr;
  QPlainTextEdit* logView_ = nullptr;
  QLabel* solutionsField_ = nullptr;
  QLabel* solutionsLabel_ = nullptr;
  QPushButton* continueButton_ = nullptr;
  QPushButton* quitButton_ = nullptr;
  QLabel* completeRateField_ = nullptr;
  QLabel* completeLabel_ = nullptr;
  QLabel* lastSolutionsLabel_ = nullptr;
  QGroupBox* ratesGroup_ = nullptr;
  QLabel* lastRateField_ = nullptr;
  QPushButton* loadConfigButton_ = nullptr;
  QProgressBar* progressBar_ = nullptr;
  QLabel* timeLeftField_ = nullptr;
  QPushButton* solutionsButton_ = nullptr;
  QAction* aboutAction_ = nullptr;

  // Declared in this order so that the jobs, which post to the sink and write to the log
  // through the supervisor, are gone before either of them.
  RunLog log_;
  QtMessageSink sink_;
  RunSupervisor supervisor_;
};

}  // namespace quaderix
