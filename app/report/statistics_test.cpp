#include "report/statistics.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>

namespace vantri::report {
namespace {

constexpr double kPi = 3.14159265358979323846;

std::vector<PointResidual> SmallCheckTable() {
  // vX, vY, vZ in metres; hand-computed: sum vX^2 = 0.0026, sum vY^2 = 0.0034, sum vZ^2 = 0.015.
  return {{"C1", 0, 0, 0, 0.03, 0.02, 0.05},
          {"C2", 0, 0, 0, -0.04, 0.02, -0.05},
          {"C3", 0, 0, 0, 0.01, -0.05, 0.10},
          {"C4", 0, 0, 0, 0.00, 0.01, 0.00}};
}

TEST(PointStatistics, RmseMeanAndLargestPerAxisOfASmallTable) {
  const PointStatistics s = ComputePointStatistics(SmallCheckTable());
  EXPECT_EQ(s.count, 4);
  EXPECT_NEAR(s.x.rmse, std::sqrt(0.0026 / 4), 1e-12);  // 0.025495
  EXPECT_NEAR(s.y.rmse, std::sqrt(0.0034 / 4), 1e-12);  // 0.029155
  EXPECT_NEAR(s.z.rmse, std::sqrt(0.015 / 4), 1e-12);   // 0.061237
  EXPECT_NEAR(s.rmse_r, std::sqrt(0.0015), 1e-12);      // 0.038730
  EXPECT_NEAR(s.x.mean, 0.0, 1e-12);
  EXPECT_NEAR(s.z.mean, 0.025, 1e-12);
  // The largest magnitude keeps its sign.
  EXPECT_DOUBLE_EQ(s.x.max_abs, -0.04);
  EXPECT_DOUBLE_EQ(s.y.max_abs, -0.05);
  EXPECT_DOUBLE_EQ(s.z.max_abs, 0.10);
  // A point written with residuals 0.000000 (its intersection failed) has no result.
  std::vector<PointResidual> with_failed = SmallCheckTable();
  with_failed.push_back({"C5", 1, 2, 3, 0.0, 0.0, 0.0});
  const PointStatistics f = ComputePointStatistics(with_failed);
  EXPECT_EQ(f.count, 4);
  EXPECT_EQ(f.without_result, 1);
  EXPECT_NEAR(f.x.rmse, s.x.rmse, 1e-15);
  EXPECT_EQ(ComputePointStatistics({}).count, 0);
  EXPECT_EQ(ComputePointStatistics({}).rmse_r, 0.0);
}

TEST(AccuracyStatement, NinetyFivePercentFiguresAndTheWeakStatementWarning) {
  const AccuracyStatement a = MakeAccuracyStatement(ComputePointStatistics(SmallCheckTable()));
  ASSERT_TRUE(a.available);
  EXPECT_NEAR(a.horizontal_95, 0.067034, 1e-6);  // 1.7308 x 0.038730
  EXPECT_NEAR(a.vertical_95, 0.120025, 1e-6);    // 1.96 x 0.061237
  EXPECT_TRUE(a.too_few_points);
  EXPECT_FALSE(a.axes_dissimilar);  // 0.0255 / 0.0292 = 0.87

  std::vector<PointResidual> points(19, PointResidual{"P", 0, 0, 0, 0.01, 0.01, 0.01});
  EXPECT_TRUE(MakeAccuracyStatement(ComputePointStatistics(points)).too_few_points);
  points.push_back(points.front());
  EXPECT_FALSE(MakeAccuracyStatement(ComputePointStatistics(points)).too_few_points);

  EXPECT_FALSE(MakeAccuracyStatement(ComputePointStatistics({})).available);
}

TEST(AccuracyStatement, FlagsAxesTooDifferentForTheCircularFactor) {
  // RMSE_y / RMSE_x = 0.5 < 0.6; exactly 0.6 still holds.
  EXPECT_TRUE(MakeAccuracyStatement(ComputePointStatistics({{"A", 0, 0, 0, 0.02, 0.01, 0}}))
                  .axes_dissimilar);
  EXPECT_FALSE(MakeAccuracyStatement(ComputePointStatistics({{"A", 0, 0, 0, 0.05, 0.03, 0}}))
                   .axes_dissimilar);
}

TEST(ResidualClasses, BoundariesBelongToTheBetterClass) {
  const project::QualityClass q;  // 2.0 and 4.0
  EXPECT_EQ(ClassifyResidual(0.0, q), QualityLevel::kHigh);
  EXPECT_EQ(ClassifyResidual(2.0, q), QualityLevel::kHigh);
  EXPECT_EQ(ClassifyResidual(2.01, q), QualityLevel::kMiddle);
  EXPECT_EQ(ClassifyResidual(4.0, q), QualityLevel::kMiddle);
  EXPECT_EQ(ClassifyResidual(4.01, q), QualityLevel::kLow);
  EXPECT_EQ(ColorOf(QualityLevel::kHigh, q), 48640);
  EXPECT_EQ(ColorOf(QualityLevel::kMiddle, q), 56540);
  EXPECT_EQ(ColorOf(QualityLevel::kLow, q), 190);
  EXPECT_EQ(ColorOf(QualityLevel::kNoResult, q), 0x808080);
}

TEST(NiceNumbers, StepsAtLeastAndValuesAtMost) {
  EXPECT_DOUBLE_EQ(NiceStepAtLeast(0.2), 0.2);  // 0.2 / 0.1 rounds to 2.0000000000000004
  EXPECT_DOUBLE_EQ(NiceStepAtLeast(0.21), 0.25);
  EXPECT_DOUBLE_EQ(NiceStepAtLeast(0.3), 0.5);
  EXPECT_DOUBLE_EQ(NiceStepAtLeast(7), 10);
  EXPECT_DOUBLE_EQ(NiceStepAtLeast(1), 1);
  EXPECT_DOUBLE_EQ(NiceValueAtMost(4.8), 2);
  EXPECT_DOUBLE_EQ(NiceValueAtMost(5), 5);
  EXPECT_DOUBLE_EQ(NiceValueAtMost(0.047), 0.02);
  EXPECT_DOUBLE_EQ(NiceValueAtMost(192), 100);
}

TEST(Histogram, MagnitudeBinEdgesAndCountsWithThresholdsOnEdges) {
  // Thresholds 2 and 4 keep 4.0004 in view: bin width 0.25 (4.0004 / 20 = 0.2 -> 0.25), 17 bins.
  const Histogram h = MakeHistogram({0.1, 0.5, 1.0, 2.0, 2.01, 3.9, 0.0}, false, {2.0, 4.0});
  EXPECT_DOUBLE_EQ(h.bin_width, 0.25);
  ASSERT_EQ(h.counts.size(), 17u);
  ASSERT_EQ(h.edges.size(), 18u);
  EXPECT_DOUBLE_EQ(h.edges.front(), 0.0);
  EXPECT_DOUBLE_EQ(h.edges.back(), 4.25);
  EXPECT_EQ(h.counts[0], 2);   // 0.0 (first bin closed on the left) and 0.1
  EXPECT_EQ(h.counts[1], 1);   // 0.5 in (0.25, 0.5]
  EXPECT_EQ(h.counts[3], 1);   // 1.0 in (0.75, 1.0]
  EXPECT_EQ(h.counts[7], 1);   // 2.0 in (1.75, 2.0], with the high class
  EXPECT_EQ(h.counts[8], 1);   // 2.01 in (2.0, 2.25]
  EXPECT_EQ(h.counts[15], 1);  // 3.9 in (3.75, 4.0]
  EXPECT_EQ(std::accumulate(h.counts.begin(), h.counts.end(), 0), 7);
  EXPECT_EQ(h.outside, 0);
}

TEST(Histogram, SignedValuesAreBinnedSymmetricallyAroundZero) {
  const Histogram h = MakeHistogram({-2.0, -0.1, 0.0, 0.1, 2.0}, true, {2.0, 4.0});
  ASSERT_EQ(h.counts.size(), 34u);
  EXPECT_DOUBLE_EQ(h.edges.front(), -4.25);
  EXPECT_DOUBLE_EQ(h.edges[17], 0.0);
  EXPECT_EQ(h.counts[8], 1);   // -2.0 in (-2.25, -2.0]
  EXPECT_EQ(h.counts[16], 2);  // -0.1 and 0.0 in (-0.25, 0]
  EXPECT_EQ(h.counts[17], 1);  // 0.1 in (0, 0.25]
  EXPECT_EQ(h.counts[24], 1);  // 2.0 in (1.75, 2.0]
}

TEST(Histogram, LargestValueSetsTheRangeAndFallsInTheLastBin) {
  const Histogram h = MakeHistogram({0, 10}, false, {});
  EXPECT_DOUBLE_EQ(h.bin_width, 0.5);
  ASSERT_EQ(h.counts.size(), 20u);
  EXPECT_EQ(h.counts.front(), 1);
  EXPECT_EQ(h.counts.back(), 1);
  // No values: one unit of range, still drawable.
  EXPECT_FALSE(MakeHistogram({}, false, {}).counts.empty());
}

TEST(ImageStatistics, PixelRmsPerImageSortedWorstFirst) {
  // 6 um pixels: A has (1, 0) and (0, 1) px, B has (2, 0) px, C none.
  const std::vector<ImageResiduals> residuals = {
      {"A", {{"1", 6, 0, 6, "in"}, {"G1", 0, 6, 6, "co"}}},
      {"B", {{"1", 12, 0, 12, "ch"}}},
      {"C", {}}};
  const std::vector<ImageStatistics> s = ComputeImageStatistics(residuals, 6.0);
  ASSERT_EQ(s.size(), 3u);
  EXPECT_EQ(s[0].image, "B");
  EXPECT_DOUBLE_EQ(s[0].rms_px, 2.0);
  EXPECT_EQ(s[0].check_rays, 1);
  EXPECT_EQ(s[1].image, "A");
  EXPECT_DOUBLE_EQ(s[1].rms_px, 1.0);
  EXPECT_DOUBLE_EQ(s[1].rms_x_px, std::sqrt(0.5));
  EXPECT_DOUBLE_EQ(s[1].max_px, 1.0);
  EXPECT_EQ(s[1].tie_rays, 1);
  EXPECT_EQ(s[1].control_rays, 1);
  EXPECT_EQ(s[2].rays, 0);
}

TEST(TiePointQuality, ResidualsThatCancelStillCount) {
  // Residuals (1, 0), (0, 1), (-1, -1) px: the mean vector is 0, the RMS sqrt(4 / 3).
  const std::vector<ImageResiduals> residuals = {
      {"A", {{"7", 1, 0, 1, "in"}}},
      {"B", {{"7", 0, 1, 1, "in"}}},
      {"C", {{"7", -1, -1, 1.41, "in"}, {"G", 9, 9, 13, "co"}}}};
  const std::vector<TiePointQuality> q = ComputeTiePointQuality(residuals, 1.0);
  ASSERT_EQ(q.size(), 1u);
  EXPECT_EQ(q[0].rays, 3);
  EXPECT_NEAR(q[0].rms_px, std::sqrt(4.0 / 3.0), 1e-12);

  const RayStatistics rays = ComputeRaysPerTiePoint(
      std::vector<ImageResiduals>{{"A", {{"1", 0, 0, 0, "in"}, {"2", 0, 0, 0, "in"}}},
                                  {"B", {{"1", 0, 0, 0, "in"}, {"G", 0, 0, 0, "co"}}},
                                  {"C", {{"1", 0, 0, 0, "in"}}}});
  EXPECT_EQ(rays.points, 2);
  EXPECT_EQ(rays.min, 1);
  EXPECT_EQ(rays.max, 3);
  EXPECT_DOUBLE_EQ(rays.mean, 2.0);
}

TEST(OrientationChanges, AnglesWrapAndImagesMatchByNameWithoutCase) {
  EXPECT_NEAR(WrapAngle(6.2), -0.0831853, 1e-7);
  EXPECT_DOUBLE_EQ(WrapAngle(kPi), kPi);
  EXPECT_DOUBLE_EQ(WrapAngle(-kPi), kPi);
  EXPECT_NEAR(WrapAngle(1.5 * kPi), -0.5 * kPi, 1e-12);

  const std::vector<ApproximateOrientation> approx = {
      {"IMG_1", true, 100, 200, 1000, 0.01, 0.02, 0.1},
      {"IMG_2", true, 0, 0, 0, 0, 0, 0},
      {"IMG_3", false, 0, 0, 0, 0, 0, 0}};
  const std::vector<AdjustedOrientation> adjusted = {
      {"img_1", 100.25, 199.5, 1000.0000005, 0.01, 0.02, 0.1 + 6.2}, {"IMG_3", 1, 2, 3, 0, 0, 0}};
  const std::vector<OrientationChange> c = ComputeOrientationChanges(approx, adjusted);
  ASSERT_EQ(c.size(), 3u);
  EXPECT_TRUE(c[0].adjusted);
  EXPECT_DOUBLE_EQ(c[0].dx, 0.25);
  EXPECT_DOUBLE_EQ(c[0].dy, -0.5);
  EXPECT_EQ(c[0].dz, 0.0);  // below 1e-6
  EXPECT_NEAR(c[0].dkappa, -0.0831853, 1e-6);
  EXPECT_FALSE(c[1].adjusted);
  EXPECT_TRUE(c[2].adjusted);
  EXPECT_FALSE(c[2].has_gps_imu);
  EXPECT_EQ(c[2].dx, 0.0);
}

TEST(BlockMapScales, VectorExaggerationAndScaleBars) {
  // Largest residual 0.047 m on a 2,400 m block: 8 % = 192 m -> x 4085 -> 2000; bar 0.02 m.
  const VectorScale s = ChooseVectorScale(0.047, 2400);
  EXPECT_DOUBLE_EQ(s.exaggeration, 2000);
  EXPECT_DOUBLE_EQ(s.bar_residual, 0.02);
  EXPECT_LE(s.bar_residual, 0.047);
  EXPECT_DOUBLE_EQ(ChooseVectorScale(0.0, 2400).bar_residual, 0.0);
  EXPECT_DOUBLE_EQ(ChooseVectorScale(0.0, 2400).exaggeration, 1.0);
  EXPECT_DOUBLE_EQ(ChooseScaleBarLength(2400), 200);
  EXPECT_DOUBLE_EQ(ChooseScaleBarLength(50), 10);
}

}  // namespace
}  // namespace vantri::report
