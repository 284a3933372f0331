#include "report/svg_charts.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "report/report_text.h"

namespace vantri::report {
namespace {

constexpr const char* kInk = "#222";
// The per-image chart shows at most this many images (worst first); the table lists all.
constexpr size_t kMaxImageBars = 40;
constexpr double kChartWidth = 680;

// ---- SVG building blocks -----------------------------------------------------------------------

struct Scale {
  double d0 = 0, d1 = 1;  // domain
  double r0 = 0, r1 = 1;  // range, SVG units
  double operator()(double v) const { return r0 + (v - d0) / (d1 - d0) * (r1 - r0); }
};

std::vector<double> Ticks(double d0, double d1, int max_ticks, double* step_out) {
  const double step = NiceStepAtLeast((d1 - d0) / max_ticks);
  std::vector<double> ticks;
  // Counted, not accumulated: at large coordinates a small step would not advance a sum.
  const double first = std::ceil(d0 / step - 1e-9);
  for (int i = 0; i <= 2 * max_ticks + 2; ++i) {
    const double t = (first + i) * step;
    if (t > d1 + step * 1e-9) break;
    ticks.push_back(std::fabs(t) < step * 1e-9 ? 0.0 : t);
  }
  if (step_out) *step_out = step;
  return ticks;
}

std::string SvgText(double x, double y, const std::string& text, const std::string& extra = "") {
  return "<text x=\"" + Attr(x) + "\" y=\"" + Attr(y) + "\"" + (extra.empty() ? "" : " " + extra) +
         ">" + text + "</text>\n";
}

std::string SvgLine(double x1, double y1, double x2, double y2, const std::string& style) {
  return "<line x1=\"" + Attr(x1) + "\" y1=\"" + Attr(y1) + "\" x2=\"" + Attr(x2) + "\" y2=\"" +
         Attr(y2) + "\" " + style + "/>\n";
}

std::string SvgRect(double x, double y, double w, double h, const std::string& style) {
  return "<rect x=\"" + Attr(x) + "\" y=\"" + Attr(y) + "\" width=\"" + Attr(std::max(w, 0.0)) +
         "\" height=\"" + Attr(std::max(h, 0.0)) + "\" " + style + "/>\n";
}

std::string OpenChart(const std::string& name, double height, const std::string& title) {
  return "<svg class=\"chart\" data-chart=\"" + name +
         "\" xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 " + Attr(kChartWidth) + " " +
         Attr(height) + "\" width=\"" + Attr(kChartWidth) + "\" height=\"" + Attr(height) +
         "\" role=\"img\" font-size=\"11\" fill=\"" + kInk + "\">\n<title>" + title + "</title>\n" +
         SvgText(kChartWidth / 2, 17, title,
                 "text-anchor=\"middle\" font-size=\"13\" font-weight=\"bold\"");
}

// Marker shapes tell the classes apart without colour.
std::string MarkerPath(QualityLevel level, double x, double y, double s) {
  const auto p = [](double v) { return Num(v, 1); };
  switch (level) {
    case QualityLevel::kHigh:
      return "M" + p(x - s) + " " + p(y) + "a" + p(s) + " " + p(s) + " 0 1 0 " + p(2 * s) + " 0a" +
             p(s) + " " + p(s) + " 0 1 0 " + p(-2 * s) + " 0z";
    case QualityLevel::kMiddle:
      return "M" + p(x - s) + " " + p(y - s) + "h" + p(2 * s) + "v" + p(2 * s) + "h" + p(-2 * s) +
             "z";
    case QualityLevel::kLow:
      return "M" + p(x) + " " + p(y - 1.3 * s) + "L" + p(x + 1.2 * s) + " " + p(y + 0.8 * s) + "L" +
             p(x - 1.2 * s) + " " + p(y + 0.8 * s) + "z";
    case QualityLevel::kNoResult:
      break;
  }
  return "M" + p(x - s) + " " + p(y - s) + "L" + p(x + s) + " " + p(y + s) + "M" + p(x - s) + " " +
         p(y + s) + "L" + p(x + s) + " " + p(y - s);
}

std::string MarkerStyle(QualityLevel level, const project::QualityClass& q, double stroke) {
  if (level == QualityLevel::kNoResult)
    return "fill=\"none\" stroke=\"#808080\" stroke-width=\"" + Num(stroke * 2, 1) + "\"";
  return "fill=\"" + LevelColor(level, q) + "\" stroke=\"#000\" stroke-width=\"" + Num(stroke, 1) +
         "\"";
}

std::string Triangle(double x, double y, double s) {
  return "M" + Num(x, 1) + " " + Num(y - 1.2 * s, 1) + "L" + Num(x + 1.1 * s, 1) + " " +
         Num(y + 0.85 * s, 1) + "L" + Num(x - 1.1 * s, 1) + " " + Num(y + 0.85 * s, 1) + "z";
}

std::string Diamond(double x, double y, double s) {
  return "M" + Num(x, 1) + " " + Num(y - s, 1) + "L" + Num(x + s, 1) + " " + Num(y, 1) + "L" +
         Num(x, 1) + " " + Num(y + s, 1) + "L" + Num(x - s, 1) + " " + Num(y, 1) + "z";
}

// Axis lines, ticks with labels and axis titles around a plot area.
void DrawAxes(std::string& svg, const Scale& x, const Scale& y, const std::string& x_title,
              const std::string& y_title, int x_ticks = 6, int y_ticks = 5) {
  const double left = std::min(x.r0, x.r1), right = std::max(x.r0, x.r1);
  const double top = std::min(y.r0, y.r1), bottom = std::max(y.r0, y.r1);
  svg += SvgRect(left, top, right - left, bottom - top,
                 "fill=\"none\" stroke=\"#444\" stroke-width=\"0.8\"");
  double step = 1;
  for (double t : Ticks(std::min(x.d0, x.d1), std::max(x.d0, x.d1), x_ticks, &step)) {
    svg += SvgLine(x(t), bottom, x(t), bottom + 4, "stroke=\"#444\"");
    svg += SvgText(x(t), bottom + 15, Num(t, DecimalsForStep(step)), "text-anchor=\"middle\"");
  }
  for (double t : Ticks(std::min(y.d0, y.d1), std::max(y.d0, y.d1), y_ticks, &step)) {
    svg += SvgLine(left - 4, y(t), left, y(t), "stroke=\"#444\"");
    svg += SvgText(left - 6, y(t) + 4, Num(t, DecimalsForStep(step)), "text-anchor=\"end\"");
  }
  svg +=
      SvgText((left + right) / 2, bottom + 31, x_title, "text-anchor=\"middle\" font-size=\"12\"");
  const double ty = (top + bottom) / 2;
  svg += SvgText(
      14, ty, y_title,
      "text-anchor=\"middle\" font-size=\"12\" transform=\"rotate(-90 14 " + Attr(ty) + ")\"");
}

// Width of a text at the 11 px chart font (about 0.58 em per character; an entity is one).
double TextWidth(const std::string& text) {
  double characters = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '&') {
      const size_t end = text.find(';', i);
      if (end != std::string::npos) i = end;
    } else if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) {
      continue;  // UTF-8 continuation byte
    }
    ++characters;
  }
  return 6.4 * characters;
}

