#pragma once
// The SVG charts of the accuracy report. Each is one <svg class="chart" data-chart="NAME"> with a
// <title>, a visible title, axis labels and a legend, 680 units wide (about 180 mm on A4).

#include <string>

#include "report/report_model.h"

namespace vantri::report {

// Footprints, projection centres, tie points by class, control and check points with their
// enlarged planimetric residual vectors, residual and ground scale bars ("block-map").
std::string BlockMapChart(const ReportModel& m);
// Residual histogram in pixels with the class bands and thresholds; `symmetric` for signed values.
std::string HistogramChart(const std::string& name, const std::string& title,
                           const std::string& x_title, const Histogram& histogram, int samples,
                           bool symmetric, const project::QualityClass& q);
// Per-image residual RMS and rays, worst first ("image-figures").
std::string ImageFiguresChart(const ReportModel& m);
// Position changes (m) or, with `attitude`, angle changes (degrees) from GPS/IMU per image
// ("orientation-changes", "attitude-changes").
std::string OrientationChart(const ReportModel& m, bool attitude);

}  // namespace vantri::report
