#include "aat/preview_cloud.h"

#include "project/project.h"
#include "ssba/ssba.h"

namespace vantri::aat {

PreviewCloud BuildPreviewCloud(const CVantriProject& project,
                               const std::vector<CSSBAPoint*>& tie_points,
                               const Eigen::Vector3d& local_origin, bool reset_camera) {
  PreviewCloud cloud;
  cloud.reset_camera = reset_camera;
  for (int i = 0; i < project.ImageCount(); ++i) {
    const CABAImage& image = *project.Image(i);
    cloud.cameras.push_back(Eigen::Vector3d(image.x, image.y, image.z) - local_origin);
  }
  for (const CSSBAPoint* point : tie_points) {
    if (point == nullptr || point->measurements.empty()) continue;
    cloud.points.emplace_back(point->X, point->Y, point->Z);
    cloud.colours.push_back({point->R, point->G, point->B});
  }
  return cloud;
}

}  // namespace vantri::aat
