#include "ceres_adjustment.h"

#include <utility>

namespace bench {
namespace {

// Control coordinates observed directly: (point - measured) / sigma.
struct ControlResidual {
  ControlResidual(const Point3& measured, double sigma) : measured(measured), weight(1.0 / sigma) {}
  template <typename T>
  bool operator()(const T* point, T* residual) const {
    for (int k = 0; k < 3; ++k) residual[k] = (point[k] - T(measured[k])) * T(weight);
    return true;
  }
  Point3 measured;
  double weight;
};

ceres::Solver::Options solverOptions(CeresSolver solver, int iterations, int threads) {
  ceres::Solver::Options options;
  options.minimizer_type = ceres::TRUST_REGION;
  options.trust_region_strategy_type = ceres::LEVENBERG_MARQUARDT;
  options.initial_trust_region_radius = 1e16;
  options.max_trust_region_radius = 1e16;
  options.linear_solver_type =
      solver == CeresSolver::kSparseSchur ? ceres::SPARSE_SCHUR : ceres::DENSE_SCHUR;
  options.sparse_linear_algebra_library_type = ceres::SUITE_SPARSE;
  options.max_num_iterations = iterations;
  options.function_tolerance = 0.0;
  options.gradient_tolerance = 0.0;
  options.parameter_tolerance = 0.0;
  options.num_threads = threads;
  options.logging_type = ceres::SILENT;
  return options;
}

// Points first in the elimination order, as the Schur solvers require.
void orderPointsFirst(ceres::Solver::Options& options, CeresOutcome& outcome) {
  auto* ordering = new ceres::ParameterBlockOrdering;
  for (Point3& p : outcome.points) ordering->AddElementToGroup(p.data(), 0);
  for (Pose& p : outcome.poses) ordering->AddElementToGroup(p.data(), 1);
  options.linear_solver_ordering.reset(ordering);
}

double secondsPerIteration(const ceres::Solver::Summary& summary) {
  const auto& steps = summary.iterations;
  if (steps.size() < 2) return 0.0;
  return (steps.back().cumulative_time_in_seconds - steps.front().cumulative_time_in_seconds) /
         static_cast<double>(steps.size() - 1);
}

}  // namespace

ceres::CostFunction* makeCollinearityCost(const FrameCamera& camera, const ImageObservation& ob,
                                          double sigma) {
  return new ceres::AutoDiffCostFunction<CollinearityResidual, 2, 6, 3>(
      new CollinearityResidual(camera, ob.x, ob.y, sigma));
}

CeresOutcome adjustWithCeres(SyntheticBlock&& block, CeresSolver solver, int iterations,
                             int threads) {
  CeresOutcome outcome;
  outcome.poses = std::move(block.approximate_poses);
  outcome.points = std::move(block.approximate_points);
  ceres::Problem problem;
  for (const ImageObservation& ob : block.observations) {
    problem.AddResidualBlock(makeCollinearityCost(block.camera, ob, block.image_sigma), nullptr,
                             outcome.poses[ob.image].data(), outcome.points[ob.point].data());
  }
  for (const ControlObservation& c : block.control) {
    problem.AddResidualBlock(new ceres::AutoDiffCostFunction<ControlResidual, 3, 3>(
                                 new ControlResidual(c.measured, block.control_sigma)),
                             nullptr, outcome.points[c.point].data());
  }
  block = SyntheticBlock();

  ceres::Solver::Options options = solverOptions(solver, iterations, threads);
  orderPointsFirst(options, outcome);
  ceres::Solver::Summary summary;
  ceres::Solve(options, &problem, &summary);
  outcome.ok = summary.IsSolutionUsable();
  outcome.iterations = static_cast<int>(summary.iterations.size()) - 1;
  outcome.seconds_per_iteration = secondsPerIteration(summary);
  return outcome;
}

}  // namespace bench
