#include "app/solution_viewer.h"

#include <QAbstractListModel>
#include <QCheckBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QListWidget>
#include <QPixmap>
#include <QPushButton>
#include <QScrollArea>
#include <QSplitter>
#include <QTimer>
#include <QVBoxLayout>

#include "app/layer_view.h"
#include "app/packing_view.h"
#include "records/stl_export.h"
#include "records/stone_colouring.h"

namespace quaderix {

// The solution numbers of the open file for the record list. Reads the viewer's index
// directly so that files of many records need no copy. GUI thread only.
class RecordListModel : public QAbstractListModel {
 public:
  explicit RecordListModel(QObject* parent) : QAbstractListModel(parent) {}

  void SetRecords(const std::vector<RecordRef>* records) {
    beginResetModel();
    records_ = records;
    shown_ = records ? static_cast<int>(records->size()) : 0;
    endResetModel();
  }
  // The index grew at its end.
  void Grown() {
    const int now = static_cast<int>(records_->size());
    if (now <= shown_) return;
    beginInsertRows(QModelIndex(), shown_, now - 1);
    shown_ = now;
    endInsertRows();
  }
  int rowCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : shown_; }
  QVariant data(const QModelIndex& index, int role) const override {
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= shown_) return {};
    return tr("Solution %1").arg((*records_)[index.row()].solution);
  }

 private:
  const std::vector<RecordRef>* records_ = nullptr;
  int shown_ = 0;
};

SolutionViewer::SolutionViewer(QWidget* parent) : QWidget(parent, Qt::Window) {
  setWindowTitle(tr("Solutions"));
  setObjectName("solutionViewer");
  model_ = new RecordListModel(this);

  fileLabel_ = new QLabel(this);
  fileLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  auto* openButton = new QPushButton(tr("&Open…"), this);
  openButton->setObjectName("openButton");

  recordList_ = new QListView(this);
  recordList_->setObjectName("recordList");
  recordList_->setModel(model_);
  recordList_->setUniformItemSizes(true);
  recordList_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  recordList_->setMaximumWidth(170);
  previousButton_ = new QPushButton(tr("&Previous"), this);
  previousButton_->setObjectName("previousButton");
  nextButton_ = new QPushButton(tr("&Next"), this);
  nextButton_->setObjectName("nextButton");
  followBox_ = new QCheckBox(tr("&Follow"), this);
  followBox_->setObjectName("followBox");
  followBox_->setToolTip(tr("Show the newest record while a job still writes this file"));

  packingView_ = new PackingView(this);
  packingView_->setObjectName("packingView");
  packingView_->setToolTip(tr("Drag to turn, wheel to zoom, R or Home to reset"));
  layerView_ = new LayerView(this);
  layerView_->setObjectName("layerView");
  auto* splitter = new QSplitter(Qt::Vertical, this);
  splitter->addWidget(packingView_);
  auto* layerScroll = new QScrollArea(this);
  layerScroll->setWidget(layerView_);
  layerScroll->setWidgetResizable(true);
  layerScroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  layerScroll->setMinimumHeight(90);
  splitter->addWidget(layerScroll);
  splitter->setStretchFactor(0, 3);
  splitter->setStretchFactor(1, 2);
  splitter->setSizes({420, 280});

  legend_ = new QListWidget(this);
  legend_->setObjectName("legend");
  legend_->setMaximumWidth(220);
  legend_->setSelectionMode(QAbstractItemView::NoSelection);
  auto* stlButton = new QPushButton(tr("Export &STL…"), this);
  stlButton->setObjectName("exportStlButton");
  auto* pngButton = new QPushButton(tr("Export P&NG…"), this);
  pngButton->setObjectName("exportPngButton");

  status_ = new QLabel(this);
  status_->setObjectName("status");
  status_->setWordWrap(true);

  auto* top = new QHBoxLayout;
  top->addWidget(fileLabel_, 1);
  top->addWidget(openButton);
  auto* left = new QVBoxLayout;
  left->addWidget(recordList_, 1);
  auto* stepButtons = new QHBoxLayout;
  stepButtons->addWidget(previousButton_);
  stepButtons->addWidget(nextButton_);
  left->addLayout(stepButtons);
  left->addWidget(followBox_);
  auto* right = new QVBoxLayout;
  right->addWidget(new QLabel(tr("Legend (level = stone):"), this));
  right->addWidget(legend_, 1);
  right->addWidget(stlButton);
  right->addWidget(pngButton);
  auto* middle = new QHBoxLayout;
  middle->addLayout(left);
  middle->addWidget(splitter, 1);
  middle->addLayout(right);
  auto* all = new QVBoxLayout(this);
  all->addLayout(top);
  all->addLayout(middle, 1);
  all->addWidget(status_);
  resize(1000, 720);

  followTimer_ = new QTimer(this);
  followTimer_->setInterval(kFollowPeriodMs);
  connect(followTimer_, &QTimer::timeout, this, &SolutionViewer::PollFile);
  connect(followBox_, &QCheckBox::toggled, this, &SolutionViewer::SetFollow);
  connect(previousButton_, &QPushButton::clicked, this, &SolutionViewer::Previous);
  connect(nextButton_, &QPushButton::clicked, this, &SolutionViewer::Next);
  connect(openButton, &QPushButton::clicked, this, &SolutionViewer::OnOpen);
  connect(stlButton, &QPushButton::clicked, this, &SolutionViewer::OnExportStl);
  connect(pngButton, &QPushButton::clicked, this, &SolutionViewer::OnExportPng);
  connect(recordList_->selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex& index) {
            if (index.isValid() && index.row() != current_) ShowRecord(index.row());
          });
  UpdateButtons();
}

