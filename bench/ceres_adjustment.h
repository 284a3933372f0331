#pragma once
// The engine's model as a Ceres problem: one residual block per image observation (collinearity
// with the omega-phi-kappa rotation, 6 parameters per image, 3 per point, residuals divided by
// the observation's sigma) and one per control point (weighted 3-D observation of the point).
//
// Iterations: Levenberg-Marquardt with an initial and maximum trust-region radius of 1e16 and
// every tolerance zero, which makes each step a Gauss-Newton step (the damping D/radius is
// negligible) and runs exactly the requested number of iterations, as the engine does.
#include <ceres/ceres.h>

#include <vector>

#include "block_generator.h"

namespace bench {

// Weighted image residual (dimensionless): (projected - measured) / sigma.
struct CollinearityResidual {
  CollinearityResidual(const FrameCamera& camera, double x, double y, double sigma)
      : camera(camera), x(x), y(y), weight(1.0 / sigma) {}

  template <typename T>
  bool operator()(const T* pose, const T* point, T* residual) const {
    T image[2];
    if (!projectOpk(camera, pose, point, image)) return false;
    residual[0] = (image[0] - T(x)) * T(weight);
    residual[1] = (image[1] - T(y)) * T(weight);
    return true;
  }

  FrameCamera camera;
  double x, y, weight;
};

ceres::CostFunction* makeCollinearityCost(const FrameCamera& camera, const ImageObservation& ob,
                                          double sigma);

enum class CeresSolver { kSparseSchur, kDenseSchur };

struct CeresOutcome {
  bool ok = false;
  int iterations = 0;
  double seconds_per_iteration = 0.0;  // one linear solve plus one evaluation with Jacobians
  std::vector<Point3> points;          // adjusted
  std::vector<Pose> poses;             // adjusted
};

// Adjusts from the block's approximations. `block` is consumed: its observation lists are
// released once the problem holds copies, so they do not add to the solver's peak memory.
CeresOutcome adjustWithCeres(SyntheticBlock&& block, CeresSolver solver, int iterations,
                             int threads);

}  // namespace bench
