#include "ui/display_drawing.h"

#include <QFont>
#include <QGraphicsEllipseItem>
#include <QGraphicsPathItem>
#include <QGraphicsPixmapItem>
#include <QGraphicsRectItem>
#include <QGraphicsSimpleTextItem>
#include <QImage>
#include <QPainterPath>
#include <QPen>
#include <QPixmap>
#include <algorithm>
#include <opencv2/imgproc.hpp>

#include "photogrammetry/raster_roi.h"

namespace vantri::ui {
namespace {

using display::Entity;
using display::EntityKind;

QColor ToQColor(display::Rgb rgb, int alpha = 255) { return QColor(rgb.r, rgb.g, rgb.b, alpha); }

// Line weights are hundredths of a millimetre; on screen at 96 dots per inch, at least 1 pixel.
QPen CosmeticPen(const Entity& entity) {
  QPen pen(ToQColor(entity.color), std::max(1.0, entity.line_weight * 96.0 / 2540.0));
  pen.setCosmetic(true);
  return pen;
}

void Outline(QAbstractGraphicsShapeItem* item, const Entity& entity) {
  item->setPen(CosmeticPen(entity));
  if (entity.filled) item->setBrush(ToQColor(entity.color, display::kFillAlpha));
}

QGraphicsItem* PointItem(const Entity& entity, QGraphicsItemGroup* group) {
  const double half = display::kPointMarkerPx / 2.0;
  auto* marker = new QGraphicsEllipseItem(-half, -half, 2 * half, 2 * half);
  marker->setBrush(ToQColor(entity.color));
  marker->setPen(QPen(ToQColor(entity.color).darker(), 0));
  marker->setFlag(QGraphicsItem::ItemIgnoresTransformations);
  marker->setPos(entity.centre[0], entity.centre[1]);
  marker->setToolTip(QString::fromStdString(entity.label));
  if (!entity.label.empty()) {
    auto* text = new QGraphicsSimpleTextItem(QString::fromStdString(entity.label));
    text->setFont(QFont(display::kLabelFont, 9));
    text->setBrush(ToQColor(entity.color));
    text->setFlag(QGraphicsItem::ItemIgnoresTransformations);
    text->setPos(entity.centre[0], entity.centre[1]);
    // The label's lower left corner 20 pixels right of and 13 above the point. The offset is
    // taken in the view's Y-up sense (the flip still applies to an item's own transform).
    text->setTransform(QTransform::fromTranslate(
        display::kLabelOffsetPx[0], display::kLabelOffsetPx[1] + text->boundingRect().height()));
    group->addToGroup(text);
  }
  return marker;
}

QGraphicsItem* ChipItem(const Entity& entity) {
  const QRectF square(entity.centre[0] - entity.radius_x, entity.centre[1] - entity.radius_x,
                      2 * entity.radius_x, 2 * entity.radius_x);
  const display::ImageChip& chip = entity.chip;
  cv::Mat region;
  const cv::Rect roi(static_cast<int>(chip.col - chip.size_px / 2.0),
                     static_cast<int>(chip.row - chip.size_px / 2.0), chip.size_px, chip.size_px);
  if (chip.size_px > 0 && GDALExtractROI(chip.image_path, &region, roi) != 0) {
    cv::Mat rgb;
    cv::cvtColor(region, rgb, region.channels() == 1 ? cv::COLOR_GRAY2RGB : cv::COLOR_BGR2RGB);
    const QImage image(rgb.data, rgb.cols, rgb.rows, static_cast<int>(rgb.step),
                       QImage::Format_RGB888);
    // Image rows run down, world Y up: mirrored so that the chip reads upright in the view.
    auto* item = new QGraphicsPixmapItem(QPixmap::fromImage(image.mirrored(false, true)));
    item->setTransformationMode(Qt::SmoothTransformation);
    item->setPos(square.topLeft());
    item->setScale(square.width() / chip.size_px);
    return item;
  }
  auto* item = new QGraphicsRectItem(square);
  item->setPen(CosmeticPen(entity));
  return item;
}

QGraphicsItem* EntityItem(const Entity& entity, QGraphicsItemGroup* group) {
  switch (entity.kind) {
    case EntityKind::kPoint:
      return PointItem(entity, group);
    case EntityKind::kEllipse:
    case EntityKind::kCircle: {
      const double ry = entity.kind == EntityKind::kCircle ? entity.radius_x : entity.radius_y;
      auto* item = new QGraphicsEllipseItem(entity.centre[0] - entity.radius_x,
                                            entity.centre[1] - ry, 2 * entity.radius_x, 2 * ry);
      Outline(item, entity);
      return item;
    }
    case EntityKind::kPolyline: {
      QPainterPath path;
      for (size_t i = 0; i < entity.vertices.size(); ++i) {
        const QPointF p(entity.vertices[i][0], entity.vertices[i][1]);
        if (i == 0)
          path.moveTo(p);
        else
          path.lineTo(p);
      }
      auto* item = new QGraphicsPathItem(path);
      item->setPen(CosmeticPen(entity));
      return item;
    }
    case EntityKind::kImageChip:
      return ChipItem(entity);
  }
  return nullptr;
}

}  // namespace

std::vector<DrawnLayer> DrawDisplayModel(const display::DisplayModel& model,
                                         QGraphicsScene& scene) {
  std::vector<DrawnLayer> drawn;
  double z = kDisplayLayerZ;
  for (const display::Layer& layer : model.layers) {
    auto* group = new QGraphicsItemGroup;
    group->setData(0, QString::fromStdString(layer.name));
    group->setZValue(z++);
    scene.addItem(group);
    for (const Entity& entity : layer.entities)
      if (QGraphicsItem* item = EntityItem(entity, group)) group->addToGroup(item);
    group->setVisible(layer.visible);
    drawn.push_back({layer.name, group});
  }
  return drawn;
}

void RemoveDrawnLayers(std::vector<DrawnLayer>& layers, QGraphicsScene& scene) {
  for (DrawnLayer& layer : layers) {
    scene.removeItem(layer.group);
    delete layer.group;
  }
  layers.clear();
}

}  // namespace vantri::ui