SolutionViewer::~SolutionViewer() = default;

int SolutionViewer::RecordCount() const {
  return static_cast<int>(file_.records().size());
}

bool SolutionViewer::OpenFile(const QString& path) {
  const SolutionFile::Status status = file_.Open(path.toStdString());
  model_->SetRecords(&file_.records());
  current_ = -1;
  fileLabel_->setText(path);
  setWindowTitle(tr("Solutions – %1").arg(QFileInfo(path).fileName()));
  QString message;
  if (status != SolutionFile::Ok) message = QString::fromStdString(file_.error());
  if (!file_.warning().empty()) message += " " + QString::fromStdString(file_.warning());
  if (file_.records().empty()) {
    packing_ = Packing();
    colours_.clear();
    packingView_->SetPacking(packing_, colours_);
    layerView_->SetPacking(packing_, colours_);
    legend_->clear();
    if (status == SolutionFile::Ok) message = tr("%1 holds no solution records yet.").arg(path);
    ShowStatus(message.trimmed());
    UpdateButtons();
    return false;
  }
  ShowStatus(message.trimmed());
  return ShowRecord(followBox_->isChecked() ? RecordCount() - 1 : 0);
}

bool SolutionViewer::ShowRecord(int index) {
  if (index < 0 || index >= RecordCount()) return false;
  Packing packing;
  if (file_.Load(static_cast<size_t>(index), packing) != SolutionFile::Ok) {
    ShowStatus(QString::fromStdString(file_.error()));
    return false;
  }
  packing_ = std::move(packing);
  current_ = index;
  colours_.clear();
  for (const int32_t c : ColourPieces(packing_)) {
    const PaletteColour& p = kStonePalette[c % kStonePaletteSize];
    colours_.emplace_back(p.red, p.green, p.blue);
  }
  packingView_->SetPacking(packing_, colours_);
  layerView_->SetPacking(packing_, colours_);
  FillLegend();
  const QModelIndex row = model_->index(index, 0);
  recordList_->setCurrentIndex(row);
  recordList_->scrollTo(row);
  UpdateButtons();
  return true;
}

