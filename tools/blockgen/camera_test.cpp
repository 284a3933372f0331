#include "camera.h"

#include <gtest/gtest.h>

#include <cmath>

#include "engine_input.h"

namespace blockgen {
namespace {

// The engine's omega-phi-kappa (rotated axes) matrix, written out element by element.
Eigen::Matrix3d engine_opk_matrix(double omega, double phi, double kappa) {
  const double s1 = std::sin(omega), c1 = std::cos(omega);
  const double s2 = std::sin(phi), c2 = std::cos(phi);
  const double s3 = std::sin(kappa), c3 = std::cos(kappa);
  Eigen::Matrix3d r;
  r << c3 * c2, -c2 * s3, s2,                                    //
      s2 * s1 * c3 + c1 * s3, c3 * c1 - s2 * s1 * s3, -c2 * s1,  //
      s3 * s1 - s2 * c1 * c3, c3 * s1 + s3 * s2 * c1, c1 * c2;
  return r;
}

TEST(RotationTest, MatchesEngineOpkFormulaAndInvertsOnAGrid) {
  for (double o = -80; o <= 80; o += 40)
    for (double p = -85; p <= 85; p += 42.5)
      for (double k = -175; k <= 180; k += 65) {
        const Eigen::Matrix3d r = rotation_from_opk(radians(o), radians(p), radians(k));
        EXPECT_LT((r - engine_opk_matrix(radians(o), radians(p), radians(k))).norm(), 1e-12);
        const Eigen::Vector3d back = opk_from_rotation(r);
        EXPECT_NEAR(degrees(back.x()), o, 1e-9);
        EXPECT_NEAR(degrees(back.y()), p, 1e-9);
        EXPECT_NEAR(degrees(back.z()), k, 1e-9);
      }
}

TEST(ProjectionTest, VerticalPhotoKeepsNorthUpAndEastRight) {
  FrameCamera camera;
  camera.focal_mm = 100.0;
  camera.pixel_mm = 0.01;
  camera.width = 4000;
  camera.height = 3000;
  camera.pp_col = 2000;
  camera.pp_row = 1500;
  Pose pose;
  pose.centre = {0, 0, 1000};
  // Engine example: c = 0.1 m projects (100, 50, 0) to u = 10 mm, v = 5 mm.
  const Pixel p = *project(camera, pose, {100, 50, 0});
  const Centred c = camera.centred_from_pixel(p);
  EXPECT_NEAR(c.x_mm, 10.0, 1e-12);
  EXPECT_NEAR(c.y_mm, 5.0, 1e-12);
  EXPECT_NEAR(p.col, 3000.0, 1e-9);  // east of the nadir: right
  EXPECT_NEAR(p.row, 1000.0, 1e-9);  // north of the nadir: up
  // kappa = 180 degrees (flying south) turns the image around.
  pose.kappa = radians(180);
  const Centred turned = camera.centred_from_pixel(*project(camera, pose, {100, 50, 0}));
  EXPECT_NEAR(turned.x_mm, -10.0, 1e-9);
  EXPECT_NEAR(turned.y_mm, -5.0, 1e-9);
  EXPECT_FALSE(project(camera, pose, {0, 0, 1200}).has_value());
}

TEST(PixelConventionTest, CentredAndEnginePixelsAgree) {
  FrameCamera camera;
  camera.width = 4000;
  camera.height = 3000;
  camera.pixel_mm = 0.006;
  // The engine's CCD example: its pixel (0, 0) lies at x = -11.997 mm, y = +8.997 mm, and its
  // image centre (1999.5, 1499.5) at (0, 0).
  const Pixel corner_centre{0.5, 0.5};
  const Centred c = camera.centred_from_pixel(corner_centre);
  EXPECT_NEAR(c.x_mm, -11.997, 1e-12);
  EXPECT_NEAR(c.y_mm, 8.997, 1e-12);
  const Pixel engine = engine_pixel(corner_centre);
  EXPECT_DOUBLE_EQ(engine.col, 0.0);
  EXPECT_DOUBLE_EQ(engine.row, 0.0);
  const Centred centre = camera.centred_from_pixel({2000, 1500});
  EXPECT_DOUBLE_EQ(centre.x_mm, 0.0);
  EXPECT_DOUBLE_EQ(centre.y_mm, 0.0);
  const Pixel back = camera.pixel_from_centred({3.21, -4.56});
  const Centred again = camera.centred_from_pixel(back);
  EXPECT_NEAR(again.x_mm, 3.21, 1e-12);
  EXPECT_NEAR(again.y_mm, -4.56, 1e-12);
}

TEST(DistortionTest, RayFromImageInvertsTheDistortedProjection) {
  FrameCamera camera;  // 9 x 6 mm format
  camera.pp_col = 741.3;
  camera.pp_row = 508.9;
  camera.distortion = {2e-3, -1e-5, 1e-8, 3e-5, -2e-5};
  for (double x = -4.5; x <= 4.5; x += 0.9) {
    for (double y = -3.0; y <= 3.0; y += 0.75) {
      const Eigen::Vector3d ray = camera.ray_from_image({x, y});
      const Centred c = *camera.image_from_camera(ray * 37.0);
      EXPECT_NEAR(c.x_mm, x, 1e-9);
      EXPECT_NEAR(c.y_mm, y, 1e-9);
    }
  }
  // The metric form (metres) gives the same correction at the same point.
  const MetricDistortion m = metric_distortion(camera.distortion);
  const double u = 3.7e-3, v = -2.2e-3, r2 = u * u + v * v;
  const double radial = m.k1 * r2 + m.k2 * r2 * r2 + m.k3 * r2 * r2 * r2;
  const Eigen::Vector2d in_mm = camera.distortion_at(u * 1e3, v * 1e3);
  EXPECT_NEAR(in_mm.x() * 1e-3, u * radial + m.p1 * (3 * u * u + v * v) + 2 * m.p2 * u * v, 1e-15);
  EXPECT_NEAR(in_mm.y() * 1e-3, v * radial + 2 * m.p1 * u * v + m.p2 * (u * u + 3 * v * v), 1e-15);
  // At the principal point the distortion vanishes.
  const Eigen::Vector2d zero = camera.distortion_at(0, 0);
  EXPECT_EQ(zero.norm(), 0.0);
}

}  // namespace
}  // namespace blockgen
