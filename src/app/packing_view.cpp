#include "app/packing_view.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPolygonF>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

namespace quaderix {

namespace {

constexpr double kPi = 3.14159265358979323846;

// The six directions and the four corners of the unit face that looks that way, in cell
// units from the cell's low corner.
constexpr int kNormals[6][3] = {{1, 0, 0},  {-1, 0, 0}, {0, 1, 0},
                                {0, -1, 0}, {0, 0, 1},  {0, 0, -1}};
constexpr float kCorners[6][4][3] = {
    {{1, 0, 0}, {1, 1, 0}, {1, 1, 1}, {1, 0, 1}}, {{0, 0, 0}, {0, 0, 1}, {0, 1, 1}, {0, 1, 0}},
    {{0, 1, 0}, {0, 1, 1}, {1, 1, 1}, {1, 1, 0}}, {{0, 0, 0}, {1, 0, 0}, {1, 0, 1}, {0, 0, 1}},
    {{0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1}}, {{0, 0, 0}, {0, 1, 0}, {1, 1, 0}, {1, 0, 0}},
};

}  // namespace

PackingView::PackingView(QWidget* parent) : QWidget(parent) {
  setFocusPolicy(Qt::StrongFocus);
  setMinimumSize(200, 160);
  setAutoFillBackground(true);
  QPalette p = palette();
  p.setColor(QPalette::Window, QColor(245, 245, 242));
  setPalette(p);
}

void PackingView::SetPacking(const Packing& p, const std::vector<QColor>& pieceColours) {
  faces_.clear();
  colours_ = pieceColours;
  for (int32_t z = 0; z < p.zSize; ++z) {
    for (int32_t y = 0; y < p.ySize; ++y) {
      for (int32_t x = 0; x < p.xSize; ++x) {
        const int32_t piece = p.piece[p.CellIndex(x, y, z)];
        if (piece < 0) continue;
        for (int32_t d = 0; d < 6; ++d) {
          const int32_t nx = x + kNormals[d][0], ny = y + kNormals[d][1], nz = z + kNormals[d][2];
          const bool covered = nx >= 0 && ny >= 0 && nz >= 0 && nx < p.xSize && ny < p.ySize &&
                               nz < p.zSize && p.piece[p.CellIndex(nx, ny, nz)] >= 0;
          if (!covered) faces_.push_back(Face{{float(x), float(y), float(z)}, d, piece});
        }
      }
    }
  }
  centre_ = {p.xSize / 2.0f, p.ySize / 2.0f, p.zSize / 2.0f};
  extent_ =
      std::max(1.0f, std::sqrt(float(p.xSize * p.xSize + p.ySize * p.ySize + p.zSize * p.zSize)));
  order_.reserve(faces_.size());
  update();
}

void PackingView::ResetView() {
  yaw_ = kDefaultYaw;
  pitch_ = kDefaultPitch;
  zoom_ = 1.0;
  update();
}

void PackingView::SetAngles(double yaw, double pitch) {
  yaw_ = std::fmod(yaw, 360.0);
  pitch_ = std::clamp(pitch, -89.0, 89.0);
  update();
}

void PackingView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  if (faces_.empty()) {
    painter.drawText(rect(), Qt::AlignCenter, tr("No packing"));
    return;
  }
  // View = pitch about x after yaw about y; the viewer looks along -z.
  const double cy = std::cos(yaw_ * kPi / 180), sy = std::sin(yaw_ * kPi / 180);
  const double cp = std::cos(pitch_ * kPi / 180), sp = std::sin(pitch_ * kPi / 180);
  auto view = [&](double x, double y, double z, double out[3]) {
    const double x1 = x * cy + z * sy;
    const double z1 = -x * sy + z * cy;
    out[0] = x1;
    out[1] = y * cp - z1 * sp;
    out[2] = y * sp + z1 * cp;
  };
  const double scale = zoom_ * std::min(width(), height()) / (extent_ * 1.08);
  const double mx = width() / 2.0, my = height() / 2.0;
  // Light from the upper left, in front.
  const double light[3] = {-0.45, 0.65, 0.62};

  double normalView[6][3];
  bool facing[6];
  double brightness[6];
  for (int32_t d = 0; d < 6; ++d) {
    view(kNormals[d][0], kNormals[d][1], kNormals[d][2], normalView[d]);
    facing[d] = normalView[d][2] > 1e-6;
    const double lambert =
        normalView[d][0] * light[0] + normalView[d][1] * light[1] + normalView[d][2] * light[2];
    brightness[d] = 0.45 + 0.55 * std::max(0.0, lambert);
  }

  order_.clear();
  for (int32_t i = 0; i < static_cast<int32_t>(faces_.size()); ++i) {
    const Face& f = faces_[i];
    if (!facing[f.direction]) continue;
    double centre[3];
    view(f.origin[0] + 0.5 + 0.5 * kNormals[f.direction][0] - centre_[0],
         f.origin[1] + 0.5 + 0.5 * kNormals[f.direction][1] - centre_[1],
         f.origin[2] + 0.5 + 0.5 * kNormals[f.direction][2] - centre_[2], centre);
    order_.push_back(Projected{float(centre[2]), i});
  }
  std::sort(order_.begin(), order_.end(),
            [](const Projected& a, const Projected& b) { return a.depth < b.depth; });

  QPen pen;
  pen.setWidthF(1.0);
  pen.setCosmetic(true);
  QPointF corners[4];
  for (const Projected& pr : order_) {
    const Face& f = faces_[pr.face];
    for (int k = 0; k < 4; ++k) {
      double v[3];
      view(f.origin[0] + kCorners[f.direction][k][0] - centre_[0],
           f.origin[1] + kCorners[f.direction][k][1] - centre_[1],
           f.origin[2] + kCorners[f.direction][k][2] - centre_[2], v);
      corners[k] = QPointF(mx + scale * v[0], my - scale * v[1]);
    }
    const QColor base =
        f.piece < static_cast<int32_t>(colours_.size()) ? colours_[f.piece] : QColor(Qt::gray);
    const double b = brightness[f.direction];
    const QColor shaded =
        QColor::fromRgbF(float(base.redF() * b), float(base.greenF() * b), float(base.blueF() * b));
    pen.setColor(shaded.darker(160));
    painter.setPen(pen);
    painter.setBrush(shaded);
    painter.drawConvexPolygon(corners, 4);
  }
}

void PackingView::mousePressEvent(QMouseEvent* event) {
  lastMouse_ = event->position().toPoint();
  setFocus();
}

void PackingView::mouseMoveEvent(QMouseEvent* event) {
  if (!(event->buttons() & Qt::LeftButton)) return;
  const QPoint now = event->position().toPoint();
  const QPoint delta = now - lastMouse_;
  lastMouse_ = now;
  SetAngles(yaw_ + delta.x() * 0.5, pitch_ + delta.y() * 0.5);
}

void PackingView::wheelEvent(QWheelEvent* event) {
  const double steps = event->angleDelta().y() / 120.0;
  zoom_ = std::clamp(zoom_ * std::pow(1.15, steps), 0.2, 20.0);
  update();
  event->accept();
}

void PackingView::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_R || event->key() == Qt::Key_Home) {
    ResetView();
    event->accept();
    return;
  }
  QWidget::keyPressEvent(event);
}

}  // namespace quaderix
