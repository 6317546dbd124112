#include "app/layer_view.h"

#include <QHelpEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QToolTip>
#include <algorithm>

namespace quaderix {

namespace {

constexpr int kMargin = 8;
constexpr int kTitleHeight = 18;
constexpr int kLayerGap = 16;
constexpr int kMaxCell = 44;
constexpr int kMinCell = 12;

// Black or white, whichever reads better on `background`.
QColor TextColourOn(const QColor& background) {
  return qGray(background.rgb()) > 140 ? Qt::black : Qt::white;
}

}  // namespace

LayerView::LayerView(QWidget* parent) : QWidget(parent) {
  setMouseTracking(true);
}

void LayerView::SetPacking(const Packing& packing, const std::vector<QColor>& pieceColours) {
  packing_ = packing;
  colours_ = pieceColours;
  FitHeight();
  update();
}

int LayerView::AvailableHeight() const {
  // Inside a scroll area the visible height counts, not the height we asked it for.
  return parentWidget() != nullptr ? parentWidget()->height() : height();
}

LayerView::Grid LayerView::Layout() const {
  const Packing& p = packing_;
  Grid best;
  if (p.xSize == 0) return best;
  // Many layers wrap into rows; the number of layers per row that gives the largest
  // cells wins.
  for (int32_t columns = 1; columns <= p.zSize; ++columns) {
    const int32_t rows = (p.zSize + columns - 1) / columns;
    const int across = (width() - 2 * kMargin - (columns - 1) * kLayerGap) / (columns * p.xSize);
    const int down =
        (AvailableHeight() - 2 * kMargin - rows * kTitleHeight - (rows - 1) * kLayerGap) /
        (rows * p.ySize);
    const int size = std::min({across, down, kMaxCell});
    if (size > best.cell) best = Grid{size, columns};
  }
  if (best.cell >= kMinCell) return best;
  // Too many cells to fit: cells of a readable size, as many layers per row as the width
  // takes, and the rows scroll.
  const int columns =
      std::clamp((width() - 2 * kMargin + kLayerGap) / (p.xSize * kMinCell + kLayerGap), 1,
                 static_cast<int>(p.zSize));
  const int across = (width() - 2 * kMargin - (columns - 1) * kLayerGap) / (columns * p.xSize);
  return Grid{std::clamp(across, kMinCell, kMaxCell), columns};
}

int LayerView::NeededHeight(const Grid& grid) const {
  const int rows = (packing_.zSize + grid.columns - 1) / grid.columns;
  return 2 * kMargin + rows * (kTitleHeight + packing_.ySize * grid.cell) + (rows - 1) * kLayerGap;
}

void LayerView::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  FitHeight();
}

void LayerView::FitHeight() {
  const int needed = packing_.xSize == 0 ? 0 : NeededHeight(Layout());
  setMinimumHeight(needed > AvailableHeight() ? needed : 0);
}

QRect LayerView::CellRect(int32_t x, int32_t y, int32_t z) const {
  const Grid grid = Layout();
  const int size = grid.cell;
  const int column = z % grid.columns;
  const int row = z / grid.columns;
  const int left = kMargin + column * (packing_.xSize * size + kLayerGap) + x * size;
  const int top = kMargin + row * (kTitleHeight + packing_.ySize * size + kLayerGap) +
                  kTitleHeight + (packing_.ySize - 1 - y) * size;
  return QRect(left, top, size, size);
}

QString LayerView::ToolTipAt(const QPoint& point) const {
  const Packing& p = packing_;
  for (int32_t z = 0; z < p.zSize; ++z) {
    for (int32_t y = 0; y < p.ySize; ++y) {
      for (int32_t x = 0; x < p.xSize; ++x) {
        if (!CellRect(x, y, z).contains(point)) continue;
        const int32_t c = p.CellIndex(x, y, z);
        QString where = QStringLiteral("x %1, y %2, z %3: ").arg(x).arg(y).arg(z);
        if (p.level[c] == 0) return where + tr("hole");
        if (p.level[c] == kHighLevel)
          return where + tr("level 100 or more (the file does not say which)");
        const int32_t stone = p.StoneOfLevel(p.level[c]);
        return where + tr("level %1, stone %2")
                           .arg(p.level[c])
                           .arg(stone >= 0 ? QString::number(stone) : tr("unknown"));
      }
    }
  }
  return QString();
}

bool LayerView::event(QEvent* event) {
  if (event->type() == QEvent::ToolTip) {
    auto* help = static_cast<QHelpEvent*>(event);
    const QString text = ToolTipAt(help->pos());
    if (text.isEmpty()) {
      QToolTip::hideText();
      event->ignore();
    } else {
      QToolTip::showText(help->globalPos(), text, this);
    }
    return true;
  }
  return QWidget::event(event);
}

void LayerView::paintEvent(QPaintEvent*) {
  const Packing& p = packing_;
  if (p.xSize == 0) return;
  QPainter painter(this);
  const int size = Layout().cell;
  QFont small = font();
  small.setPixelSize(std::max(7, size * 2 / 5));
  for (int32_t z = 0; z < p.zSize; ++z) {
    const QRect first = CellRect(0, p.ySize - 1, z);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.setFont(font());
    painter.drawText(QRect(first.left(), first.top() - kTitleHeight, p.xSize * size, kTitleHeight),
                     Qt::AlignLeft | Qt::AlignTop, QStringLiteral("z = %1").arg(z));
    painter.setFont(small);
    for (int32_t y = 0; y < p.ySize; ++y) {
      for (int32_t x = 0; x < p.xSize; ++x) {
        const int32_t c = p.CellIndex(x, y, z);
        const QRect r = CellRect(x, y, z);
        const int32_t piece = p.piece[c];
        const QColor fill = piece >= 0 && piece < static_cast<int32_t>(colours_.size())
                                ? colours_[piece]
                                : QColor(Qt::white);
        painter.fillRect(r, fill);
        painter.setPen(QColor(90, 90, 90));
        painter.drawRect(r.adjusted(0, 0, -1, -1));
        if (piece < 0 || size < 14) continue;
        QString text =
            p.level[c] == kHighLevel ? QStringLiteral("--") : QString::number(p.level[c]);
        if (p.mark[c] == MarkSymPos0) text = "[" + text + "]";
        if (p.mark[c] == MarkSymPosOther) text = "(" + text + ")";
        painter.setPen(TextColourOn(fill));
        painter.drawText(r, Qt::AlignCenter, text);
      }
    }
  }
}

}  // namespace quaderix
