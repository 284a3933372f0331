// NVSSBA on Ceres Solver.
//
// How one call runs:
// 1. Validate everything and copy it into a working block. Coordinates are shifted by the mean
//    camera centre so that the solver works with numbers of the block's size, not of map
//    coordinates. A camera becomes a projection centre (3) and the world -> camera rotation as a
//    unit quaternion (w, x, y, z) on Ceres' QuaternionManifold.
// 2. Points observed behind (or on the image plane of) a camera at the start are rejected.
// 3. One robust solve with a Huber loss of scale = the threshold: gross errors pull with bounded
//    force, so the first rejection sees the good observations close to their final values.
// 4. Rejection, then a plain least-squares solve on what is left, repeated until nothing more is
//    rejected (at most kMaxRounds solves; the last one rejects nothing).
// 5. The datum is applied in every solve (see ssba.h): control points, centre priors, or the held
//    first camera and scale of a free network; in mode -1 without control points or centre priors
//    the result is finally moved by the similarity transform that maps the adjusted centres best
//    onto the given ones.
// 6. Only a successful adjustment writes back into the caller's records.
#include "ssba/ssba.h"

#include <ceres/ceres.h>
#include <ceres/rotation.h>

#include <Eigen/Dense>
#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <memory>
#include <optional>

namespace vantri::ssba {
namespace {

constexpr int kMaxRounds = 10;
// Relative length of the second principal axis below which a set of points counts as collinear.
constexpr double kCollinearRatio = 1e-3;
constexpr double kRotationTolerance = 1e-6;
// Centre priors count as lying on a line when their RMS spread across their main direction is below
// this share of the spread along it, or below this many prior sigmas.
constexpr double kLineShare = 0.05;
constexpr double kLineSpreadInSigmas = 10.0;

struct Intrinsics {
  double fx, fy, cx, cy;
};

// Reprojection residual in pixels, projected minus measured, in the projection of ssba.h.
struct ReprojectionResidual {
  Intrinsics k;
  double x, y;

  template <typename T>
  bool operator()(const T* world_to_camera, const T* centre, const T* point, T* residual) const {
    const T offset[3] = {point[0] - centre[0], point[1] - centre[1], point[2] - centre[2]};
    T d[3];
    ceres::QuaternionRotatePoint(world_to_camera, offset, d);
    // The camera looks along -z: a point on or behind the image plane has no projection.
    if (!(d[2] < T(0.0))) return false;
    residual[0] = T(k.cx) - T(k.fx) * d[0] / d[2] - T(x);
    residual[1] = T(k.cy) + T(k.fy) * d[1] / d[2] - T(y);
    return true;
  }
};

// A control point's position prior: (point - surveyed) / sigma per axis.
struct PositionPrior {
  Eigen::Vector3d surveyed;
  Eigen::Vector3d inverse_sigma;

  template <typename T>
  bool operator()(const T* point, T* residual) const {
    for (int i = 0; i < 3; ++i) residual[i] = (point[i] - T(surveyed[i])) * T(inverse_sigma[i]);
    return true;
  }
};

// Keeps a point on the sphere of radius r around a fixed centre: it holds the scale of a free
// network by keeping the distance between two projection centres. Tangent coordinates are in length
// units along an orthonormal basis of the tangent plane at x.
class SphereAroundManifold final : public ceres::Manifold {
 public:
  SphereAroundManifold(const Eigen::Vector3d& centre, double radius)
      : centre_(centre), radius_(radius) {}
  int AmbientSize() const override { return 3; }
  int TangentSize() const override { return 2; }

