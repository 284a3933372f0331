#pragma once
// The accuracy report as one self-contained HTML file: no scripts, no external resources, charts
// as inline SVG (each with a title, axis labels and a legend), print rules for A4. Colours are the
// quality colours of the profile; markers and line patterns tell the classes apart in grey print.

#include <string>

#include "report/report_model.h"
#include "report/report_text.h"

namespace vantri::report {

// Section ids, in page order. Every report has all of them; a section without data says why.
inline constexpr const char* kReportSections[] = {
    "summary",         "block-map",     "control-points",      "check-points", "accuracy",
    "image-residuals", "image-figures", "orientation-changes", "settings"};

// data-chart names of the charts (one <svg class="chart"> each).
inline constexpr const char* kReportCharts[] = {
    "block-map",     "histogram-x",         "histogram-y",     "histogram-v",
    "image-figures", "orientation-changes", "attitude-changes"};

std::string RenderHtmlReport(const ReportModel& model);

}  // namespace vantri::report
