#include "project/images_manager.h"

#include <gdal_priv.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "project/preview_image.h"
#include "testing/scripted_ui.h"
#include "testing/temp_folder.h"
#include "ui_interface/ui.h"

namespace fs = std::filesystem;
using vantri::ScriptedUi;

namespace vantri::project {
namespace {

constexpr int kWidth = 40;
constexpr int kHeight = 30;

struct ImagesManagerTest : testing::Test {
  void SetUp() override {
    root = temp.path();
    setenv("VANTRI_HOME", root.c_str(), 1);
    GDALAllRegister();
    project.folder = root + "/";
    project.passport_file_name = "cam-1.bcc";
    UsePassport(false);
  }

  void UsePassport(bool distorted) {
    auto passport = std::make_unique<CBCCCameraPassport>();
    passport->focal_mm = 10;
    passport->pixel_mm = 0.01;
    passport->width = kWidth;
    passport->height = kHeight;
    passport->ppx = kWidth / 2.0;
    passport->ppy = kHeight / 2.0;
    if (distorted) passport->metric.k1 = 1e-4;
    project.passport = std::move(passport);
    project.working_passport = project.passport->Clone();
    project.ApplyUndistortionRule();
  }

  // A GeoTIFF with optional metadata items (default domain).
  std::string MakeImage(const std::string& name, int width = kWidth, int height = kHeight,
                        const std::vector<std::pair<std::string, std::string>>& metadata = {}) {
    const std::string path = root + "/" + name;
    GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("GTiff");
    GDALDataset* dataset = driver->Create(path.c_str(), width, height, 1, GDT_Byte, nullptr);
    for (const auto& [key, value] : metadata) dataset->SetMetadataItem(key.c_str(), value.c_str());
    GDALClose(dataset);
    return path;
  }

