#include "photogrammetry/photolib.h"

#include <algorithm>
#include <cmath>

#include "system/nvtools.h"

namespace {

constexpr double kMergeFraction = 0.01;
constexpr double kFallbackTolerance = 1e-5;
constexpr double kMaxTolerance = 0.01;

}  // namespace

int StringToDbl(std::string_view text, double* value) { return NVT_StringToDouble(text, value); }

void PumpMsgs() { NVT_PumpMessages(); }

namespace vantri::photogrammetry {

double MeanGroundSpacing(const std::vector<Eigen::Vector3d>& points) {
  if (points.size() < 2) return 0.0;
  Eigen::Vector2d low = points.front().head<2>(), high = low;
  for (const Eigen::Vector3d& point : points) {
    low = low.cwiseMin(point.head<2>());
    high = high.cwiseMax(point.head<2>());
  }
  const Eigen::Vector2d extent = high - low;
  const double n = static_cast<double>(points.size());
  const double area = extent.x() * extent.y();
  if (area > 0.0) return std::sqrt(area / n);
  return extent.maxCoeff() / n;
}

}  // namespace vantri::photogrammetry

double compute_ground_step(const std::vector<Eigen::Vector3d>& points) {
  const double spacing = vantri::photogrammetry::MeanGroundSpacing(points);
  if (!(spacing > 0.0)) return kFallbackTolerance;
  Eigen::Vector3d low = points.front(), high = low;
  for (const Eigen::Vector3d& point : points) {
    low = low.cwiseMin(point);
    high = high.cwiseMax(point);
  }
  const double diagonal = (high - low).norm();
  return std::clamp(kMergeFraction * spacing / diagonal, kFallbackTolerance * 1e-3, kMaxTolerance);
}
