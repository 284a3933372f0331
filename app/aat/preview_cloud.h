#pragma once
// What the 3-D preview of a tie-point search shows at one step: the camera positions of every
// image and the tie points seen so far, both in local coordinates (project minus the local
// origin), the frame the process works in.

#include <Eigen/Core>
#include <array>
#include <cstdint>
#include <vector>

class CVantriProject;
class CSSBAPoint;

namespace vantri::aat {

struct PreviewCloud {
  // One per project image, in project order: GPS position minus the local origin.
  std::vector<Eigen::Vector3d> cameras;
  // Tie points with at least one measurement, with their colours (R, G, B).
  std::vector<Eigen::Vector3d> points;
  std::vector<std::array<uint8_t, 3>> colours;
  // The view is fitted to the cloud (the first refresh of a run and the first added image).
  bool reset_camera = false;
};

PreviewCloud BuildPreviewCloud(const CVantriProject& project,
                               const std::vector<CSSBAPoint*>& tie_points,
                               const Eigen::Vector3d& local_origin, bool reset_camera);

}  // namespace vantri::aat