void SolutionViewer::FillLegend() {
  legend_->clear();
  for (size_t i = 0; i < packing_.pieces.size(); ++i) {
    const Piece& piece = packing_.pieces[i];
    QPixmap swatch(16, 16);
    swatch.fill(colours_[i]);
    QString text;
    if (piece.level == kHighLevel) {
      text = tr("-- = levels 100 and more (%1 cubes; stones not told apart)").arg(piece.cellCount);
    } else {
      text = tr("%1 = stone %2")
                 .arg(piece.level)
                 .arg(piece.stone >= 0 ? QString::number(piece.stone) : tr("unknown"));
    }
    legend_->addItem(new QListWidgetItem(QIcon(swatch), text));
  }
}

void SolutionViewer::Next() {
  ShowRecord(current_ + 1);
}

void SolutionViewer::Previous() {
  ShowRecord(current_ - 1);
}

void SolutionViewer::SetFollow(bool on) {
  if (followBox_->isChecked() != on) followBox_->setChecked(on);
  if (on) {
    followTimer_->start();
    PollFile();
  } else {
    followTimer_->stop();
  }
}

void SolutionViewer::PollFile() {
  if (file_.path().empty()) return;
  const uint32_t generation = file_.generation();
  bool added = false;
  const SolutionFile::Status status = file_.Refresh(added);
  if (status != SolutionFile::Ok) ShowStatus(QString::fromStdString(file_.error()));
  if (!added) return;
  if (file_.generation() != generation) {
    // A new run emptied the file and wrote it again.
    model_->SetRecords(&file_.records());
    current_ = -1;
  } else {
    model_->Grown();
  }
  if (status == SolutionFile::Ok) ShowStatus(QString::fromStdString(file_.warning()));
  ShowRecord(RecordCount() - 1);
}

bool SolutionViewer::ExportStl(const QString& path) {
  if (current_ < 0) return false;
  QFile out(path);
  const std::string stl = FormatStl(packing_);
  if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
      out.write(stl.data(), static_cast<qint64>(stl.size())) != static_cast<qint64>(stl.size())) {
    ShowStatus(tr("%1 cannot be written: %2.").arg(path, out.errorString()));
    return false;
  }
  ShowStatus(tr("Solution %1 written to %2.").arg(packing_.solution).arg(path));
  return true;
}

bool SolutionViewer::ExportPng(const QString& path) {
  if (!packingView_->grab().save(path, "PNG")) {
    ShowStatus(tr("%1 cannot be written.").arg(path));
    return false;
  }
  ShowStatus(tr("The view is saved as %1.").arg(path));
  return true;
}

void SolutionViewer::OnOpen() {
  const QString path = QFileDialog::getOpenFileName(
      this, tr("Open solution file"), QFileInfo(fileLabel_->text()).absolutePath(),
      tr("Solution files (*.txt);;Alle Dateien (*.*)"));
  if (!path.isEmpty()) OpenFile(path);
}

void SolutionViewer::OnExportStl() {
  if (current_ < 0) return;
  const QString path = QFileDialog::getSaveFileName(
      this, tr("Export STL"), QStringLiteral("solution_%1.stl").arg(packing_.solution),
      tr("STL files (*.stl)"));
  if (!path.isEmpty()) ExportStl(path);
}

void SolutionViewer::OnExportPng() {
  const QString path = QFileDialog::getSaveFileName(
      this, tr("Export PNG"), QStringLiteral("solution_%1.png").arg(packing_.solution),
      tr("PNG images (*.png)"));
  if (!path.isEmpty()) ExportPng(path);
}

QString SolutionViewer::StatusText() const {
  return status_->text();
}

void SolutionViewer::ShowStatus(const QString& text) {
  status_->setText(text);
}

void SolutionViewer::UpdateButtons() {
  previousButton_->setEnabled(current_ > 0);
  nextButton_->setEnabled(current_ >= 0 && current_ + 1 < RecordCount());
}

}  // namespace quaderix
