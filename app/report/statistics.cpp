#include "report/statistics.h"

#include <cctype>
#include <cmath>
#include <map>

namespace vantri::report {
namespace {

constexpr double kPi = 3.14159265358979323846;
// Relative tolerance of the nice-number and bin choices against rounding of decimal values.
constexpr double kRelativeTolerance = 1e-9;
// Orientation differences below this count as no change (display rule).
constexpr double kNoChange = 1e-6;

std::string Lower(const std::string& text) {
  std::string lower = text;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

double PowerOfTenBelow(double value) { return std::pow(10.0, std::floor(std::log10(value))); }

double ZeroIfTiny(double value) { return std::fabs(value) < kNoChange ? 0.0 : value; }

}  // namespace

AxisStatistics ComputeAxisStatistics(const std::vector<double>& values) {
  AxisStatistics stats;
  stats.count = static_cast<int>(values.size());
  if (values.empty()) return stats;
  double sum = 0, sum_squares = 0;
  for (double v : values) {
    sum += v;
    sum_squares += v * v;
    if (std::fabs(v) > std::fabs(stats.max_abs)) stats.max_abs = v;
  }
  stats.mean = sum / stats.count;
  stats.rmse = std::sqrt(sum_squares / stats.count);
  return stats;
}

bool HasNoResult(const PointResidual& point) {
  return point.vx == 0.0 && point.vy == 0.0 && point.vz == 0.0;
}

PointStatistics ComputePointStatistics(const std::vector<PointResidual>& points) {
  PointStatistics stats;
  std::vector<double> x, y, z;
  for (const PointResidual& p : points) {
    if (HasNoResult(p)) {
      ++stats.without_result;
      continue;
    }
    x.push_back(p.vx);
    y.push_back(p.vy);
    z.push_back(p.vz);
  }
  stats.count = static_cast<int>(x.size());
  stats.x = ComputeAxisStatistics(x);
  stats.y = ComputeAxisStatistics(y);
  stats.z = ComputeAxisStatistics(z);
  stats.rmse_r = std::hypot(stats.x.rmse, stats.y.rmse);
  return stats;
}

AccuracyStatement MakeAccuracyStatement(const PointStatistics& check_points) {
  AccuracyStatement statement;
  statement.check_points = check_points.count;
  statement.available = check_points.count > 0;
  if (!statement.available) return statement;
  statement.rmse_x = check_points.x.rmse;
  statement.rmse_y = check_points.y.rmse;
  statement.rmse_r = check_points.rmse_r;
  statement.rmse_z = check_points.z.rmse;
  statement.horizontal_95 = kHorizontal95Factor * statement.rmse_r;
  statement.vertical_95 = kVertical95Factor * statement.rmse_z;
  statement.too_few_points = check_points.count < kMinCheckPointsForStatement;
  const double larger = std::max(statement.rmse_x, statement.rmse_y);
  const double smaller = std::min(statement.rmse_x, statement.rmse_y);
  statement.axes_dissimilar = larger > 0 && smaller / larger < kMinAxisRatioForCircularError;
  return statement;
}

QualityLevel ClassifyResidual(double residual, const project::QualityClass& thresholds) {
  if (residual <= thresholds.high_threshold) return QualityLevel::kHigh;
  if (residual <= thresholds.middle_threshold) return QualityLevel::kMiddle;
  return QualityLevel::kLow;
}

int ColorOf(QualityLevel level, const project::QualityClass& thresholds) {
  switch (level) {
    case QualityLevel::kHigh:
      return thresholds.high_color;
    case QualityLevel::kMiddle:
      return thresholds.middle_color;
    case QualityLevel::kLow:
      return thresholds.low_color;
    case QualityLevel::kNoResult:
      break;
  }
  return 0x808080;
}

double NiceStepAtLeast(double value) {
  if (!(value > 0)) return 1.0;
  const double power = PowerOfTenBelow(value);
  const double mantissa = value / power;
  for (double candidate : {1.0, 2.0, 2.5, 5.0})
    if (mantissa <= candidate * (1 + kRelativeTolerance)) return candidate * power;
  return 10.0 * power;
}

double NiceValueAtMost(double value) {
  if (!(value > 0)) return 0.0;
  const double power = PowerOfTenBelow(value);
  const double mantissa = value / power;
  for (double candidate : {5.0, 2.0, 1.0})
    if (candidate <= mantissa * (1 + kRelativeTolerance)) return candidate * power;
  return power;
}

Histogram MakeHistogram(const std::vector<double>& values, bool symmetric,
                        const std::vector<double>& marks, int max_bins) {
  double top = 0;
  for (double v : values) top = std::max(top, std::fabs(v));
  // A threshold on the top edge would sit on the frame: keep a little room beyond it.
  for (double mark : marks) top = std::max(top, std::fabs(mark) * (1 + 1e-4));
  if (top <= 0) top = 1;

  Histogram histogram;
  histogram.bin_width = NiceStepAtLeast(top / std::max(max_bins, 1));
  const double w = histogram.bin_width;
  const int per_side = std::max(1, static_cast<int>(std::ceil(top / w * (1 - kRelativeTolerance))));
  const double low = symmetric ? -per_side * w : 0.0;
  const int bins = symmetric ? 2 * per_side : per_side;
  for (int i = 0; i <= bins; ++i) histogram.edges.push_back(low + i * w);
  histogram.counts.assign(bins, 0);
  for (double v : values) {
    // Upper edges belong to their bin: index = ceil((v - low) / w) - 1, the first bin closed.
    const double position = (v - low) / w;
    int index =
        static_cast<int>(std::ceil(position - kRelativeTolerance * std::max(1.0, position))) - 1;
    index = std::max(index, 0);
    if (index >= bins) {
      ++histogram.outside;
      continue;
    }
    ++histogram.counts[index];
  }
  return histogram;
}

std::vector<ImageStatistics> ComputeImageStatistics(const std::vector<ImageResiduals>& residuals,
                                                    double um_per_pixel) {
  std::vector<ImageStatistics> images;
  for (const ImageResiduals& group : residuals) {
    ImageStatistics stats;
    stats.image = group.image;
    double sx = 0, sy = 0;
    for (const ImageResidualRow& row : group.rows) {
      const double vx = row.vx_um / um_per_pixel, vy = row.vy_um / um_per_pixel;
      sx += vx * vx;
      sy += vy * vy;
      stats.max_px = std::max(stats.max_px, std::hypot(vx, vy));
      ++stats.rays;
      if (row.type == "in") ++stats.tie_rays;
      if (row.type == "co") ++stats.control_rays;
      if (row.type == "ch") ++stats.check_rays;
    }
    if (stats.rays > 0) {
      stats.rms_x_px = std::sqrt(sx / stats.rays);
      stats.rms_y_px = std::sqrt(sy / stats.rays);
      stats.rms_px = std::sqrt((sx + sy) / stats.rays);
    }
    images.push_back(stats);
  }
  std::stable_sort(images.begin(), images.end(),
                   [](const ImageStatistics& a, const ImageStatistics& b) {
                     if (a.rms_px != b.rms_px) return a.rms_px > b.rms_px;
                     if (a.rays != b.rays) return a.rays < b.rays;
                     return a.image < b.image;
                   });
  return images;
}

ResidualSamples CollectResiduals(const std::vector<ImageResiduals>& residuals, double um_per_pixel,
                                 const std::vector<std::string>& types) {
  ResidualSamples samples;
  for (const ImageResiduals& group : residuals)
    for (const ImageResidualRow& row : group.rows) {
      if (std::find(types.begin(), types.end(), row.type) == types.end()) continue;
      const double vx = row.vx_um / um_per_pixel, vy = row.vy_um / um_per_pixel;
      samples.vx.push_back(vx);
      samples.vy.push_back(vy);
      samples.v.push_back(std::hypot(vx, vy));
    }
  return samples;
}

std::vector<TiePointQuality> ComputeTiePointQuality(const std::vector<ImageResiduals>& residuals,
                                                    double um_per_pixel) {
  std::map<std::string, std::pair<double, int>> sums;  // id -> (sum |v|^2, rays)
  for (const ImageResiduals& group : residuals)
    for (const ImageResidualRow& row : group.rows) {
      if (row.type != "in") continue;
      const double vx = row.vx_um / um_per_pixel, vy = row.vy_um / um_per_pixel;
      auto& [sum, rays] = sums[row.point_id];
      sum += vx * vx + vy * vy;
      ++rays;
    }
  std::vector<TiePointQuality> points;
  for (const auto& [id, sum_rays] : sums)
    points.push_back({id, sum_rays.second, std::sqrt(sum_rays.first / sum_rays.second)});
  return points;
}

double WrapAngle(double radians) {
  double wrapped = std::fmod(radians, 2 * kPi);
  if (wrapped > kPi) wrapped -= 2 * kPi;
  if (wrapped <= -kPi) wrapped += 2 * kPi;
  return wrapped;
}

std::vector<OrientationChange> ComputeOrientationChanges(
    const std::vector<ApproximateOrientation>& approximate,
    const std::vector<AdjustedOrientation>& adjusted) {
  std::map<std::string, const AdjustedOrientation*> by_name;
  for (const AdjustedOrientation& eo : adjusted) by_name.emplace(Lower(eo.image), &eo);
  std::vector<OrientationChange> changes;
  for (const ApproximateOrientation& approx : approximate) {
    OrientationChange change;
    change.image = approx.image;
    change.has_gps_imu = approx.has_gps_imu;
    const auto found = by_name.find(Lower(approx.image));
    change.adjusted = found != by_name.end();
    if (change.adjusted && change.has_gps_imu) {
      const AdjustedOrientation& eo = *found->second;
      change.dx = ZeroIfTiny(eo.x - approx.x);
      change.dy = ZeroIfTiny(eo.y - approx.y);
      change.dz = ZeroIfTiny(eo.z - approx.z);
      change.domega = ZeroIfTiny(WrapAngle(eo.omega - approx.omega));
      change.dphi = ZeroIfTiny(WrapAngle(eo.phi - approx.phi));
      change.dkappa = ZeroIfTiny(WrapAngle(eo.kappa - approx.kappa));
    }
    changes.push_back(change);
  }
  return changes;
}

VectorScale ChooseVectorScale(double max_residual, double map_extent, double fraction) {
  VectorScale scale;
  if (!(max_residual > 0) || !(map_extent > 0)) return scale;
  scale.exaggeration = std::max(1.0, NiceValueAtMost(fraction * map_extent / max_residual));
  scale.bar_residual = NiceValueAtMost(max_residual);
  return scale;
}

double ChooseScaleBarLength(double map_extent) { return NiceValueAtMost(map_extent / 5); }

}  // namespace vantri::report