  bool Plus(const double* x, const double* delta, double* x_plus_delta) const override {
    const Eigen::Vector3d u = Direction(x);
    const Eigen::Matrix<double, 3, 2> basis = TangentBasis(u);
    const Eigen::Vector3d moved =
        (u + basis * Eigen::Vector2d(delta[0], delta[1]) / radius_).normalized();
    Eigen::Map<Eigen::Vector3d> out(x_plus_delta);
    out = centre_ + radius_ * moved;
    return true;
  }
  bool PlusJacobian(const double* x, double* jacobian) const override {
    Eigen::Map<Eigen::Matrix<double, 3, 2, Eigen::RowMajor>> out(jacobian);
    out = TangentBasis(Direction(x));
    return true;
  }
  bool Minus(const double* y, const double* x, double* y_minus_x) const override {
    const Eigen::Vector3d u = Direction(x);
    const Eigen::Vector3d v = Direction(y);
    const double cosine = u.dot(v);
    if (!(cosine > 0.0)) return false;
    Eigen::Map<Eigen::Vector2d> out(y_minus_x);
    out = radius_ * TangentBasis(u).transpose() * v / cosine;
    return true;
  }
  bool MinusJacobian(const double* x, double* jacobian) const override {
    Eigen::Map<Eigen::Matrix<double, 2, 3, Eigen::RowMajor>> out(jacobian);
    out = TangentBasis(Direction(x)).transpose();
    return true;
  }

 private:
  Eigen::Vector3d Direction(const double* x) const {
    return (Eigen::Map<const Eigen::Vector3d>(x) - centre_).normalized();
  }
  static Eigen::Matrix<double, 3, 2> TangentBasis(const Eigen::Vector3d& u) {
    Eigen::Index axis = 0;
    u.cwiseAbs().minCoeff(&axis);
    const Eigen::Vector3d first = u.cross(Eigen::Vector3d::Unit(axis)).normalized();
    Eigen::Matrix<double, 3, 2> basis;
    basis << first, u.cross(first);
    return basis;
  }

  Eigen::Vector3d centre_;
  double radius_;
};

struct Observation {
  int point;
  int camera;  // slot in the camera list
  double x, y;
  bool accepted = true;
};

struct WorkPoint {
  std::array<double, 3> position;
  bool control = false;
  bool accepted = true;
  std::optional<PositionPrior> prior;  // control points with positive variances
  std::vector<int> observations;
};

struct WorkCamera {
  std::array<double, 4> world_to_camera;  // unit quaternion w, x, y, z
  std::array<double, 3> centre;
};

struct Request {
  int mode;
  double threshold;
  int min_iterations;
  int max_iterations;
  double convergence;
};

bool Finite(const double* values, int count) {
  return std::all_of(values, values + count, [](double v) { return std::isfinite(v); });
}

bool IsRotation(const Eigen::Matrix3d& r) {
  return (r.transpose() * r - Eigen::Matrix3d::Identity()).cwiseAbs().maxCoeff() <
             kRotationTolerance &&
         r.determinant() > 0.0;
}

// Second over first singular value of the centred positions: 0 for collinear sets.
double Planarity(const std::vector<Eigen::Vector3d>& positions) {
  if (positions.size() < 3) return 0.0;
  Eigen::Vector3d mean = Eigen::Vector3d::Zero();
  for (const auto& p : positions) mean += p;
  mean /= static_cast<double>(positions.size());
  Eigen::MatrixXd centred(positions.size(), 3);
  for (size_t i = 0; i < positions.size(); ++i) centred.row(i) = (positions[i] - mean).transpose();
  const Eigen::Vector3d singular = Eigen::JacobiSVD<Eigen::MatrixXd>(centred).singularValues();
  return singular[0] > 0.0 ? singular[1] / singular[0] : 0.0;
}

class Adjustment {
 public:
  // Builds the working block; false for a degenerate or invalid input.
  bool Load(const double camera_matrix[9], const std::vector<CSSBAPoint*>& points,
            const std::vector<NVSSBACameraParams>& cameras, int n_control_points,
            double control_weight, const NVSSBAOptions& options) {
    if (!std::isfinite(options.centre_sigma_xy) || !std::isfinite(options.centre_sigma_z) ||
        options.centre_sigma_xy < 0.0 || options.centre_sigma_z < 0.0)
      return false;
    options_ = options;
    if (camera_matrix == nullptr || !Finite(camera_matrix, 9)) return false;
    k_ = {camera_matrix[0], camera_matrix[4], camera_matrix[2], camera_matrix[5]};
    if (!(k_.fx > 0.0) || !(k_.fy > 0.0)) return false;
    if (cameras.size() < 2 || points.empty()) return false;
    if (n_control_points < 0 || static_cast<size_t>(n_control_points) > points.size()) return false;
    if (n_control_points > 0 && !(control_weight > 0.0 && std::isfinite(control_weight)))
      return false;
    return LoadCameras(cameras) && LoadPoints(points, n_control_points, control_weight);
  }

