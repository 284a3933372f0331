#include "dem_utils.h"

#include <gdal_priv.h>
#include <gtest/gtest.h>

#include <Eigen/Geometry>
#include <cmath>
#include <random>

#include "project/project.h"
#include "testing/rasters.h"
#include "testing/scripted_ui.h"
#include "testing/temp_folder.h"
#include "ui_interface/ui.h"

namespace vantri::aat {
namespace {

using test_support::RasterSpec;
using test_support::TempFolder;
using test_support::WriteRaster;

// Raster of 40 x 30 cells of 10 m, top-left corner at (1000, 5000), north up.
constexpr double kOriginX = 1000.0, kOriginY = 5000.0, kCell = 10.0;
RasterSpec GridSpec(GDALDataType type) {
  RasterSpec spec;
  spec.type = type;
  spec.geo_transform = std::array<double, 6>{kOriginX, kCell, 0, kOriginY, 0, -kCell};
  return spec;
}
double CellCentreX(int col) { return kOriginX + (col + 0.5) * kCell; }
double CellCentreY(int row) { return kOriginY - (row + 0.5) * kCell; }

// A tilted plane with integral heights at the cell centres, so 16-bit rasters hold it exactly.
double Plane(double x, double y) { return 300.0 + 0.2 * (x - kOriginX) - 0.4 * (y - kOriginY); }

class DemUtilsTest : public ::testing::Test {
 protected:
  GDALDatasetUniquePtr Open(const std::string& path) {
    return GDALDatasetUniquePtr(GDALDataset::Open(path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY));
  }
  GDALDatasetUniquePtr MakePlane(GDALDataType type, std::optional<double> no_data = {},
                                 std::function<bool(int, int)> is_hole = {}) {
    RasterSpec spec = GridSpec(type);
    spec.no_data = no_data;
    const std::string path = folder_ / ("plane" + std::to_string(count_++) + ".tif");
    EXPECT_TRUE(WriteRaster(path, spec, [&](int c, int r) {
      if (is_hole && is_hole(c, r)) return *no_data;
      return Plane(CellCentreX(c), CellCentreY(r));
    }));
    return Open(path);
  }
  TempFolder folder_;
  int count_ = 0;
};

TEST_F(DemUtilsTest, PlanarTerrainIsReproducedForEveryCellType) {
  std::mt19937 random(7);
  // Inside the 5-cell margin: x in [1050, 1350], y in [4750, 4950].
  std::uniform_real_distribution<double> xs(1050.0, 1350.0), ys(4750.0, 4950.0);
  for (GDALDataType type : {GDT_Float32, GDT_Int16, GDT_UInt16}) {
    GDALDatasetUniquePtr dataset = MakePlane(type);
    CDemUtils dem(dataset.get(), nullptr);
    ASSERT_TRUE(dem.HasDataset());
    for (int i = 0; i < 200; ++i) {
      const double x = xs(random), y = ys(random);
      EXPECT_NEAR(dem.HeightAt(x, y), Plane(x, y), 2e-3) << GDALGetDataTypeName(type);
    }
    // At a cell centre the height is the cell value.
    EXPECT_NEAR(dem.HeightAt(CellCentreX(12), CellCentreY(9)),
                Plane(CellCentreX(12), CellCentreY(9)), 1e-4);
  }
}

TEST_F(DemUtilsTest, NoHeightCloserThanFiveCellsToTheBorder) {
  GDALDatasetUniquePtr dataset = MakePlane(GDT_Float32);
  CDemUtils dem(dataset.get(), nullptr);
  const double inner_y = 4850.0;
  EXPECT_EQ(dem.HeightAt(kOriginX + 4.99 * kCell, inner_y), kNoHeight);
  EXPECT_NE(dem.HeightAt(kOriginX + 5.0 * kCell, inner_y), kNoHeight);
  EXPECT_NE(dem.HeightAt(kOriginX + 35.0 * kCell, inner_y), kNoHeight);
  EXPECT_EQ(dem.HeightAt(kOriginX + 35.01 * kCell, inner_y), kNoHeight);
  EXPECT_EQ(dem.HeightAt(1200.0, kOriginY - 4.9 * kCell), kNoHeight);
  EXPECT_EQ(dem.HeightAt(1200.0, kOriginY - 25.1 * kCell), kNoHeight);
  EXPECT_EQ(dem.HeightAt(-1e6, 1e6), kNoHeight);
}

TEST_F(DemUtilsTest, OneNoDataCellInTheWindowGivesNoHeight) {
  // Cell (22, 17) is no-data; a point on cell (20, 15) has it in its 5 x 5 window.
  GDALDatasetUniquePtr dataset =
      MakePlane(GDT_Int16, -32768.0, [](int c, int r) { return c == 22 && r == 17; });
  CDemUtils dem(dataset.get(), nullptr);
  EXPECT_EQ(dem.NoDataValue(), -32768.0);
  EXPECT_EQ(dem.HeightAt(CellCentreX(20) + 1.0, CellCentreY(15) - 1.0), kNoHeight);
  const double x = CellCentreX(10), y = CellCentreY(10);
  EXPECT_NEAR(dem.HeightAt(x, y), Plane(x, y), 1e-3) << "far from the hole";
}

TEST_F(DemUtilsTest, WithoutDatasetEveryLookupFails) {
  CDemUtils dem(nullptr, nullptr);
  EXPECT_FALSE(dem.HasDataset());
  EXPECT_EQ(dem.NoDataValue(), kNoHeight);
  EXPECT_EQ(dem.HeightAt(0.0, 0.0), kNoHeight);
  Eigen::Vector3d point(1.0, 2.0, 3.0);
  EXPECT_FALSE(dem.PointHeight(&point));
  EXPECT_EQ(point.z(), 3.0);
}

TEST_F(DemUtilsTest, PointHeightFillsZ) {
  GDALDatasetUniquePtr dataset = MakePlane(GDT_Float32);
  CDemUtils dem(dataset.get(), nullptr);
  Eigen::Vector3d point(1200.0, 4850.0, -1.0);
  ASSERT_TRUE(dem.PointHeight(&point));
  EXPECT_NEAR(point.z(), Plane(1200.0, 4850.0), 1e-3);
}

TEST_F(DemUtilsTest, RayOverFlatTerrainConvergesInTheSecondRound) {
  RasterSpec spec = GridSpec(GDT_Float32);
  const std::string path = folder_ / "flat.tif";
  ASSERT_TRUE(WriteRaster(path, spec, [](int, int) { return 250.0; }));
  GDALDatasetUniquePtr dataset = Open(path);
  CDemUtils dem(dataset.get(), nullptr);

  const Eigen::Vector3d origin(1200.0, 4850.0, 1250.0);
  const Eigen::Vector3d direction = Eigen::Vector3d(0.05, -0.02, -1.0).normalized();
  Eigen::Vector3d ground;
  int rounds = 0;
  ASSERT_TRUE(IntersectTerrain(origin, direction, 0.0, dem, &ground, &rounds));
  EXPECT_EQ(rounds, 2);
  EXPECT_NEAR(ground.z(), 250.0, 1e-9);
  EXPECT_NEAR(ground.x(), 1200.0 + 0.05 * 1000.0, 1e-9);
  EXPECT_NEAR(ground.y(), 4850.0 - 0.02 * 1000.0, 1e-9);

  // Starting from the height under the projection centre, the first plane is already right.
  ASSERT_TRUE(IntersectTerrain(origin, direction, kNoHeight, dem, &ground, &rounds));
  EXPECT_EQ(rounds, 1);

  EXPECT_FALSE(IntersectTerrain(origin, -direction, 0.0, dem, &ground)) << "ray points up";
  EXPECT_FALSE(IntersectTerrain(origin, Eigen::Vector3d(1, 0, 0), 0.0, dem, &ground));
  EXPECT_FALSE(IntersectTerrain(Eigen::Vector3d(0, 0, 1000), direction, kNoHeight, dem, &ground))
      << "no height under the centre";
}

TEST_F(DemUtilsTest, RayOverSlopedTerrainEndsOnTheTerrainAndOnTheRay) {
  GDALDatasetUniquePtr dataset = MakePlane(GDT_Float32);
  CDemUtils dem(dataset.get(), nullptr);
  const Eigen::Vector3d origin(1150.0, 4900.0, 1500.0);
  for (const Eigen::Vector3d& tilt :
       {Eigen::Vector3d(0.1, -0.05, -1.0), Eigen::Vector3d(-0.02, -0.08, -1.0)}) {
    const Eigen::Vector3d direction = tilt.normalized();
    Eigen::Vector3d ground;
    int rounds = 0;
    ASSERT_TRUE(IntersectTerrain(origin, direction, 0.0, dem, &ground, &rounds));
    EXPECT_GT(rounds, 2);
    EXPECT_NEAR(ground.z(), Plane(ground.x(), ground.y()), 2e-3);
    EXPECT_NEAR((ground - origin).normalized().dot(direction), 1.0, 1e-12);
  }
}

TEST_F(DemUtilsTest, ExternalDemMustBeOneFloat32OrInt16BandWithGeotransform) {
  auto write = [&](const std::string& name, RasterSpec spec) {
    const std::string path = folder_ / name;
    EXPECT_TRUE(WriteRaster(path, spec, [](int, int) { return 1.0; }));
    return path;
  };
  const std::string float_dem = write("f.tif", GridSpec(GDT_Float32));
  const std::string int_dem = write("i.tif", GridSpec(GDT_Int16));
  const std::string uint_dem = write("u.tif", GridSpec(GDT_UInt16));
  RasterSpec no_transform = GridSpec(GDT_Float32);
  no_transform.geo_transform.reset();
  const std::string bare = write("bare.tif", no_transform);

  ScriptedUi ui;
  CVantriProject project;
  EXPECT_EQ(SetExternalDem(project, folder_ / "missing.tif", ui), 0);
  EXPECT_EQ(ui.LastText(), "Unable to open selected file!");
  for (const std::string& invalid : {uint_dem, bare}) {
    EXPECT_EQ(SetExternalDem(project, invalid, ui), 0) << invalid;
    EXPECT_EQ(ui.LastText(), "Invalid DEM file!");
    EXPECT_EQ(ui.shown.back().icon, MessageIcon::kExclamation);
  }
  EXPECT_EQ(project.use_external_dem, 0);
  EXPECT_EQ(SetExternalDem(project, int_dem, ui), 1);
  EXPECT_EQ(project.external_dem_path, int_dem);

  // The command switches off when on, and asks for a file when off.
  EXPECT_EQ(UseExternalDemCommand(project, ui), 1);
  EXPECT_EQ(project.use_external_dem, 0);
  ui.file_answers = {std::nullopt, float_dem};
  EXPECT_EQ(UseExternalDemCommand(project, ui), 0);
  EXPECT_EQ(project.use_external_dem, 0);
  EXPECT_EQ(UseExternalDemCommand(project, ui), 1);
  EXPECT_EQ(project.use_external_dem, 1);
  EXPECT_EQ(project.external_dem_path, float_dem);
}

}  // namespace
}  // namespace vantri::aat
