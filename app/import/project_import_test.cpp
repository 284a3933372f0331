#include "import/project_import.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "crs/coordinate_conversion_window.h"
#include "project/project.h"
#include "testing/scripted_ui.h"
#include "testing/temp_folder.h"
#include "ui_interface/ui.h"

namespace vantri::import {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

class ProjectImportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = temp_.path();
    setenv("VANTRI_HOME", folder_.c_str(), 1);
    project_.folder = folder_ + "/";
    project_.name = "block";
    for (const char* path : {"/data/IMG_0001.tif", "/data/IMG_0002.tif", "/data/IMG_0003.tif"})
      project_.AppendImage(path);
  }

  std::string WriteInputFile(const std::string& content) {
    const std::string path = folder_ + "/input" + std::to_string(files_++) + ".txt";
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }
  bool Logged(const std::string& text) const {
    for (const auto& line : ui_.log_lines)
      if (line.find(text) != std::string::npos) return true;
    return false;
  }

  test_support::TempFolder temp_;
  std::string folder_;
  int files_ = 0;
  ScriptedUi ui_;
  CVantriProject project_;
};

TEST_F(ProjectImportTest, FirstControlPointImportSetsTheLocalOriginOnce) {
  PointImportModel gcp(ImportMode::kGcp, ui_);
  ASSERT_TRUE(gcp.OpenFile(WriteInputFile("a 500100 4980200 10\nb 500050 4980300 12\n")));
  gcp.SelectAll();
  std::vector<SFIO_ControlPoint> records;
  ASSERT_EQ(ImportControlPointsIntoProject(gcp, project_, &records), 1);
  EXPECT_EQ(records.size(), 2u);
  EXPECT_EQ(project_.local_origin, (std::array<double, 3>{500050.0, 4980200.0, 0.0}));
  ASSERT_TRUE(fs::exists(folder_ + "/block.off"));
  std::array<double, 3> stored{};
  ASSERT_TRUE(project::ReadLocalOrigin(folder_ + "/block.off", stored));
  EXPECT_EQ(stored, project_.local_origin);
  EXPECT_TRUE(Logged("2 control points selected"));

  PointImportModel cp(ImportMode::kCheckPoints, ui_);
  ASSERT_TRUE(cp.OpenFile(WriteInputFile("c 400000 4000000 1\n")));
  cp.SelectAll();
  ASSERT_EQ(ImportControlPointsIntoProject(cp, project_, &records), 1);
  EXPECT_EQ(project_.local_origin[0], 500050.0) << "a second import leaves the origin";
  ASSERT_TRUE(project::ReadLocalOrigin(folder_ + "/block.off", stored));
  EXPECT_EQ(stored[0], 500050.0);
}

TEST_F(ProjectImportTest, GpsImuRowsMoveOnlyTheirImages) {
  PointImportModel gps(ImportMode::kGpsImu, ui_);
  ASSERT_TRUE(gps.OpenFile(
      WriteInputFile("D:\\Flight 7\\img_0002.JPG;1010;2000;300;0.01;-0.02;1.5;0.5;0.6;0.001;0.002\n"
                     "/mnt/IMG_0001.tif;1000;2005;301;0;0;0.1\n"
                     "IMG_0003;1020;bad;302;0;0;0\n"
                     "IMG_9999;1;2;3;0;0;0\n")));
  gps.SetSeparators(";");
  gps.SelectAll();
  ASSERT_EQ(ImportGpsImuIntoProject(gps, project_), 1);

  const CABAImage& first = *project_.Image(0);
  const CABAImage& second = *project_.Image(1);
  const CABAImage& third = *project_.Image(2);
  EXPECT_EQ(first.x, 1000.0);
  EXPECT_EQ(first.kappa, 0.1);
  EXPECT_EQ(first.var_xy, photogrammetry::kUndefinedVariance);
  EXPECT_EQ(second.y, 2000.0);
  EXPECT_EQ(second.phi, -0.02);
  EXPECT_EQ(second.var_z, 0.6);
  EXPECT_EQ(second.var_k, 0.002);
  EXPECT_EQ(third.x, 0.0) << "a row that does not convert never moves an image";
  EXPECT_FALSE(third.HasGpsImu());
  EXPECT_TRUE(Logged("GPS/IMU row img_0003 skipped"));

  EXPECT_EQ(project_.local_origin, (std::array<double, 3>{1000.0, 2000.0, 0.0}));
  EXPECT_TRUE(fs::exists(folder_ + "/block.off"));
  EXPECT_GT(fs::file_size(folder_ + "/GPS_coordinates.vtp"), 0u);
  EXPECT_EQ(ui_.LastText(), "2 GPS/IMU data points selected");
  EXPECT_TRUE(Logged("2 GPS/IMU data points selected"));
}

TEST_F(ProjectImportTest, GpsImuWithoutMatchKeepsTheWindowOpen) {
  PointImportModel gps(ImportMode::kGpsImu, ui_);
  ASSERT_TRUE(gps.OpenFile(WriteInputFile("other_1 1 2 3 0 0 0\n")));
  EXPECT_EQ(ImportGpsImuIntoProject(gps, project_), 0);
  EXPECT_EQ(ui_.LastText(), "Make a selection");
  gps.SelectAll();
  EXPECT_EQ(ImportGpsImuIntoProject(gps, project_), 0);
  EXPECT_EQ(ui_.LastText(), "No valid data or already imported points");
  EXPECT_TRUE(Logged("No valid data or already imported points"));
  EXPECT_FALSE(fs::exists(folder_ + "/GPS_coordinates.vtp"));
  EXPECT_EQ(project_.local_origin[0], 0.0);
}

TEST_F(ProjectImportTest, GeographicColumnsConvertThroughTheConversionWindow) {
  PointImportModel cp(ImportMode::kCheckPoints, ui_);
  ASSERT_TRUE(cp.OpenFile(WriteInputFile("p 9.0 45.0 100\n")));
  cp.SelectAll();
  WindowCoordinateConversion conversion(ui_, ChooseUtmAutomatically);
  ASSERT_TRUE(cp.ConvertCoordinates(conversion));
  // UTM 32 N on WGS 84.
  EXPECT_NEAR(std::stod(cp.Cell(0, 1)), 500000.0, 0.1);
  EXPECT_NEAR(std::stod(cp.Cell(0, 2)), 4982950.4, 0.1);

  WindowCoordinateConversion cancelled(
      ui_, [](crs::CoordinateConversionWindow& window) { window.Cancel(); });
  EXPECT_FALSE(cp.ConvertCoordinates(cancelled));
}

}  // namespace
}  // namespace vantri::import