  // The whole adjustment on the working block; false when a solve failed.
  bool Run(const Request& request, SSBAProgressCallback progress) {
    request_ = request;
    RejectPointsBehindCameras();
    if (!Solve(std::make_unique<ceres::HuberLoss>(request.threshold))) return false;
    Reject();
    for (int round = 1; round <= kMaxRounds; ++round) {
      if (progress != nullptr) progress(round, kMaxRounds, "Sparse bundle adjustment");
      if (!Solve(nullptr)) return false;
      if (round == kMaxRounds || !Reject()) break;
    }
    if (request.mode == -1 && !HasAnyControl() && !centre_priors_used_) KeepDatumOfGivenCameras();
    return std::isfinite(AverageResidual()) && ObservedCameras().size() >= 2;
  }

  // Mean length of the residual vectors of the accepted observations, in pixels.
  double AverageResidual() const {
    double sum = 0.0;
    int count = 0;
    for (const Observation& o : observations_) {
      if (!Uses(o)) continue;
      const Eigen::Vector2d r = Residual(o);
      sum += r.norm();
      ++count;
    }
    return count > 0 ? sum / count : std::numeric_limits<double>::quiet_NaN();
  }

  int RejectedPointCount() const {
    return static_cast<int>(std::count_if(points_.begin(), points_.end(),
                                          [](const WorkPoint& p) { return !p.accepted; }));
  }

  void Store(std::vector<CSSBAPoint*>& points, std::vector<NVSSBACameraParams>& cameras) const {
    const std::vector<int> observed = ObservedCameras();
    for (int slot : observed) {
      const WorkCamera& c = cameras_[slot];
      for (int i = 0; i < 3; ++i) cameras[slot].centre[i] = c.centre[i] + shift_[i];
      const Eigen::Matrix3d camera_to_world = WorldToCamera(c).transpose();
      for (int r = 0; r < 3; ++r)
        for (int col = 0; col < 3; ++col)
          cameras[slot].rotation[3 * r + col] = camera_to_world(r, col);
    }
    for (size_t i = 0; i < points_.size(); ++i) {
      if (!points_[i].accepted) {
        points[i]->point_index = -1;
        continue;
      }
      points[i]->X = points_[i].position[0] + shift_[0];
      points[i]->Y = points_[i].position[1] + shift_[1];
      points[i]->Z = points_[i].position[2] + shift_[2];
    }
  }

 private:
  bool LoadCameras(const std::vector<NVSSBACameraParams>& cameras) {
    shift_.setZero();
    for (const NVSSBACameraParams& c : cameras) {
      if (!Finite(c.centre, 3) || !Finite(c.rotation, 9)) return false;
      if (!slot_of_number_.emplace(c.camera_number, static_cast<int>(cameras_.size())).second)
        return false;  // two records with the same camera number
      const Eigen::Matrix3d camera_to_world =
          Eigen::Map<const Eigen::Matrix<double, 3, 3, Eigen::RowMajor>>(c.rotation);
      if (!IsRotation(camera_to_world)) return false;
      const Eigen::Quaterniond q(Eigen::Matrix3d(camera_to_world.transpose()));
      WorkCamera work;
      work.world_to_camera = {q.w(), q.x(), q.y(), q.z()};
      work.centre = {c.centre[0], c.centre[1], c.centre[2]};
      cameras_.push_back(work);
      shift_ += Eigen::Vector3d(c.centre[0], c.centre[1], c.centre[2]);
      given_centres_.emplace_back(c.centre[0], c.centre[1], c.centre[2]);
    }
    shift_ /= static_cast<double>(cameras_.size());
    for (WorkCamera& c : cameras_)
      for (int i = 0; i < 3; ++i) c.centre[i] -= shift_[i];
    for (Eigen::Vector3d& c : given_centres_) c -= shift_;
    return true;
  }

