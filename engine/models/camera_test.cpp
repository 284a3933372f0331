#include "models/camera.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <sstream>

#include "models/bundle_image.h"

namespace bravik {
namespace {

template <class C>
std::unique_ptr<C> readCamera(const std::string& record) {
  auto camera = std::make_unique<C>();
  std::istringstream in(record);
  EXPECT_EQ(camera->readRecord(in), 1) << record;
  return camera;
}

TEST(CameraTest, CcdDerivesOriginAndFormatAndMapsPixels) {
  auto camera = readCamera<CameraCCD>("K1 nadir 35.0 0 0 4000 3000 6 6");
  EXPECT_DOUBLE_EQ(camera->c, 0.035);
  EXPECT_DOUBLE_EQ(camera->c0, 1999.5);
  EXPECT_DOUBLE_EQ(camera->r0, 1499.5);
  EXPECT_NEAR(camera->sx, 0.024, 1e-15);
  EXPECT_NEAR(camera->sy, 0.018, 1e-15);
  double x, y;
  camera->cameraToImage(1999.5, 1499.5, x, y);
  EXPECT_EQ(x, 0.0);
  EXPECT_EQ(y, 0.0);
  camera->cameraToImage(0, 0, x, y);
  EXPECT_NEAR(x, -0.011997, 1e-12);
  EXPECT_NEAR(y, 0.008997, 1e-12);
}

TEST(CameraTest, CcdTopRightExchangesAxes) {
  auto camera = readCamera<CameraCCDTR>("K2 - 35.0 0 0 4000 3000 6 6");
  EXPECT_NEAR(camera->sx, 0.018, 1e-15);
  EXPECT_NEAR(camera->sy, 0.024, 1e-15);
  double x, y;
  camera->cameraToImage(0, 0, x, y);
  EXPECT_NEAR(x, 0.008997, 1e-12);
  EXPECT_NEAR(y, 0.011997, 1e-12);
  double sx, sy;
  camera->sc = 2e-6;  // distinguishes the two spacings
  camera->scaleStdDevs(0.5, 0.25, sx, sy);
  EXPECT_DOUBLE_EQ(sx, 6e-6 * 0.5);
  EXPECT_DOUBLE_EQ(sy, 2e-6 * 0.25);
}

TEST(CameraTest, EveryCameraInvertsItsPixelConversion) {
  std::vector<std::unique_ptr<Camera>> cameras;
  cameras.push_back(readCamera<Camera>("F - 150 (0.01, -0.02) 230 230"));
  cameras.push_back(readCamera<CameraCCD>("C - 35 0 0 4000 3000 6 5"));
  cameras.push_back(readCamera<CameraCCDTR>("T - 35 0 0 4000 3000 6 5"));
  cameras.push_back(readCamera<PBCamera>("P - 35 0 0 12000 6.5 7 0.5"));
  for (const auto& camera : cameras) {
    for (double c : {0.0, 17.25, 3999.0}) {
      for (double r : {0.0, 0.3, -0.4}) {
        double x, y, c2, r2;
        camera->cameraToImage(c, r, x, y);
        camera->imageToCamera(x, y, c2, r2);
        EXPECT_NEAR(c2, c, 1e-9) << camera->typeName();
        EXPECT_NEAR(r2, r, 1e-9) << camera->typeName();
      }
    }
  }
}

TEST(CameraTest, RecordFormsAndRejectedRecords) {
  auto plain = readCamera<Camera>("A - 100 1.5 -2.25 230 230");
  auto bracketed = readCamera<Camera>("B - 100 ( 1.5 , -2.25 ) 230 230");
  EXPECT_EQ(plain->xp, bracketed->xp);
  EXPECT_EQ(plain->yp, bracketed->yp);
  EXPECT_DOUBLE_EQ(plain->yp, -0.00225);
  auto single = readCamera<Camera>("C - 100 (1.5) 230 230");
  EXPECT_DOUBLE_EQ(single->xp, 0.0015);
  EXPECT_EQ(single->yp, 0.0);

  Camera broken;
  std::istringstream in("D - 100 (1.5, -2.25 230 230");
  EXPECT_EQ(broken.readRecord(in), -1);

  Camera zeroFocal;
  std::istringstream zero("F - 0 0 0 230 230");
  testing::internal::CaptureStdout();
  EXPECT_EQ(zeroFocal.readRecord(zero), -1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "ERROR: Invalid focal length of camera F: 0\n");

  for (const char* record : {"E - 35 0 0 0 3000 6 6", "E - 35 0 0 4000 3000 0 6"}) {
    CameraCCD ccd;
    std::istringstream pixels(record);
    EXPECT_EQ(ccd.readRecord(pixels), -1) << record;
  }
}

TEST(CameraTest, ImagePointListScalesAndReplaces) {
  Camera camera;
  BundleImage image("I1", "S1", "K", &camera);
  std::istringstream in(
      "0.001 P1 10.0 20.0 0.005 0.005 P2 (1,2) (0.1,0.1) P1 11 21 0.005 0.005 -1 P9");
  testing::internal::CaptureStdout();
  EXPECT_EQ(camera.readImagePoints(in, image), 1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "ATTENTION: BundleImage I1 point P1 was replaced.\n");
  ASSERT_EQ(image.points.size(), 2u);
  EXPECT_EQ(image.points[0].id, "P1");
  EXPECT_DOUBLE_EQ(image.points[0].x, 0.011);
  EXPECT_DOUBLE_EQ(image.points[0].sx, 5e-6);
  EXPECT_DOUBLE_EQ(image.points[1].y, 0.002);

  std::istringstream broken("1 P1 10 20 0.5");
  EXPECT_EQ(camera.readImagePoints(broken, image), -1);
}

TEST(CameraTest, RecordsAreWrittenInMillimetresAndMicrometres) {
  auto camera = readCamera<CameraCCD>("K1 nadir 35 (0.01,-0.02) 4000 3000 6 6.5");
  std::ostringstream out;
  camera->writeRecord(out);
  EXPECT_EQ(out.str(),
            "ccd-frame   K1   nadir\n"
            "   35.000000    0.010000   -0.020000\n"
            "   24.000000   19.500000\n"
            "        4000        3000\n"
            " 6.000 6.500\n");
  std::ostringstream none;
  readCamera<PBCamera>("P - 35 0 0 12000 6.5 7 0.5")->writeRecord(none);
  EXPECT_EQ(none.str(), "");
}

TEST(CameraTest, ReportBlockPrintsMillimetresAndPixels) {
  auto camera = readCamera<CameraCCD>("K1 nadir 35.0 (0.01, 0) 4000 3000 6 6");
  std::ostringstream out;
  camera->printReport(out);
  const std::string text = out.str();
  EXPECT_THAT(text, testing::HasSubstr("Camera type        :  CCD-frame\n"));
  EXPECT_THAT(text, testing::HasSubstr("Coord. system type :  pixel (top-left)\n"));
  EXPECT_THAT(text, testing::HasSubstr("Focal length       :  f  =    35.0000 mm\n"));
  EXPECT_THAT(text, testing::HasSubstr(
                        "Principal point    :  xp =     0.0100 mm      yp =     0.0000 mm\n"));
  EXPECT_THAT(text, testing::HasSubstr("nc =       4000 pix     nr =       3000 pix\n"));
  EXPECT_THAT(text, testing::HasSubstr("c0 =   1999.500 pix     r0 =   1499.500 pix\n"));
  EXPECT_THAT(text, testing::HasSubstr("sc =      6.000 um/pix  sr =      6.000 um/pix\n"));
}

}  // namespace
}  // namespace bravik
