#include "ui/drawing_view.h"

#include <QGraphicsEllipseItem>
#include <QGraphicsPolygonItem>
#include <QGraphicsSimpleTextItem>
#include <QMouseEvent>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "project/project.h"

namespace vantri::ui {

namespace {
// Item data key of the name of a symbol.
constexpr int kPointNameKey = 1;
}  // namespace

DrawingView::DrawingView(QWidget* parent) : QGraphicsView(parent) {
  setObjectName("drawing");
  setScene(&scene_);
  setBackgroundBrush(QColor(250, 250, 250));
  setRenderHint(QPainter::Antialiasing);
  setDragMode(QGraphicsView::ScrollHandDrag);
  setTransformationAnchor(QGraphicsView::AnchorUnderMouse);
  setMouseTracking(true);
  setMinimumSize(400, 300);
  // Panning is by dragging; the scroll bars would only take room.
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  scale(1, -1);  // world Y up
  for (auto& layer : layers_) {
    layer = new QGraphicsItemGroup;
    scene_.addItem(layer);
  }
  Layer(DrawingLayer::kFootprints)->setZValue(0);
  Layer(DrawingLayer::kGpsPositions)->setZValue(1);
  Layer(DrawingLayer::kTiePoints)->setZValue(2);
  Layer(DrawingLayer::kGcps)->setZValue(3);
  Layer(DrawingLayer::kCheckPoints)->setZValue(4);
  toggled_on_.fill(true);
}

std::optional<QRectF> ExtentsOf(const std::vector<QRectF>& boxes) {
  if (boxes.empty()) return std::nullopt;
  // QRectF::united skips zero-size rectangles, so the corners are gathered by hand.
  double left = boxes[0].left(), right = boxes[0].right();
  double top = boxes[0].top(), bottom = boxes[0].bottom();
  for (const QRectF& raw : boxes) {
    const QRectF box = raw.normalized();
    left = std::min(left, box.left());
    right = std::max(right, box.right());
    top = std::min(top, box.top());
    bottom = std::max(bottom, box.bottom());
  }
  return QRectF(QPointF(left, top), QPointF(right, bottom));
}

namespace {

// The result layers a view toggle acts on.
std::vector<std::string> ResultLayersOf(DrawingLayer layer) {
  switch (layer) {
    case DrawingLayer::kTiePoints:
      return {"TP"};
    case DrawingLayer::kGcps:
      return {"GCP", "GCP_Images"};
    case DrawingLayer::kCheckPoints:
      return {"CP", "CP_Images"};
    default:
      return {};
  }
}

bool IsPointLayer(DrawingLayer layer) { return !ResultLayersOf(layer).empty(); }

}  // namespace

void DrawingView::ApplyVisibility() {
  for (int i = 0; i < static_cast<int>(DrawingLayer::kCount); ++i) {
    const auto layer = static_cast<DrawingLayer>(i);
    const bool replaced = has_results_ && IsPointLayer(layer);
    Layer(layer)->setVisible(toggled_on_[i] && !replaced);
    if (!has_results_) continue;
    for (const std::string& name : ResultLayersOf(layer)) {
      const display::Layer* model_layer = results_.FindLayer(name);
      QGraphicsItemGroup* group = ResultLayer(name);
      if (group && model_layer) group->setVisible(toggled_on_[i] && model_layer->visible);
    }
  }
}

void DrawingView::ShowResults(display::DisplayModel model) {
  RemoveDrawnLayers(drawn_results_, scene_);
  results_ = std::move(model);
  drawn_results_ = DrawDisplayModel(results_, scene_);
  has_results_ = true;
  ApplyVisibility();
  ResetView();
}

void DrawingView::ClearResults() {
  RemoveDrawnLayers(drawn_results_, scene_);
  results_ = {};
  has_results_ = false;
  ApplyVisibility();
}

QGraphicsItemGroup* DrawingView::ResultLayer(const std::string& name) const {
  for (const DrawnLayer& layer : drawn_results_) {
    if (layer.name == name) return layer.group;
  }
  return nullptr;
}

void DrawingView::ClearLayers() {
  for (QGraphicsItemGroup* layer : layers_) {
    for (QGraphicsItem* item : layer->childItems()) delete item;
  }
}

void DrawingView::AddMarker(DrawingLayer layer, double x, double y, const QColor& color,
                            const QString& label, bool cross) {
  // Markers keep their screen size whatever the zoom.
  QGraphicsItem* marker;
  if (cross) {
    QPolygonF triangle({QPointF(0, -7), QPointF(7, 6), QPointF(-7, 6)});
    auto* item = new QGraphicsPolygonItem(triangle);
    item->setBrush(color);
    item->setPen(QPen(Qt::black, 0));
    marker = item;
  } else {
    auto* item = new QGraphicsEllipseItem(-4, -4, 8, 8);
    item->setBrush(color);
    item->setPen(QPen(color.darker(), 0));
    marker = item;
  }
  marker->setFlag(QGraphicsItem::ItemIgnoresTransformations);
  marker->setPos(x, y);
  marker->setData(kPointNameKey, label);
  marker->setToolTip(label);
  Layer(layer)->addToGroup(marker);
  if (!label.isEmpty()) {
    auto* text = new QGraphicsSimpleTextItem(label);
    text->setFlag(QGraphicsItem::ItemIgnoresTransformations);
    text->setBrush(color.darker(150));
    text->setPos(x, y);
    text->setTransform(QTransform::fromTranslate(8, -6));
    Layer(layer)->addToGroup(text);
  }
}

void DrawingView::ShowProject(const CVantriProject& project) {
  ClearLayers();
  if (!project.IsOpen()) return;
  const QPen outline(QColor(30, 90, 200), 0);
  const QBrush fill(QColor(30, 90, 200, 30));
  for (const auto& footprint : project.footprints) {
    if (footprint.size() < 3) continue;
    QPolygonF polygon;
    for (const auto& corner : footprint) polygon << QPointF(corner[0], corner[1]);
    auto* item = new QGraphicsPolygonItem(polygon);
    item->setPen(outline);
    item->setBrush(fill);
    Layer(DrawingLayer::kFootprints)->addToGroup(item);
  }
  for (int i = 0; i < project.ImageCount(); ++i) {
    const CABAImage* image = project.Image(i);
    if (!image->HasGpsImu()) continue;
    AddMarker(DrawingLayer::kGpsPositions, image->x, image->y, QColor(20, 20, 20),
              QString::fromStdString(image->Name()), false);
  }
  for (const auto& [name, point] : project.gcps) {
    AddMarker(DrawingLayer::kGcps, point.x, point.y, QColor(220, 30, 30),
              QString::fromStdString(name), true);
  }
  for (const auto& [name, point] : project.check_points) {
    AddMarker(DrawingLayer::kCheckPoints, point.x, point.y, QColor(20, 160, 60),
              QString::fromStdString(name), true);
  }
  fitted_ = false;
  ResetView();
}

void DrawingView::SetLayerVisible(DrawingLayer layer, bool visible) {
  toggled_on_[static_cast<int>(layer)] = visible;
  ApplyVisibility();
}

bool DrawingView::IsLayerVisible(DrawingLayer layer) const {
  return toggled_on_[static_cast<int>(layer)];
}

int DrawingView::EntityCount(DrawingLayer layer) const {
  int count = 0;
  for (QGraphicsItem* item : Layer(layer)->childItems()) {
    if (item->type() != QGraphicsSimpleTextItem::Type) ++count;
  }
  return count;
}

void DrawingView::ResetView() {
  std::vector<QGraphicsItemGroup*> groups(layers_.begin(), layers_.end());
  for (const DrawnLayer& layer : drawn_results_) groups.push_back(layer.group);
  std::vector<QRectF> boxes;
  for (QGraphicsItemGroup* layer : groups) {
    if (!layer->isVisible()) continue;
    for (QGraphicsItem* item : layer->childItems()) {
      if (item->type() == QGraphicsSimpleTextItem::Type) continue;
      boxes.push_back(item->flags() & QGraphicsItem::ItemIgnoresTransformations
                          ? QRectF(item->pos(), QSizeF(0, 0))
                          : item->sceneBoundingRect());
    }
  }
  const std::optional<QRectF> found = ExtentsOf(boxes);
  if (!found) return;
  QRectF extents = *found;
  const double margin = std::max(extents.width(), extents.height()) * 0.05 + 1.0;
  extents.adjust(-margin, -margin, margin, margin);
  scene_.setSceneRect(extents.adjusted(-extents.width() * 4, -extents.height() * 4,
                                       extents.width() * 4, extents.height() * 4));
  fitInView(extents, Qt::KeepAspectRatio);
  fitted_ = true;
}

void DrawingView::wheelEvent(QWheelEvent* event) {
  const double factor = event->angleDelta().y() > 0 ? 1.25 : 0.8;
  scale(factor, factor);
}

void DrawingView::mouseMoveEvent(QMouseEvent* event) {
  QGraphicsView::mouseMoveEvent(event);
  const QPointF world = mapToScene(event->pos());
  if (on_cursor_moved) on_cursor_moved(world.x(), world.y());
}

void DrawingView::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && on_point_clicked && has_results_) {
    const QPointF world = mapToScene(event->pos());
    const double units_per_pixel = 1.0 / std::max(1e-12, std::abs(transform().m11()));
    display::PointHit hit;
    if (display::HitTestPoint(results_, world.x(), world.y(),
                              display::kPointMarkerPx * units_per_pixel, units_per_pixel, &hit)) {
      const DrawingLayer layer = hit.kind == display::PointKind::kControl
                                     ? DrawingLayer::kGcps
                                     : DrawingLayer::kCheckPoints;
      if (IsLayerVisible(layer)) {
        on_point_clicked(layer, hit.name);
        return;
      }
    }
  } else if (event->button() == Qt::LeftButton && on_point_clicked) {
    for (QGraphicsItem* item : items(event->pos())) {
      for (DrawingLayer layer : {DrawingLayer::kGcps, DrawingLayer::kCheckPoints}) {
        if (item->parentItem() != Layer(layer) || !Layer(layer)->isVisible()) continue;
        const QString name = item->data(kPointNameKey).toString();
        if (name.isEmpty()) continue;
        on_point_clicked(layer, name.toStdString());
        return;
      }
    }
  }
  QGraphicsView::mousePressEvent(event);
}

bool DrawingView::SymbolPosition(DrawingLayer layer, const std::string& name,
                                 QPointF* position) const {
  for (QGraphicsItem* item : Layer(layer)->childItems()) {
    if (item->data(kPointNameKey).toString().toStdString() != name) continue;
    *position = item->scenePos();
    return true;
  }
  return false;
}

void DrawingView::resizeEvent(QResizeEvent* event) {
  QGraphicsView::resizeEvent(event);
  if (fitted_) ResetView();
}

}  // namespace vantri::ui