  // Measurements in images that have no camera record do not take part.
  bool LoadPoints(const std::vector<CSSBAPoint*>& points, int n_control_points,
                  double control_weight) {
    for (size_t i = 0; i < points.size(); ++i) {
      const CSSBAPoint* p = points[i];
      if (p == nullptr) return false;
      const double xyz[3] = {p->X, p->Y, p->Z};
      if (!Finite(xyz, 3)) return false;
      WorkPoint work;
      work.position = {p->X - shift_[0], p->Y - shift_[1], p->Z - shift_[2]};
      work.control = static_cast<int>(i) < n_control_points;
      if (work.control && !LoadPrior(*p, control_weight, &work)) return false;
      for (const CSSBAColl& m : p->measurements) {
        if (!std::isfinite(m.x) || !std::isfinite(m.y)) return false;
        const auto slot = slot_of_number_.find(m.camera);
        if (slot == slot_of_number_.end()) continue;
        work.observations.push_back(static_cast<int>(observations_.size()));
        observations_.push_back({static_cast<int>(i), slot->second, m.x, m.y});
      }
      points_.push_back(std::move(work));
    }
    for (WorkPoint& p : points_) p.accepted = HasEnoughObservations(p);
    return ObservedCameras().size() >= 2;
  }

  // sigma = sqrt(variance / weight); a zero variance holds the point fixed (no prior needed).
  bool LoadPrior(const CSSBAPoint& p, double weight, WorkPoint* work) const {
    if (!std::isfinite(p.xy_variance) || !std::isfinite(p.z_variance) || p.xy_variance < 0.0 ||
        p.z_variance < 0.0)
      return false;
    if (p.xy_variance == 0.0 || p.z_variance == 0.0) return true;
    const double xy = std::sqrt(weight / p.xy_variance);
    const double z = std::sqrt(weight / p.z_variance);
    work->prior =
        PositionPrior{Eigen::Vector3d(work->position[0], work->position[1], work->position[2]),
                      Eigen::Vector3d(xy, xy, z)};
    return true;
  }

  // A tie point needs two rays; a control point is held by its position and needs one.
  bool HasEnoughObservations(const WorkPoint& p) const {
    const auto accepted = std::count_if(p.observations.begin(), p.observations.end(),
                                        [&](int o) { return observations_[o].accepted; });
    return accepted >= (p.control ? 1 : 2);
  }

  bool Uses(const Observation& o) const { return o.accepted && points_[o.point].accepted; }

  std::vector<int> ObservedCameras() const {
    std::vector<char> seen(cameras_.size(), 0);
    for (const Observation& o : observations_)
      if (Uses(o)) seen[o.camera] = 1;
    std::vector<int> slots;
    for (size_t i = 0; i < seen.size(); ++i)
      if (seen[i]) slots.push_back(static_cast<int>(i));
    return slots;
  }

  bool HasAnyControl() const {
    return std::any_of(points_.begin(), points_.end(),
                       [](const WorkPoint& p) { return p.control && p.accepted; });
  }

  // Three or more non-collinear control points fix position, rotation and scale on their own.
  bool HasControlDatum() const {
    std::vector<Eigen::Vector3d> positions;
    for (const WorkPoint& p : points_)
      if (p.control && p.accepted)
        positions.emplace_back(p.position[0], p.position[1], p.position[2]);
    return Planarity(positions) > kCollinearRatio;
  }

  Eigen::Matrix3d WorldToCamera(const WorkCamera& c) const {
    return Eigen::Quaterniond(c.world_to_camera[0], c.world_to_camera[1], c.world_to_camera[2],
                              c.world_to_camera[3])
        .normalized()
        .toRotationMatrix();
  }

