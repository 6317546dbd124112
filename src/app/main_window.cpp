#include "app/main_window.h"

#include <sys/resource.h>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTextCursor>
#include <QTimerEvent>
#include <filesystem>
#include <system_error>
#include <utility>

#include "app/about_box.h"
#include "app/app_icon.h"
#include "app/dialog_units.h"
#include "app/solution_viewer.h"
#include "run/settings.h"
#include "run/solver_engine.h"
#include "threads/tick_count.h"

namespace quaderix {

namespace {

constexpr int kWidth = 377;
// One row more than the status groups need: the progress bar and the time left.
constexpr int kHeight = 226;
// The progress bar counts in tenths of a per cent.
constexpr int kProgressSteps = 1000;
constexpr int kTimerPeriodMs = 1000;
// The "high" scheduling level asked for at start-up; only a privileged user gets it.
constexpr int kHighPriorityNice = -10;

enum class ControlKind { GroupBox, Label, CentredLabel, Field, Button, Log, Progress };

struct ControlTemplate {
  ControlKind kind;
  const char* text;
  const char* name;
  DialogUnitRect rect;
};

// The controls in template order, which is also the tab and drawing order.
constexpr ControlTemplate kControls[] = {
    {ControlKind::GroupBox, "Status", "statusGroup", {5, 155, 170, 50}},
    {ControlKind::CentredLabel, "Past Time :", "pastTimeLabel", {15, 170, 40, 13}},
    {ControlKind::Field, "", "pastTimeField", {70, 170, 100, 13}},
    {ControlKind::Button, "Start", "startButton", {320, 10, 50, 14}},
    {ControlKind::Button, "Pause", "pauseButton", {320, 30, 50, 14}},
    {ControlKind::Button, "Stop", "stopButton", {320, 70, 50, 14}},
    {ControlKind::GroupBox, "Output", "outputGroup", {5, 5, 310, 145}},
    {ControlKind::Log, "", "logView", {10, 15, 300, 130}},
    {ControlKind::Field, "", "solutionsField", {70, 185, 100, 13}},
    {ControlKind::CentredLabel, "Solutions :", "solutionsLabel", {15, 185, 40, 13}},
    {ControlKind::Button, "Continue", "continueButton", {320, 50, 50, 14}},
    {ControlKind::Button, "Beenden", "quitButton", {320, 190, 50, 14}},
    {ControlKind::Field, "", "completeRateField", {255, 170, 50, 13}},
    {ControlKind::Label, "Complete:", "completeLabel", {185, 170, 32, 8}},
    {ControlKind::Label, "Last Solutions:", "lastSolutionsLabel", {185, 187, 47, 8}},
    {ControlKind::GroupBox, "Solutions per Second", "ratesGroup", {180, 155, 135, 50}},
    {ControlKind::Field, "", "lastRateField", {255, 185, 50, 13}},
    {ControlKind::Button, "Load Config", "loadConfigButton", {320, 135, 50, 14}},
    {ControlKind::Progress, "", "progressBar", {5, 210, 170, 11}},
    {ControlKind::Field, "", "timeLeftField", {180, 209, 135, 13}},
    // Below the run buttons, in the column's free space: opens the packings of a file.
    {ControlKind::Button, "&Solutions…", "solutionsButton", {320, 90, 50, 14}},
};

QString FromText(const std::string& text) {
  return QString::fromStdString(text);
}

std::string ChooseConfigFileWithDialog(QWidget* parent, const std::string& initialFile) {
  QFileDialog dialog(parent);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  // Any name is accepted; whether it holds a puzzle shows at the next Start.
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setNameFilters(
      {QStringLiteral("Ini Dateien (*.ini)"), QStringLiteral("Alle Dateien (*.*)")});
  dialog.setDefaultSuffix(QStringLiteral("ini"));
  const QFileInfo initial(FromText(initialFile));
  if (initial.isDir()) {
    dialog.setDirectory(initial.absoluteFilePath());
  } else if (!initialFile.empty()) {
    dialog.setDirectory(initial.absolutePath());
    dialog.selectFile(initial.fileName());
  }
  if (dialog.exec() != QDialog::Accepted) return std::string();
  const QStringList files = dialog.selectedFiles();
  return files.isEmpty() ? std::string() : files.first().toStdString();
}

bool AskYesNo(QWidget* parent, const QString& question) {
  QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(kApplicationName), question,
                  QMessageBox::Yes | QMessageBox::No, parent);
  box.setDefaultButton(QMessageBox::Yes);
  return box.exec() == QMessageBox::Yes;
}

// One message box in the window's style: continue the interrupted run, start afresh, or
// leave it.
int AskAboutCheckpoint(QWidget* parent, const QString& text, bool canContinue) {
  QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(kApplicationName), text,
                  QMessageBox::NoButton, parent);
  QPushButton* continueRun =
      canContinue ? box.addButton(QStringLiteral("Continue"), QMessageBox::AcceptRole) : nullptr;
  QPushButton* afresh = box.addButton(QStringLiteral("Start afresh"), QMessageBox::DestructiveRole);
  QPushButton* cancel = box.addButton(QMessageBox::Cancel);
  box.setDefaultButton(continueRun != nullptr ? continueRun : cancel);
  box.setEscapeButton(cancel);
  box.exec();
  if (continueRun != nullptr && box.clickedButton() == continueRun) return MainWindow::kContinueRun;
  if (box.clickedButton() == afresh) return MainWindow::kStartAfresh;
  return MainWindow::kStartNothing;
}

}  // namespace

