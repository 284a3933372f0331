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

// Adjusts `points` and `cameras` in place and returns the average reprojection residual in
// pixels of the accepted observations, or a negative value when the adjustment failed (the
// records are then left as they were). Never throws.
//
// camera_matrix        [f, 0, cx, 0, f, cy, 0, 0, 1] in pixels.
// points               the first `n_control_points` are control points held by position priors
//                      (sigmas sqrt(xy_variance), sqrt(xy_variance), sqrt(z_variance), divided by
//                      the square root of `control_weight`); the rest are tie points.
// mode                 -2: full adjustment of cameras and points; -1: refinement (see ssba.cpp).
// reprojection_threshold  observations whose residual exceeds it (pixels) are rejected, then
//                      points left with fewer than two observations (point_index = -1).
// min/max_iterations, convergence  iteration control of the solver.
// state                set by the library (see ssba.cpp for its meaning).
// Arguments 10 to 14, 16, 18 to 20 are kept for the callers' argument list and are unused.
double NVSSBA(const double camera_matrix[9], std::vector<CSSBAPoint*>& points,
              std::vector<NVSSBACameraParams>& cameras, int mode, double reprojection_threshold,
              int min_iterations, int max_iterations, double convergence, int& state,
              SSBAProgressCallback progress, double* unused11, double* unused12, double* unused13,
              double* unused14, int n_control_points, int unused16, double control_weight,
              double* unused18, double* unused19, int* unused20);
