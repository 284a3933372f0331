#include "project/footprints.h"

#include <gtest/gtest.h>

#include <cmath>

#include "photogrammetry/orientation.h"
#include "project/project_flows.h"
#include "testing/scripted_ui.h"
#include "ui_interface/ui.h"

namespace vantri::project {
namespace {

constexpr double kPi = 3.14159265358979323846;

// Focal length 1000 pixels, raster 400 x 300, principal point at the centre.
std::unique_ptr<CCameraPassport> Pinhole() {
  auto p = std::make_unique<CBCCCameraPassport>();
  p->focal_mm = 10;
  p->pixel_mm = 0.01;
  p->width = 400;
  p->height = 300;
  p->ppx = 200;
  p->ppy = 150;
  p->metric.k1 = 1e-3;  // ignored: footprints use the distortion-free interior orientation
  return p;
}

// Terrain as the plane Z = height.
TerrainIntersector FlatTerrain(double height) {
  return [height](const Eigen::Vector3d& origin, const Eigen::Vector3d& direction,
                  Eigen::Vector3d* ground) {
    if (direction.z() >= 0) return false;
    *ground = origin + direction * ((height - origin.z()) / direction.z());
    return true;
  };
}

void Place(CABAImage& image, double x, double y, double z, double omega, double phi, double kappa) {
  image.x = x;
  image.y = y;
  image.z = z;
  image.omega = omega;
  image.phi = phi;
  image.kappa = kappa;
}

TEST(ImageFootprint, VerticalImageOverFlatTerrainIsTheScaledRaster) {
  const auto passport = Pinhole();
  CABAImage image("a.tif", "/p/");
  Place(image, 1000, 2000, 1100, 0, 0, 1e-12);
  // 1000 m above the terrain, 1000 pixels focal length: one pixel covers one metre.
  const auto outline = ImageFootprint(*passport, image, FlatTerrain(100), 0);
  ASSERT_EQ(outline.size(), 4u * kFootprintSamplesPerEdge);
  double min_x = 1e9, max_x = -1e9, min_y = 1e9, max_y = -1e9;
  for (const auto& v : outline) {
    min_x = std::min(min_x, v[0]);
    max_x = std::max(max_x, v[0]);
    min_y = std::min(min_y, v[1]);
    max_y = std::max(max_y, v[1]);
  }
  EXPECT_NEAR(min_x, 800, 1e-6);
  EXPECT_NEAR(max_x, 1200, 1e-6);
  EXPECT_NEAR(min_y, 1850, 1e-6);
  EXPECT_NEAR(max_y, 2150, 1e-6);
  // Top-left pixel corner lies north-west (camera y up = north for kappa 0).
  EXPECT_NEAR(outline[0][0], 800, 1e-6);
  EXPECT_NEAR(outline[0][1], 2150, 1e-6);
  EXPECT_TRUE(OutlineContains(outline, 1000, 2000));
  EXPECT_FALSE(OutlineContains(outline, 1201, 2000));
}

TEST(ImageFootprint, RotationFollowsKappaAndTiltShiftsTheNadir) {
  const auto passport = Pinhole();
  CABAImage image("a.tif", "/p/");
  Place(image, 0, 0, 1000, 0, 0, kPi / 2);
  const auto turned = ImageFootprint(*passport, image, FlatTerrain(0), 0);
  // A quarter turn swaps the extents: 300 m along X, 400 m along Y.
  double max_x = -1e9, max_y = -1e9;
  for (const auto& v : turned) {
    max_x = std::max(max_x, v[0]);
    max_y = std::max(max_y, v[1]);
  }
  EXPECT_NEAR(max_x, 150, 1e-6);
  EXPECT_NEAR(max_y, 200, 1e-6);

  // Tilted by phi = 5 degrees: the principal ray meets the ground H tan(phi) away from the nadir
  // and the outline holds that point.
  Place(image, 0, 0, 1000, 0, 5 * kPi / 180, 0);
  const auto tilted = ImageFootprint(*passport, image, FlatTerrain(0), 0);
  nvc::COrientation o;
  o.BuildINTWithoutDistortion(*passport);
  o.SetRotMat(FromEulerAnglesXYZ(0, 5 * kPi / 180, 0));
  o.SetN(Eigen::Vector3d(0, 0, 1000));
  Eigen::Vector3d centre_ground;
  ASSERT_NE(o.IntersectPlaneZ(Eigen::Vector2d(200, 150), 0, &centre_ground), 0);
  EXPECT_NEAR(std::abs(centre_ground.x()), 1000 * std::tan(5 * kPi / 180), 1e-6);
  EXPECT_TRUE(OutlineContains(tilted, centre_ground.x(), centre_ground.y()));
}

TEST(ImageFootprint, RaysWithoutTerrainUseTheFallbackPlane) {
  const auto passport = Pinhole();
  CABAImage image("a.tif", "/p/");
  Place(image, 0, 0, 1000, 0, 0, 0);
  const TerrainIntersector none = [](const Eigen::Vector3d&, const Eigen::Vector3d&,
                                     Eigen::Vector3d*) { return false; };
  const auto outline = ImageFootprint(*passport, image, none, 500);
  ASSERT_FALSE(outline.empty());
  EXPECT_NEAR(outline[0][0], -100, 1e-6);  // 500 m below: half a metre per pixel
  // A fallback plane above the camera meets no ray: no footprint.
  EXPECT_TRUE(ImageFootprint(*passport, image, none, 2000).empty());
}

TEST(UpdateImageBounds, FootprintsOnlyForImagesWithGpsImuAndUnionAreaReported) {
  CVantriProject project;
  project.folder = "/p/";
  project.passport = Pinhole();
  project.working_passport = project.passport->Clone();
  Place(project.AppendImage("/i/a.tif"), 0, 0, 1000, 1e-9, 0, 0);
  Place(project.AppendImage("/i/b.tif"), 200, 0, 1000, 1e-9, 0, 0);  // half overlapping a
  project.AppendImage("/i/c.tif");                                   // no GPS/IMU
  vantri::ScriptedUi ui;
  double asked_height_at = 0;
  const int updated = UpdateImageBounds(project, ui, FlatTerrain(0), [&](double x, double) {
    asked_height_at = x;
    return -9999.0;
  });
  EXPECT_EQ(updated, 2);
  ASSERT_EQ(project.footprints.size(), 3u);
  EXPECT_EQ(project.Image(0)->footprint_handle, 1);
  EXPECT_EQ(project.Image(1)->footprint_handle, 2);
  EXPECT_EQ(project.Image(2)->footprint_handle, 0);
  EXPECT_TRUE(project.footprints[2].empty());
  EXPECT_EQ(asked_height_at, 200);
  ASSERT_FALSE(ui.log_lines.empty());
  EXPECT_NE(ui.log_lines.back().find("2 image bounds updated"), std::string::npos);
  // Two 400 x 300 m footprints overlapping by 200 x 300 m.
  EXPECT_NEAR(FootprintUnionArea(project), 600.0 * 300.0, 1e-3);
  EXPECT_NE(ProjectInfoText(project).find("Total area: 0.180 km^2"), std::string::npos);
}

}  // namespace
}  // namespace vantri::project
