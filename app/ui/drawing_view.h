#pragma once
// The drawing of the main window: a graphics scene with one layer per kind of
// entity (footprints, GPS positions, tie points, control points, check points),
// zoom with the wheel, pan by dragging, Reset View to the extents and the
// cursor's coordinates. World Y points up.

#include <QGraphicsItemGroup>
#include <QGraphicsView>
#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "display/display_model.h"
#include "ui/display_drawing.h"

class CVantriProject;

namespace vantri::ui {

enum class DrawingLayer { kFootprints, kGpsPositions, kTiePoints, kGcps, kCheckPoints, kCount };

class DrawingView : public QGraphicsView {
 public:
  explicit DrawingView(QWidget* parent = nullptr);

  // Rebuilds every layer from the project (empty without one).
  void ShowProject(const CVantriProject& project);
  // The view toggles. While results are shown the toggles of the point layers act on the
  // results' layers ("TP", "GCP" with "GCP_Images", "CP" with "CP_Images"); IsLayerVisible
  // answers the toggle.
  void SetLayerVisible(DrawingLayer layer, bool visible);
  bool IsLayerVisible(DrawingLayer layer) const;
  int EntityCount(DrawingLayer layer) const;
  // Zooms to the extents of the visible entities.
  void ResetView();

  // The graphic report: the result display's layers above the project's own. While they are
  // shown the view's own tie-point, control-point and check-point layers are hidden (labels would
  // appear twice) and clicks on control and check points are found through the model.
  void ShowResults(display::DisplayModel model);
  void ClearResults();
  bool HasResults() const { return has_results_; }
  const display::DisplayModel& Results() const { return results_; }
  // The drawn group of a result layer; nullptr when there is none.
  QGraphicsItemGroup* ResultLayer(const std::string& name) const;

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
  void ApplyVisibility();
  void AddMarker(DrawingLayer layer, double x, double y, const QColor& color, const QString& label,
                 bool cross);

  QGraphicsScene scene_;
  std::array<QGraphicsItemGroup*, static_cast<int>(DrawingLayer::kCount)> layers_{};
  std::array<bool, static_cast<int>(DrawingLayer::kCount)> toggled_on_{};
  bool fitted_ = false;
  bool has_results_ = false;
  display::DisplayModel results_;
  std::vector<DrawnLayer> drawn_results_;
};

// The extents of scene boxes; a zero-size box (a marker that keeps its screen size) counts as
// its point. Empty when there is no box.
std::optional<QRectF> ExtentsOf(const std::vector<QRectF>& boxes);

}  // namespace vantri::ui