MainWindow::MainWindow(std::string commandLineConfig, Hooks hooks)
    : QDialog(nullptr, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowCloseButtonHint),
      hooks_(std::move(hooks)),
      commandLineConfig_(std::move(commandLineConfig)),
      sink_(this),
      supervisor_(
          log_, sink_, &TickCount,
          [this] {
            if (hooks_.beep) {
              hooks_.beep();
            } else {
              QApplication::beep();
            }
          },
          hooks_.modelBuilder ? hooks_.modelBuilder : SolverModelBuilder()) {
  if (!hooks_.chooseConfigFile) {
    hooks_.chooseConfigFile = [this](const std::string& initialFile) {
      return ChooseConfigFileWithDialog(this, initialFile);
    };
  }
  if (!hooks_.showMessage) {
    hooks_.showMessage = [this](const QString& text) {
      QMessageBox::warning(this, QString::fromUtf8(kApplicationName), text);
    };
  }
  if (!hooks_.askAboutCheckpoint) {
    hooks_.askAboutCheckpoint = [this](const QString& text, bool canContinue) {
      return AskAboutCheckpoint(this, text, canContinue);
    };
  }
  if (!hooks_.confirmForcedQuit) {
    hooks_.confirmForcedQuit = [this](const QString& question) { return AskYesNo(this, question); };
  }
  setWindowTitle(QString::fromUtf8(kWindowTitle));
  setFont(DialogFont(font()));
  CreateControls();
  LayOut();
  log_.SetListener([this](const std::string& added) { AppendToLogView(added); });
  OnInitDialog();
}

MainWindow::~MainWindow() {
  // Whatever the members write to the log while they go must not reach the view.
  log_.SetListener(nullptr);
}

