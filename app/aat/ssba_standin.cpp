// A plain Ceres implementation of NVSSBA used only while app/ssba has no implementation of its own
// (CMake compiles this file when app/ssba has no CMakeLists.txt). Mode -2 and -1 both adjust
// cameras and points; the datum of a free network are priors on the given projection centres
// (0.1 units against 1 pixel of reprojection error). `state` receives the iterations used.
#include <ceres/ceres.h>
#include <ceres/rotation.h>

#include <cmath>
#include <map>

#include "ssba/ssba.h"

namespace {

struct Reprojection {
  Reprojection(double x, double y, const double* k) : x(x), y(y), f(k[0]), cx(k[2]), cy(k[5]) {}
  template <typename T>
  bool operator()(const T* world_to_camera, const T* centre, const T* point, T* residual) const {
    const T shifted[3] = {point[0] - centre[0], point[1] - centre[1], point[2] - centre[2]};
    T d[3];
    ceres::AngleAxisRotatePoint(world_to_camera, shifted, d);
    residual[0] = T(cx) - T(f) * d[0] / d[2] - T(x);
    residual[1] = T(cy) + T(f) * d[1] / d[2] - T(y);
    return true;
  }
  double x, y, f, cx, cy;
};

// Holds a projection centre near its given position.
struct CentrePrior {
  CentrePrior(const double* given, double sigma) : sigma(sigma) {
    std::copy(given, given + 3, position);
  }
  template <typename T>
  bool operator()(const T* centre, T* residual) const {
    for (int k = 0; k < 3; ++k) residual[k] = (centre[k] - T(position[k])) / T(sigma);
    return true;
  }
  double position[3];
  double sigma;
};

constexpr double kCentreSigma = 0.1;

struct Camera {
  double angle_axis[3];
  double centre[3];
};

double Residual(const Camera& camera, const double* point, const CSSBAColl& m, const double* k) {
  double r[2];
  Reprojection(m.x, m.y, k)(camera.angle_axis, camera.centre, point, r);
  return std::hypot(r[0], r[1]);
}

}  // namespace

double NVSSBA(const double camera_matrix[9], std::vector<CSSBAPoint*>& points,
              std::vector<NVSSBACameraParams>& cameras, int mode, double reprojection_threshold,
              int min_iterations, int max_iterations, double convergence, int& state,
              SSBAProgressCallback, double*, double*, double*, double*, int n_control_points,
              int, double control_weight, double*, double*, int*) {
  (void)mode;
  if (points.empty() || cameras.size() < 2) return -1.0;
  std::map<int, Camera> solved;
  for (const NVSSBACameraParams& params : cameras) {
    Camera camera;
    double transposed[9];  // world -> camera, row-major
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 3; ++c) transposed[3 * r + c] = params.rotation[3 * c + r];
    ceres::RotationMatrixToAngleAxis(ceres::RowMajorAdapter3x3<const double>(transposed),
                                     camera.angle_axis);
    std::copy(params.centre, params.centre + 3, camera.centre);
    solved[params.camera_number] = camera;
  }
  std::vector<std::array<double, 3>> xyz(points.size());
  for (size_t p = 0; p < points.size(); ++p) xyz[p] = {points[p]->X, points[p]->Y, points[p]->Z};
  std::vector<std::vector<bool>> used(points.size());
  for (size_t p = 0; p < points.size(); ++p)
    used[p].assign(points[p]->measurements.size(), true);

  double average = 0;
  int iterations = 0;
  for (int round = 0; round < 3; ++round) {
    ceres::Problem problem;
    for (size_t p = 0; p < points.size(); ++p) {
      int observations = 0;
      for (size_t m = 0; m < points[p]->measurements.size(); ++m)
        observations += used[p][m] && solved.count(points[p]->measurements[m].camera) ? 1 : 0;
      if (observations < 2 && static_cast<int>(p) >= n_control_points) continue;
      for (size_t m = 0; m < points[p]->measurements.size(); ++m) {
        const CSSBAColl& measurement = points[p]->measurements[m];
        auto camera = solved.find(measurement.camera);
        if (!used[p][m] || camera == solved.end()) continue;
        problem.AddResidualBlock(
            new ceres::AutoDiffCostFunction<Reprojection, 2, 3, 3, 3>(
                new Reprojection(measurement.x, measurement.y, camera_matrix)),
            new ceres::HuberLoss(1.0), camera->second.angle_axis, camera->second.centre,
            xyz[p].data());
      }
    }
    if (problem.NumResidualBlocks() == 0) return -1.0;
    for (const NVSSBACameraParams& params : cameras) {
      Camera& camera = solved[params.camera_number];
      if (!problem.HasParameterBlock(camera.centre)) continue;
      problem.AddResidualBlock(new ceres::AutoDiffCostFunction<CentrePrior, 3, 3>(
                                   new CentrePrior(params.centre, kCentreSigma)),
                               nullptr, camera.centre);
    }
    (void)control_weight;
    ceres::Solver::Options options;
    options.linear_solver_type = ceres::SPARSE_SCHUR;
    options.max_num_iterations = std::max(max_iterations, 1);
    options.function_tolerance = convergence;
    options.num_threads = 1;
    (void)min_iterations;
    ceres::Solver::Summary summary;
    ceres::Solve(options, &problem, &summary);
    if (!summary.IsSolutionUsable()) return -1.0;
    iterations += static_cast<int>(summary.iterations.size());

    double sum = 0;
    int count = 0;
    for (size_t p = 0; p < points.size(); ++p)
      for (size_t m = 0; m < points[p]->measurements.size(); ++m) {
        const CSSBAColl& measurement = points[p]->measurements[m];
        auto camera = solved.find(measurement.camera);
        if (!used[p][m] || camera == solved.end()) continue;
        const double residual =
            Residual(camera->second, xyz[p].data(), measurement, camera_matrix);
        if (residual > reprojection_threshold) {
          used[p][m] = false;
        } else {
          sum += residual;
          ++count;
        }
      }
    average = count > 0 ? sum / count : 0;
  }

  for (NVSSBACameraParams& params : cameras) {
    const Camera& camera = solved[params.camera_number];
    double transposed[9];
    ceres::AngleAxisToRotationMatrix(camera.angle_axis,
                                     ceres::RowMajorAdapter3x3<double>(transposed));
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 3; ++c) params.rotation[3 * r + c] = transposed[3 * c + r];
    std::copy(camera.centre, camera.centre + 3, params.centre);
  }
  for (size_t p = 0; p < points.size(); ++p) {
    int observations = 0;
    for (bool u : used[p]) observations += u ? 1 : 0;
    points[p]->X = xyz[p][0], points[p]->Y = xyz[p][1], points[p]->Z = xyz[p][2];
    if (observations < 2 && static_cast<int>(p) >= n_control_points) points[p]->point_index = -1;
  }
  state = iterations;
  return average;
}
