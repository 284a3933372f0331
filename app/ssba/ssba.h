// The sparse bundle adjustment shared by the AAT process and the bundle process: tie-point and
// camera records filled in place, and the one entry NVSSBA. Our own implementation on Ceres Solver.
//
// Image measurements are pixels of the full-resolution image, origin at the top-left corner of the
// top-left pixel, x right, y down. A camera is a projection centre and a rotation matrix
// (camera -> world, row by row) in the convention of nvc::COrientation: the camera looks along its
// -z axis and its y axis points up in the image, so an object point X projects to
//   d = R^T (X - C),  col = cx - f * d.x / d.z,  row = cy + f * d.y / d.z
// with the camera matrix [f, 0, cx, 0, f, cy, 0, 0, 1]; this is COrientation::Pt3dToPix for an
// orientation with the same centre, rotation, focal length in pixels and principal point.
#pragma once

#include <cstdint>
#include <vector>

// One image measurement of a point.
class CSSBAColl {
 public:
  CSSBAColl() = default;
  CSSBAColl(int32_t camera, int32_t key, double x, double y)
      : camera(camera), key(key), x(x), y(y) {}
  virtual ~CSSBAColl() = default;
  CSSBAColl(const CSSBAColl&) = default;
  CSSBAColl& operator=(const CSSBAColl&) = default;

  // The image, by the camera number of NVSSBACameraParams (the project image index in files).
  int32_t camera = 0;
  // Carried through files and adjustments unchanged.
  int32_t key = kDefaultKey;
  double x = 0.0;
  double y = 0.0;

  static constexpr int32_t kDefaultKey = 0;
};

// One tie or control point with its measurements; the first measurement is the reference one.
class CSSBAPoint {
 public:
  CSSBAPoint() = default;
  CSSBAPoint(const CSSBAPoint&) = default;
  CSSBAPoint& operator=(const CSSBAPoint&) = default;
  virtual ~CSSBAPoint() = default;

  double X = 0.0;
  double Y = 0.0;
  double Z = 0.0;
  // Position in the caller's point list; NVSSBA sets it to -1 for a point it rejected.
  int32_t point_index = 0;
  uint8_t R = 0;
  uint8_t G = 255;
  uint8_t B = 255;
  std::vector<CSSBAColl> measurements;
  // Control points only: a-priori planimetric and height variances (m^2).
  double xy_variance = 0.0;
  double z_variance = 0.0;
};

// One camera taking part in an adjustment.
struct NVSSBACameraParams {
  int32_t camera_number = 0;
  double centre[3] = {0.0, 0.0, 0.0};
  // Rotation matrix camera -> world, row by row.
  double rotation[9] = {1.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0, 1.0};
};

// Per image: one entry per measurement made in it.
struct SIFTIndex {
  int32_t point_index = 0;
  int32_t measurement_index = 0;
};

// Progress callback of the library (position, range, text); callers pass null.
using SSBAProgressCallback = void (*)(int, int, const char*);

namespace vantri::ssba {
// Negative results of NVSSBA (returned as the double and stored in `state`).
inline constexpr int kInvalidInput = -1;   // degenerate or invalid input, nothing solved
inline constexpr int kSolverFailed = -2;   // a solve failed or left nothing to adjust
inline constexpr int kInternalError = -3;  // an exception was caught

// The last plain least-squares solve of the calling thread's latest NVSSBA call: its iterations
// (the forced minimum included) and whether it stopped on the convergence limit rather than at
// the maximum number of iterations. Zero / false after a failed call.
//
// sigma0_px is the a-posteriori standard deviation of unit weight of that solve, in pixels (the
// reprojection residuals have an a-priori sigma of 1 pixel, the position priors their own sigmas):
// sqrt(sum of squared weighted residuals / redundancy), redundancy = observations (2 per image
// measurement, 3 per position prior) minus the unknowns that are not held by the datum. 0 when the
// redundancy is not positive.
struct NVSSBARunInfo {
  int iterations = 0;
  bool converged = false;
  double sigma0_px = 0.0;
  int redundancy = 0;
};
NVSSBARunInfo LastRunInfo();

// What the fixed argument list of NVSSBA cannot carry; the defaults give NVSSBA's own behaviour.
struct NVSSBAOptions {
  // A-priori standard deviations (metres) of the given projection centres when they are
  // observations in their own right, e.g. GPS positions: each camera's given centre becomes a
  // position prior with these sigmas (plan, height) against the reprojection sigma of 1 pixel.
  // Zero: no centre priors.
  double centre_sigma_xy = 0.0;
  double centre_sigma_z = 0.0;