void MainWindow::CreateControls() {
  QWidget* previousFocusable = nullptr;
  for (const ControlTemplate& control : kControls) {
    const QString text = QString::fromUtf8(control.text);
    QWidget* widget = nullptr;
    switch (control.kind) {
      case ControlKind::GroupBox: {
        auto* box = new QGroupBox(text, this);
        // A frame only: clicks go to whatever lies under it, as with a dialog group box.
        box->setAttribute(Qt::WA_TransparentForMouseEvents);
        widget = box;
        break;
      }
      case ControlKind::Label:
      case ControlKind::CentredLabel: {
        auto* label = new QLabel(text, this);
        label->setTextFormat(Qt::PlainText);
        label->setAlignment(
            Qt::AlignLeft |
            (control.kind == ControlKind::CentredLabel ? Qt::AlignVCenter : Qt::AlignTop));
        widget = label;
        break;
      }
      case ControlKind::Field: {
        auto* field = new QLabel(this);
        field->setTextFormat(Qt::PlainText);
        field->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        field->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        field->setWordWrap(false);
        widget = field;
        break;
      }
      case ControlKind::Button: {
        auto* button = new QPushButton(text, this);
        // No default button: Enter presses nothing.
        button->setAutoDefault(false);
        button->setDefault(false);
        widget = button;
        break;
      }
      case ControlKind::Log: {
        auto* log = new QPlainTextEdit(this);
        log->setReadOnly(true);
        log->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        log->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        log->setLineWrapMode(QPlainTextEdit::WidgetWidth);
        log->setUndoRedoEnabled(false);
        widget = log;
        break;
      }
      case ControlKind::Progress: {
        auto* bar = new QProgressBar(this);
        bar->setRange(0, kProgressSteps);
        bar->setValue(0);
        bar->setTextVisible(false);
        widget = bar;
        break;
      }
    }
    widget->setObjectName(QString::fromUtf8(control.name));
    if (widget->focusPolicy() != Qt::NoFocus) {
      if (previousFocusable != nullptr) setTabOrder(previousFocusable, widget);
      previousFocusable = widget;
    }
  }

  statusGroup_ = findChild<QGroupBox*>("statusGroup");
  pastTimeLabel_ = findChild<QLabel*>("pastTimeLabel");
  pastTimeField_ = findChild<QLabel*>("pastTimeField");
  startButton_ = findChild<QPushButton*>("startButton");
  pauseButton_ = findChild<QPushButton*>("pauseButton");
  stopButton_ = findChild<QPushButton*>("stopButton");
  outputGroup_ = findChild<QGroupBox*>("outputGroup");
  logView_ = findChild<QPlainTextEdit*>("logView");
  solutionsField_ = findChild<QLabel*>("solutionsField");
  solutionsLabel_ = findChild<QLabel*>("solutionsLabel");
  continueButton_ = findChild<QPushButton*>("continueButton");
  quitButton_ = findChild<QPushButton*>("quitButton");
  completeRateField_ = findChild<QLabel*>("completeRateField");
  completeLabel_ = findChild<QLabel*>("completeLabel");
  lastSolutionsLabel_ = findChild<QLabel*>("lastSolutionsLabel");
  ratesGroup_ = findChild<QGroupBox*>("ratesGroup");
  lastRateField_ = findChild<QLabel*>("lastRateField");
  loadConfigButton_ = findChild<QPushButton*>("loadConfigButton");
  progressBar_ = findChild<QProgressBar*>("progressBar");
  timeLeftField_ = findChild<QLabel*>("timeLeftField");
  solutionsButton_ = findChild<QPushButton*>("solutionsButton");

  connect(startButton_, &QPushButton::clicked, this, &MainWindow::OnStart);
  connect(pauseButton_, &QPushButton::clicked, this, &MainWindow::OnPause);
  connect(continueButton_, &QPushButton::clicked, this, &MainWindow::OnContinue);
  connect(stopButton_, &QPushButton::clicked, this, &MainWindow::OnStop);
  connect(loadConfigButton_, &QPushButton::clicked, this, &MainWindow::OnLoadConfig);
  connect(quitButton_, &QPushButton::clicked, this, &MainWindow::OnQuit);
  connect(solutionsButton_, &QPushButton::clicked, this, &MainWindow::OnSolutions);
}

void MainWindow::LayOut() {
  const QFontMetrics metrics = fontMetrics();
  setFixedSize(DialogUnitsToPixels(kWidth, kHeight, metrics));
  for (const ControlTemplate& control : kControls) {
    if (auto* widget = findChild<QWidget*>(QString::fromUtf8(control.name))) {
      widget->setGeometry(DialogUnitsToPixels(control.rect, metrics));
    }
  }
}

