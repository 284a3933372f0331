#include "aat/exchange_files.h"

#include <gtest/gtest.h>

#include <Eigen/Geometry>
#include <filesystem>
#include <fstream>

#include "photogrammetry/passport.h"
#include "testing/temp_folder.h"

namespace vantri::aat {
namespace {

using test_support::TempFolder;

CBCCCameraPassport TestPassport() {
  CBCCCameraPassport passport;
  passport.focal_mm = 12.0;
  passport.pixel_mm = 0.006;
  passport.width = 3000;
  passport.height = 2000;
  passport.ppx = 1500;
  passport.ppy = 1000;
  return passport;
}

nvc::COrientation Oriented(const CCameraPassport& passport, double omega, double phi, double kappa,
                           const Eigen::Vector3d& centre) {
  nvc::COrientation orientation;
  orientation.BuildINTWithoutDistortion(passport, 0);
  orientation.SetRotMat(FromEulerAnglesXYZ(omega, phi, kappa));
  orientation.SetN(centre);
  return orientation;
}

CSSBAPoint Point(double x, double y, double z, std::vector<CSSBAColl> measurements) {
  CSSBAPoint point;
  point.X = x, point.Y = y, point.Z = z;
  point.R = 0, point.G = 255, point.B = 255;
  point.measurements = std::move(measurements);
  return point;
}

void WriteText(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

TEST(BroFile, RoundTripRestoresOrientationsAndFourDecimalPoints) {
  TempFolder folder;
  const CBCCCameraPassport passport = TestPassport();
  std::vector<nvc::COrientation> orientations(3);
  for (auto& o : orientations) o.BuildINTWithoutDistortion(passport, 0);
  orientations[0] = Oriented(passport, 0.01, -0.02, 3.1, {512000.25, 5290000.5, 1420.125});
  orientations[2] = Oriented(passport, -0.03, 0.015, -0.2, {-120.5, 33.25, 1000.0});
  const CSSBAPoint a = Point(1.5, -2.25, 410.125, {{0, 0, 100.123456, 200.98766}, {2, 7, 5, 6}});
  const CSSBAPoint b = Point(7, 8, 9, {{2, 0, 1, 2}, {0, 0, 3, 4}, {1, 0, 5.55555, 6}});
  const std::string path = folder / "block.bro";
  ASSERT_EQ(WriteBroFile(path, {&a, &b}, orientations, passport.FocalPixels()), 1);

  const std::string text = test_support::ReadFile(path);
  EXPECT_EQ(text.rfind("# SSBA file v1.0\n3 2\n2.0000000000e+03 0.0000000000e+00", 0), 0u) << text;
  // The unoriented image is five lines "0 0 0".
  EXPECT_NE(text.find("\n0 0 0\n0 0 0\n0 0 0\n0 0 0\n0 0 0\n"), std::string::npos);
  EXPECT_NE(text.find("\n2 0 0 100.1235 200.9877 2 7 5.0000 6.0000\n"), std::string::npos) << text;

  BroContent content;
  std::string error;
  ASSERT_TRUE(ParseBroFile(path, 3, false, &content, &error)) << error;
  ASSERT_EQ(content.cameras.size(), 3u);
  EXPECT_EQ(content.OrientedCount(), 2);
  EXPECT_FALSE(content.cameras[1].oriented);
  const std::vector<nvc::COrientation> read = OrientationsFromBro(content, passport, 3);
  for (int i : {0, 2}) {
    EXPECT_LT((read[i].GetRotMat() - orientations[i].GetRotMat()).cwiseAbs().maxCoeff(), 1e-10);
    EXPECT_LT((read[i].GetN() - orientations[i].GetN()).norm(), 1e-6);
    EXPECT_DOUBLE_EQ(read[i].GetFocalPixels(), 2000.0);
  }
  EXPECT_EQ(read[1].GetN(), Eigen::Vector3d::Zero());
  EXPECT_TRUE(read[1].HasInterior());

  ASSERT_EQ(content.points.size(), 2u);
  EXPECT_DOUBLE_EQ(content.points[0].Z, 410.125);
  EXPECT_DOUBLE_EQ(content.points[0].measurements[0].x, 100.1235);
  EXPECT_DOUBLE_EQ(content.points[0].measurements[0].y, 200.9877);
  EXPECT_EQ(content.points[0].measurements[1].key, 7);
  EXPECT_EQ(content.points[1].measurements.size(), 3u);
  EXPECT_DOUBLE_EQ(content.points[1].measurements[2].x, 5.5556);
  EXPECT_EQ(content.points[0].G, 255);

  // Writing what was read gives the same bytes.
  std::vector<const CSSBAPoint*> again = {&content.points[0], &content.points[1]};
  EXPECT_EQ(FormatBroFile(again, read, passport.FocalPixels()), text);
}

TEST(BroFile, PointsWithOneMeasurementAreDroppedWithoutTakingAnIndex) {
  TempFolder folder;
  const std::string path = folder / "p.bro";
  WriteText(path,
            "# SSBA file v1.0\n2 3\n0 0 0\n0 0 0\n0 0 0\n0 0 0\n0 0 0\n"
            "0 0 0\n0 0 0\n0 0 0\n0 0 0\n0 0 0\n"
            "1 1 1\n0 255 255\n2 0 0 1 1 1 0 2 2\n"
            "2 2 2\n0 255 255\n1 0 0 1 1\n"
            "3 3 3\n0 255 255\n2 0 0 5 5 1 0 6 6\n");
  BroContent content;
  std::string error;
  ASSERT_TRUE(ParseBroFile(path, 2, false, &content, &error)) << error;
  ASSERT_EQ(content.points.size(), 2u);
  TiePointList list;
  list.Reset(2);
  for (const CSSBAPoint& point : content.points) list.Append(std::make_unique<CSSBAPoint>(point));
  EXPECT_EQ(list.points[1]->X, 3.0);
  EXPECT_EQ(list.points[1]->point_index, 1);
  ASSERT_EQ(list.measurements_by_image[1].size(), 2u);
  EXPECT_EQ(list.measurements_by_image[1][1].point_index, 1);
  EXPECT_EQ(list.measurements_by_image[1][1].measurement_index, 1);
  EXPECT_EQ(list.reference_patches.size(), 2u);

  // Cameras only: the points are not looked at.
  ASSERT_TRUE(ParseBroFile(path, 2, true, &content, &error));
  EXPECT_TRUE(content.points.empty());
}

TEST(BroFile, MalformedFilesFailTheRead) {
  TempFolder folder;
  const std::string cameras = "0 0 0\n0 0 0\n0 0 0\n0 0 0\n0 0 0\n";
  struct Case {
    const char* name;
    std::string text;
    int project_images;
  };
  const std::vector<Case> cases = {
      {"image index out of range",
       "# SSBA file v1.0\n1 1\n" + cameras + "1 1 1\n0 0 0\n2 0 0 1 1 1 0 2 2\n", 1},
      {"negative image index",
       "# SSBA file v1.0\n1 1\n" + cameras + "1 1 1\n0 0 0\n2 0 0 1 1 -1 0 2 2\n", 1},
      {"more images than the project", "# SSBA file v1.0\n2 0\n" + cameras + cameras, 1},
      {"truncated camera", "# SSBA file v1.0\n1 0\n0 0 0\n0 0\n", 1},
      {"truncated point", "# SSBA file v1.0\n1 1\n" + cameras + "1 1 1\n0 0 0\n2 0 0 1", 1},
      {"huge point count", "# SSBA file v1.0\n1 2000000000\n" + cameras + "1 1 1\n", 1},
      {"huge measurement count",
       "# SSBA file v1.0\n1 1\n" + cameras + "1 1 1\n0 0 0\n999999999 0 0\n", 1},
      {"no counts", "# SSBA file v1.0\nabc\n", 1},
      {"empty", "", 1},
  };
  for (const Case& c : cases) {
    const std::string path = folder / "bad.bro";
    WriteText(path, c.text);
    BroContent content;
    std::string error;
    EXPECT_FALSE(ParseBroFile(path, c.project_images, false, &content, &error)) << c.name;
    EXPECT_FALSE(error.empty()) << c.name;
  }
  BroContent content;
  std::string error;
  EXPECT_FALSE(ParseBroFile(folder.path(), 1, false, &content, &error)) << "a folder";
  EXPECT_FALSE(ParseBroFile(folder / "missing.bro", 1, false, &content, &error));
}

TEST(StepFiles, NamesStepFileAndCloud) {
  TempFolder folder;
  EXPECT_EQ(StepFilePath("/p/TiePoints/", "blk", 12, "abai"), "/p/TiePoints/blk_12.abai");
  const std::string step = folder / "blk_3.abai";
  ASSERT_EQ(WriteStepFile(step, 17), 1);
  EXPECT_NE(test_support::ReadFile(step).find("iLastAddedImage=17"), std::string::npos);
  EXPECT_EQ(ReadStepFile(step), 17);
  EXPECT_EQ(ReadStepFile(folder / "none.abai"), -1);

  CSSBAPoint a = Point(1, 2, 3, {{0, 0, 1, 1}}), b = Point(4, 5, 6, {}),
             c = Point(7, 8, 9, {{0, 0, 1, 1}});
  const std::string cloud = folder / "blk_3.vtp";
  EXPECT_EQ(WriteTiePointCloud(cloud, {&a, &c}, Eigen::Vector3d(1, 2, 3)), 0);
  EXPECT_FALSE(std::filesystem::exists(cloud));
  EXPECT_EQ(WriteTiePointCloud(cloud, {&a, &b, &c}, Eigen::Vector3d(1, 2, 3)), 1);
  EXPECT_NE(test_support::ReadFile(cloud).find("NumberOfPoints=\"2\""), std::string::npos);
}

TEST(ReferencePatch, IsCutAroundTheScaledPositionOrNotAtAll) {
  cv::Mat image(100, 200, CV_8UC1);
  for (int r = 0; r < image.rows; ++r)
    for (int c = 0; c < image.cols; ++c) image.at<uint8_t>(r, c) = static_cast<uint8_t>(c);
  const cv::Mat patch = CutReferencePatch(image, 100, 50, 0.5, 9);
  ASSERT_EQ(patch.cols, 9);
  EXPECT_EQ(patch.at<uint8_t>(4, 4), 50);
  EXPECT_TRUE(CutReferencePatch(image, 395, 50, 0.5, 9).empty());
  EXPECT_TRUE(CutReferencePatch(image, 1e300, 50, 1, 9).empty());
}

}  // namespace
}  // namespace vantri::aat
