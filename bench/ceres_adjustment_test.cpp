#include "ceres_adjustment.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

namespace bench {
namespace {

BlockSettings tinyBlock(bool noise) {
  BlockSettings s;
  s.images = 6;
  s.points = 60;
  s.seed = 3;
  s.noise = noise;
  return s;
}

// Residual and Jacobians of one observation's cost at (pose, point).
struct Evaluation {
  double residual[2];
  double pose_jacobian[12];
  double point_jacobian[6];
};

Evaluation evaluate(const ceres::CostFunction& cost, const Pose& pose, const Point3& point) {
  Evaluation e;
  const double* parameters[] = {pose.data(), point.data()};
  double* jacobians[] = {e.pose_jacobian, e.point_jacobian};
  EXPECT_TRUE(cost.Evaluate(parameters, e.residual, jacobians));
  return e;
}

TEST(CeresAdjustmentTest, ResidualIsZeroAtTheTruth) {
  const SyntheticBlock block = generateBlock(tinyBlock(false));
  for (const ImageObservation& ob : block.observations) {
    std::unique_ptr<ceres::CostFunction> cost(makeCollinearityCost(block.camera, ob, 3e-6));
    const Evaluation e = evaluate(*cost, block.true_poses[ob.image], block.true_points[ob.point]);
    EXPECT_NEAR(e.residual[0], 0.0, 1e-8);
    EXPECT_NEAR(e.residual[1], 0.0, 1e-8);
  }
}

// Central differences of the weighted residual with respect to one parameter.
void expectJacobianColumn(const ceres::CostFunction& cost, Pose pose, Point3 point, bool of_pose,
                          int k, const double* analytic, int stride) {
  double& value = of_pose ? pose[k] : point[k];
  const double h = of_pose && k >= 3 ? 1e-7 : 1e-4;
  const double original = value;
  value = original + h;
  const Evaluation plus = evaluate(cost, pose, point);
  value = original - h;
  const Evaluation minus = evaluate(cost, pose, point);
  for (int r = 0; r < 2; ++r) {
    const double numeric = (plus.residual[r] - minus.residual[r]) / (2 * h);
    EXPECT_NEAR(analytic[r * stride + k], numeric, 1e-5 * (1.0 + std::abs(numeric)))
        << (of_pose ? "pose" : "point") << " parameter " << k << " residual " << r;
  }
}

TEST(CeresAdjustmentTest, JacobianAgreesWithNumericDifferentiation) {
  const SyntheticBlock block = generateBlock(tinyBlock(true));
  for (std::size_t i = 0; i < block.observations.size(); i += 17) {
    const ImageObservation& ob = block.observations[i];
    std::unique_ptr<ceres::CostFunction> cost(makeCollinearityCost(block.camera, ob, 3e-6));
    const Pose& pose = block.approximate_poses[ob.image];
    const Point3& point = block.approximate_points[ob.point];
    const Evaluation e = evaluate(*cost, pose, point);
    for (int k = 0; k < 6; ++k)
      expectJacobianColumn(*cost, pose, point, true, k, e.pose_jacobian, 6);
    for (int k = 0; k < 3; ++k)
      expectJacobianColumn(*cost, pose, point, false, k, e.point_jacobian, 3);
  }
}

TEST(CeresAdjustmentTest, SparseAndDenseSchurRecoverTheTruthOfANoiseFreeBlock) {
  for (CeresSolver solver : {CeresSolver::kSparseSchur, CeresSolver::kDenseSchur}) {
    SyntheticBlock block = generateBlock(tinyBlock(false));
    const std::vector<Point3> truth = block.true_points;
    const std::vector<Pose> true_poses = block.true_poses;
    const CeresOutcome outcome = adjustWithCeres(std::move(block), solver, 8, 1);
    ASSERT_TRUE(outcome.ok);
    EXPECT_EQ(outcome.iterations, 8) << "zero tolerances run every iteration";
    for (std::size_t i = 0; i < truth.size(); ++i)
      for (int k = 0; k < 3; ++k) EXPECT_NEAR(outcome.points[i][k], truth[i][k], 1e-6);
    for (std::size_t i = 0; i < true_poses.size(); ++i)
      for (int k = 0; k < 6; ++k) EXPECT_NEAR(outcome.poses[i][k], true_poses[i][k], 1e-8);
  }
}

}  // namespace
}  // namespace bench
