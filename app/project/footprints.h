#pragma once
// Image footprints ("image bounds"): the image outline intersected with the terrain from the
// approximate orientation of each image with GPS/IMU data.
//
// Orientation: projection centre = image position, rotation from omega, phi, kappa as X-Y-Z
// Euler angles (camera to world), interior orientation of the working passport without
// distortion. The outline is sampled along the four raster edges (pixel corners included).

#include <Eigen/Core>
#include <array>
#include <functional>
#include <vector>

#include "project/project.h"

namespace vantri {
class UserInterface;
}

namespace vantri::project {

// Intersects the ray origin + t * direction (t > 0, project frame) with the terrain; false when
// there is no terrain height on the way.
using TerrainIntersector = std::function<bool(
    const Eigen::Vector3d& origin, const Eigen::Vector3d& direction, Eigen::Vector3d* ground)>;

// Outline points per raster edge (the corner starting the edge included).
inline constexpr int kFootprintSamplesPerEdge = 8;

// The ground outline of one image, closed implicitly (first vertex not repeated). Rays the terrain
// does not answer meet the plane Z = fallback_height instead; rays that meet neither are left
// out. Empty when fewer than three vertices remain or the passport has no interior orientation.
std::vector<std::array<double, 2>> ImageFootprint(const CCameraPassport& passport,
                                                  const CABAImage& image,
                                                  const TerrainIntersector& terrain,
                                                  double fallback_height);

// Recomputes every footprint into project.footprints (indexed like the images) and sets each
// image's footprint handle (index + 1; 0 without footprint). `height_at` gives the terrain height
// under a projection centre for the fallback plane (kNoHeight = -9999 or no function: height 0).
// Logs "%d image bounds updated". Returns the number of footprints.
int UpdateImageBounds(CVantriProject& project, vantri::UserInterface& ui,
                      const TerrainIntersector& terrain,
                      const std::function<double(double x, double y)>& height_at = {});

// True when the point lies inside the closed outline (even-odd rule).
bool OutlineContains(const std::vector<std::array<double, 2>>& outline, double x, double y);

}  // namespace vantri::project