  vantri::test_support::TempFolder temp;
  std::string root;
  CVantriProject project;
  ScriptedUi ui;
};

TEST_F(ImagesManagerTest, SameFileTwiceIsAddedOnceAndCountedAsSkipped) {
  const std::string a = MakeImage("a.tif");
  ImagesManager manager(project, ui);
  int hook_calls = 0;
  manager.after_images_added = [&](CVantriProject&) { ++hook_calls; };
  const AddImagesResult result = manager.AddImages({a, a});
  EXPECT_EQ(result.added, 1);
  EXPECT_EQ(result.skipped, 1);
  EXPECT_EQ(project.ImageCount(), 1);
  EXPECT_EQ(ui.LastText(), "1 images skipped: invalid or already imported");
  EXPECT_EQ(hook_calls, 1);
  // Already listed by file title, whatever the folder and case.
  fs::create_directory(root + "/other");
  const std::string upper = MakeImage("other/A.tif");
  EXPECT_EQ(manager.AddImages({upper}).skipped, 1);
  EXPECT_EQ(hook_calls, 1);
}

TEST_F(ImagesManagerTest, WrongSizeAndUnreadableFilesAreSkipped) {
  const std::string narrow = MakeImage("narrow.tif", kWidth - 1, kHeight);
  const std::string short_one = MakeImage("short.tif", kWidth, kHeight - 1);
  const std::string text = root + "/text.tif";
  std::ofstream(text) << "not an image";
  const std::string good = MakeImage("good.tif");
  ImagesManager manager(project, ui);
  const AddImagesResult result =
      manager.AddImages({narrow, short_one, text, root + "/missing.tif", good});
  EXPECT_EQ(result.added, 1);
  EXPECT_EQ(result.skipped, 4);
  ASSERT_EQ(project.ImageCount(), 1);
  EXPECT_EQ(project.Image(0)->Name(), "good");
}

TEST_F(ImagesManagerTest, PathsAreAddedSortedAndNothingHappensWithoutPassport) {
  const std::string b = MakeImage("b.tif");
  const std::string a = MakeImage("a.tif");
  ImagesManager manager(project, ui);
  manager.AddImages({b, a});
  ASSERT_EQ(project.ImageCount(), 2);
  EXPECT_EQ(project.Image(0)->Name(), "a");
  EXPECT_EQ(project.Image(1)->Name(), "b");

  CVantriProject empty;
  ImagesManager no_passport(empty, ui);
  EXPECT_EQ(no_passport.AddImages({a}).added, 0);
  EXPECT_EQ(empty.ImageCount(), 0);
}

TEST_F(ImagesManagerTest, UndistortedCheckFollowsPassportDistortion) {
  const std::string plain = MakeImage("plain.tif");
  const std::string tagged = MakeImage("tagged.tif", kWidth, kHeight,
                                       {{"UNDISTORTED", "YES"}, {"CAMERANAME", "Cam-1.BCC"}});
  const std::string other_camera = MakeImage("other.tif", kWidth, kHeight,
                                             {{"UNDISTORTED", "yes"}, {"CAMERANAME", "cam-2.bcc"}});
  const std::string tiff_tags = MakeImage(
      "tifftags.tif", kWidth, kHeight,
      {{"TIFFTAG_SOFTWARE", "Norvel Software UND"}, {"TIFFTAG_IMAGEDESCRIPTION", "cam-1.bcc"}});
  // Both items present but one wrong: the TIFF tags are not consulted.
  const std::string mixed = MakeImage("mixed.tif", kWidth, kHeight,
                                      {{"UNDISTORTED", "no"},
                                       {"CAMERANAME", "cam-1.bcc"},
                                       {"TIFFTAG_SOFTWARE", "Norvel Software UND"},
                                       {"TIFFTAG_IMAGEDESCRIPTION", "cam-1.bcc"}});
  const std::vector<std::string> all = {plain, tagged, other_camera, tiff_tags, mixed};

  // Without lens distortion every readable image of the right size is accepted.
  EXPECT_FALSE(ImageImportCheckOn(project));
  EXPECT_EQ(ImagesManager(project, ui).AddImages(all).added, 5);

  project.images.clear();
  UsePassport(true);
  ASSERT_TRUE(ImageImportCheckOn(project));
  ImagesManager(project, ui).AddImages(all);
  std::vector<std::string> names;
  for (const auto& image : project.images) names.push_back(image->Name());
  EXPECT_EQ(names, (std::vector<std::string>{"tagged", "tifftags"}));
}

TEST_F(ImagesManagerTest, RowsLabelAndEnabledFlags) {
  ImagesManager manager(project, ui);
  manager.AddImages({MakeImage("a.tif"), MakeImage("b.tif"), MakeImage("c.tif")});
  project.Image(1)->x = 10;  // a position alone makes the row "Yes"
  manager.SetEnabled({0, 2}, false);
  const std::vector<ImageRow> rows = manager.Rows();
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].gps_imu, "No");
  EXPECT_EQ(rows[1].gps_imu, "Yes");
  EXPECT_EQ(rows[0].var_xy, "-");
  EXPECT_EQ(rows[0].adj_k, "-");
  EXPECT_FALSE(rows[0].enabled);
  EXPECT_EQ(rows[0].background, kDisabledRowGrey);
  EXPECT_EQ(rows[1].background, 255);
  EXPECT_EQ(project.Image(2)->enabled, 0);
  EXPECT_EQ(manager.Label(), "3 images added (1 valid for process)");

  EXPECT_STREQ(manager.Caption(), "Input Mode");
  manager.ToggleInputMode();
  EXPECT_STREQ(manager.Caption(), "Check Mode");
  EXPECT_EQ(manager.WindowWidth(400), 600);
}

