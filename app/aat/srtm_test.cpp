#include "srtm.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <ogr_spatialref.h>
#include <stdlib.h>

#include <filesystem>
#include <sstream>

#include "photogrammetry/passport.h"
#include "project/project.h"
#include "project/project_flows.h"
#include "system/nvtools.h"
#include "testing/rasters.h"
#include "testing/scripted_ui.h"
#include "testing/temp_folder.h"
#include "ui_interface/ui.h"

namespace vantri::aat {
namespace {

namespace fs = std::filesystem;
using test_support::RasterSpec;
using test_support::TempFolder;
using test_support::WriteRaster;
using ::testing::ElementsAre;

// A geographic WGS 84 tile of 1 x 1 degree with 0.01 degree cells, west edge at `lon`, north
// edge at `lat`.
RasterSpec TileSpec(double lon, double lat, GDALDataType type = GDT_Int16) {
  RasterSpec spec;
  spec.width = spec.height = 100;
  spec.type = type;
  spec.geo_transform = std::array<double, 6>{lon, 0.01, 0, lat, 0, -0.01};
  return spec;
}

bool WriteTile(const std::string& path, const RasterSpec& spec) {
  return WriteRaster(path, spec, [](int c, int r) { return 100.0 + c + r; });
}

class SrtmTest : public ::testing::Test {
 protected:
  void SetUp() override {
    GDALAllRegister();
    setenv("VANTRI_HOME", (home_ / "").c_str(), 1);
    fs::create_directories(primary_);
    fs::create_directories(fallback_);
    // Sorted by name: the Byte tile comes first and covers the positions, but is never taken.
    ASSERT_TRUE(WriteTile(primary_ + "/a_byte.tif", TileSpec(9.0, 46.0, GDT_Byte)));
    ASSERT_TRUE(WriteTile(primary_ + "/b_west.tif", TileSpec(7.0, 46.0)));
    ASSERT_TRUE(WriteTile(primary_ + "/c_east.TIF", TileSpec(9.0, 46.0)));
    ASSERT_TRUE(WriteTile(primary_ + "/d_two_bands.tif", [] {
      RasterSpec spec = TileSpec(9.0, 46.0);
      spec.bands = 2;
      return spec;
    }()));
    ASSERT_TRUE(WriteTile(primary_ + "/e_no_geotransform.tif", [] {
      RasterSpec spec = TileSpec(9.0, 46.0);
      spec.geo_transform.reset();
      return spec;
    }()));
    fs::create_directories(primary_ + "/folder.tif");
    ASSERT_TRUE(WriteTile(fallback_ + "/south.tif", TileSpec(9.0, 41.0, GDT_Float32)));

    OGRSpatialReference utm, wgs84;
    utm.importFromEPSG(32632);
    wgs84.importFromEPSG(4326);
    utm.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    wgs84.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    utm_to_wgs84_.reset(OGRCreateCoordinateTransformation(&utm, &wgs84));
    ASSERT_TRUE(utm_to_wgs84_);
  }

