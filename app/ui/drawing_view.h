#pragma once
// The drawing of the main window: a graphics scene with one layer per kind of
// entity (footprints, GPS positions, tie points, control points, check points),
// zoom with the wheel, pan by dragging, Reset View to the extents and the
// cursor's coordinates. World Y points up.

#include <QGraphicsItemGroup>
#include <QGraphicsView>
#include <array>
#include <functional>
#include <string>

class CVantriProject;

namespace vantri::ui {

enum class DrawingLayer { kFootprints, kGpsPositions, kTiePoints, kGcps, kCheckPoints, kCount };

class DrawingView : public QGraphicsView {
 public:
  explicit DrawingView(QWidget* parent = nullptr);

  // Rebuilds every layer from the project (empty without one).
  void ShowProject(const CVantriProject& project);
  void SetLayerVisible(DrawingLayer layer, bool visible);
  bool IsLayerVisible(DrawingLayer layer) const;
  int EntityCount(DrawingLayer layer) const;
  // Zooms to the extents of the visible entities.
  void ResetView();

  // Called with the world coordinates under the mouse.
  std::function<void(double x, double y)> on_cursor_moved;
  // A left click on the symbol of a control point (layer kGcps) or check point (kCheckPoints)
  // with the point's name: the collimation of that point.
  std::function<void(DrawingLayer layer, const std::string& name)> on_point_clicked;
  // The scene position of a point's symbol; false when the layer has no symbol of that name.
  bool SymbolPosition(DrawingLayer layer, const std::string& name, QPointF* position) const;

 protected:
  void wheelEvent(QWheelEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  QGraphicsItemGroup* Layer(DrawingLayer layer) const { return layers_[static_cast<int>(layer)]; }
  void ClearLayers();
  void AddMarker(DrawingLayer layer, double x, double y, const QColor& color, const QString& label,
                 bool cross);

  QGraphicsScene scene_;
  std::array<QGraphicsItemGroup*, static_cast<int>(DrawingLayer::kCount)> layers_{};
  bool fitted_ = false;
};

}  // namespace vantri::ui
