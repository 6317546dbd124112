#include "app/layer_view.h"

#include <QHelpEvent>
#include <QPainter>
#include <QToolTip>
#include <algorithm>

namespace quaderix {

namespace {

constexpr int kMargin = 8;
constexpr int kTitleHeight = 18;
constexpr int kLayerGap = 16;
constexpr int kMaxCell = 44;

// Black or white, whichever reads better on `background`.
QColor TextColourOn(const QColor& background) {
  return qGray(background.rgb()) > 140 ? Qt::black : Qt::white;
}

}  // namespace

LayerView::LayerView(QWidget* parent) : QWidget(parent) {
  setMouseTracking(true);
  setMinimumSize(200, 90);
}

void LayerView::SetPacking(const Packing& packing, const std::vector<QColor>& pieceColours) {
  packing_ = packing;
  colours_ = pieceColours;
  update();
}

int LayerView::CellSize() const {
  const Packing& p = packing_;
  if (p.xSize == 0) return 0;
  const int across = (width() - 2 * kMargin - (p.zSize - 1) * kLayerGap) / (p.zSize * p.xSize);
  const int down = (height() - 2 * kMargin - kTitleHeight) / p.ySize;
  return std::clamp(std::min(across, down), 4, kMaxCell);
}

QRect LayerView::CellRect(int32_t x, int32_t y, int32_t z) const {
  const int size = CellSize();
  const int left = kMargin + z * (packing_.xSize * size + kLayerGap) + x * size;
  const int top = kMargin + kTitleHeight + (packing_.ySize - 1 - y) * size;
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
  const int size = CellSize();
  QFont small = font();
  small.setPixelSize(std::max(7, size * 2 / 5));
  for (int32_t z = 0; z < p.zSize; ++z) {
    const QRect first = CellRect(0, p.ySize - 1, z);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.setFont(font());
    painter.drawText(QRect(first.left(), kMargin, p.xSize * size, kTitleHeight),
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
