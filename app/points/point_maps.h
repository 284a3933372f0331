#pragma once
// The project's two point maps (control points and check points) and the rules every editor of
// them shares: identifiers of new points, the automatic use flag, the measurement frame, and the
// collection file saved after every change.

#include <Eigen/Core>
#include <map>
#include <string>
#include <vector>

#include "import/point_import.h"
#include "photogrammetry/point_collection.h"

class CVantriProject;

namespace vantri::points {

enum class PointKind { kGcp, kCheckPoint };

// New points get identifiers above this one: the first is 100001.
inline constexpr int kLowestLargestId = 100000;

// "GCP.col" or "CP.col".
const char* CollectionFileName(PointKind kind);
// <project folder><file name>.
std::string CollectionPath(const CVantriProject& project, PointKind kind);
CGCPCollMap& PointMap(CVantriProject& project, PointKind kind);
const CGCPCollMap& PointMap(const CVantriProject& project, PointKind kind);

// One more than the largest identifier in use, the largest taken as at least kLowestLargestId.
int NextPointId(const CGCPCollMap& points);

// A point takes part in the adjustment automatically when it has more than one measurement.
bool UseFlagFor(const CGCPCollEx& point);

// Stored measurements are relative to the image centre with y up; pixels are (col, row) from the
// top-left corner of the raster: pixel = (width / 2 + x, height / 2 - y).
Eigen::Vector2d PixelFromCentred(double x, double y, int width, int height);
Eigen::Vector2d CentredFromPixel(const Eigen::Vector2d& pixel, int width, int height);
// 0 <= col < width and 0 <= row < height.
bool InsideRaster(const Eigen::Vector2d& pixel, int width, int height);

// Sets the measurement of `image_index` (replacing an existing one of that image, else
// appending) and recomputes the use flag.
void StoreMeasurement(CGCPCollEx* point, int image_index, double x, double y);

// Residuals of the last bundle run per point ID (adjusted minus surveyed, project units).
struct PointResult {
  double vx = 0.0, vy = 0.0, vz = 0.0;
  double Magnitude() const;
};
using PointResults = std::map<int, PointResult>;

}  // namespace vantri::points