  bool HasCentrePriors() const { return centre_sigma_xy > 0.0 && centre_sigma_z > 0.0; }
};
}  // namespace vantri::ssba

// Adjusts `points` and `cameras` in place and returns the average reprojection residual (mean
// length of the residual vectors, pixels) of the accepted observations, or a negative value
// (vantri::ssba::k*) when the adjustment failed; the records are then left exactly as they were.
// Never throws.
//
// camera_matrix   [f, 0, cx, 0, f, cy, 0, 0, 1] in pixels (elements 0 and 4 may differ).
// points          the first `n_control_points` are control points held by position priors with
//                 sigmas sqrt(xy_variance / w), sqrt(xy_variance / w), sqrt(z_variance / w),
//                 w = `control_weight`, against a reprojection sigma of 1 pixel; a zero variance
//                 holds the point fixed. The rest are tie points. Measurements in images without
//                 a camera record are ignored.
// cameras         one record per image, distinct camera numbers. Cameras that end up with no
//                 accepted observation are left unchanged.
// mode            -2: full adjustment of cameras and points.
//                 -1: the same adjustment; then, without control points, cameras and points are
//                 moved by the similarity transform that maps the adjusted projection centres
//                 best onto the given ones (least squares), so the block keeps the position,
//                 rotation and scale of the cameras it was given (e.g. the GPS centres of the
//                 refinement). Collinear centres fix no rotation about their line; then only
//                 scale and translation are fitted.
//                 Datum in both modes: three or more non-collinear control points define it;
//                 so do centre priors (NVSSBAOptions) on three or more cameras spread over a
//                 plane (with them mode -1 moves nothing afterwards: the block already sits on
//                 the given centres as well as its rays allow). Centres nearly on a line (one
//                 strip) leave the roll about it free: their priors are then not used at all.
//                 Otherwise (free network, or too few control points) every solve holds the
//                 first camera that has observations (centre and rotation) and keeps the distance
//                 from it to the farthest observed camera, which fixes the scale: nothing drifts.
// reprojection_threshold
//                 pixels. A tie point with any observation over it is rejected as a whole
//                 (point_index = -1, coordinates unchanged): callers address measurements by
//                 position, so one measurement cannot be taken out of a point. A control point
//                 loses only the offending observations and is rejected when none is left. Tie
//                 points with fewer than two usable measurements, and points behind a camera at
//                 the start, are rejected too.
//                 Outliers: one solve with a Huber loss (scale = threshold), then rejection and
//                 plain least squares repeated until nothing more is rejected (at most 10
//                 solves), so the result is plain least squares on the accepted observations.
// min_iterations, max_iterations
//                 per solve: the first min_iterations run without convergence tests; a solve
//                 stops at max_iterations (at least 1).
// convergence     relative decrease of the cost below which a solve has converged.
// state           output only: the number of rejected points on success, the negative result on
//                 failure.
// Computation: Ceres Solver, Levenberg-Marquardt, Schur elimination of the points in a fixed
// order, num_threads = 1: the same input gives the same bytes on every run, whatever the machine
// or the callers' threads do.
// Argument 10 is called before each plain least-squares solve when not null; 11 to 14, 16 and 18 to
// 20 are kept for the callers' argument list and are unused.
double NVSSBA(const double camera_matrix[9], std::vector<CSSBAPoint*>& points,
              std::vector<NVSSBACameraParams>& cameras, int mode, double reprojection_threshold,
              int min_iterations, int max_iterations, double convergence, int& state,
              SSBAProgressCallback progress, double* unused11, double* unused12, double* unused13,
              double* unused14, int n_control_points, int unused16, double control_weight,
              double* unused18, double* unused19, int* unused20);

// NVSSBA with the options above (same arguments, same results).
double NVSSBA(const double camera_matrix[9], std::vector<CSSBAPoint*>& points,
              std::vector<NVSSBACameraParams>& cameras, int mode, double reprojection_threshold,
              int min_iterations, int max_iterations, double convergence, int& state,
              SSBAProgressCallback progress, double* unused11, double* unused12, double* unused13,
              double* unused14, int n_control_points, int unused16, double control_weight,
              double* unused18, double* unused19, int* unused20,
              const vantri::ssba::NVSSBAOptions& options);