void MainWindow::OnInitDialog() {
  // The About entry: Linux window managers own the window menu, so it lives in the
  // dialog's context menu, and F1 reaches it from the keyboard.
  const QString aboutText = QString::fromUtf8(kAboutEntryText);
  if (!aboutText.isEmpty()) {
    auto* separator = new QAction(this);
    separator->setSeparator(true);
    aboutAction_ = new QAction(aboutText, this);
    aboutAction_->setObjectName("aboutAction");
    aboutAction_->setShortcut(QKeySequence(Qt::Key_F1));
    aboutAction_->setShortcutContext(Qt::WindowShortcut);
    connect(aboutAction_, &QAction::triggered, this, &MainWindow::OnAbout);
    addAction(separator);
    addAction(aboutAction_);
    setContextMenuPolicy(Qt::ActionsContextMenu);
  }

  setWindowIcon(AppIcon());

  statusTimer_ = startTimer(kTimerPeriodMs);
  controlsTimer_ = startTimer(kTimerPeriodMs);

  // Best effort: an unprivileged process may not raise itself, which is fine.
  (void)setpriority(PRIO_PROCESS, 0, kHighPriorityNice);

  log_.Reset();
  pendingCarriageReturn_ = false;
  logView_->clear();
  AppendToLogView(log_.text());

  // Settings, puzzle names and output files are relative to the program's own directory.
  std::error_code ignored;
  std::filesystem::current_path(ProgramDirectory(), ignored);
  std::error_code cwdError;
  std::string baseDirectory = std::filesystem::current_path(cwdError).string();

  const Settings settings = LoadSettings("MainConfig.ini", commandLineConfig_, baseDirectory);
  supervisor_.ApplySettings(settings);
  AppendStartupLines(log_, settings);
}

void MainWindow::OnStart() {
  // No worker would ever run; the run would show "running" for ever.
  if (supervisor_.maxThreads < 1) {
    hooks_.showMessage(QString::fromUtf8("MaxThreads in MainConfig.ini is %1; a run needs at "
                                         "least 1 worker. Please correct it and restart.")
                           .arg(supervisor_.maxThreads));
    return;
  }
  // The checkpoint lives beside the output files (in the program's directory, the
  // current one), or is named after the puzzle when the run writes none.
  const RunIdentity identity =
      ReadRunIdentity(supervisor_.configFileName, supervisor_.outputFileNameBase);
  const std::string path = CheckpointPathFor(identity, supervisor_.configFileName, "");
  const CheckpointLookup found = LookUpCheckpoint(path, identity);
  if (found.state == CheckpointLookup::Matching) {
    uint64_t solutions = 0;
    for (const JobCheckpoint& job : found.checkpoint.jobs) solutions += job.FinishedSolutions();
    const QString text =
        QStringLiteral(
            "An interrupted run of this puzzle was found in %1: %2 solutions in %3 sec. "
            "Continue it, or start afresh?")
            .arg(QString::fromStdString(path))
            .arg(static_cast<qulonglong>(solutions))
            .arg(found.checkpoint.elapsedMs * 0.001, 0, 'f', 1);
    const int answer = hooks_.askAboutCheckpoint(text, true);
    if (answer == kStartNothing) return;
    if (answer == kContinueRun) supervisor_.ResumeNext(found.checkpoint);
  } else if (found.state == CheckpointLookup::Refused) {
    const QString text =
        QStringLiteral(
            "The checkpoint %1 cannot be continued: %2 Start afresh and "
            "replace it?")
            .arg(QString::fromStdString(path), QString::fromStdString(found.reason));
    if (hooks_.askAboutCheckpoint(text, false) != kStartAfresh) return;
  }
  supervisor_.checkpointPath = path;
  supervisor_.OnStart();
}

void MainWindow::OnPause() {
  supervisor_.OnPause();
}

void MainWindow::OnContinue() {
  supervisor_.OnContinue();
}

void MainWindow::OnStop() {
  supervisor_.OnStop();
}

void MainWindow::OnLoadConfig() {
  const std::string chosen = hooks_.chooseConfigFile(supervisor_.configFileName);
  if (chosen.empty()) return;
  std::error_code error;
  std::filesystem::path full = std::filesystem::absolute(chosen, error);
  if (error) full = chosen;
  const std::string fullPath = full.lexically_normal().string();
  supervisor_.SetConfigFileName(fullPath);
  log_.AppendLog("Active configuration file = %s", fullPath.c_str());
}

void MainWindow::OnSolutions() {
  // The run's output files lie where their base name points, relative to our directory.
  std::error_code error;
  const std::filesystem::path base =
      std::filesystem::absolute(supervisor_.outputFileNameBase.empty()
                                    ? std::filesystem::path("solution")
                                    : std::filesystem::path(supervisor_.outputFileNameBase),
                                error);
  const QString path = QFileDialog::getOpenFileName(
      this, QStringLiteral("Solutions"), FromText(base.parent_path().string()),
      QStringLiteral("Solution files (*.txt);;Alle Dateien (*.*)"));
  if (path.isEmpty()) return;
  auto* viewer = new SolutionViewer(this);
  viewer->setAttribute(Qt::WA_DeleteOnClose);
  viewer->OpenFile(path);
  viewer->show();
}