// One legend entry: a symbol drawn by `symbol` at (x, y) and its text; returns the next x.
double LegendItem(std::string& svg, double x, double y, const std::string& symbol_svg,
                  const std::string& text) {
  svg += symbol_svg;
  svg += SvgText(x + 16, y + 4, text);
  return x + 16 + TextWidth(text) + 14;
}

}  // namespace

// ---- Block map ---------------------------------------------------------------------------------

namespace {

// The plot area of the block map: one scale for both axes, the extent padded by 4 %.
struct MapFrame {
  double left = 80, right = kChartWidth - 30, top = 30, bottom = 0;
  Scale sx, sy;
  double PixelsPerUnit() const { return (right - left) / (sx.d1 - sx.d0); }
};

MapFrame FitMap(const std::array<double, 4>& e) {
  MapFrame f;
  double w = e[2] - e[0], h = e[3] - e[1];
  const double pad = 0.04 * std::max({w, h, 1.0});
  double x0 = e[0] - pad, x1 = e[2] + pad, y0 = e[1] - pad, y1 = e[3] + pad;
  w = x1 - x0;
  h = y1 - y0;
  const double plot_w = f.right - f.left;
  double plot_h = plot_w * h / w;
  // Keep one scale for both axes: widen the domain of the shorter side.
  if (plot_h > 640) {
    plot_h = 640;
    const double want = h * plot_w / plot_h;
    x0 -= (want - w) / 2;
    x1 += (want - w) / 2;
  } else if (plot_h < 260) {
    plot_h = 260;
    const double want = w * plot_h / plot_w;
    y0 -= (want - h) / 2;
    y1 += (want - h) / 2;
  }
  f.bottom = f.top + plot_h;
  f.sx = {x0, x1, f.left, f.right};
  f.sy = {y0, y1, f.bottom, f.top};
  return f;
}

std::string MapDefs(const MapFrame& f) {
  return "<defs><marker id=\"vantri-arrow\" viewBox=\"0 0 10 10\" refX=\"9\" refY=\"5\" "
         "markerWidth=\"7\" markerHeight=\"7\" orient=\"auto-start-reverse\"><path d=\"M0 0L10 "
         "5L0 10z\" fill=\"#000\"/></marker><clipPath id=\"vantri-map-clip\"><rect x=\"" +
         Attr(f.left) + "\" y=\"" + Attr(f.top) + "\" width=\"" + Attr(f.right - f.left) +
         "\" height=\"" + Attr(f.bottom - f.top) + "\"/></clipPath></defs>\n";
}

std::string CentreCross(double px, double py) {
  return "M" + Attr(px - 4) + " " + Attr(py) + "h8M" + Attr(px) + " " + Attr(py - 4) + "v8";
}

std::string MapFootprintsAndCentres(const ReportModel& m, const MapFrame& f) {
  std::string svg;
  for (const auto& outline : m.input.footprints) {
    if (outline.size() < 3) continue;
    std::string points;
    for (const auto& v : outline) points += Attr(f.sx(v[0])) + "," + Attr(f.sy(v[1])) + " ";
    svg += "<polygon points=\"" + points +
           "\" fill=\"#9aa7b4\" fill-opacity=\"0.07\" stroke=\"#7b8794\" stroke-width=\"0.7\"/>\n";
  }
  std::string centres;
  for (const auto& c : m.centres) centres += CentreCross(f.sx(c[0]), f.sy(c[1]));
  return svg + "<path d=\"" + centres +
         "\" stroke=\"#1d3557\" stroke-width=\"1.3\" fill=\"none\"/>\n";
}

// One path per class keeps a block of many thousand tie points small.
std::string MapTiePoints(const ReportModel& m, const MapFrame& f) {
  std::string svg;
  for (QualityLevel level :
       {QualityLevel::kNoResult, QualityLevel::kHigh, QualityLevel::kMiddle, QualityLevel::kLow}) {
    std::string d;
    for (const MapPoint& p : m.tie_points)
      if (p.level == level) d += MarkerPath(level, f.sx(p.x), f.sy(p.y), 2.3);
    if (!d.empty())
      svg +=
          "<path d=\"" + d + "\" " + MarkerStyle(level, m.input.quality.tie_points, 0.4) + "/>\n";
  }
  return svg;
}

// Control (triangles) or check points (diamonds) with their enlarged planimetric residuals.
std::string MapSurveyPoints(const ReportModel& m, const MapFrame& f, bool control) {
  std::string svg;
  const double ex = m.vector_scale.exaggeration;
  for (const MapPoint& p : control ? m.control_points : m.check_points) {
    const double px = f.sx(p.x), py = f.sy(p.y);
    if (std::hypot(p.vx, p.vy) > 0 && m.vector_scale.bar_residual > 0)
      svg += SvgLine(px, py, f.sx(p.x + p.vx * ex), f.sy(p.y + p.vy * ex),
                     "stroke=\"#000\" stroke-width=\"1.6\" marker-end=\"url(#vantri-arrow)\"");
    svg += "<path d=\"" + (control ? Triangle(px, py, 6.5) : Diamond(px, py, 6.5)) + "\" fill=\"" +
           LevelColor(p.level, m.input.quality.gcps) +
           "\" stroke=\"#000\" stroke-width=\"1.3\"/>\n";
    svg += SvgText(px + 9, py - 7, EscapeHtml(p.id),
                   "font-size=\"10\" font-weight=\"bold\" stroke=\"#fff\" stroke-width=\"3\" "
                   "paint-order=\"stroke\"");
  }
  return svg;
}

void LegendOfSymbols(std::string& svg, const ReportModel& m, double x, double y) {
  x = LegendItem(
      svg, x, y,
      SvgRect(x, y - 5, 12, 10, "fill=\"#9aa7b4\" fill-opacity=\"0.15\" stroke=\"#7b8794\""),
      "image footprint");
  x = LegendItem(
      svg, x, y,
      "<path d=\"" + CentreCross(x + 6, y) + "\" stroke=\"#1d3557\" stroke-width=\"1.3\"/>\n",
      m.centres_adjusted ? "projection centre (adjusted)" : "projection centre (GPS)");
  x = LegendItem(svg, x, y,
                 "<path d=\"" + Triangle(x + 6, y, 5) +
                     "\" fill=\"#fff\" stroke=\"#000\" stroke-width=\"1.2\"/>\n",
                 "control point");
  LegendItem(svg, x, y,
             "<path d=\"" + Diamond(x + 6, y, 5) +
                 "\" fill=\"#fff\" stroke=\"#000\" stroke-width=\"1.2\"/>\n",
             "check point");
}

void LegendOfClasses(std::string& svg, const project::QualityClass& tq,
                     const project::QualityClass& gq, double x, double y) {
  svg += SvgText(x, y + 4, "Tie points:");
  double at = x + 70;
  const std::vector<std::pair<QualityLevel, std::string>> tie_classes = {
      {QualityLevel::kHigh, "&#8804; " + Limit(tq.high_threshold) + " px"},
      {QualityLevel::kMiddle, "&#8804; " + Limit(tq.middle_threshold) + " px"},
      {QualityLevel::kLow, "&gt; " + Limit(tq.middle_threshold) + " px"},
      {QualityLevel::kNoResult, "no residual"}};
  for (const auto& [level, text] : tie_classes)
    at = LegendItem(svg, at, y,
                    "<path d=\"" + MarkerPath(level, at + 6, y, 4) + "\" " +
                        MarkerStyle(level, tq, 0.6) + "/>\n",
                    text);
  svg += SvgText(at + 6, y + 4, "(RMS of the image residuals)", "fill=\"#555\"");
  y += 19;
  svg += SvgText(x, y + 4, "Control and check points:");
  at = x + 158;
  const std::vector<std::pair<QualityLevel, std::string>> point_classes = {
      {QualityLevel::kHigh, "&#8804; " + Limit(gq.high_threshold) + " m"},
      {QualityLevel::kMiddle, "&#8804; " + Limit(gq.middle_threshold) + " m"},
      {QualityLevel::kLow, "&gt; " + Limit(gq.middle_threshold) + " m"}};
  for (const auto& [level, text] : point_classes)
    at = LegendItem(svg, at, y,
                    "<path d=\"" + Triangle(at + 6, y, 5) + "\" fill=\"" + LevelColor(level, gq) +
                        "\" stroke=\"#000\" stroke-width=\"1\"/>\n",
                    text);
  svg += SvgText(at + 6, y + 4, "(3-D residual)", "fill=\"#555\"");
}

// The residual arrow at the vector scale on the left, the ground scale bar on the right.
void LegendOfScales(std::string& svg, const ReportModel& m, const MapFrame& f, double x, double y) {
  const double ex = m.vector_scale.exaggeration;
  if (m.vector_scale.bar_residual > 0) {
    const double bar = m.vector_scale.bar_residual * ex * f.PixelsPerUnit();
    svg += SvgLine(x, y, x + bar, y,
                   "stroke=\"#000\" stroke-width=\"1.6\" marker-end=\"url(#vantri-arrow)\"");
    x = LegendItem(svg, x + bar - 10, y, "",
                   Num(m.vector_scale.bar_residual, DecimalsForStep(m.vector_scale.bar_residual)) +
                       " m residual (vectors " + Num(ex, 0) + " times enlarged)");
  } else {
    x = LegendItem(svg, x - 16, y, "", "no planimetric residuals to draw");
  }
  const double ground = m.scale_bar * f.PixelsPerUnit();
  const std::string ground_text =
      Num(m.scale_bar, DecimalsForStep(m.scale_bar)) + " m on the ground";
  x = std::max(x, kChartWidth - 8 - TextWidth(ground_text) - 6 - ground);
  svg += "<path d=\"M" + Attr(x) + " " + Attr(y - 4) + "v8M" + Attr(x) + " " + Attr(y) + "h" +
         Attr(ground) + "M" + Attr(x + ground) + " " + Attr(y - 4) +
         "v8\" stroke=\"#000\" stroke-width=\"1.6\" fill=\"none\"/>\n";
  svg += SvgText(x + ground + 6, y + 4, ground_text);
}

}  // namespace

