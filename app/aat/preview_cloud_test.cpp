#include "aat/preview_cloud.h"

#include <gtest/gtest.h>

#include "project/project.h"
#include "ssba/ssba.h"

namespace vantri::aat {
namespace {

TEST(PreviewCloud, CamerasOfEveryImageAndOnlyMeasuredPointsInLocalCoordinates) {
  CVantriProject project;
  CABAImage& first = project.AppendImage("/images/101.jpg");
  first.x = 500100.0, first.y = 5200200.0, first.z = 1400.0;
  CABAImage& second = project.AppendImage("/images/102.jpg");  // no GPS yet: still a camera
  (void)second;
  const Eigen::Vector3d origin(500000.0, 5200000.0, 0.0);

  CSSBAPoint seen, unseen;
  seen.X = 10, seen.Y = 20, seen.Z = 30;
  seen.R = 1, seen.G = 2, seen.B = 3;
  seen.measurements.resize(2);
  const std::vector<CSSBAPoint*> points = {&unseen, &seen, nullptr};

  const PreviewCloud cloud = BuildPreviewCloud(project, points, origin, true);
  ASSERT_EQ(cloud.cameras.size(), 2u);
  EXPECT_EQ(cloud.cameras[0], Eigen::Vector3d(100.0, 200.0, 1400.0));
  EXPECT_EQ(cloud.cameras[1], -origin);
  ASSERT_EQ(cloud.points.size(), 1u);
  EXPECT_EQ(cloud.points[0], Eigen::Vector3d(10, 20, 30));
  EXPECT_EQ(cloud.colours[0], (std::array<uint8_t, 3>{1, 2, 3}));
  EXPECT_TRUE(cloud.reset_camera);
}

}  // namespace
}  // namespace vantri::aat
