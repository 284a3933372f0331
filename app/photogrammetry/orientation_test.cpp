#include "photogrammetry/orientation.h"

#include <gtest/gtest.h>

#include <Eigen/Geometry>
#include <cmath>
#include <random>

#include "photogrammetry/passport.h"
#include "testing/temp_folder.h"

namespace {

using Eigen::Matrix3d;
using Eigen::Vector2d;
using Eigen::Vector3d;

CBCCCameraPassport TestPassport() {
  CBCCCameraPassport passport;
  passport.model = "Test camera";
  passport.focal_mm = 50.0;
  passport.pixel_mm = 0.005;  // F = 10000 px
  passport.width = 6000;
  passport.height = 4000;
  passport.ppx = 3010.5;
  passport.ppy = 1995.25;
  passport.metric = {1e-5, 0.0, 0.0, 0.0, 0.0};
  return passport;
}

nvc::COrientation Oriented(const Vector3d& centre, double omega, double phi, double kappa) {
  nvc::COrientation orientation(1.0);
  EXPECT_EQ(orientation.BuildINTWithoutDistortion(TestPassport(), 0.0), 1);
  orientation.SetN(centre);
  orientation.SetRotMat(FromEulerAnglesXYZ(omega, phi, kappa));
  return orientation;
}

TEST(EulerAnglesXYZ, MatrixAnglesMatrixRoundTripOverAGrid) {
  for (double omega = -3.0; omega <= 3.0; omega += 0.75) {
    for (double phi = -1.5; phi <= 1.5; phi += 0.5) {
      for (double kappa = -3.1; kappa <= 3.1; kappa += 0.62) {
        const Matrix3d r = FromEulerAnglesXYZ(omega, phi, kappa);
        const Vector3d angles = ToEulerAnglesXYZ(r);
        EXPECT_NEAR(angles.x(), omega, 1e-12);
        EXPECT_NEAR(angles.y(), phi, 1e-12);
        EXPECT_NEAR(angles.z(), kappa, 1e-12);
      }
    }
  }
}

TEST(EulerAnglesXYZ, ConventionIsRxRyRzAndGimbalLockStillReproducesTheMatrix) {
  const Matrix3d expected = Eigen::AngleAxisd(0.1, Vector3d::UnitX()).toRotationMatrix() *
                            Eigen::AngleAxisd(0.2, Vector3d::UnitY()).toRotationMatrix() *
                            Eigen::AngleAxisd(0.3, Vector3d::UnitZ()).toRotationMatrix();
  EXPECT_TRUE(FromEulerAnglesXYZ(0.1, 0.2, 0.3).isApprox(expected, 1e-15));

  for (double phi : {M_PI / 2, -M_PI / 2}) {
    const Matrix3d locked = FromEulerAnglesXYZ(0.4, phi, 0.7);
    const Vector3d angles = ToEulerAnglesXYZ(locked);
    EXPECT_TRUE(FromEulerAnglesXYZ(angles.x(), angles.y(), angles.z()).isApprox(locked, 1e-12));
  }
}

TEST(COrientation, DefaultHasNoExteriorOrientation) {
  const nvc::COrientation orientation(1.0);
  EXPECT_EQ(orientation.GetN(), Vector3d::Zero());
  EXPECT_TRUE(orientation.GetRotMat().isIdentity());
  EXPECT_FALSE(orientation.HasInterior());
  EXPECT_TRUE(std::isnan(orientation.Pt3dToPix({0, 0, -10}).x()));
}

TEST(COrientation, VerticalPhotoProjectsWithYUpAndXRight) {
  const nvc::COrientation orientation = Oriented({1000, 2000, 500}, 0, 0, 0);
  // The nadir point lands on the principal point.
  const Vector2d nadir = orientation.Pt3dToPix({1000, 2000, 0});
  EXPECT_NEAR(nadir.x(), 3010.5, 1e-9);
  EXPECT_NEAR(nadir.y(), 1995.25, 1e-9);
  // 50 m east and 25 m north at 500 m depth: F * 0.1 px right and F * 0.05 px up.
  const Vector2d offset = orientation.Pt3dToPix({1050, 2025, 0});
  EXPECT_NEAR(offset.x(), 3010.5 + 1000.0, 1e-9);
  EXPECT_NEAR(offset.y(), 1995.25 - 500.0, 1e-9);
  // Behind the camera: no pixel.
  EXPECT_TRUE(std::isnan(orientation.Pt3dToPix({1000, 2000, 600}).x()));
}

TEST(COrientation, PixelRayAndProjectionAreInverse) {
  std::mt19937 random(7);
  std::uniform_real_distribution<double> angle(-0.3, 0.3), column(0, 6000), row(0, 4000),
      depth(100, 2000);
  for (int i = 0; i < 200; ++i) {
    const nvc::COrientation orientation =
        Oriented({500, -300, 800}, angle(random), angle(random), 10 * angle(random));
    const Vector2d pixel(column(random), row(random));
    const Vector3d ray = orientation.PixToVec3d(pixel);
    EXPECT_NEAR(ray.norm(), 1.0, 1e-12);
    const Vector3d point = orientation.GetN() + depth(random) * ray;
    const Vector2d back = orientation.Pt3dToPix(point);
    EXPECT_NEAR(back.x(), pixel.x(), 1e-7);
    EXPECT_NEAR(back.y(), pixel.y(), 1e-7);
    // Fiducial form: same ray through the same image point.
    const Vector2d fid = orientation.PixToFid(pixel);
    EXPECT_TRUE(orientation.FidToVec3d(fid).isApprox(ray, 1e-12));
    EXPECT_TRUE(orientation.FidToPt3d(fid, 123.0).isApprox(orientation.GetN() + 123.0 * ray));
  }
}

TEST(COrientation, PrincipalRayLooksAlongMinusZOfTheCamera) {
  const nvc::COrientation vertical = Oriented({0, 0, 100}, 0, 0, 0);
  EXPECT_TRUE(vertical.FidToVec3d({0, 0}).isApprox(Vector3d(0, 0, -1)));
  const nvc::COrientation tilted = Oriented({0, 0, 100}, 0, 0.2, 0);
  EXPECT_TRUE(
      tilted.FidToVec3d({0, 0}).isApprox(FromEulerAnglesXYZ(0, 0.2, 0) * Vector3d(0, 0, -1)));
}

TEST(COrientation, PlaneIntersectionFindsTheGroundPointAndRefusesPointsBehind) {
  const nvc::COrientation orientation = Oriented({100, 200, 1000}, 0.05, -0.04, 1.0);
  const Vector3d ground(160, 170, 35);
  Vector3d hit;
  ASSERT_EQ(orientation.IntersectPlaneZ(orientation.Pt3dToPix(ground), 35.0, &hit), 1);
  EXPECT_LT((hit - ground).norm(), 1e-6);
  // The plane above the camera is met only behind it.
  EXPECT_EQ(orientation.IntersectPlaneZ(orientation.Pt3dToPix(ground), 2000.0, &hit), 0);
  // The principal ray of a vertical photo is parallel to every vertical plane.
  EXPECT_EQ(
      Oriented({0, 0, 10}, 0, 0, 0).IntersectPlane({3010.5, 1995.25}, Vector3d::UnitX(), 5.0, &hit),
      0);
}

TEST(CMultiImageIntersection, RecoversAPointFromThreeRays) {
  std::vector<nvc::COrientation> orientations = {Oriented({0, 0, 1000}, 0.02, -0.01, 0.1),
                                                 Oriented({400, 10, 1010}, -0.03, 0.02, 0.0),
                                                 Oriented({800, -20, 990}, 0.01, 0.03, -0.2)};
  const Vector3d truth(410.25, 120.5, 42.125);
  std::vector<std::optional<Vector2d>> pixels;
  for (const auto& orientation : orientations) pixels.push_back(orientation.Pt3dToPix(truth));
  const nvc::CMultiImageIntersection intersection(3, orientations.data());
  Vector3d point;
  ASSERT_NE(intersection.Intersect(pixels, &point), 0);
  EXPECT_LT((point - truth).norm(), 1e-9);
  EXPECT_LT(intersection.LastRms(), 1e-9);

  // An image without a measurement is skipped; two rays still intersect.
  pixels[1].reset();
  ASSERT_NE(intersection.Intersect(pixels, &point), 0);
  EXPECT_LT((point - truth).norm(), 1e-8);
}

TEST(CMultiImageIntersection, RefusesTooFewOrParallelRays) {
  std::vector<nvc::COrientation> orientations = {Oriented({0, 0, 1000}, 0, 0, 0),
                                                 Oriented({0, 0, 500}, 0, 0, 0)};
  const nvc::CMultiImageIntersection intersection(orientations);
  Vector3d point(1, 2, 3);
  // Both centres lie on the same vertical line: the nadir rays coincide.
  const Vector2d nadir(3010.5, 1995.25);
  EXPECT_EQ(intersection.Intersect({nadir, nadir}, &point), 0);
  EXPECT_EQ(intersection.Intersect({nadir, std::nullopt}, &point), 0);
  EXPECT_EQ(intersection.Intersect({nadir}, &point), 0);  // size mismatch
  EXPECT_EQ(point, Vector3d(1, 2, 3));
}

TEST(CUCS, MovesOrientationsAndPointsRigidly) {
  const Matrix3d rotation = FromEulerAnglesXYZ(0.1, -0.2, 0.8);
  const CUCS ucs("block", {1000, 2000, 30}, rotation);
  nvc::COrientation orientations[2] = {Oriented({1, 2, 300}, 0, 0, 0),
                                       Oriented({50, 2, 310}, 0.01, 0, 0)};
  const Vector3d local(20, 10, 5);
  const Vector2d pixel_before = orientations[1].Pt3dToPix(local);
  ucs.UCSToWCS(orientations, 2);
  const Vector3d world = ucs.UCSToWCS(local);
  EXPECT_TRUE(world.isApprox(Vector3d(1000, 2000, 30) + rotation * local));
  EXPECT_TRUE(ucs.WCSToUCS(world).isApprox(local));
  // A rigid move of camera and point together leaves the image unchanged.
  const Vector2d pixel_after = orientations[1].Pt3dToPix(world);
  EXPECT_NEAR((pixel_after - pixel_before).norm(), 0.0, 1e-8);
}

TEST(COrientationFiles, InteriorAndExteriorRoundTrip) {
  vantri::test_support::TempFolder folder;
  const nvc::COrientation original = Oriented({512345.678, 4987654.321, 1234.5}, 0.01, -0.02, 2.9);
  ASSERT_EQ(original.WriteINT(folder / "img.int", TestPassport()), 1);
  ASSERT_EQ(original.WriteEST(folder / "img.est"), 1);
  nvc::COrientation read(1.0);
  ASSERT_EQ(read.ReadINT(folder / "img.int"), 1);
  ASSERT_EQ(read.ReadEST(folder / "img.est"), 1);
  EXPECT_EQ(read.GetFocalPixels(), original.GetFocalPixels());
  EXPECT_EQ(read.GetPPX(), original.GetPPX());
  EXPECT_EQ(read.GetPPY(), original.GetPPY());
  EXPECT_EQ(read.GetWidth(), 6000);
  EXPECT_EQ(read.GetHeight(), 4000);
  EXPECT_EQ(read.GetN(), original.GetN());
  EXPECT_EQ(read.GetRotMat(), original.GetRotMat());
  EXPECT_EQ(read.ReadINT(folder / "img.est"), 0);  // wrong format
  EXPECT_EQ(read.ReadEST(folder / "missing.est"), 0);
}

}  // namespace