std::string BlockMapChart(const ReportModel& m) {
  const MapFrame f = FitMap(m.extent);
  const double legend_top = f.bottom + 50;
  std::string svg = OpenChart("block-map", legend_top + 74,
                              "Block map: residual classes and planimetric residual vectors");
  svg += MapDefs(f);
  DrawAxes(svg, f.sx, f.sy, "Easting X / m", "Northing Y / m", 5, 5);
  svg += "<g clip-path=\"url(#vantri-map-clip)\">\n" + MapFootprintsAndCentres(m, f) +
         MapTiePoints(m, f) + MapSurveyPoints(m, f, true) + MapSurveyPoints(m, f, false) + "</g>\n";
  LegendOfSymbols(svg, m, f.left, legend_top);
  LegendOfClasses(svg, m.input.quality.tie_points, m.input.quality.gcps, f.left, legend_top + 19);
  LegendOfScales(svg, m, f, f.left, legend_top + 58);
  return svg + "</svg>\n";
}

// ---- Histograms --------------------------------------------------------------------------------

std::string HistogramChart(const std::string& name, const std::string& title,
                           const std::string& x_title, const Histogram& histogram, int samples,
                           bool symmetric, const project::QualityClass& q) {
  const double left = 62, right = kChartWidth - 14, top = 30, bottom = 196;
  const double height = bottom + 66;
  int peak = 1;
  for (int c : histogram.counts) peak = std::max(peak, c);
  double step = 1;
  Ticks(0, peak, 5, &step);
  const double y_top = std::ceil(peak * 1.08 / step) * step;
  const Scale sx{histogram.edges.front(), histogram.edges.back(), left, right};
  const Scale sy{0, y_top, bottom, top};
  std::string svg = OpenChart(name, height, title);
  // Class bands behind the bars.
  const auto band = [&](double from, double to, QualityLevel level, double opacity) {
    from = std::clamp(from, sx.d0, sx.d1);
    to = std::clamp(to, sx.d0, sx.d1);
    if (to <= from) return;
    svg +=
        SvgRect(sx(from), top, sx(to) - sx(from), bottom - top,
                "fill=\"" + LevelColor(level, q) + "\" fill-opacity=\"" + Num(opacity, 2) + "\"");
  };
  const double hi = q.high_threshold, mid = q.middle_threshold, end = sx.d1;
  band(symmetric ? -hi : 0, hi, QualityLevel::kHigh, 0.16);
  band(hi, mid, QualityLevel::kMiddle, 0.22);
  band(mid, end, QualityLevel::kLow, 0.14);
  if (symmetric) {
    band(-mid, -hi, QualityLevel::kMiddle, 0.22);
    band(sx.d0, -mid, QualityLevel::kLow, 0.14);
  }
  for (size_t i = 0; i < histogram.counts.size(); ++i) {
    if (histogram.counts[i] == 0) continue;
    const double x0 = sx(histogram.edges[i]), x1 = sx(histogram.edges[i + 1]);
    svg += SvgRect(x0 + 0.5, sy(histogram.counts[i]), x1 - x0 - 1, bottom - sy(histogram.counts[i]),
                   "fill=\"#55606b\" stroke=\"#1e242a\" stroke-width=\"0.6\"");
  }
  DrawAxes(svg, sx, sy, x_title, "number of residuals", 10, 5);
  // Threshold lines: dashed for the high-quality limit, dotted for the middle-quality limit.
  const auto mark = [&](double at, const std::string& dash, const std::string& label) {
    if (at < sx.d0 || at > sx.d1) return;
    svg += SvgLine(sx(at), top, sx(at), bottom,
                   "stroke=\"#000\" stroke-width=\"1.4\" stroke-dasharray=\"" + dash + "\"");
    // Right of the line, left of it near the right edge; on a white ground for readability.
    const bool left_of_line = sx(at) > right - 40;
    svg +=
        SvgText(sx(at) + (left_of_line ? -3 : 3), top + 11, label,
                std::string("font-size=\"10\" text-anchor=\"") + (left_of_line ? "end" : "start") +
                    "\" stroke=\"#fff\" stroke-width=\"3\" paint-order=\"stroke\"");
  };
  for (double sign : symmetric ? std::vector<double>{-1, 1} : std::vector<double>{1}) {
    mark(sign * hi, "6 3", Limit(sign * hi) + " px");
    mark(sign * mid, "2 2", Limit(sign * mid) + " px");
  }
  const double y = bottom + 52;
  double x = left;
  x = LegendItem(svg, x, y, SvgRect(x, y - 5, 12, 10, "fill=\"#55606b\" stroke=\"#1e242a\""),
                 "residuals (" + Int(samples) + ", bins of " +
                     Num(histogram.bin_width, DecimalsForStep(histogram.bin_width)) + " px)");
  x = LegendItem(
      svg, x, y,
      SvgLine(x, y, x + 12, y, "stroke=\"#000\" stroke-width=\"1.4\" stroke-dasharray=\"6 3\""),
      "high limit " + Limit(hi) + " px");
  x = LegendItem(
      svg, x, y,
      SvgLine(x, y, x + 12, y, "stroke=\"#000\" stroke-width=\"1.4\" stroke-dasharray=\"2 2\""),
      "middle limit " + Limit(mid) + " px");
  LegendItem(
      svg, x, y,
      SvgRect(x, y - 5, 4, 10,
              "fill=\"" + LevelColor(QualityLevel::kHigh, q) + "\" fill-opacity=\"0.4\"") +
          SvgRect(x + 4, y - 5, 4, 10,
                  "fill=\"" + LevelColor(QualityLevel::kMiddle, q) + "\" fill-opacity=\"0.5\"") +
          SvgRect(x + 8, y - 5, 4, 10,
                  "fill=\"" + LevelColor(QualityLevel::kLow, q) + "\" fill-opacity=\"0.4\""),
      "class bands");
  svg += "</svg>\n";
  return svg;
}

