#include "display/display_model.h"

#include <cmath>

namespace vantri::display {
namespace {

// Width of one label character and height of the label box in pixels, for the click test.
constexpr double kLabelCharPx = 8.0;
constexpr double kLabelHeightPx = 16.0;

bool OnLabel(const CEntGCP& point, double x, double y, double units_per_pixel) {
  const double left = point.x + kLabelOffsetPx[0] * units_per_pixel;
  const double right = left + kLabelCharPx * point.label.size() * units_per_pixel;
  const double baseline = point.y + kLabelOffsetPx[1] * units_per_pixel;
  const double top = baseline + kLabelHeightPx * units_per_pixel;
  return x >= left && x <= right && y >= baseline && y <= top;
}

}  // namespace

Rgb FromColorRef(int32_t color_ref) {
  const auto value = static_cast<uint32_t>(color_ref);
  return {static_cast<uint8_t>(value & 0xFF), static_cast<uint8_t>((value >> 8) & 0xFF),
          static_cast<uint8_t>((value >> 16) & 0xFF)};
}

int32_t ToColorRef(Rgb rgb) { return static_cast<int32_t>(rgb.r | (rgb.g << 8) | (rgb.b << 16)); }

Layer* DisplayModel::FindLayer(const std::string& name) {
  for (Layer& layer : layers)
    if (layer.name == name) return &layer;
  return nullptr;
}

const Layer* DisplayModel::FindLayer(const std::string& name) const {
  for (const Layer& layer : layers)
    if (layer.name == name) return &layer;
  return nullptr;
}

std::vector<std::string> BaseLayerNames() {
  return {"TP",
          "CP",
          "GCP",
          "CP_Images",
          "GCP_Images",
          "TPResXYEllipse",
          "TPResXYVector",
          "CPResXYEllipse",
          "CPResZCircle",
          "CPResXYVector",
          "CPResZVector",
          "GCPResXYEllipse",
          "GCPResZCircle",
          "GCPResXYVector",
          "GCPResZVector"};
}

bool HitTestPoint(const DisplayModel& model, double x, double y, double tolerance,
                  double units_per_pixel, PointHit* hit) {
  // A marker under the click wins over a label (the label of a neighbour may cover a marker);
  // of several markers the nearest.
  double nearest = tolerance;
  bool found = false;
  const auto try_marker = [&](PointKind kind, const CEntGCP& point) {
    const double distance = std::hypot(point.x - x, point.y - y);
    if (distance > nearest) return;
    nearest = distance;
    *hit = {kind, point.point_name};
    found = true;
  };
  for (const auto& [name, point] : model.control_points) try_marker(PointKind::kControl, point);
  for (const auto& [name, point] : model.check_points) try_marker(PointKind::kCheck, point);
  if (found) return true;
  for (const auto& [name, point] : model.control_points)
    if (OnLabel(point, x, y, units_per_pixel)) {
      *hit = {PointKind::kControl, point.point_name};
      return true;
    }
  for (const auto& [name, point] : model.check_points)
    if (OnLabel(point, x, y, units_per_pixel)) {
      *hit = {PointKind::kCheck, point.point_name};
      return true;
    }
  return false;
}

}  // namespace vantri::display