  TempFolder home_;
  std::string primary_ = home_ / "srtm";
  std::string fallback_ = home_ / "fallback";
  std::unique_ptr<OGRCoordinateTransformation> utm_to_wgs84_;
};

TEST_F(SrtmTest, OnlyValidElevationRastersAreListed) {
  EXPECT_THAT(ListElevationRasters(primary_), ElementsAre("b_west.tif", "c_east.TIF"));
  EXPECT_TRUE(ListElevationRasters(home_ / "missing").empty());
}

TEST_F(SrtmTest, TheTileCoveringAPositionIsTaken) {
  // UTM 32 N: E 520000, N 5000000 is about 9.26 E, 45.14 N.
  const std::vector<Eigen::Vector3d> positions = {Eigen::Vector3d::Zero(),
                                                  Eigen::Vector3d(520000.0, 5000000.0, 900.0)};
  ElevationModel model;
  ASSERT_TRUE(LoadSrtmForPositions(positions, utm_to_wgs84_.get(), primary_, fallback_, &model));
  EXPECT_EQ(fs::path(model.path).filename(), "c_east.TIF");
  ASSERT_TRUE(model.sampler);
  // Heights are sampled in project coordinates through the transformation.
  const double h = model.sampler->HeightAt(520000.0, 5000000.0);
  EXPECT_GT(h, 100.0);
  EXPECT_LT(h, 300.0);

  // A position further south is found in the fallback folder only.
  const std::vector<Eigen::Vector3d> south = {Eigen::Vector3d(520000.0, 4500000.0, 900.0)};
  ASSERT_TRUE(LoadSrtmForPositions(south, utm_to_wgs84_.get(), primary_, fallback_, &model));
  EXPECT_EQ(fs::path(model.path).filename(), "south.tif");

  const std::vector<Eigen::Vector3d> nowhere = {Eigen::Vector3d(520000.0, 7000000.0, 0.0)};
  EXPECT_FALSE(LoadSrtmForPositions(nowhere, utm_to_wgs84_.get(), primary_, fallback_, &model));
  EXPECT_FALSE(model.IsLoaded());
  EXPECT_FALSE(LoadSrtmForPositions(positions, nullptr, primary_, fallback_, &model))
      << "without a coordinate transformation nothing is taken";
  EXPECT_FALSE(LoadSrtmForPositions({Eigen::Vector3d::Zero()}, utm_to_wgs84_.get(), primary_,
                                    fallback_, &model));
}

TEST_F(SrtmTest, ProjectTileFromTheImagePositions) {
  NVT_WriteUserProfileString("SRTM", "Folder", primary_);
  CVantriProject project;
  project.folder = home_ / "";
  project.AppendImage("/d/a.tif");
  project.AppendImage("/d/b.tif");
  project.images[1]->x = 520000.0;
  project.images[1]->y = 5000000.0;
  ElevationModel model;
  EXPECT_FALSE(LoadSrtmForProjectImages(project, &model)) << "no coordinate system yet";
  project.coordinate_system.SetUserEpsg(32632);
  ASSERT_EQ(project.coordinate_system.RebuildTransformations(), 1);
  ASSERT_TRUE(LoadSrtmForProjectImages(project, &model));
  EXPECT_EQ(fs::path(model.path).filename(), "c_east.TIF");
}

TEST_F(SrtmTest, TileByName) {
  ElevationModel model;
  EXPECT_TRUE(LoadSrtmTile(primary_, "b_west", nullptr, &model));
  EXPECT_TRUE(model.IsLoaded());
  EXPECT_FALSE(LoadSrtmTile(primary_, "a_byte", nullptr, &model));
  EXPECT_FALSE(model.IsLoaded());
  EXPECT_FALSE(LoadSrtmTile(primary_, "missing", nullptr, &model));
}

TEST_F(SrtmTest, FolderSettingIsRelativeToTheProgramFolder) {
  const fs::path program(NVT_GetSpecialFolder(NVT_FOLDER_PROGRAM_FILES));
  const fs::path parent = program.parent_path();
  EXPECT_EQ(SrtmFolder(), (parent / "support").string());
  EXPECT_EQ(SrtmFallbackFolder(), (parent.parent_path() / "support").string());
  NVT_WriteUserProfileString("SRTM", "Folder", "..\\data\\srtm");
  EXPECT_EQ(SrtmFolder(), (parent / "data" / "srtm").string());
  NVT_WriteUserProfileString("SRTM", "Folder", primary_ + "/");
  EXPECT_EQ(SrtmFolder(), primary_);
}

TEST_F(SrtmTest, SourceDialogStoresOnlyAValidFolder) {
  ScriptedUi ui;
  SrtmSourceDialog dialog(ui);
  EXPECT_FALSE(dialog.RemoteChecked());
  EXPECT_FALSE(dialog.RemoteEnabled());
  EXPECT_TRUE(dialog.datasets().empty());
  EXPECT_FALSE(dialog.Ok());
  EXPECT_EQ(ui.LastText(), "Please select a valid SRTM folder!");
  EXPECT_EQ(NVT_GetUserProfileString("SRTM", "UseRemoteSRTM", ""), "0");

  const std::string bytes_only = home_ / "bytes";
  fs::create_directories(bytes_only);
  ASSERT_TRUE(WriteTile(bytes_only + "/x.tif", TileSpec(9.0, 46.0, GDT_Byte)));
  ui.file_answers = {bytes_only, primary_};
  ASSERT_TRUE(dialog.ChooseFolder());
  EXPECT_EQ(dialog.folder(), bytes_only);
  EXPECT_EQ(ui.LastText(), "No valid SRTM dataset found inside selected folder!");
  EXPECT_EQ(ui.shown.back().icon, MessageIcon::kWarning);
  EXPECT_FALSE(dialog.Ok());

  ASSERT_TRUE(dialog.ChooseFolder());
  EXPECT_THAT(dialog.datasets(), ElementsAre("b_west.tif", "c_east.TIF"));
  EXPECT_TRUE(dialog.Ok());
  EXPECT_EQ(SrtmFolder(), primary_);

  dialog.SetFolderText("");
  dialog.SetRemoteChecked(true);
  EXPECT_TRUE(dialog.Ok());
  EXPECT_EQ(NVT_GetUserProfileString("SRTM", "UseRemoteSRTM", ""), "1");
  EXPECT_EQ(SrtmFolder(), primary_) << "the remote source keeps the folder";
}

}  // namespace
}  // namespace vantri::aat
