#include "points/point_maps.h"

#include <algorithm>
#include <cmath>

#include "project/project.h"

namespace vantri::points {

const char* CollectionFileName(PointKind kind) {
  return kind == PointKind::kGcp ? "GCP.col" : "CP.col";
}

std::string CollectionPath(const CVantriProject& project, PointKind kind) {
  return project.folder + CollectionFileName(kind);
}

CGCPCollMap& PointMap(CVantriProject& project, PointKind kind) {
  return kind == PointKind::kGcp ? project.gcps : project.check_points;
}

const CGCPCollMap& PointMap(const CVantriProject& project, PointKind kind) {
  return kind == PointKind::kGcp ? project.gcps : project.check_points;
}

int NextPointId(const CGCPCollMap& points) {
  int largest = kLowestLargestId;
  for (const auto& [name, point] : points) largest = std::max(largest, point.id);
  return largest + 1;
}

bool UseFlagFor(const CGCPCollEx& point) { return point.measurements.size() > 1; }

Eigen::Vector2d PixelFromCentred(double x, double y, int width, int height) {
  return {width / 2.0 + x, height / 2.0 - y};
}

Eigen::Vector2d CentredFromPixel(const Eigen::Vector2d& pixel, int width, int height) {
  return {pixel.x() - width / 2.0, height / 2.0 - pixel.y()};
}

bool InsideRaster(const Eigen::Vector2d& pixel, int width, int height) {
  return pixel.x() >= 0.0 && pixel.x() < width && pixel.y() >= 0.0 && pixel.y() < height;
}

void StoreMeasurement(CGCPCollEx* point, int image_index, double x, double y) {
  auto existing = std::find_if(point->measurements.begin(), point->measurements.end(),
                               [&](const CSIFTColl& m) { return m.image_index == image_index; });
  if (existing != point->measurements.end()) {
    existing->x = x;
    existing->y = y;
  } else {
    point->measurements.push_back({image_index, x, y});
  }
  point->use = UseFlagFor(*point);
}

double PointResult::Magnitude() const { return std::sqrt(vx * vx + vy * vy + vz * vz); }

}  // namespace vantri::points