  Eigen::Vector2d Residual(const Observation& o) const {
    const ReprojectionResidual f{k_, o.x, o.y};
    double r[2] = {std::numeric_limits<double>::infinity(),
                   std::numeric_limits<double>::infinity()};
    const WorkCamera& c = cameras_[o.camera];
    f(c.world_to_camera.data(), c.centre.data(), points_[o.point].position.data(), r);
    return {r[0], r[1]};
  }

  void RejectPointsBehindCameras() {
    for (const Observation& o : observations_)
      if (Uses(o) && !std::isfinite(Residual(o).norm())) points_[o.point].accepted = false;
  }

  // A tie point with any observation over the threshold is rejected as a whole: callers index
  // measurements by position, so single measurements cannot be taken out of a point. A control
  // point loses only the offending observations. True when anything was rejected.
  bool Reject() {
    bool rejected = false;
    for (WorkPoint& p : points_) {
      if (!p.accepted) continue;
      for (int index : p.observations) {
        Observation& o = observations_[index];
        if (!o.accepted || Residual(o).norm() <= request_.threshold) continue;
        rejected = true;
        if (p.control)
          o.accepted = false;
        else
          p.accepted = false;
      }
      if (p.accepted && !HasEnoughObservations(p)) p.accepted = false;
    }
    return rejected;
  }

  // One solve on the accepted observations, `loss` null for plain least squares.
  bool Solve(std::unique_ptr<ceres::LossFunction> loss) {
    ceres::Problem::Options problem_options;
    problem_options.loss_function_ownership = ceres::DO_NOT_TAKE_OWNERSHIP;
    ceres::Problem problem(problem_options);
    auto* quaternion = new ceres::QuaternionManifold;
    std::vector<bool> in_problem(cameras_.size(), false);
    bool any = false;
    for (const Observation& o : observations_) {
      if (!Uses(o)) continue;
      WorkCamera& c = cameras_[o.camera];
      problem.AddResidualBlock(new ceres::AutoDiffCostFunction<ReprojectionResidual, 2, 4, 3, 3>(
                                   new ReprojectionResidual{k_, o.x, o.y}),
                               loss.get(), c.world_to_camera.data(), c.centre.data(),
                               points_[o.point].position.data());
      if (!in_problem[o.camera]) problem.SetManifold(c.world_to_camera.data(), quaternion);
      in_problem[o.camera] = true;
      any = true;
    }
    if (!any) {
      delete quaternion;
      return false;
    }
    AddControl(problem);
    centre_priors_used_ = CentrePriorsFixTheDatum(in_problem);
    if (centre_priors_used_) AddCentrePriors(problem, in_problem);
    HoldDatum(problem, in_problem);
    ceres::Solver::Options options = SolverOptions(in_problem);
    if (!RunSolver(options, problem)) return false;
    RecordUnitWeight(problem);
    return true;
  }

  // Each camera's given centre as an observation of its centre.
  void AddCentrePriors(ceres::Problem& problem, const std::vector<bool>& in_problem) {
    const Eigen::Vector3d inverse_sigma(1.0 / options_.centre_sigma_xy,
                                        1.0 / options_.centre_sigma_xy,
                                        1.0 / options_.centre_sigma_z);
    for (size_t i = 0; i < cameras_.size(); ++i) {
      if (!in_problem[i]) continue;
      problem.AddResidualBlock(new ceres::AutoDiffCostFunction<PositionPrior, 3, 3>(
                                   new PositionPrior{given_centres_[i], inverse_sigma}),
                               nullptr, cameras_[i].centre.data());
    }
  }

  // Control points or centre priors spread over a plane define the datum on their own; a free
  // network holds the first camera and the scale.
  void HoldDatum(ceres::Problem& problem, const std::vector<bool>& in_problem) {
    if (HasControlDatum() || centre_priors_used_) return;
    HoldFreeNetworkDatum(problem, in_problem);
  }