// ---- Per-image figures -------------------------------------------------------------------------

namespace {

std::string ShortName(const std::string& name, size_t max_chars) {
  return name.size() <= max_chars ? name : name.substr(0, max_chars - 1) + "~";
}

// A bar in the class colour, hatched for the middle and low classes (patterns of the per-image
// chart).
std::string ClassBar(double x, double y, double w, double h, QualityLevel level,
                     const project::QualityClass& q) {
  std::string bar = SvgRect(x, y, w, h, "fill=\"" + LevelColor(level, q) + "\" stroke=\"none\"");
  if (level == QualityLevel::kMiddle || level == QualityLevel::kLow)
    bar += SvgRect(x, y, w, h,
                   std::string("fill=\"url(#vantri-hatch-") +
                       (level == QualityLevel::kMiddle ? "middle" : "low") + ")\" stroke=\"none\"");
  return bar + SvgRect(x, y, w, h, "fill=\"none\" stroke=\"#000\" stroke-width=\"0.6\"");
}

}  // namespace

namespace {

// Two panels sharing one row per image: the RMS bars and the stacked ray counts.
struct ImagePanels {
  static constexpr double kRowHeight = 15, kTop = 48, kLabelRight = 112;
  size_t rows = 0;
  double bottom = 0;
  Scale rms{0, 1, 118, 398};
  Scale rays{0, 1, 440, kChartWidth - 16};
};

ImagePanels FitImagePanels(const ReportModel& m) {
  ImagePanels p;
  p.rows = std::min(m.images.size(), kMaxImageBars);
  p.bottom = ImagePanels::kTop + p.rows * ImagePanels::kRowHeight;
  double rms_max = m.input.quality.tie_points.middle_threshold;
  int rays_max = 1;
  for (size_t i = 0; i < p.rows; ++i) {
    rms_max = std::max(rms_max, m.images[i].rms_px);
    rays_max = std::max(rays_max, m.images[i].rays);
  }
  p.rms.d1 = rms_max * 1.18;  // room for the value labels
  p.rays.d1 = rays_max * 1.12;
  return p;
}

constexpr std::pair<const char*, const char*> kRayFills[] = {
    {"#3b4650", "tie"}, {"#9aa5b1", "control"}, {"#e8ecef", "check point rays"}};

std::string ImageRow(const ImageStatistics& image, size_t index, const ImagePanels& p,
                     const project::QualityClass& q) {
  const double h = ImagePanels::kRowHeight;
  const double y = ImagePanels::kTop + index * h;
  std::string svg;
  if (index % 2 == 1)
    svg += SvgRect(4, y, kChartWidth - 8, h, "fill=\"#000\" fill-opacity=\"0.04\"");
  svg += SvgText(ImagePanels::kLabelRight, y + h - 4, EscapeHtml(ShortName(image.image, 18)),
                 "text-anchor=\"end\"");
  const QualityLevel level = ClassifyResidual(image.rms_px, q);
  svg += ClassBar(p.rms.r0, y + 2, p.rms(image.rms_px) - p.rms.r0, h - 4, level, q);
  svg += SvgText(p.rms(image.rms_px) + 3, y + h - 4, Num(image.rms_px, 2), "font-size=\"9.5\"");
  double x = p.rays.r0;
  const int counts[] = {image.tie_rays, image.control_rays, image.check_rays};
  for (int k = 0; k < 3; ++k) {
    if (counts[k] == 0) continue;
    const double w = p.rays(counts[k]) - p.rays.r0;
    svg += SvgRect(
        x, y + 2, w, h - 4,
        std::string("fill=\"") + kRayFills[k].first + "\" stroke=\"#000\" stroke-width=\"0.6\"");
    x += w;
  }
  return svg + SvgText(x + 3, y + h - 4, Int(image.rays), "font-size=\"9.5\"");
}

void PanelAxis(std::string& svg, const Scale& s, double top, double bottom,
               const std::string& title) {
  svg += SvgLine(s.r0, top, s.r0, bottom, "stroke=\"#444\"");
  svg += SvgLine(s.r0, bottom, s.r1, bottom, "stroke=\"#444\"");
  double step = 1;
  for (double t : Ticks(s.d0, s.d1, 5, &step)) {
    svg += SvgLine(s(t), bottom, s(t), bottom + 4, "stroke=\"#444\"");
    svg += SvgText(s(t), bottom + 15, Num(t, DecimalsForStep(step)), "text-anchor=\"middle\"");
  }
  svg += SvgText((s.r0 + s.r1) / 2, bottom + 31, title, "text-anchor=\"middle\" font-size=\"12\"");
}

std::string DashedLine(double x1, double y1, double x2, double y2, const char* dash) {
  return SvgLine(
      x1, y1, x2, y2,
      std::string("stroke=\"#000\" stroke-width=\"1.2\" stroke-dasharray=\"") + dash + "\"");
}

void ImageFiguresLegend(std::string& svg, const project::QualityClass& q, double y) {
  double x = 16;
  for (QualityLevel level : {QualityLevel::kHigh, QualityLevel::kMiddle, QualityLevel::kLow})
    x = LegendItem(svg, x, y, ClassBar(x, y - 5, 12, 10, level, q), LevelName(level));
  x = LegendItem(svg, x, y, DashedLine(x, y, x + 12, y, "6 3"), Limit(q.high_threshold) + " px");
  x = LegendItem(svg, x, y, DashedLine(x, y, x + 12, y, "2 2"), Limit(q.middle_threshold) + " px");
  x += 14;
  for (const auto& [fill, text] : kRayFills)
    x = LegendItem(
        svg, x, y,
        SvgRect(x, y - 5, 12, 10,
                std::string("fill=\"") + fill + "\" stroke=\"#000\" stroke-width=\"0.6\""),
        text);
}

}  // namespace

