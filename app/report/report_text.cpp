#include "report/report_text.h"

#include <cmath>
#include <cstdio>

namespace vantri::report {

std::string Num(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  std::string result = text;
  // "-0.000" reads as a sign where there is none.
  if (result[0] == '-' && result.find_first_not_of("-0.") == std::string::npos) result.erase(0, 1);
  return result;
}

std::string Num(double value, int decimals, const std::string& unit) {
  return Num(value, decimals) + kNbsp + unit;
}

// A quality threshold as set by the operator: up to 3 decimals, at least one ("2.0", "0.42").
std::string Limit(double value) {
  std::string text = Num(value, 3);
  while (text.size() > 1 && text.back() == '0' && text[text.size() - 2] != '.') text.pop_back();
  return text;
}

std::string Int(long long value) { return std::to_string(value); }

std::string Css(int windows_color) {
  char text[16];
  std::snprintf(text, sizeof text, "#%02x%02x%02x", windows_color & 0xFF,
                (windows_color >> 8) & 0xFF, (windows_color >> 16) & 0xFF);
  return text;
}

std::string Attr(double value) { return Num(value, 1); }

std::string OrDash(const std::string& text) { return text.empty() ? "&#8212;" : EscapeHtml(text); }

// Decimals that show a tick step exactly (0.25 -> 2, 20 -> 0).
int DecimalsForStep(double step) {
  int decimals = 0;
  while (decimals < 6 && std::fabs(step * std::pow(10, decimals) -
                                   std::round(step * std::pow(10, decimals))) > 1e-6)
    ++decimals;
  return decimals;
}

std::string LevelName(QualityLevel level) {
  switch (level) {
    case QualityLevel::kHigh:
      return "high";
    case QualityLevel::kMiddle:
      return "middle";
    case QualityLevel::kLow:
      return "low";
    case QualityLevel::kNoResult:
      break;
  }
  return "no result";
}

std::string LevelColor(QualityLevel level, const project::QualityClass& q) {
  return Css(ColorOf(level, q));
}

std::string EscapeHtml(const std::string& text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        escaped += "&amp;";
        break;
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      case '"':
        escaped += "&quot;";
        break;
      case '\'':
        escaped += "&#39;";
        break;
      default:
        escaped += c;
    }
  }
  return escaped;
}

}  // namespace vantri::report