  // Centre priors take part only where they fix the datum: centres (nearly) on a line, as of one
  // strip, leave the roll about it free, and the priors are then not used at all. "Nearly": the
  // spread across the main direction is below kLineShare of the spread along it, or below
  // kLineSpreadInSigmas prior sigmas.
  bool CentrePriorsFixTheDatum(const std::vector<bool>& in_problem) const {
    if (!options_.HasCentrePriors()) return false;
    std::vector<Eigen::Vector3d> given;
    for (size_t i = 0; i < cameras_.size(); ++i)
      if (in_problem[i]) given.push_back(given_centres_[i]);
    if (given.size() < 3) return false;
    Eigen::Vector3d mean = Eigen::Vector3d::Zero();
    for (const auto& p : given) mean += p / static_cast<double>(given.size());
    Eigen::MatrixXd centred(given.size(), 3);
    for (size_t i = 0; i < given.size(); ++i) centred.row(i) = (given[i] - mean).transpose();
    const Eigen::Vector3d singular = Eigen::JacobiSVD<Eigen::MatrixXd>(centred).singularValues();
    const double across = singular[1] / std::sqrt(static_cast<double>(given.size()));
    const double sigma = std::max(options_.centre_sigma_xy, options_.centre_sigma_z);
    return singular[1] > kLineShare * singular[0] && across > kLineSpreadInSigmas * sigma;
  }

  // sigma 0 of the solve just made: weighted residuals over the redundancy (the held parameter
  // blocks and the fixed directions of the manifolds are not unknowns).
  void RecordUnitWeight(const ceres::Problem& problem) {
    std::vector<double*> blocks;
    problem.GetParameterBlocks(&blocks);
    int unknowns = 0;
    for (double* block : blocks)
      if (!problem.IsParameterBlockConstant(block))
        unknowns += problem.ParameterBlockTangentSize(block);
    last_solve_.redundancy = problem.NumResiduals() - unknowns;
    last_solve_.sigma0_px = last_solve_.redundancy > 0
                                ? std::sqrt(2.0 * last_cost_ / last_solve_.redundancy)
                                : 0.0;
  }

  void AddControl(ceres::Problem& problem) {
    for (WorkPoint& p : points_) {
      if (!p.control || !p.accepted) continue;
      if (p.prior)
        problem.AddResidualBlock(
            new ceres::AutoDiffCostFunction<PositionPrior, 3, 3>(new PositionPrior(*p.prior)),
            nullptr, p.position.data());
      else
        problem.SetParameterBlockConstant(p.position.data());
    }
  }

  // Free network: the first observed camera is held (centre and rotation) and the observed camera
  // farthest from it keeps its distance to it, which holds the scale.
  void HoldFreeNetworkDatum(ceres::Problem& problem, const std::vector<bool>& in_problem) {
    int anchor = -1, far = -1;
    double far_distance = 0.0;
    for (size_t i = 0; i < cameras_.size(); ++i) {
      if (!in_problem[i]) continue;
      if (anchor < 0) {
        anchor = static_cast<int>(i);
        continue;
      }
      const double d = (CentreOf(static_cast<int>(i)) - CentreOf(anchor)).norm();
      if (d > far_distance) far_distance = d, far = static_cast<int>(i);
    }
    problem.SetParameterBlockConstant(cameras_[anchor].world_to_camera.data());
    problem.SetParameterBlockConstant(cameras_[anchor].centre.data());
    if (far >= 0)
      problem.SetManifold(cameras_[far].centre.data(),
                          new SphereAroundManifold(CentreOf(anchor), far_distance));
  }

  Eigen::Vector3d CentreOf(int slot) const {
    return Eigen::Map<const Eigen::Vector3d>(cameras_[slot].centre.data());
  }

