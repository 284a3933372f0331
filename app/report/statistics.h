#pragma once
// The rules of the accuracy report: residual statistics, the accuracy statement, residual classes,
// histograms, per-image and per-point figures, orientation changes and the scales of the block map.
// The HTML writer only lays these out.

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "project/quality_thresholds.h"
#include "report/result_files.h"

namespace vantri::report {

// ---- Point residual statistics -----------------------------------------------------------------

struct AxisStatistics {
  int count = 0;
  double rmse = 0;     // sqrt(sum v^2 / n)
  double mean = 0;     // sum v / n
  double max_abs = 0;  // the value of largest magnitude, with its sign
};

AxisStatistics ComputeAxisStatistics(const std::vector<double>& values);

struct PointStatistics {
  int count = 0;           // points with a result
  int without_result = 0;  // points left out (HasNoResult)
  AxisStatistics x, y, z;
  double rmse_r = 0;  // sqrt(rmse_x^2 + rmse_y^2)
};

// The bundle run writes a point whose intersection failed with residuals of exactly 0.000000 and
// its surveyed coordinates. Counted as a perfect point it would flatter the statistics, so such a
// point has no result.
bool HasNoResult(const PointResidual& point);

// Statistics over the points with a result.
PointStatistics ComputePointStatistics(const std::vector<PointResidual>& points);

// ---- Accuracy statement of the check points ----------------------------------------------------
// Positional-accuracy standards state horizontal accuracy at 95 % confidence as 1.7308 x RMSE_r
// (circular error, valid when RMSE_x and RMSE_y are similar) and vertical accuracy as
// 1.96 x RMSE_z (normal error); at least 20 check points make the statement sound.

inline constexpr double kHorizontal95Factor = 1.7308;
inline constexpr double kVertical95Factor = 1.96;
inline constexpr int kMinCheckPointsForStatement = 20;
// Below this ratio of the smaller to the larger of RMSE_x and RMSE_y the circular factor no longer
// holds.
inline constexpr double kMinAxisRatioForCircularError = 0.6;

struct AccuracyStatement {
  bool available = false;  // at least one check point
  int check_points = 0;
  double rmse_x = 0, rmse_y = 0, rmse_r = 0, rmse_z = 0;
  double horizontal_95 = 0, vertical_95 = 0;
  bool too_few_points = false;   // fewer than kMinCheckPointsForStatement
  bool axes_dissimilar = false;  // min/max of RMSE_x, RMSE_y below kMinAxisRatioForCircularError
};

AccuracyStatement MakeAccuracyStatement(const PointStatistics& check_points);

// ---- Residual classes --------------------------------------------------------------------------

enum class QualityLevel { kHigh, kMiddle, kLow, kNoResult };

// residual <= high threshold: high; <= middle threshold: middle; above: low.
QualityLevel ClassifyResidual(double residual, const project::QualityClass& thresholds);
// RGB colour value of the profile (red in the low byte) of a class; grey 0x808080 for no result.
int ColorOf(QualityLevel level, const project::QualityClass& thresholds);

// ---- Histograms --------------------------------------------------------------------------------

// Bins (edges[i], edges[i + 1]] of equal width, the first closed on the left too, so a value on a
// threshold that is a bin edge counts with the lower bin like the classes.
struct Histogram {
  std::vector<double> edges;
  std::vector<int> counts;
  double bin_width = 0;
  int outside = 0;  // values beyond the last edge (none with an automatic range)
};

// The smallest of 1, 2, 2.5 and 5 times a power of ten that is >= value (> 0).
double NiceStepAtLeast(double value);
// The largest of 1, 2 and 5 times a power of ten that is <= value (> 0).
double NiceValueAtMost(double value);

// A histogram of `values` over [0, top] (magnitudes) or [-top, top] (`symmetric`, signed values),
// top = the largest |value| or `marks` (thresholds to keep in view) rounded up to a whole bin; the
// bin width is a nice step giving at most `max_bins` bins (per side when symmetric).
Histogram MakeHistogram(const std::vector<double>& values, bool symmetric,
                        const std::vector<double>& marks, int max_bins = 20);

// ---- Image residuals ---------------------------------------------------------------------------

struct ImageStatistics {
  std::string image;
  int rays = 0;  // image points with residuals, all types
  int tie_rays = 0, control_rays = 0, check_rays = 0;
  double rms_x_px = 0, rms_y_px = 0;
  double rms_px = 0;  // sqrt(sum(vx^2 + vy^2) / n)
  double max_px = 0;  // largest |v|
};

// Per image, in pixels (residuals in um divided by `um_per_pixel`), sorted worst first: larger
// rms_px first, then fewer rays, then image name.
std::vector<ImageStatistics> ComputeImageStatistics(const std::vector<ImageResiduals>& residuals,
                                                    double um_per_pixel);

// Every image residual of the given point types in pixels: x, y and magnitude.
struct ResidualSamples {
  std::vector<double> vx, vy, v;
};
ResidualSamples CollectResiduals(const std::vector<ImageResiduals>& residuals, double um_per_pixel,
                                 const std::vector<std::string>& types);

// A tie point's residual is the RMS of its image residual magnitudes, in pixels (not the mean
// vector, whose components cancel for a well intersected point).
struct TiePointQuality {
  std::string id;
  int rays = 0;
  double rms_px = 0;
};
std::vector<TiePointQuality> ComputeTiePointQuality(const std::vector<ImageResiduals>& residuals,
                                                    double um_per_pixel);

struct RayStatistics {
  int points = 0;
  int min = 0, max = 0;
  double mean = 0;
};
// Rays per tie point ("in" rows), counted over the image groups of .ptics (or .ptres).
template <typename Group>
RayStatistics ComputeRaysPerTiePoint(const std::vector<Group>& groups);

// ---- Orientation changes -----------------------------------------------------------------------

// An approximate (GPS/IMU) orientation: position in project units, angles in radians.
struct ApproximateOrientation {
  std::string image;
  bool has_gps_imu = false;
  double x = 0, y = 0, z = 0, omega = 0, phi = 0, kappa = 0;
};

struct OrientationChange {
  std::string image;
  bool has_gps_imu = false;
  bool adjusted = false;  // the image has a row in .extor
  double dx = 0, dy = 0, dz = 0;
  double domega = 0, dphi = 0, dkappa = 0;  // radians, in (-pi, pi]
};

// Wraps an angle difference into (-pi, pi].
double WrapAngle(double radians);
// Adjusted minus approximate, per approximate image, matched by image name without regard to
// case; differences below 1e-6 in magnitude count as 0.
std::vector<OrientationChange> ComputeOrientationChanges(
    const std::vector<ApproximateOrientation>& approximate,
    const std::vector<AdjustedOrientation>& adjusted);

// ---- Block map scales --------------------------------------------------------------------------

struct VectorScale {
  double exaggeration = 1;  // drawn length = residual x exaggeration (map units per residual unit)
  double bar_residual = 0;  // residual length shown by the scale bar (0: nothing to draw)
};

// Residual vectors: the largest one drawn at about `fraction` of the map extent with a nice
// exaggeration (1, 2, 5 x 10^k); the scale bar shows a nice residual length near the largest.
VectorScale ChooseVectorScale(double max_residual, double map_extent, double fraction = 0.08);
// Ground scale bar: a nice length of at most a fifth of the extent.
double ChooseScaleBarLength(double map_extent);

// ---- Template definitions ----------------------------------------------------------------------

template <typename Group>
RayStatistics ComputeRaysPerTiePoint(const std::vector<Group>& groups) {
  std::vector<std::string> ids;
  for (const Group& group : groups)
    for (const auto& row : group.rows)
      if (row.type == "in") ids.push_back(row.point_id);
  RayStatistics stats;
  if (ids.empty()) return stats;
  std::sort(ids.begin(), ids.end());
  long long total = 0;
  stats.min = static_cast<int>(ids.size());
  for (size_t i = 0; i < ids.size();) {
    size_t j = i;
    while (j < ids.size() && ids[j] == ids[i]) ++j;
    const int rays = static_cast<int>(j - i);
    ++stats.points;
    total += rays;
    stats.min = std::min(stats.min, rays);
    stats.max = std::max(stats.max, rays);
    i = j;
  }
  stats.mean = static_cast<double>(total) / stats.points;
  return stats;
}

}  // namespace vantri::report
