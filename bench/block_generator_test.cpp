#include "block_generator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace bench {
namespace {

BlockSettings smallBlock(bool noise = true) {
  BlockSettings s;
  s.images = 12;
  s.points = 300;
  s.seed = 7;
  s.noise = noise;
  return s;
}

TEST(BlockGeneratorTest, EveryPointIsSeenByTwoImagesInsideTheFrame) {
  const SyntheticBlock block = generateBlock(smallBlock(false));
  ASSERT_EQ(block.true_poses.size(), 12u);
  ASSERT_EQ(block.true_points.size(), 300u);
  std::vector<int> rays(block.true_points.size(), 0);
  int previous_image = 0;
  for (const ImageObservation& ob : block.observations) {
    ++rays[ob.point];
    EXPECT_GE(ob.image, previous_image) << "observations are grouped by image";
    previous_image = ob.image;
    EXPECT_LE(std::abs(ob.x - block.camera.xp), 0.5 * block.camera.width);
    EXPECT_LE(std::abs(ob.y - block.camera.yp), 0.5 * block.camera.height);
    double projected[2];
    ASSERT_TRUE(projectOpk(block.camera, block.true_poses[ob.image].data(),
                           block.true_points[ob.point].data(), projected));
    EXPECT_NEAR(projected[0], ob.x, 1e-15) << "noise-free observations are exact projections";
    EXPECT_NEAR(projected[1], ob.y, 1e-15);
  }
  for (int r : rays) EXPECT_GE(r, 2);
}

TEST(BlockGeneratorTest, OverlapGivesMultiRayPointsAndControlAcrossTheBlock) {
  const SyntheticBlock block = generateBlock(smallBlock());
  const double rays = static_cast<double>(block.observations.size()) / block.true_points.size();
  EXPECT_GT(rays, 2.2) << "forward and side overlap: many points are seen by three or more images";
  EXPECT_GE(block.control.size(), 4u);
  for (const ControlObservation& c : block.control) {
    for (int k = 0; k < 3; ++k) {
      EXPECT_NEAR(c.measured[k], block.true_points[c.point][k], 5 * block.control_sigma);
      EXPECT_EQ(block.approximate_points[c.point][k], c.measured[k]);
    }
  }
}

TEST(BlockGeneratorTest, SameSeedSameBlockOtherSeedOtherBlock) {
  const SyntheticBlock a = generateBlock(smallBlock());
  const SyntheticBlock b = generateBlock(smallBlock());
  BlockSettings other = smallBlock();
  other.seed = 8;
  const SyntheticBlock c = generateBlock(other);
  ASSERT_EQ(a.observations.size(), b.observations.size());
  for (std::size_t i = 0; i < a.observations.size(); ++i) {
    EXPECT_EQ(a.observations[i].x, b.observations[i].x);
    EXPECT_EQ(a.observations[i].point, b.observations[i].point);
  }
  EXPECT_EQ(a.approximate_poses, b.approximate_poses);
  EXPECT_EQ(a.approximate_points, b.approximate_points);
  EXPECT_NE(a.true_points, c.true_points);
}

TEST(BlockGeneratorTest, ApproximationsArePerturbedButClose) {
  const SyntheticBlock block = generateBlock(smallBlock());
  double largest = 0.0, sum = 0.0;
  for (std::size_t i = 0; i < block.true_points.size(); ++i) {
    for (int k = 0; k < 3; ++k) {
      const double d = std::abs(block.approximate_points[i][k] - block.true_points[i][k]);
      largest = std::max(largest, d);
      sum += d;
    }
  }
  EXPECT_GT(sum, 0.0);
  EXPECT_LT(largest, 15.0);
}

}  // namespace
}  // namespace bench