void MainWindow::OnQuit() {
  // A close request, handled once the button's own click handling is over.
  QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
}

void MainWindow::OnAbout() {
  AboutBox about(this);
  about.exec();
}

void MainWindow::OnStatusTick() {
  const bool repaintAll = supervisor_.OnStatusTick();
  ShowStatusTexts();
  if (repaintAll) update();
}

void MainWindow::UpdateControls() {
  startButton_->setEnabled(supervisor_.CanStart());
  loadConfigButton_->setEnabled(supervisor_.CanLoadConfig());
  stopButton_->setEnabled(supervisor_.CanStop());
  pauseButton_->setEnabled(supervisor_.CanPause());
  continueButton_->setEnabled(supervisor_.CanContinue());
}

void MainWindow::ShowStatusTexts() {
  pastTimeField_->setText(FromText(supervisor_.pastTimeText));
  solutionsField_->setText(FromText(supervisor_.solutionsText));
  completeRateField_->setText(FromText(supervisor_.completeRateText));
  lastRateField_->setText(FromText(supervisor_.lastRateText));
  const bool running = supervisor_.jobsCreated != 0;
  progressBar_->setValue(running || supervisor_.progressKnown
                             ? static_cast<int>(supervisor_.progress * kProgressSteps)
                             : 0);
  timeLeftField_->setText(running ? FromText(supervisor_.progressText) : QString());
}

bool MainWindow::event(QEvent* event) {
  if (event->type() == PuzzleMessageEvent::EventType()) {
    supervisor_.OnMessage(static_cast<PuzzleMessageEvent*>(event)->message());
    return true;
  }
  return QDialog::event(event);
}

void MainWindow::timerEvent(QTimerEvent* event) {
  if (event->timerId() == statusTimer_ && statusTimer_ != 0) {
    OnStatusTick();
  } else if (event->timerId() == controlsTimer_ && controlsTimer_ != 0) {
    UpdateControls();
  } else {
    QDialog::timerEvent(event);
  }
}

void MainWindow::closeEvent(QCloseEvent* event) {
  supervisor_.StopSequence();
  if (supervisor_.jobsCreated && !hooks_.confirmForcedQuit(QString::fromUtf8(kForceQuitQuestion))) {
    event->ignore();
    return;
  }
  if (statusTimer_ != 0) killTimer(statusTimer_);
  if (controlsTimer_ != 0) killTimer(controlsTimer_);
  statusTimer_ = 0;
  controlsTimer_ = 0;
  event->accept();
  QDialog::done(QDialog::Rejected);
}

void MainWindow::reject() {
  // Escape would end the dialog at once, with workers still running; our workers are
  // joined when their jobs go, so it takes the full close handling instead.
  close();
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    // The dialog's OK command does nothing.
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void MainWindow::changeEvent(QEvent* event) {
  QDialog::changeEvent(event);
  if (event->type() == QEvent::FontChange && logView_ != nullptr) LayOut();
}

void MainWindow::AppendToLogView(const std::string& added) {
  std::string text;
  text.reserve(added.size() + 1);
  if (pendingCarriageReturn_) text.push_back('\r');
  text += added;
  pendingCarriageReturn_ = false;

  std::string shown;
  shown.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r') {
      shown.push_back(text[i]);
    } else if (i + 1 < text.size() && text[i + 1] == '\n') {
      shown.push_back('\n');
      ++i;
    } else if (i + 1 == text.size()) {
      pendingCarriageReturn_ = true;
    }
    // A carriage return on its own breaks no line and shows nothing.
  }
  if (shown.empty()) return;

  QTextCursor cursor(logView_->document());
  cursor.movePosition(QTextCursor::End);
  cursor.insertText(FromText(shown));
  ScrollLogToEnd();
}

void MainWindow::ScrollLogToEnd() {
  QScrollBar* bar = logView_->verticalScrollBar();
  bar->setValue(bar->maximum());
}

}  // namespace quaderix
