#include "shell/commands.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "aat/srtm.h"
#include "photogrammetry/passport.h"
#include "project/project.h"
#include "project/project_flows.h"
#include "system/nvtools.h"
#include "testing/rasters.h"
#include "testing/scripted_ui.h"
#include "testing/temp_folder.h"
#include "ui_interface/ui.h"

namespace vantri::shell {
namespace {

namespace fs = std::filesystem;
using import::ImportMode;

class ImportCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = temp_.path();
    setenv("VANTRI_HOME", folder_.c_str(), 1);
    CVantriProject project;
    project.folder = folder_ + "/";
    project.name = "block";
    project.file_path = folder_ + "/block.bun";
    auto passport = std::make_unique<CBCCCameraPassport>();
    passport->focal_mm = 35.0;
    passport->pixel_mm = 0.005;
    passport->width = 6000;
    passport->height = 4000;
    project.passport = std::move(passport);
    project.working_passport = project.passport->Clone();
    project.AppendImage("/flight/IMG_0001.tif");
    project.AppendImage("/flight/IMG_0002.tif");
    ASSERT_EQ(project::SaveProjectFile(project, project.file_path, project::kProjectFormatVersion),
              1);
  }

  std::string WriteFile(const std::string& content) {
    const std::string path = folder_ + "/in" + std::to_string(files_++) + ".txt";
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }
  // The vantri-cli command line of the import of this mode.
  int Run(import::ImportMode mode, std::vector<std::string> args) {
    static const char* const kCommands[] = {"import-gps", "import-gcp", "import-cp"};
    args.insert(args.begin(), kCommands[static_cast<int>(mode)]);
    std::istringstream in;
    out_.str("");
    err_.str("");
    return RunCommandLine(args, in, out_, err_);
  }
  std::string Printed() const { return out_.str() + err_.str(); }

  test_support::TempFolder temp_;
  std::string folder_;
  int files_ = 0;
  ScriptedUi ui_;
  std::ostringstream out_, err_;
};

TEST_F(ImportCommandTest, OptionErrorsAreUsageErrors) {
  EXPECT_EQ(Run(ImportMode::kGcp, {"p.bun"}), 2);
  EXPECT_NE(err_.str().find("expected PROJECT.bun and FILE"), std::string::npos);
  EXPECT_EQ(Run(ImportMode::kGcp, {"p.bun", "f", "--bogus"}), 2);
  EXPECT_NE(err_.str().find("unknown option '--bogus'"), std::string::npos);
  EXPECT_EQ(Run(ImportMode::kGcp, {"p.bun", "f", "--columns"}), 2);
  EXPECT_NE(err_.str().find("option --columns needs a value"), std::string::npos);
  EXPECT_EQ(Run(ImportMode::kGcp, {"p.bun", "f", "--angles", "deg"}), 2);
  EXPECT_NE(err_.str().find("--angles applies to GPS/IMU data only"), std::string::npos);
  EXPECT_EQ(Run(ImportMode::kGpsImu, {"--help"}), 0);
  EXPECT_NE(out_.str().find("import-gps"), std::string::npos);
  const std::string file = WriteFile("a 1 2 3\n");
  EXPECT_EQ(Run(ImportMode::kGcp, {folder_ + "/block.bun", file, "--columns", "id,x,y,omega"}), 2);
  EXPECT_NE(err_.str().find("Unknown column \"omega\""), std::string::npos);
}

TEST_F(ImportCommandTest, GpsImportInDegreesWithReorderedColumnsIsSaved) {
  const std::string file = WriteFile(
      "# kappa first\n"
      "90|IMG_0001|500000|4980000|1200|0|0\n"
      "180|C:\\raw\\img_0002.JPG|500100|4980000|1201|0|200\n");
  ASSERT_EQ(Run(ImportMode::kGpsImu, {folder_ + "/block.bun", file, "--separators", "|",
                                      "--columns", "kappa,id,x,y,z,omega,phi", "--angles", "deg"}),
            0)
      << err_.str();
  CVantriProject project;
  ASSERT_EQ(project::OpenProjectPath(project, ui_, folder_ + "/block.bun"), 1);
  EXPECT_EQ(project.Image(0)->x, 500000.0);
  EXPECT_NEAR(project.Image(0)->kappa, 1.570796, 1e-9);
  EXPECT_NEAR(project.Image(1)->kappa, 3.141593, 1e-9);
  EXPECT_NEAR(project.Image(1)->phi, 200.0 / 180.0 * 3.141592653589793, 1e-6);
  EXPECT_EQ(project.local_origin, (std::array<double, 3>{500000.0, 4980000.0, 0.0}));
  EXPECT_NE(Printed().find("2 GPS/IMU data points selected"), std::string::npos);
  EXPECT_EQ(NVT_GetUserProfileString("PointFile", "Separators", "unset"), "unset")
      << "command-line options do not change the operator's profile";
}

TEST_F(ImportCommandTest, ControlPointsGoToTheCollectionOnce) {
  const std::string file = WriteFile(",500010,4980020,100\nG2,500030,4980040,101\n");
  ASSERT_EQ(Run(ImportMode::kGcp, {folder_ + "/block.bun", file}), 0) << err_.str();
  EXPECT_NE(Printed().find("2 control points imported"), std::string::npos);
  EXPECT_TRUE(fs::exists(folder_ + "/GCP.col"));
  EXPECT_TRUE(fs::exists(folder_ + "/block.off"));
  EXPECT_FALSE(fs::exists(folder_ + "/CP.col"));

  EXPECT_EQ(Run(ImportMode::kGcp, {folder_ + "/block.bun", WriteFile("G2 1 2 3\n")}), 1);
  EXPECT_NE(Printed().find("No valid point to import or points already imported!"),
            std::string::npos);

  ASSERT_EQ(Run(ImportMode::kCheckPoints,
                {folder_ + "/block.bun", WriteFile("c1 9.0 45.0 100\n"), "--geographic"}),
            0)
      << err_.str();
  EXPECT_TRUE(fs::exists(folder_ + "/CP.col"));
}

