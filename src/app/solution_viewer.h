#pragma once

// The window in which a person looks at the packings of one output file: the records
// (solution numbers) with Previous and Next, the packing in 3D and as layers, the legend
// of colours, "Follow" to show the newest record while a job still writes the file, and
// export as STL or PNG. Opened from the main window, which owns it until it closes; GUI
// thread only.

#include <QColor>
#include <QString>
#include <QWidget>
#include <vector>

#include "records/solution_file.h"
#include "records/solution_record.h"

class QCheckBox;
class QLabel;
class QListView;
class QListWidget;
class QPushButton;
class QTimer;

namespace quaderix {

class LayerView;
class PackingView;
class RecordListModel;

class SolutionViewer : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kFollowPeriodMs = 500;

  explicit SolutionViewer(QWidget* parent = nullptr);
  ~SolutionViewer() override;

  // Reads `path` and shows its first record (its last while following). False, with the
  // reason in the status line, when there is nothing to show.
  bool OpenFile(const QString& path);
  bool ShowRecord(int index);
  int CurrentIndex() const { return current_; }
  int RecordCount() const;

  const Packing& packing() const { return packing_; }
  // The palette colour of every piece of the shown packing.
  const std::vector<QColor>& pieceColours() const { return colours_; }
  QString StatusText() const;
  PackingView* packingView() const { return packingView_; }
  LayerView* layerView() const { return layerView_; }

  bool ExportStl(const QString& path);
  bool ExportPng(const QString& path);

 public slots:
  void Next();
  void Previous();
  void SetFollow(bool on);
  // The follow timer: reads what the job appended and shows the newest record.
  void PollFile();

 private slots:
  void OnOpen();
  void OnExportStl();
  void OnExportPng();

 private:
  void ShowStatus(const QString& text);
  void FillLegend();
  void UpdateButtons();

  SolutionFile file_;
  Packing packing_;
  std::vector<QColor> colours_;
  int current_ = -1;

  RecordListModel* model_ = nullptr;
  QLabel* fileLabel_ = nullptr;
  QListView* recordList_ = nullptr;
  QPushButton* previousButton_ = nullptr;
  QPushButton* nextButton_ = nullptr;
  QCheckBox* followBox_ = nullptr;
  PackingView* packingView_ = nullptr;
  LayerView* layerView_ = nullptr;
  QListWidget* legend_ = nullptr;
  QLabel* status_ = nullptr;
  QTimer* followTimer_ = nullptr;
};

}  // namespace quaderix
