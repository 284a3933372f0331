#include "report/report_model.h"

#include <cmath>
#include <limits>
#include <map>

namespace vantri::report {
namespace {

// Bins per side of the residual histograms: 0.1 px bins for the default thresholds.
constexpr int kHistogramBins = 50;

// What a reader loses when a file is missing.
std::string ConsequenceOf(const std::string& label) {
  static const std::map<std::string, std::string> consequences = {
      {"atout", "the adjustment figures (observations, redundancy, iterations) are not available"},
      {"gcpres", "control point residuals cannot be shown"},
      {"cpres", "check point residuals and the accuracy statement cannot be shown"},
      {"ptres", "image residuals, histograms and per-image figures cannot be shown"},
      {"ptics", "rays per point are counted from the image residuals instead"},
      {"ptocs", "tie points cannot be drawn on the block map"},
      {"extor", "adjusted orientations and their changes from GPS/IMU cannot be shown"},
      {"runstats", "sigma 0, iterations and convergence were not handed over by the bundle run"}};
  const auto found = consequences.find(label);
  return found == consequences.end() ? std::string() : found->second;
}

std::vector<std::string> FileNotices(const ResultFiles& files) {
  std::vector<std::string> notices;
  for (const FileStatus& status : files.files) {
    const std::string name = files.project_name + "." + status.label;
    if (status.state == FileState::kMissing) {
      notices.push_back(name + " is missing: " + ConsequenceOf(status.label) + ".");
    } else if (status.state == FileState::kDamaged) {
      std::string text = name + " is damaged (" + status.problem + ")";
      if (status.bad_lines > 1)
        text += "; " + std::to_string(status.bad_lines) + " lines could not be read";
      notices.push_back(text + "; what could be read is shown.");
    }
    if (status.stale)
      notices.push_back(name + " was written well before " + files.project_name +
                        ".atout: it is probably left from an earlier run.");
  }
  return notices;
}

double PixelSizeUm(const ReportInput& input) {
  if (input.camera.known && input.camera.pixel_mm > 0) return input.camera.pixel_mm * 1000.0;
  const std::vector<double> atout = input.files.atout.Numbers("Pixel size (mm)");
  if (!atout.empty() && atout[0] > 0) return atout[0] * 1000.0;
  return 0;
}

std::vector<QualityLevel> PointLevels(const std::vector<PointResidual>& points,
                                      const project::QualityClass& thresholds) {
  std::vector<QualityLevel> levels;
  for (const PointResidual& p : points)
    levels.push_back(
        HasNoResult(p)
            ? QualityLevel::kNoResult
            : ClassifyResidual(std::sqrt(p.vx * p.vx + p.vy * p.vy + p.vz * p.vz), thresholds));
  return levels;
}

std::vector<MapPoint> MapPoints(const std::vector<PointResidual>& points,
                                const std::vector<QualityLevel>& levels) {
  std::vector<MapPoint> map_points;
  for (size_t i = 0; i < points.size(); ++i)
    map_points.push_back(
        {points[i].id, points[i].x, points[i].y, points[i].vx, points[i].vy, levels[i]});
  return map_points;
}

void FillAdjustmentFigures(ReportModel& model) {
  const ResultFiles& files = model.input.files;
  // Statistics older than the .atout belong to an earlier run.
  const FileStatus* run_status = files.Status("runstats");
  if (files.run.recorded && run_status != nullptr && !run_status->stale) {
    model.sigma0_known = Knowledge::kYes;
    model.sigma0_px = files.run.sigma0_px;
    model.sigma0_source = "from the adjustment";
    model.iterations = files.run.iterations;
    model.converged = files.run.converged ? Knowledge::kYes : Knowledge::kNo;
    model.run_failed = !files.run.run_succeeded;
    return;
  }
  int iterations = 0;
  if (files.atout.Int("Number of iterations", &iterations)) model.iterations = iterations;
  // Without the run's own figure: sigma 0 of unit weight (1 pixel) from the residuals of the
  // adjusted observations and the redundancy of the .atout.
  int redundancy = 0;
  if (model.HasPixelSize() && files.atout.Int("Redundancy", &redundancy) && redundancy > 0 &&
      !model.residuals.v.empty()) {
    double sum = 0;
    for (double v : model.residuals.v) sum += v * v;
    model.sigma0_known = Knowledge::kYes;
    model.sigma0_px = std::sqrt(sum / redundancy);
    model.sigma0_source = "computed from the image residuals and the redundancy";
  }
}

void FillBlockMap(ReportModel& model) {
  const ReportInput& input = model.input;
  std::map<std::string, const TiePointQuality*> quality;
  const std::vector<TiePointQuality> tie_quality =
      model.HasPixelSize() ? ComputeTiePointQuality(input.files.image_residuals, model.um_per_pixel)
                           : std::vector<TiePointQuality>{};
  for (const TiePointQuality& q : tie_quality) quality[q.id] = &q;
  for (const ObjectPointRow& row : input.files.object_points) {
    if (row.type != "in") continue;
    MapPoint point{row.id, row.x, row.y, 0, 0, QualityLevel::kNoResult};
    if (const auto found = quality.find(row.id); found != quality.end())
      point.level = ClassifyResidual(found->second->rms_px, input.quality.tie_points);
    ++model.tie_points_by_level[static_cast<size_t>(point.level)];
    model.tie_points.push_back(point);
  }
  model.control_points = MapPoints(input.files.control_points, model.control_levels);
  model.check_points = MapPoints(input.files.check_points, model.check_levels);

  model.centres_adjusted = !input.files.orientations.empty();
  if (model.centres_adjusted) {
    for (const AdjustedOrientation& eo : input.files.orientations)
      model.centres.push_back({eo.x, eo.y});
  } else {
    for (const ApproximateOrientation& a : input.approximate)
      if (a.has_gps_imu) model.centres.push_back({a.x, a.y});
  }

  constexpr double kInf = std::numeric_limits<double>::infinity();
  std::array<double, 4> box{kInf, kInf, -kInf, -kInf};
  const auto grow = [&box](double x, double y) {
    box = {std::min(box[0], x), std::min(box[1], y), std::max(box[2], x), std::max(box[3], y)};
  };
  for (const auto& outline : input.footprints)
    for (const auto& vertex : outline) grow(vertex[0], vertex[1]);
  for (const auto& c : model.centres) grow(c[0], c[1]);
  double max_residual = 0;
  for (const auto* points : {&model.tie_points, &model.control_points, &model.check_points})
    for (const MapPoint& p : *points) {
      grow(p.x, p.y);
      max_residual = std::max(max_residual, std::hypot(p.vx, p.vy));
    }
  if (box[0] > box[2]) return;  // nothing to draw
  model.extent = box;
  const double size = std::max(box[2] - box[0], box[3] - box[1]);
  model.vector_scale = ChooseVectorScale(max_residual, size);
  model.scale_bar = ChooseScaleBarLength(size);
}

}  // namespace

ReportModel BuildReportModel(ReportInput input) {
  ReportModel model;
  model.input = std::move(input);
  const ReportInput& in = model.input;
  const ResultFiles& files = in.files;
  model.notices = FileNotices(files);
  model.um_per_pixel = PixelSizeUm(in);

  model.control = ComputePointStatistics(files.control_points);
  model.check = ComputePointStatistics(files.check_points);
  model.accuracy = MakeAccuracyStatement(model.check);
  model.control_levels = PointLevels(files.control_points, in.quality.gcps);
  model.check_levels = PointLevels(files.check_points, in.quality.gcps);

  if (model.HasPixelSize()) {
    model.residuals = CollectResiduals(files.image_residuals, model.um_per_pixel, {"in", "co"});
    const project::QualityClass& q = in.quality.tie_points;
    const std::vector<double> marks = {q.high_threshold, q.middle_threshold};
    model.histogram_x = MakeHistogram(model.residuals.vx, true, marks, kHistogramBins);
    model.histogram_y = MakeHistogram(model.residuals.vy, true, marks, kHistogramBins);
    model.histogram_v = MakeHistogram(model.residuals.v, false, marks, kHistogramBins);
    model.images = ComputeImageStatistics(files.image_residuals, model.um_per_pixel);
  }
  model.rays_per_tie_point = files.Has("ptics") ? ComputeRaysPerTiePoint(files.image_coordinates)
                                                : ComputeRaysPerTiePoint(files.image_residuals);
  for (const ObjectPointRow& row : files.object_points) model.tie_point_count += row.type == "in";
  if (model.tie_point_count == 0) model.tie_point_count = model.rays_per_tie_point.points;
  model.oriented_images = static_cast<int>(files.orientations.size());
  if (model.oriented_images == 0) files.atout.Int("Exterior orientations", &model.oriented_images);

  model.changes = ComputeOrientationChanges(in.approximate, files.orientations);
  FillAdjustmentFigures(model);
  if (model.run_failed)
    model.notices.insert(model.notices.begin(),
                         "The last bundle run failed: the result files shown may be incomplete or "
                         "left from an earlier run.");
  FillBlockMap(model);
  return model;
}

}  // namespace vantri::report