std::string ImageFiguresChart(const ReportModel& m) {
  const project::QualityClass& q = m.input.quality.tie_points;
  const ImagePanels p = FitImagePanels(m);
  const double top = ImagePanels::kTop;
  std::string svg = OpenChart("image-figures", p.bottom + 74,
                              p.rows < m.images.size()
                                  ? "Image residual RMS and rays per image (the " + Int(p.rows) +
                                        " worst of " + Int(m.images.size()) + " images)"
                                  : "Image residual RMS and rays per image, worst first");
  // Hatching keeps the middle and low classes apart from the high one in grey print.
  svg +=
      "<defs><pattern id=\"vantri-hatch-middle\" width=\"5\" height=\"5\" "
      "patternUnits=\"userSpaceOnUse\" patternTransform=\"rotate(45)\"><line x1=\"0\" y1=\"0\" "
      "x2=\"0\" y2=\"5\" stroke=\"#000\" stroke-width=\"0.9\"/></pattern><pattern "
      "id=\"vantri-hatch-low\" width=\"4\" height=\"4\" patternUnits=\"userSpaceOnUse\" "
      "patternTransform=\"rotate(45)\"><path d=\"M0 0V4M0 0H4\" stroke=\"#000\" "
      "stroke-width=\"0.9\"/></pattern></defs>\n";
  const std::string bold_middle = "text-anchor=\"middle\" font-weight=\"bold\"";
  svg += SvgText(ImagePanels::kLabelRight, top - 8, "image",
                 "text-anchor=\"end\" font-weight=\"bold\"");
  svg += SvgText((p.rms.r0 + p.rms.r1) / 2, top - 8, "RMS of image residuals", bold_middle);
  svg += SvgText((p.rays.r0 + p.rays.r1) / 2, top - 8, "Rays (image points)", bold_middle);
  for (size_t i = 0; i < p.rows; ++i) svg += ImageRow(m.images[i], i, p, q);
  PanelAxis(svg, p.rms, top, p.bottom, "RMS / px");
  PanelAxis(svg, p.rays, top, p.bottom, "number of rays");
  svg += DashedLine(p.rms(q.high_threshold), top, p.rms(q.high_threshold), p.bottom, "6 3");
  svg += DashedLine(p.rms(q.middle_threshold), top, p.rms(q.middle_threshold), p.bottom, "2 2");
  ImageFiguresLegend(svg, q, p.bottom + 50);
  return svg + "</svg>\n";
}

