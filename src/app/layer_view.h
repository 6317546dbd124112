#pragma once

// The layers of one packing side by side, z = 0 on the left (wrapping into rows when
// there are many), each drawn as the output file draws it (x to the right, y upwards),
// every cell in its piece's colour with its level number; hovering a cell tells its
// coordinates, level and stone. Owned by the solution viewer; GUI thread only.

#include <QColor>
#include <QRect>
#include <QString>
#include <QWidget>
#include <vector>

#include "records/solution_record.h"

namespace quaderix {

class LayerView : public QWidget {
  Q_OBJECT

 public:
  explicit LayerView(QWidget* parent = nullptr);

  void SetPacking(const Packing& packing, const std::vector<QColor>& pieceColours);
  // Where cell (x, y, z) is drawn, for the current size.
  QRect CellRect(int32_t x, int32_t y, int32_t z) const;
  // The hover text at `point`, or "" off the cells.
  QString ToolTipAt(const QPoint& point) const;

 protected:
  bool event(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  // Cell size in pixels and layers per row that fit the widget best.
  struct Grid {
    int cell = 0;
    int columns = 1;
  };
  Grid Layout() const;
  int AvailableHeight() const;
  int NeededHeight(const Grid& grid) const;
  // Asks a scroll area around us for the height that all layers need at a readable size.
  void FitHeight();

  Packing packing_;
  std::vector<QColor> colours_;
};

}  // namespace quaderix