TEST_F(ImagesManagerTest, VarianceAnswersAndRefusals) {
  double value = 0;
  EXPECT_EQ(ParseVarianceAnswer("-", VarianceColumn::kXY, &value), "");
  EXPECT_EQ(value, photogrammetry::kUndefinedVariance);
  EXPECT_EQ(ParseVarianceAnswer("", VarianceColumn::kK, &value), "");
  EXPECT_EQ(value, photogrammetry::kUndefinedVariance);
  EXPECT_EQ(ParseVarianceAnswer("-0.5", VarianceColumn::kZ, &value), "Invalid value!");
  EXPECT_EQ(ParseVarianceAnswer("abc", VarianceColumn::kZ, &value), "Invalid value!");
  EXPECT_EQ(ParseVarianceAnswer("4", VarianceColumn::kZ, &value), "");  // linear: no limit
  EXPECT_EQ(ParseVarianceAnswer("3.2", VarianceColumn::kOP, &value),
            "Angular variance must be lower than 180 deg!");
  EXPECT_EQ(ParseVarianceAnswer("3.2", VarianceColumn::kK, &value),
            "Angular variance must be lower than 180 deg!");
  EXPECT_EQ(ParseVarianceAnswer("3.141592653589793", VarianceColumn::kK, &value), "");

  ImagesManager manager(project, ui);
  manager.AddImages({MakeImage("a.tif"), MakeImage("b.tif")});
  // Refused answers are asked again until one is accepted.
  ui.value_answers = {std::string("-1"), std::string("9"), std::string("0.25")};
  ASSERT_TRUE(manager.SetVarianceToAll(VarianceColumn::kOP));
  EXPECT_EQ(ui.Texts(), (std::vector<std::string>{"Invalid value!",
                                                  "Angular variance must be lower than 180 deg!"}));
  for (const ImageRow& row : manager.Rows()) EXPECT_EQ(row.var_op, "0.25");

  // "-" shows "-" in every row and stores the undefined value.
  ui.value_answers = {std::string("-")};
  ASSERT_TRUE(manager.SetVarianceToAll(VarianceColumn::kOP));
  for (const ImageRow& row : manager.Rows()) EXPECT_EQ(row.var_op, "-");
  EXPECT_EQ(project.Image(1)->var_op, photogrammetry::kUndefinedVariance);

  ui.value_answers = {std::nullopt};  // Cancel changes nothing
  manager.SetVariance(VarianceColumn::kXY, 2);
  EXPECT_FALSE(manager.SetVarianceToAll(VarianceColumn::kXY));
  EXPECT_EQ(project.Image(0)->var_xy, 2);
  manager.ClearVariance(VarianceColumn::kXY);
  EXPECT_EQ(project.Image(0)->var_xy, photogrammetry::kUndefinedVariance);
}

TEST_F(ImagesManagerTest, RemovingKeepsFootprintsAlignedAndReleasesTerrainWhenEmpty) {
  ImagesManager manager(project, ui);
  manager.AddImages({MakeImage("a.tif"), MakeImage("b.tif"), MakeImage("c.tif")});
  project.footprints = {{{0, 0}}, {{1, 1}}, {{2, 2}}};
  int emptied = 0;
  manager.after_list_emptied = [&](CVantriProject&) { ++emptied; };
  manager.Remove({0, 2, 2});
  ASSERT_EQ(project.ImageCount(), 1);
  EXPECT_EQ(project.Image(0)->Name(), "b");
  ASSERT_EQ(project.footprints.size(), 1u);
  EXPECT_EQ(project.footprints[0][0][0], 1);
  EXPECT_EQ(emptied, 0);

  ui.yes_no_answers = {false};
  EXPECT_FALSE(manager.RemoveAll());
  EXPECT_EQ(project.ImageCount(), 1);
  ui.yes_no_answers = {true};
  EXPECT_TRUE(manager.RemoveAll());
  EXPECT_EQ(ui.LastText(), "Do you want to remove all image from project?");
  EXPECT_EQ(project.ImageCount(), 0);
  EXPECT_EQ(emptied, 1);
}