// ---- Orientation changes -----------------------------------------------------------------------

// Position changes (m) or, with `attitude`, angle changes (degrees) as grouped bars per image.
std::string OrientationChart(const ReportModel& m, bool attitude) {
  std::vector<const OrientationChange*> rows;
  for (const OrientationChange& c : m.changes)
    if (c.adjusted && c.has_gps_imu) rows.push_back(&c);
  const double left = 62, right = kChartWidth - 14, top = 30, bottom = 210;
  const double height = bottom + 96;
  double largest = 0;
  const auto values_of = [attitude](const OrientationChange& c) {
    return attitude ? std::array<double, 3>{c.domega * kRadToDeg, c.dphi * kRadToDeg,
                                            c.dkappa * kRadToDeg}
                    : std::array<double, 3>{c.dx, c.dy, c.dz};
  };
  for (const OrientationChange* c : rows)
    for (double v : values_of(*c)) largest = std::max(largest, std::fabs(v));
  if (largest <= 0) largest = attitude ? 0.001 : 0.01;
  double step = 1;
  Ticks(-largest, largest, 6, &step);
  const double limit = std::ceil(largest * 1.05 / step) * step;
  const Scale sy{-limit, limit, bottom, top};
  const double slot = (right - left) / rows.size();
  std::string svg =
      attitude ? OpenChart("attitude-changes", height,
                           "Attitude changes from IMU (adjusted minus IMU) per image")
               : OpenChart("orientation-changes", height,
                           "Projection centre changes from GPS (adjusted minus GPS) per image");
  svg += SvgRect(left, top, right - left, bottom - top,
                 "fill=\"none\" stroke=\"#444\" stroke-width=\"0.8\"");
  svg += SvgLine(left, sy(0), right, sy(0), "stroke=\"#444\" stroke-width=\"0.8\"");
  const char* fills[] = {"#1d3557", "#7d9cc0", "#e9c46a"};
  for (size_t i = 0; i < rows.size(); ++i) {
    const std::array<double, 3> values = values_of(*rows[i]);
    const double bar = std::min(slot * 0.8 / 3, 14.0);
    const double start = left + i * slot + (slot - 3 * bar) / 2;
    for (int k = 0; k < 3; ++k) {
      const double y0 = sy(std::max(values[k], 0.0)), y1 = sy(std::min(values[k], 0.0));
      svg += SvgRect(start + k * bar, y0, bar, y1 - y0,
                     std::string("fill=\"") + fills[k] + "\" stroke=\"#000\" stroke-width=\"0.4\"");
    }
  }
  // Image names under the slots, every n-th when crowded.
  const size_t every =
      std::max<size_t>(1, static_cast<size_t>(std::ceil(rows.size() * 11.0 / (right - left))));
  for (size_t i = 0; i < rows.size(); i += every) {
    const double x = left + (i + 0.5) * slot;
    svg += SvgLine(x, bottom, x, bottom + 3, "stroke=\"#444\"");
    svg += SvgText(x + 3, bottom + 8, EscapeHtml(ShortName(rows[i]->image, 12)),
                   "font-size=\"9.5\" text-anchor=\"end\" transform=\"rotate(-60 " + Attr(x + 3) +
                       " " + Attr(bottom + 8) + ")\"");
  }
  for (double t : Ticks(-limit, limit, 6, &step)) {
    svg += SvgLine(left - 4, sy(t), left, sy(t), "stroke=\"#444\"");
    svg += SvgText(left - 6, sy(t) + 4, Num(t, DecimalsForStep(step)), "text-anchor=\"end\"");
  }
  svg +=
      SvgText((left + right) / 2, bottom + 64, "image", "text-anchor=\"middle\" font-size=\"12\"");
  const double ty = (top + bottom) / 2;
  svg += SvgText(
      14, ty, attitude ? "change / &#176;" : "change / m",
      "text-anchor=\"middle\" font-size=\"12\" transform=\"rotate(-90 14 " + Attr(ty) + ")\"");
  double x = left, y = bottom + 84;
  const char* names[] = {"dX (easting)", "dY (northing)", "dZ (height)"};
  const char* angle_names[] = {"d&#969; (omega)", "d&#966; (phi)", "d&#954; (kappa)"};
  for (int k = 0; k < 3; ++k)
    x = LegendItem(
        svg, x, y,
        SvgRect(x, y - 5, 12, 10,
                std::string("fill=\"") + fills[k] + "\" stroke=\"#000\" stroke-width=\"0.4\""),
        attitude ? angle_names[k] : names[k]);
  svg += "</svg>\n";
  return svg;
}

}  // namespace vantri::report
