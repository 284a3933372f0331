#include "import/import_command.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/passport.h"
#include "platform/ui.h"
#include "project/project.h"
#include "project/project_flows.h"

namespace vantri::import {
namespace {

namespace fs = std::filesystem;

class ImportCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = testing::TempDir() + "import_command_XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
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
    ASSERT_EQ(SaveProjectFile(project, project.file_path, kProjectFormatVersion), 1);
  }
  void TearDown() override { fs::remove_all(folder_); }

  std::string writeFile(const std::string& content) {
    const std::string path = folder_ + "/in" + std::to_string(files_++) + ".txt";
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }
  int run(ImportMode mode, std::vector<std::string> args) {
    out_.str("");
    err_.str("");
    return runImportCommand(mode, args, ui_, out_, err_);
  }

  std::string folder_;
  int files_ = 0;
  ScriptedUi ui_;
  std::ostringstream out_, err_;
};

TEST_F(ImportCommandTest, OptionErrorsAreUsageErrors) {
  ImportOptions options;
  EXPECT_EQ(parseImportOptions(ImportMode::kGcp, {"p.bun"}, &options),
            "Expected PROJECT.bun and FILE");
  EXPECT_EQ(parseImportOptions(ImportMode::kGcp, {"p.bun", "f", "--bogus"}, &options),
            "Unknown option --bogus");
  EXPECT_EQ(parseImportOptions(ImportMode::kGcp, {"p.bun", "f", "--columns"}, &options),
            "Option --columns needs a value");
  EXPECT_EQ(parseImportOptions(ImportMode::kGcp, {"p.bun", "f", "--angles", "deg"}, &options),
            "--angles applies to GPS/IMU data only");
  EXPECT_EQ(run(ImportMode::kGcp, {"p.bun"}), 2);
  EXPECT_EQ(run(ImportMode::kGpsImu, {"--help"}), 0);
  EXPECT_NE(out_.str().find("import-gps"), std::string::npos);
  const std::string file = writeFile("a 1 2 3\n");
  EXPECT_EQ(run(ImportMode::kGcp, {folder_ + "/block.bun", file, "--columns", "id,x,y,omega"}), 2);
  EXPECT_NE(err_.str().find("Unknown column \"omega\""), std::string::npos);
}

TEST_F(ImportCommandTest, GpsImportInDegreesWithReorderedColumnsIsSaved) {
  const std::string file = writeFile(
      "# kappa first\n"
      "90|IMG_0001|500000|4980000|1200|0|0\n"
      "180|C:\\raw\\img_0002.JPG|500100|4980000|1201|0|200\n");
  ASSERT_EQ(run(ImportMode::kGpsImu, {folder_ + "/block.bun", file, "--separators", "|",
                                      "--columns", "kappa,id,x,y,z,omega,phi", "--angles", "deg"}),
            0)
      << err_.str();
  CVantriProject project;
  ASSERT_EQ(OpenProjectPath(project, ui_, folder_ + "/block.bun"), 1);
  EXPECT_EQ(project.Image(0)->x, 500000.0);
  EXPECT_NEAR(project.Image(0)->kappa, 1.570796, 1e-9);
  EXPECT_NEAR(project.Image(1)->kappa, 3.141593, 1e-9);
  EXPECT_NEAR(project.Image(1)->phi, 200.0 / 180.0 * 3.141592653589793, 1e-6);
  EXPECT_EQ(project.local_origin, (std::array<double, 3>{500000.0, 4980000.0, 0.0}));
  EXPECT_EQ(ui_.LastText(), "2 GPS/IMU data points selected");
  EXPECT_EQ(NVT_GetUserProfileString("PointFile", "Separators", "unset"), "unset")
      << "command-line options do not change the operator's profile";
}

TEST_F(ImportCommandTest, ControlPointsGoToTheCollectionOnce) {
  const std::string file = writeFile(",500010,4980020,100\nG2,500030,4980040,101\n");
  ASSERT_EQ(run(ImportMode::kGcp, {folder_ + "/block.bun", file}), 0) << err_.str();
  EXPECT_EQ(ui_.LastText(), "2 control points imported");
  EXPECT_TRUE(fs::exists(folder_ + "/GCP.col"));
  EXPECT_TRUE(fs::exists(folder_ + "/block.off"));
  EXPECT_FALSE(fs::exists(folder_ + "/CP.col"));

  EXPECT_EQ(run(ImportMode::kGcp, {folder_ + "/block.bun", writeFile("G2 1 2 3\n")}), 1);
  EXPECT_EQ(ui_.LastText(), "No valid point to import or points already imported!");

  ASSERT_EQ(run(ImportMode::kCheckPoints,
                {folder_ + "/block.bun", writeFile("c1 9.0 45.0 100\n"), "--geographic"}),
            0)
      << err_.str();
  EXPECT_TRUE(fs::exists(folder_ + "/CP.col"));
}

}  // namespace
}  // namespace vantri::import
