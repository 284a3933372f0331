// The photogrammetry layer in one include, and its small helpers.
#pragma once

#include <Eigen/Core>
#include <string_view>
#include <vector>

#include "geometry/polygon.h"
#include "geometry/vtp_writer.h"
#include "photogrammetry/orientation.h"
#include "photogrammetry/passport.h"
#include "photogrammetry/point_collection.h"
#include "photogrammetry/raster_roi.h"

// Non-zero and the value when the whole text converts to a number ('.' decimal point).
int StringToDbl(std::string_view text, double* value);

// Dispatches pending window messages (the hook of NVT_PumpMessages).
void PumpMsgs();

// Mean planimetric spacing of the points: sqrt(XY bounding-box area / number of points), or the
// larger box side / number of points when the box is flat; 0 for fewer than two distinct points.
namespace vantri::photogrammetry {
double MeanGroundSpacing(const std::vector<Eigen::Vector3d>& points);
}  // namespace vantri::photogrammetry
// Tolerance for vtkDelaunay2D::SetTolerance (a fraction of the bounding-box diagonal): points
// closer than 1 % of the mean spacing are merged. Always positive (1e-5 without spacing), at most
// 0.01.
double compute_ground_step(const std::vector<Eigen::Vector3d>& points);