  // One thread and a fixed elimination order (points, then cameras): the same bytes on every run.
  ceres::Solver::Options SolverOptions(const std::vector<bool>& in_problem) {
    ceres::Solver::Options options;
    options.minimizer_type = ceres::TRUST_REGION;
    options.trust_region_strategy_type = ceres::LEVENBERG_MARQUARDT;
    options.linear_solver_type =
        ceres::IsSparseLinearAlgebraLibraryTypeAvailable(ceres::SUITE_SPARSE) ? ceres::SPARSE_SCHUR
                                                                              : ceres::DENSE_SCHUR;
    options.num_threads = 1;
    options.logging_type = ceres::SILENT;
    auto ordering = std::make_shared<ceres::ParameterBlockOrdering>();
    for (WorkPoint& p : points_)
      if (p.accepted) ordering->AddElementToGroup(p.position.data(), 0);
    for (size_t i = 0; i < cameras_.size(); ++i) {
      if (!in_problem[i]) continue;
      ordering->AddElementToGroup(cameras_[i].world_to_camera.data(), 1);
      ordering->AddElementToGroup(cameras_[i].centre.data(), 1);
    }
    options.linear_solver_ordering = ordering;
    return options;
  }

  // The first min_iterations run with every convergence test off; the rest, up to max_iterations,
  // stop when the cost decreases by less than `convergence` (relative).
  bool RunSolver(ceres::Solver::Options options, ceres::Problem& problem) {
    const int forced = std::clamp(request_.min_iterations, 0, request_.max_iterations);
    last_solve_ = {};
    if (forced > 0) {
      ceres::Solver::Options first = options;
      first.max_num_iterations = forced;
      first.function_tolerance = 0.0;
      first.gradient_tolerance = 0.0;
      first.parameter_tolerance = 0.0;
      if (!Succeeded(first, problem)) return false;
    }
    const int remaining = request_.max_iterations - forced;
    if (remaining <= 0) return true;  // stopped at the maximum: not converged
    options.max_num_iterations = remaining;
    options.function_tolerance = request_.convergence;
    options.gradient_tolerance = 1e-12;
    options.parameter_tolerance = 1e-12;
    return Succeeded(options, problem);
  }

  bool Succeeded(const ceres::Solver::Options& options, ceres::Problem& problem) {
    ceres::Solver::Summary summary;
    ceres::Solve(options, &problem, &summary);
    // summary.iterations starts with the evaluation at the initial point.
    last_solve_.iterations += std::max(0, static_cast<int>(summary.iterations.size()) - 1);
    last_solve_.converged = summary.termination_type == ceres::CONVERGENCE;
    last_cost_ = summary.final_cost;
    return summary.IsSolutionUsable() && std::isfinite(summary.final_cost);
  }

 public:
  const NVSSBARunInfo& LastSolve() const { return last_solve_; }

 private:
  NVSSBARunInfo last_solve_{};
  double last_cost_ = 0.0;  // Ceres' cost (half the sum of squares) at the end of the last solve
  NVSSBAOptions options_{};
  bool centre_priors_used_ = false;  // in the last solve

  // Moves cameras and points by the similarity (Umeyama) that maps the adjusted centres of the
  // observed cameras onto their given centres. Collinear centres fix no rotation about their line:
  // then only scale and translation are fitted.
  void KeepDatumOfGivenCameras() {
    const std::vector<int> observed = ObservedCameras();
    Eigen::Matrix3Xd from(3, observed.size()), to(3, observed.size());
    std::vector<Eigen::Vector3d> adjusted;
    for (size_t i = 0; i < observed.size(); ++i) {
      from.col(i) = CentreOf(observed[i]);
      to.col(i) = given_centres_[observed[i]];
      adjusted.push_back(from.col(i));
    }
    Eigen::Matrix4d similarity = Eigen::umeyama(from, to, true);
    if (Planarity(adjusted) <= kCollinearRatio) {
      const Eigen::Vector3d from_mean = from.rowwise().mean(), to_mean = to.rowwise().mean();
      const double scale = std::sqrt((to.colwise() - to_mean).squaredNorm() /
                                     std::max((from.colwise() - from_mean).squaredNorm(), 1e-300));
      similarity.setIdentity();
      similarity.topLeftCorner<3, 3>() *= scale;
      similarity.topRightCorner<3, 1>() = to_mean - scale * from_mean;
    }
    Apply(similarity);
  }

