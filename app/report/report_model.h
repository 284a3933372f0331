#pragma once
// Everything the accuracy report shows, computed from the project's data and the result files of
// the last bundle run by the rules of statistics.h. The HTML writer lays a model out unchanged.

#include <array>
#include <string>
#include <vector>

#include "project/quality_thresholds.h"
#include "report/result_files.h"
#include "report/statistics.h"

namespace vantri::report {

struct CameraSummary {
  bool known = false;
  std::string model, camera_serial, lens_serial, calibration_date;
  double focal_mm = 0, pixel_mm = 0;
  int width = 0, height = 0;
};

struct SettingRow {
  std::string group, property, value;
};

// What the report needs from the project, gathered by the caller (bundle_report.h does it for a
// CVantriProject), so the model is built from plain data.
struct ReportInput {
  std::string project_name;
  std::string project_path;
  std::string program_version;
  std::string generated_at;  // local time text of the report
  CoordinateSystemNames crs;
  CameraSummary camera;
  int images_total = 0;
  int images_enabled = 0;
  std::vector<ApproximateOrientation> approximate;  // one per project image, in project order
  // Image footprints on the ground (closed outlines, project units), empty where none.
  std::vector<std::vector<std::array<double, 2>>> footprints;
  int defined_control_points = 0;  // in GCP.col
  int defined_check_points = 0;    // in CP.col
  std::vector<SettingRow> settings;
  project::QualityThresholds quality;
  ResultFiles files;
};

enum class Knowledge { kUnknown, kNo, kYes };

struct MapPoint {
  std::string id;
  double x = 0, y = 0;
  double vx = 0, vy = 0;  // planimetric residual, project units
  QualityLevel level = QualityLevel::kNoResult;
};

struct ReportModel {
  ReportInput input;

  // Image residuals are converted from um to pixels with the pixel size (passport, else .atout).
  double um_per_pixel = 0;
  bool HasPixelSize() const { return um_per_pixel > 0; }

  // Control and check points: per-axis statistics and the accuracy statement of the check points.
  PointStatistics control, check;
  AccuracyStatement accuracy;
  std::vector<QualityLevel> control_levels, check_levels;  // by 3-D residual, GCP thresholds

  // Image residuals of tie and control points (pixels) and their histograms.
  ResidualSamples residuals;
  Histogram histogram_x, histogram_y, histogram_v;
  std::vector<ImageStatistics> images;  // worst first
  RayStatistics rays_per_tie_point;

  // Block map.
  std::vector<MapPoint> tie_points, control_points, check_points;
  std::array<int, 4> tie_points_by_level{};    // indexed by QualityLevel
  std::vector<std::array<double, 2>> centres;  // adjusted projection centres (else GPS positions)
  bool centres_adjusted = false;
  std::array<double, 4> extent{};  // xmin, ymin, xmax, ymax of everything drawn
  VectorScale vector_scale;
  double scale_bar = 0;

  std::vector<OrientationChange> changes;

  // Adjustment figures.
  int tie_point_count = 0;
  int oriented_images = 0;
  Knowledge sigma0_known = Knowledge::kUnknown;
  double sigma0_px = 0;
  std::string sigma0_source;
  int iterations = -1;  // -1 unknown
  Knowledge converged = Knowledge::kUnknown;
  bool run_failed = false;

  // One sentence per missing, damaged or stale file.
  std::vector<std::string> notices;
};

ReportModel BuildReportModel(ReportInput input);

}  // namespace vantri::report
