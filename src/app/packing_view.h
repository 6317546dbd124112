#pragma once

// The 3D picture of one packing: unit cubes in their pieces' colours, shaded by a fixed
// light, with thin edges, drawn with QPainter in an orthographic projection (the outer
// faces only, culled and sorted back to front). Dragging turns it, the wheel zooms, R or
// Home resets the view. Owned by the solution viewer; GUI thread only.

#include <QColor>
#include <QPoint>
#include <QWidget>
#include <array>
#include <vector>

#include "records/solution_record.h"

namespace quaderix {

class PackingView : public QWidget {
  Q_OBJECT

 public:
  static constexpr double kDefaultYaw = -35.0;
  static constexpr double kDefaultPitch = 25.0;

  explicit PackingView(QWidget* parent = nullptr);

  // Shows `packing` with one colour per piece; keeps the current angles and zoom.
  void SetPacking(const Packing& packing, const std::vector<QColor>& pieceColours);
  void ResetView();
  void SetAngles(double yaw, double pitch);
  double yaw() const { return yaw_; }
  double pitch() const { return pitch_; }
  double zoom() const { return zoom_; }
  // Outer faces of the packing, before culling: what each paint has to sort.
  size_t FaceCount() const { return faces_.size(); }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  // One cube face that no other cube covers: the cell's corner, which of the six
  // directions it faces, and the piece it belongs to.
  struct Face {
    std::array<float, 3> origin;
    int32_t direction;
    int32_t piece;
  };
  struct Projected {
    float depth;
    int32_t face;
  };

  std::vector<Face> faces_;
  std::vector<Projected> order_;  // reused by every paint
  std::vector<QColor> colours_;
  std::array<float, 3> centre_{};
  float extent_ = 1.0f;
  double yaw_ = kDefaultYaw;
  double pitch_ = kDefaultPitch;
  double zoom_ = 1.0;
  QPoint lastMouse_;
};

}  // namespace quaderix
