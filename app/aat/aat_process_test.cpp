#include "aat/aat_process.h"

#include <gtest/gtest.h>

#include <Eigen/Geometry>

namespace vantri::aat {
namespace {

// Six vertical images in two strips, in true (local) coordinates: their
// principal rays point straight down, as the second landmarks assume.
std::vector<nvc::COrientation> TrueBlock() {
  std::vector<nvc::COrientation> block;
  for (int strip = 0; strip < 2; ++strip)
    for (int k = 0; k < 3; ++k) {
      nvc::COrientation orientation;
      orientation.SetInterior(2000, 1500, 1000, 3000, 2000, 0.006);
      orientation.SetN({600.0 * k, 900.0 * strip, 1000.0 + 3 * k});
      orientation.SetRotMat(FromEulerAnglesXYZ(0, 0, strip == 0 ? 0.1 * k : M_PI));
      block.push_back(orientation);
    }
  return block;
}

TEST(Georeference, UndoesAScaledTiltedBlockAndMovesItsPoints) {
  const std::vector<nvc::COrientation> truth = TrueBlock();
  // The adjusted block: the truth seen through a similarity tilted by 40
  // degrees about X.
  Similarity distortion;
  distortion.scale = 0.5;
  distortion.rotation = Eigen::AngleAxisd(0.7, Eigen::Vector3d::UnitX()).toRotationMatrix() *
                        Eigen::AngleAxisd(0.3, Eigen::Vector3d::UnitZ()).toRotationMatrix();
  distortion.translation = {10, -20, 30};
  std::vector<nvc::COrientation> adjusted = truth;
  std::vector<Eigen::Vector3d> positions;
  for (nvc::COrientation &orientation : adjusted) {
    positions.push_back(orientation.GetN());
    orientation.SetN(distortion.Apply(orientation.GetN()));
    orientation.SetRotMat(distortion.rotation * orientation.GetRotMat());
  }
  const Eigen::Vector3d ground(700, 400, 50);
  CSSBAPoint point, unmeasured;
  const Eigen::Vector3d moved = distortion.Apply(ground);
  point.X = moved.x(), point.Y = moved.y(), point.Z = moved.z();
  point.measurements.emplace_back(0, 0, 1.0, 2.0);
  unmeasured.X = 1, unmeasured.Y = 2, unmeasured.Z = 3;

  const std::vector<int> images = {0, 1, 2, 3, 4, 5};
  Similarity applied;
  ASSERT_TRUE(Georeference(images, positions, &adjusted, {&point, &unmeasured}, &applied));
  EXPECT_NEAR(applied.scale, 2.0, 1e-9);
  for (size_t i = 0; i < truth.size(); ++i) {
    EXPECT_LT((adjusted[i].GetN() - truth[i].GetN()).norm(), 1e-6) << i;
    EXPECT_LT((adjusted[i].GetRotMat() - truth[i].GetRotMat()).cwiseAbs().maxCoeff(), 1e-9) << i;
  }
  EXPECT_LT((Eigen::Vector3d(point.X, point.Y, point.Z) - ground).norm(), 1e-6);
  EXPECT_EQ(unmeasured.X, 1);  // points without measurements stay

  // Fewer than three images are not georeferenced.
  std::vector<nvc::COrientation> two = TrueBlock();
  const Eigen::Vector3d before = two[0].GetN();
  EXPECT_FALSE(
      Georeference({0, 1}, {positions[0] + Eigen::Vector3d(5, 0, 0), positions[1]}, &two, {}));
  EXPECT_EQ(two[0].GetN(), before);
}

TEST(Georeference, CollinearCentresAreLevelledByTheSecondLandmarks) {
  // One strip: the centres alone leave the roll about the strip free. The
  // adjusted block is rolled by 40 degrees about the strip; the landmarks below
  // the cameras level it.
  std::vector<nvc::COrientation> truth = TrueBlock();
  truth.resize(3);
  for (nvc::COrientation &orientation : truth) {
    orientation.SetN({orientation.GetN().x(), 0.0, 1000.0});
    orientation.SetRotMat(Eigen::Matrix3d::Identity());
  }
  const Eigen::Matrix3d roll = Eigen::AngleAxisd(0.7, Eigen::Vector3d::UnitX()).toRotationMatrix();
  std::vector<nvc::COrientation> adjusted = truth;
  std::vector<Eigen::Vector3d> positions;
  for (nvc::COrientation &orientation : adjusted) {
    positions.push_back(orientation.GetN());
    orientation.SetN(roll * orientation.GetN());
    orientation.SetRotMat(roll);
  }
  Similarity applied;
  ASSERT_TRUE(Georeference({0, 1, 2}, positions, &adjusted, {}, &applied));
  for (size_t i = 0; i < truth.size(); ++i) {
    EXPECT_LT((adjusted[i].GetN() - truth[i].GetN()).norm(), 1e-6) << i;
    EXPECT_LT((adjusted[i].GetRotMat() - truth[i].GetRotMat()).cwiseAbs().maxCoeff(), 1e-9) << i;
  }
}

}  // namespace
}  // namespace vantri::aat
