#pragma once
// Text of the accuracy report: numbers with units, colours, class names, HTML escaping. Shared by
// the HTML page and its SVG charts.

#include <string>

#include "project/quality_thresholds.h"
#include "report/statistics.h"

namespace vantri::report {

inline constexpr const char* kNbsp = "&#160;";
inline constexpr double kRadToDeg = 57.295779513082320876798;

// Fixed decimals; "-0.000" is written "0.000".
std::string Num(double value, int decimals);
// Number, non-breaking space, unit.
std::string Num(double value, int decimals, const std::string& unit);
// A quality threshold as set by the operator: up to 3 decimals, at least one ("2.0", "0.42").
std::string Limit(double value);
std::string Int(long long value);
// "#rrggbb" of a profile colour value (red in the low byte).
std::string Css(int windows_color);
// SVG coordinate text (one decimal).
std::string Attr(double value);
// Escaped text, or an em dash when empty.
std::string OrDash(const std::string& text);
// Decimals that show a tick step exactly (0.25 -> 2, 20 -> 0).
int DecimalsForStep(double step);
std::string LevelName(QualityLevel level);
std::string LevelColor(QualityLevel level, const project::QualityClass& q);
// HTML text escaping of &, <, >, " and '.
std::string EscapeHtml(const std::string& text);

}  // namespace vantri::report