// The elevation-model commands on a project in UTM 32 N whose one image lies below 46 N, 9 E.
class ElevationCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    GDALAllRegister();
    setenv("VANTRI_HOME", (home_ / "").c_str(), 1);
    fs::create_directories(primary_);
    // Sorted by name: the Byte tile comes first and covers the position, but is never taken.
    ASSERT_TRUE(WriteTile(primary_ + "/a_byte.tif", 9.0, GDT_Byte));
    ASSERT_TRUE(WriteTile(primary_ + "/b_west.tif", 7.0, GDT_Int16));
    ASSERT_TRUE(WriteTile(primary_ + "/c_east.TIF", 9.0, GDT_Int16));
    project_.folder = home_ / "";
    project_.name = "block";
    project_.file_path = home_ / "block.bun";
    project_.passport = std::make_unique<CBCCCameraPassport>();
    project_.working_passport = project_.passport->Clone();
    project_.AppendImage("/d/a.tif");
    project_.images[0]->x = 520000.0;
    project_.images[0]->y = 5000000.0;
    project_.coordinate_system.SetUserEpsg(32632);
    ASSERT_EQ(
        project::SaveProjectFile(project_, project_.file_path, project::kProjectFormatVersion), 1);
  }
  // A geographic WGS 84 tile of 1 x 1 degree, west edge at `lon`, north edge at 46 N.
  static bool WriteTile(const std::string& path, double lon, GDALDataType type) {
    test_support::RasterSpec spec;
    spec.width = spec.height = 100;
    spec.type = type;
    spec.geo_transform = std::array<double, 6>{lon, 0.01, 0, 46.0, 0, -0.01};
    return test_support::WriteRaster(path, spec, [](int c, int r) { return 100.0 + c + r; });
  }

  test_support::TempFolder home_;
  std::string primary_ = home_ / "srtm";
  CVantriProject project_;
  ScriptedUi ui_;
  std::ostringstream out_, err_;
};

TEST_F(ElevationCommandTest, DemAndSrtmFolderCommands) {
  const std::string dem = primary_ + "/b_west.tif";
  ASSERT_EQ(RunDem(project_.file_path, dem, ui_, out_, err_), kExitOk) << err_.str();
  CVantriProject reopened;
  ASSERT_EQ(project::OpenProjectPath(reopened, ui_, project_.file_path), 1);
  EXPECT_EQ(reopened.use_external_dem, 1);
  EXPECT_EQ(reopened.external_dem_path, dem);
  EXPECT_EQ(RunDem(project_.file_path, primary_ + "/a_byte.tif", ui_, out_, err_), kExitFailure);
  EXPECT_EQ(ui_.LastText(), "Invalid DEM file!");
  ASSERT_EQ(RunDem(project_.file_path, std::nullopt, ui_, out_, err_), kExitOk);
  ASSERT_EQ(project::OpenProjectPath(reopened, ui_, project_.file_path), 1);
  EXPECT_EQ(reopened.use_external_dem, 0);

  EXPECT_EQ(RunSrtmFolder(std::nullopt, home_ / "missing", ui_, out_, err_), kExitFailure);
  EXPECT_EQ(ui_.LastText(), "Please select a valid SRTM folder!");
  out_.str("");
  ASSERT_EQ(RunSrtmFolder(project_.file_path, primary_ + "/", ui_, out_, err_), kExitOk);
  EXPECT_EQ(aat::SrtmFolder(), primary_);
  EXPECT_NE(out_.str().find("SRTM tile: " + primary_ + "/c_east.TIF"), std::string::npos)
      << out_.str();
}

// An unwritable profile once gave exit 0 with the old folder printed and nothing saved.
TEST_F(ElevationCommandTest, SrtmFolderCommandFailsWhenTheProfileCannotBeWritten) {
  fs::create_directories(home_ / "vantri/profile.ini");  // a folder where the file belongs
  EXPECT_EQ(RunSrtmFolder(std::nullopt, primary_, ui_, out_, err_), kExitFailure);
  EXPECT_EQ(ui_.LastText(), "Unable to save the SRTM folder in the user profile!");
  EXPECT_EQ(out_.str().find("SRTM folder:"), std::string::npos) << out_.str();
}

// Usage errors exit 2; a failure exits 1 and says why, also where the lower layer is silent.
TEST_F(ElevationCommandTest, CommandLineOfTheElevationCommands) {
  std::istringstream in;
  EXPECT_EQ(RunCommandLine({"dem", project_.file_path}, in, out_, err_), kExitUsage);
  EXPECT_EQ(RunCommandLine({"dem", project_.file_path, "--off", "--external", "x"}, in, out_, err_),
            kExitUsage);
  EXPECT_EQ(RunCommandLine({"srtm-folder"}, in, out_, err_), kExitUsage);
  EXPECT_EQ(RunCommandLine({"srtm-folder", "a", "b", "c"}, in, out_, err_), kExitUsage);
  err_.str("");
  EXPECT_EQ(RunCommandLine({"dem", project_.file_path, "--external", primary_ + "/a_byte.tif"}, in,
                           out_, err_),
            kExitFailure);
  EXPECT_NE(err_.str().find("Invalid DEM file!"), std::string::npos);
}

}  // namespace
}  // namespace vantri::shell