  void Apply(const Eigen::Matrix4d& similarity) {
    const Eigen::Matrix3d sr = similarity.topLeftCorner<3, 3>();
    const Eigen::Vector3d t = similarity.topRightCorner<3, 1>();
    const double scale = std::cbrt(sr.determinant());
    const Eigen::Matrix3d rotation = sr / scale;
    auto move = [&](std::array<double, 3>& p) {
      Eigen::Map<Eigen::Vector3d> v(p.data());
      v = sr * v + t;
    };
    for (int slot : ObservedCameras()) {
      WorkCamera& c = cameras_[slot];
      move(c.centre);
      const Eigen::Quaterniond q(Eigen::Matrix3d(WorldToCamera(c) * rotation.transpose()));
      c.world_to_camera = {q.w(), q.x(), q.y(), q.z()};
    }
    for (WorkPoint& p : points_)
      if (p.accepted) move(p.position);
  }

  Intrinsics k_{};
  Request request_{};
  Eigen::Vector3d shift_ = Eigen::Vector3d::Zero();
  std::map<int32_t, int> slot_of_number_;
  std::vector<WorkCamera> cameras_;
  std::vector<Eigen::Vector3d> given_centres_;
  std::vector<WorkPoint> points_;
  std::vector<Observation> observations_;
};

thread_local NVSSBARunInfo last_run_info;

double Run(const double camera_matrix[9], std::vector<CSSBAPoint*>& points,
           std::vector<NVSSBACameraParams>& cameras, int mode, double threshold, int min_iterations,
           int max_iterations, double convergence, int& state, SSBAProgressCallback progress,
           int n_control_points, double control_weight, const NVSSBAOptions& options) {
  const bool valid_request = (mode == -1 || mode == -2) && threshold > 0.0 &&
                             std::isfinite(threshold) && max_iterations >= 1 &&
                             convergence >= 0.0 && std::isfinite(convergence);
  last_run_info = {};
  Adjustment adjustment;
  if (!valid_request ||
      !adjustment.Load(camera_matrix, points, cameras, n_control_points, control_weight,
                       options)) {
    state = kInvalidInput;
    return kInvalidInput;
  }
  const Request request{mode, threshold, min_iterations, max_iterations, convergence};
  if (!adjustment.Run(request, progress)) {
    state = kSolverFailed;
    return kSolverFailed;
  }
  const double average = adjustment.AverageResidual();
  adjustment.Store(points, cameras);
  last_run_info = adjustment.LastSolve();
  state = adjustment.RejectedPointCount();
  return average;
}

}  // namespace

NVSSBARunInfo LastRunInfo() { return last_run_info; }

}  // namespace vantri::ssba

double NVSSBA(const double camera_matrix[9], std::vector<CSSBAPoint*>& points,
              std::vector<NVSSBACameraParams>& cameras, int mode, double reprojection_threshold,
              int min_iterations, int max_iterations, double convergence, int& state,
              SSBAProgressCallback progress, double*, double*, double*, double*,
              int n_control_points, int, double control_weight, double*, double*, int*) {
  return NVSSBA(camera_matrix, points, cameras, mode, reprojection_threshold, min_iterations,
                max_iterations, convergence, state, progress, nullptr, nullptr, nullptr, nullptr,
                n_control_points, 0, control_weight, nullptr, nullptr, nullptr,
                vantri::ssba::NVSSBAOptions{});
}

double NVSSBA(const double camera_matrix[9], std::vector<CSSBAPoint*>& points,
              std::vector<NVSSBACameraParams>& cameras, int mode, double reprojection_threshold,
              int min_iterations, int max_iterations, double convergence, int& state,
              SSBAProgressCallback progress, double*, double*, double*, double*,
              int n_control_points, int, double control_weight, double*, double*, int*,
              const vantri::ssba::NVSSBAOptions& options) {
  try {
    return vantri::ssba::Run(camera_matrix, points, cameras, mode, reprojection_threshold,
                             min_iterations, max_iterations, convergence, state, progress,
                             n_control_points, control_weight, options);
  } catch (...) {
    state = vantri::ssba::kInternalError;
    return vantri::ssba::kInternalError;
  }
}