TEST_F(ImagesManagerTest, GpsImportDeletesTheProjectSrtmTileOnlyWhenConfirmed) {
  ImagesManager manager(project, ui);
  const std::string srtm = project.folder + "srtm.tif";
  std::ofstream(srtm) << "tile";
  int after = 0;
  manager.after_gps_import = [&](CVantriProject&) { ++after; };
  manager.AddImages({MakeImage("a.tif")});
  project.Image(0)->x = 5;
  EXPECT_FALSE(manager.ImportGpsImu([](CVantriProject& p) {
    p.Image(0)->x = 7;
    p.Image(0)->kappa = 1;
    return false;
  }));
  EXPECT_EQ(project.Image(0)->x, 5);
  EXPECT_EQ(project.Image(0)->kappa, 0);
  EXPECT_TRUE(fs::exists(srtm));
  EXPECT_TRUE(manager.ImportGpsImu([](CVantriProject&) { return true; }));
  EXPECT_FALSE(fs::exists(srtm));
  EXPECT_EQ(after, 1);
}

TEST_F(ImagesManagerTest, ButtonNeedsPassportAndCoordinateSystem) {
  CVantriProject none;
  EXPECT_FALSE(CanOpenImagesManager(none, ui));
  EXPECT_TRUE(ui.shown.empty());
  EXPECT_FALSE(CanOpenImagesManager(project, ui));
  EXPECT_EQ(ui.LastText(), "Set coordinate system before!");
  project.coordinate_system.SetUserEpsg(32632);
  ASSERT_NE(project.coordinate_system.RebuildTransformations(), 0);
  EXPECT_TRUE(CanOpenImagesManager(project, ui));
}

// ---- preview images ----------------------------------------------------------------------------

TEST(PreviewSize, LargeImageIsReducedToMultipleOfFourWithinTheLimit) {
  bool reduced = false;
  EXPECT_EQ(PreviewSize(6000, 4000, kWorkingImagePixelLimit, &reduced), cv::Size(3544, 2363));
  EXPECT_TRUE(reduced);
  EXPECT_EQ(PreviewSize(3000, 2000, kWorkingImagePixelLimit, &reduced), cv::Size(3000, 2000));
  EXPECT_FALSE(reduced);
  for (const cv::Size size :
       {cv::Size(10000, 7000), cv::Size(7, 2000000), cv::Size(8193, 1025), cv::Size(4097, 2049)}) {
    const cv::Size preview = PreviewSize(size.width, size.height);
    EXPECT_EQ(preview.width % 4, 0) << size;
    EXPECT_LE(double(preview.width) * preview.height, 1.001 * kWorkingImagePixelLimit) << size;
    EXPECT_NEAR(double(preview.height) / preview.width, double(size.height) / size.width,
                1.0 / preview.width + 1e-9)
        << size;
  }
}

TEST_F(ImagesManagerTest, PreviewIsBuiltOnceAndCopiedFromTheImageFolder) {
  const std::string tif = MakeImage("big.tif", 64, 48);
  cv::Mat preview;
  CABAImage image(tif, project.folder);
  ASSERT_EQ(image.PreviewPath(), project.folder + "big.jpg");
  ASSERT_EQ(LoadPreviewImage(image, &preview, 64 * 48 / 4), 1);
  EXPECT_EQ(preview.cols, 32);
  EXPECT_EQ(preview.rows, 24);
  EXPECT_TRUE(fs::exists(image.PreviewPath()));

  // A preview beside the image is copied into another project's folder, not rebuilt (a rebuild
  // with the default limit would keep the full size).
  fs::create_directory(root + "/proj2");
  CABAImage moved(tif, root + "/proj2/");
  ASSERT_EQ(LoadPreviewImage(moved, &preview), 1);
  EXPECT_TRUE(fs::exists(root + "/proj2/big.jpg"));
  EXPECT_EQ(preview.cols, 32);

  EXPECT_EQ(GenerateThumbnailsIn({tif}, root + "/"), 0);  // already there
  fs::create_directory(root + "/thumbs");
  EXPECT_EQ(GenerateThumbnailsIn({tif, root + "/missing.tif"}, root + "/thumbs/"), 1);
}

}  // namespace
}  // namespace vantri::project
