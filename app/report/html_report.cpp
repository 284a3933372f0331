#include "report/html_report.h"

#include <algorithm>
#include <cmath>

#include "report/report_text.h"
#include "report/svg_charts.h"

namespace vantri::report {
namespace {

std::string Missing(const std::string& what) { return "<p class=\"missing\">" + what + "</p>\n"; }

// ---- Page parts --------------------------------------------------------------------------------

constexpr const char* kStyle = R"CSS(
@page { size: A4; margin: 14mm 13mm 16mm 13mm; }
* { box-sizing: border-box; }
html { -webkit-print-color-adjust: exact; print-color-adjust: exact; }
body { font-family: "DejaVu Sans", "Liberation Sans", Arial, Helvetica, sans-serif; font-size: 10pt;
       color: #111; background: #fff; max-width: 184mm; margin: 0 auto; padding: 8mm 0; line-height: 1.35; }
h1 { font-size: 17pt; margin: 0 0 2mm 0; }
h2 { font-size: 13pt; margin: 7mm 0 2mm 0; padding-bottom: 1mm; border-bottom: 1.5px solid #333;
     break-after: avoid; page-break-after: avoid; }
h3 { font-size: 11pt; margin: 4mm 0 1.5mm 0; break-after: avoid; page-break-after: avoid; }
p { margin: 1.5mm 0; }
.subtitle { color: #333; margin-bottom: 4mm; }
table { border-collapse: collapse; margin: 2mm 0; font-variant-numeric: tabular-nums; }
th, td { border: 0.6px solid #999; padding: 0.6mm 1.8mm; text-align: left; vertical-align: top; }
th { background: #e6e9ec; font-weight: bold; }
td.num, th.num { text-align: right; white-space: nowrap; }
thead { display: table-header-group; }
tr { break-inside: avoid; page-break-inside: avoid; }
tfoot td { font-weight: bold; background: #f3f4f6; }
table.facts th { width: 62mm; background: #f3f4f6; }
figure { margin: 3mm 0; break-inside: avoid; page-break-inside: avoid; }
figcaption { font-size: 9pt; color: #333; margin-top: 1mm; }
svg.chart { display: block; width: 100%; max-width: 180mm; height: auto; }
.notice { border: 1.5px solid #7a4d00; background: #fff6e0; padding: 2mm 3mm; margin: 3mm 0; }
.notice ul { margin: 1mm 0 0 5mm; padding: 0; }
.warning { border-left: 4px solid #7a0000; background: #fbeaea; padding: 1.5mm 3mm; margin: 2mm 0; }
.statement { border: 1.5px solid #1d3557; padding: 2mm 3mm; margin: 2mm 0; font-size: 11pt; }
.missing { color: #5a3c00; font-style: italic; }
.swatch { display: inline-block; width: 4mm; height: 3mm; border: 0.6px solid #000; vertical-align: middle;
          margin-right: 1.5mm; }
.mark { font-weight: bold; }
footer { margin-top: 8mm; font-size: 8.5pt; color: #444; border-top: 0.6px solid #999; padding-top: 1.5mm; }
)CSS";

std::string Row(const std::string& label, const std::string& value) {
  return "<tr><th>" + label + "</th><td>" + value + "</td></tr>\n";
}

std::string SectionStart(const std::string& id, const std::string& title) {
  return "<section id=\"" + id + "\">\n<h2>" + title + "</h2>\n";
}

std::string Summary(const ReportModel& m) {
  const ReportInput& in = m.input;
  const ResultFiles& f = in.files;
  std::string html = SectionStart("summary", "Summary");
  html += "<table class=\"facts\">\n";
  html += Row("Project", EscapeHtml(in.project_name) + " <small>(" + EscapeHtml(in.project_path) +
                             ")</small>");
  const CoordinateSystemNames& crs = in.crs.Empty() ? f.extor_crs : in.crs;
  html += Row("Coordinate system", "projection " + OrDash(crs.projection) + ", datum " +
                                       OrDash(crs.datum) + ", zone " + OrDash(crs.fuse) +
                                       ", units " + OrDash(crs.units));
  if (in.camera.known) {
    const CameraSummary& c = in.camera;
    html += Row("Camera", EscapeHtml(c.model) + ", serial " + OrDash(c.camera_serial) + ", lens " +
                              OrDash(c.lens_serial) + ", calibrated " + OrDash(c.calibration_date));
    html += Row("Camera geometry", "focal length " + Num(c.focal_mm, 3, "mm") + ", pixel " +
                                       Num(c.pixel_mm * 1000, 2, "&#181;m") + ", " + Int(c.width) +
                                       " &#215; " + Int(c.height) + " px");
  } else {
    html += Row("Camera", "<span class=\"missing\">no camera passport in the project</span>");
  }
  html += Row("Images", Int(in.images_total) + " in the project, " + Int(in.images_enabled) +
                            " enabled, " + Int(m.oriented_images) + " oriented by the adjustment");
  const auto& by_level = m.tie_points_by_level;
  html += Row("Tie points",
              Int(m.tie_point_count) +
                  (m.tie_points.empty() ? std::string()
                                        : " (" + Int(by_level[0]) + " high, " + Int(by_level[1]) +
                                              " middle, " + Int(by_level[2]) + " low quality, " +
                                              Int(by_level[3]) + " without residual)"));
  const RayStatistics& r = m.rays_per_tie_point;
  html += Row("Rays per tie point", r.points > 0 ? "mean " + Num(r.mean, 2) + ", minimum " +
                                                       Int(r.min) + ", maximum " + Int(r.max)
                                                 : "<span class=\"missing\">not available</span>");
  html += Row("Control points", Int(m.control.count) + " adjusted (" +
                                    Int(in.defined_control_points) + " defined in GCP.col)");
  html += Row("Check points", Int(m.check.count) + " evaluated (" + Int(in.defined_check_points) +
                                  " defined in CP.col)");
  html +=
      Row("A-posteriori sigma 0",
          m.sigma0_known == Knowledge::kYes
              ? Num(m.sigma0_px, 3, "px") +
                    (m.HasPixelSize() ? " (" + Num(m.sigma0_px * m.um_per_pixel, 2, "&#181;m") + ")"
                                      : "") +
                    ", " + m.sigma0_source
              : "<span class=\"missing\">not available</span>");
  if (m.HasPixelSize() && !m.residuals.v.empty()) {
    const AxisStatistics ax = ComputeAxisStatistics(m.residuals.vx),
                         ay = ComputeAxisStatistics(m.residuals.vy);
    html += Row("Image residuals (tie and control)",
                "RMS x " + Num(ax.rmse, 3, "px") + ", RMS y " + Num(ay.rmse, 3, "px") + " over " +
                    Int(m.residuals.v.size()) + " image points");
  }
  html += Row("Iterations", m.iterations >= 0 ? Int(m.iterations)
                                              : "<span class=\"missing\">not available</span>");
  html += Row("Converged", m.converged == Knowledge::kYes ? "yes"
                           : m.converged == Knowledge::kNo
                               ? "<strong>no</strong>: the iteration limit was reached"
                               : "<span class=\"missing\">not recorded</span>");
  int value = 0;
  if (f.atout.Int("Total number of observations", &value)) {
    int redundancy = 0;
    f.atout.Int("Redundancy", &redundancy);
    html += Row("Observations and redundancy",
                Int(value) + " observations, redundancy " + Int(redundancy));
  }
  if (m.accuracy.available)
    html += Row("Check point accuracy (95 %)",
                "horizontal " + Num(m.accuracy.horizontal_95, 3, "m") + ", vertical " +
                    Num(m.accuracy.vertical_95, 3, "m") + " (see the accuracy statement)");
  html += "</table>\n</section>\n";
  return html;
}

std::string Notices(const ReportModel& m) {
  if (m.notices.empty()) return {};
  std::string html =
      "<div class=\"notice\" id=\"missing-files\"><strong>Missing or damaged result "
      "files.</strong> "
      "This report shows what could be read.<ul>\n";
  for (const std::string& notice : m.notices) html += "<li>" + EscapeHtml(notice) + "</li>\n";
  return html + "</ul></div>\n";
}

std::string BlockMapSection(const ReportModel& m) {
  std::string html = SectionStart("block-map", "Block map");
  if (m.extent[2] <= m.extent[0] && m.extent[3] <= m.extent[1])
    return html +
           Missing("Nothing to draw: no footprints, projection centres or points were found.") +
           "</section>\n";
  html += "<figure>\n" + BlockMapChart(m) +
          "<figcaption>Image footprints from the GPS/IMU orientations, ";
  html += m.centres_adjusted ? "adjusted projection centres" : "projection centres from GPS";
  html +=
      ", tie points by the RMS of their image residuals (tie-point thresholds), control and check "
      "points by "
      "their 3-D residual (GCP thresholds). Planimetric residual vectors are enlarged " +
      Num(m.vector_scale.exaggeration, 0) + " times; the arrow in the legend shows " +
      Num(m.vector_scale.bar_residual,
          DecimalsForStep(std::max(m.vector_scale.bar_residual, 1e-6))) +
      " m at that scale.</figcaption>\n</figure>\n";
  return html + "</section>\n";
}

std::string PointTable(const std::vector<PointResidual>& points,
                       const std::vector<QualityLevel>& levels, const PointStatistics& stats,
                       const project::QualityClass& q) {
  std::string html =
      "<table>\n<thead><tr><th>Point ID</th><th class=\"num\">X / m</th><th class=\"num\">Y / "
      "m</th>"
      "<th class=\"num\">Z / m</th><th class=\"num\">vX / m</th><th class=\"num\">vY / m</th>"
      "<th class=\"num\">vZ / m</th><th class=\"num\">|v| / "
      "m</th><th>class</th></tr></thead>\n<tbody>\n";
  for (size_t i = 0; i < points.size(); ++i) {
    const PointResidual& p = points[i];
    if (levels[i] == QualityLevel::kNoResult) {
      html += "<tr><td>" + EscapeHtml(p.id) + "</td><td class=\"num\">" + Num(p.x, 3) +
              "</td><td class=\"num\">" + Num(p.y, 3) + "</td><td class=\"num\">" + Num(p.z, 3) +
              "</td><td colspan=\"4\" class=\"missing\">not intersected: no residual</td><td>"
              "<span class=\"swatch\" style=\"background:" +
              LevelColor(levels[i], q) + "\"></span>no result</td></tr>\n";
      continue;
    }
    html += "<tr><td>" + EscapeHtml(p.id) + "</td><td class=\"num\">" + Num(p.x, 3) +
            "</td><td class=\"num\">" + Num(p.y, 3) + "</td><td class=\"num\">" + Num(p.z, 3) +
            "</td><td class=\"num\">" + Num(p.vx, 3) + "</td><td class=\"num\">" + Num(p.vy, 3) +
            "</td><td class=\"num\">" + Num(p.vz, 3) + "</td><td class=\"num\">" +
            Num(std::sqrt(p.vx * p.vx + p.vy * p.vy + p.vz * p.vz), 3) +
            "</td><td><span class=\"swatch\" style=\"background:" + LevelColor(levels[i], q) +
            "\"></span>" + LevelName(levels[i]) + "</td></tr>\n";
  }
  html += "</tbody>\n<tfoot>\n";
  const auto foot = [&](const std::string& label, auto get) {
    html += "<tr><td colspan=\"4\">" + label + "</td><td class=\"num\">" + Num(get(stats.x), 3) +
            "</td><td class=\"num\">" + Num(get(stats.y), 3) + "</td><td class=\"num\">" +
            Num(get(stats.z), 3) + "</td><td colspan=\"2\"></td></tr>\n";
  };
  foot("RMSE / m", [](const AxisStatistics& a) { return a.rmse; });
  foot("Mean / m", [](const AxisStatistics& a) { return a.mean; });
  foot("Largest (signed) / m", [](const AxisStatistics& a) { return a.max_abs; });
  return html + "</tfoot>\n</table>\n";
}

std::string PointSection(const ReportModel& m, bool control) {
  const ResultFiles& f = m.input.files;
  const std::string id = control ? "control-points" : "check-points";
  std::string html = SectionStart(id, control ? "Control points" : "Check points");
  const std::string label = control ? "gcpres" : "cpres";
  const auto& points = control ? f.control_points : f.check_points;
  if (!f.Has(label))
    return html +
           Missing(EscapeHtml(f.project_name) + "." + label +
                   " is missing: no residuals to show.") +
           "</section>\n";
  if (points.empty())
    return html +
           Missing(control ? "No control point took part in the adjustment."
                           : "No check points were measured.") +
           "</section>\n";
  html += "<p>Residual = adjusted minus surveyed coordinate. " + Int(points.size()) +
          (control ? " control points; their residuals show the fit, not independent accuracy."
                   : " check points, not used in the adjustment.") +
          "</p>\n";
  const PointStatistics& stats = control ? m.control : m.check;
  if (stats.without_result > 0)
    html += "<p class=\"warning\">" + Int(stats.without_result) +
            " of these points could not be intersected (residuals written as 0.000000); they are "
            "left out of RMSE, mean and largest residual.</p>\n";
  html +=
      PointTable(points, control ? m.control_levels : m.check_levels, stats, m.input.quality.gcps);
  return html + "</section>\n";
}

std::string AccuracySection(const ReportModel& m) {
  std::string html = SectionStart("accuracy", "Accuracy statement");
  const AccuracyStatement& a = m.accuracy;
  if (!a.available)
    return html +
           Missing(
               "No check points: an independent accuracy statement cannot be made. Control point "
               "residuals show only how well the block fits its control.") +
           "</section>\n";
  html += "<div class=\"statement\"><p>Tested <strong>" + Num(a.horizontal_95, 3, "m") +
          "</strong> horizontal accuracy at 95&#160;% confidence level.</p><p>Tested <strong>" +
          Num(a.vertical_95, 3, "m") +
          "</strong> vertical accuracy at 95&#160;% confidence level.</p></div>\n";
  html +=
      "<table>\n<thead><tr><th>Figure</th><th "
      "class=\"num\">Value</th><th>How</th></tr></thead>\n<tbody>\n";
  html += "<tr><td>Check points</td><td class=\"num\">" + Int(a.check_points) +
          "</td><td>points not used in the adjustment</td></tr>\n";
  html += "<tr><td>RMSE<sub>x</sub></td><td class=\"num\">" + Num(a.rmse_x, 3, "m") +
          "</td><td>&#8730;(&#931;vX&#178; / n)</td></tr>\n";
  html += "<tr><td>RMSE<sub>y</sub></td><td class=\"num\">" + Num(a.rmse_y, 3, "m") +
          "</td><td>&#8730;(&#931;vY&#178; / n)</td></tr>\n";
  html += "<tr><td>RMSE<sub>r</sub></td><td class=\"num\">" + Num(a.rmse_r, 3, "m") +
          "</td><td>&#8730;(RMSE<sub>x</sub>&#178; + RMSE<sub>y</sub>&#178;)</td></tr>\n";
  html += "<tr><td>RMSE<sub>z</sub></td><td class=\"num\">" + Num(a.rmse_z, 3, "m") +
          "</td><td>&#8730;(&#931;vZ&#178; / n)</td></tr>\n";
  html += "<tr><td>Horizontal accuracy (95&#160;%)</td><td class=\"num\">" +
          Num(a.horizontal_95, 3, "m") + "</td><td>1.7308 &#215; RMSE<sub>r</sub></td></tr>\n";
  html += "<tr><td>Vertical accuracy (95&#160;%)</td><td class=\"num\">" +
          Num(a.vertical_95, 3, "m") +
          "</td><td>1.96 &#215; RMSE<sub>z</sub></td></tr>\n</tbody>\n</table>\n";
  if (a.too_few_points)
    html += "<p class=\"warning\"><strong>Weak statement:</strong> only " + Int(a.check_points) +
            " check points were measured; the positional-accuracy standards ask for at least " +
            Int(kMinCheckPointsForStatement) + ".</p>\n";
  if (m.check.without_result > 0)
    html += "<p class=\"warning\"><strong>Check points without result:</strong> " +
            Int(m.check.without_result) +
            " check points could not be intersected and are not part of this statement.</p>\n";
  if (a.axes_dissimilar)
    html +=
        "<p class=\"warning\"><strong>Approximate horizontal figure:</strong> RMSE<sub>x</sub> and "
        "RMSE<sub>y</sub> differ by more than the factor 1.7308 assumes (smaller / larger &lt; "
        "0.6).</p>\n";
  return html + "</section>\n";
}

std::string HistogramSection(const ReportModel& m) {
  std::string html = SectionStart("image-residuals", "Image residuals");
  const ResultFiles& f = m.input.files;
  if (!f.Has("ptres"))
    return html +
           Missing(EscapeHtml(f.project_name) + ".ptres is missing: no image residuals to show.") +
           "</section>\n";
  if (!m.HasPixelSize())
    return html +
           Missing(
               "The pixel size is unknown (no camera passport and no .atout): residuals cannot be "
               "converted to pixels.") +
           "</section>\n";
  if (m.residuals.v.empty())
    return html + Missing("The residual file lists no tie or control point.") + "</section>\n";
  const project::QualityClass& q = m.input.quality.tie_points;
  html +=
      "<p>Reprojection residuals of the " + Int(m.residuals.v.size()) +
      " tie and control point measurements, converted from &#181;m with the pixel size (1 px = " +
      Num(m.um_per_pixel, 2, "&#181;m") + "). Quality limits: high up to " +
      Limit(q.high_threshold) + kNbsp + "px" + ", middle up to " + Limit(q.middle_threshold) +
      kNbsp + "px" + ".</p>\n";
  const int n = static_cast<int>(m.residuals.v.size());
  html += "<figure>\n" +
          HistogramChart("histogram-x", "Histogram of the image residuals in x", "vx / px",
                         m.histogram_x, n, true, q) +
          "</figure>\n";
  html += "<figure>\n" +
          HistogramChart("histogram-y", "Histogram of the image residuals in y", "vy / px",
                         m.histogram_y, n, true, q) +
          "</figure>\n";
  html += "<figure>\n" +
          HistogramChart("histogram-v", "Histogram of the image residual magnitudes", "|v| / px",
                         m.histogram_v, n, false, q) +
          "</figure>\n";
  return html + "</section>\n";
}

std::string ImageSection(const ReportModel& m) {
  std::string html = SectionStart("image-figures", "Residuals and rays per image");
  if (m.images.empty())
    return html + Missing("No per-image residuals are available (see the notices above).") +
           "</section>\n";
  html += "<figure>\n" + ImageFiguresChart(m) +
          "<figcaption>RMS = &#8730;(&#931;(vx&#178; + vy&#178;) / n) over every image "
          "point of the image (tie, control and check points), coloured by the tie-point "
          "thresholds.</figcaption>\n</figure>\n";
  html +=
      "<table>\n<thead><tr><th>Image</th><th class=\"num\">rays</th><th class=\"num\">tie</th>"
      "<th class=\"num\">control</th><th class=\"num\">check</th><th class=\"num\">RMS x / px</th>"
      "<th class=\"num\">RMS y / px</th><th class=\"num\">RMS / px</th><th class=\"num\">largest / "
      "px</th></tr></thead>\n<tbody>\n";
  for (const ImageStatistics& s : m.images)
    html += "<tr><td>" + EscapeHtml(s.image) + "</td><td class=\"num\">" + Int(s.rays) +
            "</td><td class=\"num\">" + Int(s.tie_rays) + "</td><td class=\"num\">" +
            Int(s.control_rays) + "</td><td class=\"num\">" + Int(s.check_rays) +
            "</td><td class=\"num\">" + Num(s.rms_x_px, 3) + "</td><td class=\"num\">" +
            Num(s.rms_y_px, 3) + "</td><td class=\"num\">" + Num(s.rms_px, 3) +
            "</td><td class=\"num\">" + Num(s.max_px, 3) + "</td></tr>\n";
  return html + "</tbody>\n</table>\n</section>\n";
}

std::string OrientationSection(const ReportModel& m) {
  std::string html =
      SectionStart("orientation-changes", "Exterior orientation changes from GPS/IMU");
  bool any = false;
  for (const OrientationChange& c : m.changes) any = any || (c.adjusted && c.has_gps_imu);
  if (!any)
    return html +
           Missing(m.input.files.Has("extor")
                       ? "No adjusted image has GPS/IMU values to compare with."
                       : EscapeHtml(m.input.files.project_name) +
                             ".extor is missing: no adjusted orientations.") +
           "</section>\n";
  html += "<figure>\n" + OrientationChart(m, false) + "</figure>\n";
  html += "<figure>\n" + OrientationChart(m, true) + "</figure>\n";
  html +=
      "<table>\n<thead><tr><th>Image</th><th class=\"num\">dX / m</th><th class=\"num\">dY / m</th>"
      "<th class=\"num\">dZ / m</th><th class=\"num\">d&#969; / &#176;</th><th "
      "class=\"num\">d&#966; / &#176;</th>"
      "<th class=\"num\">d&#954; / &#176;</th></tr></thead>\n<tbody>\n";
  for (const OrientationChange& c : m.changes) {
    html += "<tr><td>" + EscapeHtml(c.image) + "</td>";
    if (!c.adjusted || !c.has_gps_imu) {
      html += "<td colspan=\"6\" class=\"missing\">" +
              std::string(!c.adjusted ? "not oriented by the adjustment" : "no GPS/IMU values") +
              "</td></tr>\n";
      continue;
    }
    for (double v : {c.dx, c.dy, c.dz}) html += "<td class=\"num\">" + Num(v, 3) + "</td>";
    for (double v : {c.domega, c.dphi, c.dkappa})
      html += "<td class=\"num\">" + Num(v * kRadToDeg, 4) + "</td>";
    html += "</tr>\n";
  }
  html +=
      "</tbody>\n</table>\n<p>Changes are adjusted minus GPS/IMU values; angle changes are wrapped "
      "into "
      "(&#8722;180&#176;, 180&#176;].</p>\n";
  return html + "</section>\n";
}

std::string SettingsSection(const ReportModel& m) {
  const ReportInput& in = m.input;
  std::string html = SectionStart("settings", "Appendix: settings and files");
  html += "<h3>Process settings</h3>\n";
  if (in.settings.empty()) {
    html += Missing("No process settings were given.");
  } else {
    html +=
        "<table>\n<thead><tr><th>Group</th><th>Setting</th><th>Value</th></tr></thead>\n<tbody>\n";
    for (const SettingRow& row : in.settings)
      html += "<tr><td>" + EscapeHtml(row.group) + "</td><td>" + EscapeHtml(row.property) +
              "</td><td>" + EscapeHtml(row.value) + "</td></tr>\n";
    html += "</tbody>\n</table>\n";
  }
  static const char* kRunLabels[] = {"Number of points to search per images",
                                     "Template area size (pix)",
                                     "Search area size (pix)",
                                     "Cross correlation coefficient (0-1)",
                                     "Maximum number of points per image",
                                     "Minimum number of measurements per point",
                                     "Maximum reprojection error (pix)",
                                     "Convergence limit",
                                     "GCPs weight",
                                     "Minimum number of iterations",
                                     "Maximum number of iterations"};
  if (in.files.Has("atout")) {
    html +=
        "<h3>Parameters of the run (from the aerial-triangulation report)</h3>\n<table>\n<tbody>\n";
    for (const char* label : kRunLabels) html += Row(label, OrDash(in.files.atout.Value(label)));
    html += "</tbody>\n</table>\n";
  }
  html +=
      "<h3>Quality "
      "classes</h3>\n<table>\n<thead><tr><th>Points</th><th>high</th><th>middle</th><th>low</th></"
      "tr></thead>\n<tbody>\n";
  const auto quality_row = [&](const std::string& what, const project::QualityClass& q,
                               const std::string& unit) {
    html += "<tr><td>" + what +
            "</td><td><span class=\"swatch\" style=\"background:" + Css(q.high_color) +
            "\"></span>&#8804; " + Limit(q.high_threshold) + kNbsp + unit +
            "</td><td><span class=\"swatch\" style=\"background:" + Css(q.middle_color) +
            "\"></span>&#8804; " + Limit(q.middle_threshold) + kNbsp + unit +
            "</td><td><span class=\"swatch\" style=\"background:" + Css(q.low_color) +
            "\"></span>&gt; " + Limit(q.middle_threshold) + kNbsp + unit + "</td></tr>\n";
  };
  quality_row("Tie points, images (RMS image residual)", in.quality.tie_points, "px");
  quality_row("Control and check points (3-D residual)", in.quality.gcps, "m");
  html += "</tbody>\n</table>\n";
  html +=
      "<h3>Result "
      "files</h3>\n<table>\n<thead><tr><th>File</th><th>State</th></tr></thead>\n<tbody>\n";
  for (const FileStatus& s : in.files.files) {
    std::string state = s.state == FileState::kRead ? "read"
                        : s.state == FileState::kMissing
                            ? "<strong>missing</strong>"
                            : "<strong>damaged</strong>: " + EscapeHtml(s.problem);
    if (s.stale) state += "; older than the .atout";
    html += "<tr><td>" + EscapeHtml(in.files.project_name + "." + s.label) + "</td><td>" + state +
            "</td></tr>\n";
  }
  html += "</tbody>\n</table>\n";
  return html + "</section>\n";
}

}  // namespace

std::string RenderHtmlReport(const ReportModel& m) {
  const ReportInput& in = m.input;
  std::string html =
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
      "<title>Aerial triangulation accuracy report: " +
      EscapeHtml(in.project_name) + "</title>\n<style>" + kStyle +
      "</style>\n</head>\n<body>\n<header>\n<h1>Aerial triangulation accuracy report</h1>\n"
      "<p class=\"subtitle\">Project <strong>" +
      EscapeHtml(in.project_name) + "</strong>" +
      (in.generated_at.empty() ? "" : " &#183; written " + EscapeHtml(in.generated_at)) +
      (in.program_version.empty() ? "" : " &#183; Vantri " + EscapeHtml(in.program_version)) +
      "</p>\n</header>\n";
  html += Notices(m);
  html += Summary(m);
  html += BlockMapSection(m);
  html += PointSection(m, true);
  html += PointSection(m, false);
  html += AccuracySection(m);
  html += HistogramSection(m);
  html += ImageSection(m);
  html += OrientationSection(m);
  html += SettingsSection(m);
  html +=
      "<footer>Written by Vantri from the project and the result files in its Bundle folder. Point "
      "residuals are "
      "adjusted minus surveyed coordinates.</footer>\n</body>\n</html>\n";
  return html;
}

}  // namespace vantri::report
