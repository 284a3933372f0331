#include "quality_thresholds.h"

#include <cstdio>

#include "system/nvtools.h"
#include "ui_interface/ui.h"

namespace vantri::project {

namespace {

constexpr const char* kSection = "BundleQuality";

void ReadDouble(const char* key, double& value) {
  double parsed = 0;
  if (NVT_StringToDouble(NVT_GetUserProfileString(kSection, key, ""), &parsed) != 0) value = parsed;
}

void ReadColor(const char* key, int32_t& value) {
  int parsed = 0;
  if (NVT_StringToInt(NVT_GetUserProfileString(kSection, key, ""), &parsed) != 0) value = parsed;
}

std::string FormatDouble(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%lf", value);
  return text;
}

void ReadClass(const std::string& prefix, QualityClass& q) {
  ReadDouble((prefix + "HighQualityThreshold").c_str(), q.high_threshold);
  ReadDouble((prefix + "MiddleQualityThreshold").c_str(), q.middle_threshold);
  ReadColor((prefix + "HighQualityColor").c_str(), q.high_color);
  ReadColor((prefix + "MiddleQualityColor").c_str(), q.middle_color);
  ReadColor((prefix + "LowQualityColor").c_str(), q.low_color);
}

int WriteClass(const std::string& prefix, const QualityClass& q) {
  int ok = 1;
  ok &= NVT_WriteUserProfileString(kSection, prefix + "HighQualityThreshold",
                                   FormatDouble(q.high_threshold)) != 0;
  ok &= NVT_WriteUserProfileString(kSection, prefix + "MiddleQualityThreshold",
                                   FormatDouble(q.middle_threshold)) != 0;
  ok &= NVT_WriteUserProfileString(kSection, prefix + "HighQualityColor",
                                   std::to_string(q.high_color)) != 0;
  ok &= NVT_WriteUserProfileString(kSection, prefix + "MiddleQualityColor",
                                   std::to_string(q.middle_color)) != 0;
  ok &= NVT_WriteUserProfileString(kSection, prefix + "LowQualityColor",
                                   std::to_string(q.low_color)) != 0;
  return ok;
}

int CheckClass(vantri::UserInterface& ui, const std::string& high_text,
               const std::string& middle_text, QualityClass& q) {
  double high = 0, middle = 0;
  if (NVT_StringToDouble(high_text, &high) == 0) {
    ui.ShowMessage("The value of good quality is not valid!", vantri::MessageIcon::kExclamation);
    return 0;
  }
  if (NVT_StringToDouble(middle_text, &middle) == 0) {
    ui.ShowMessage("The value of middle quality is not valid!", vantri::MessageIcon::kExclamation);
    return 0;
  }
  if (!(high < middle)) {
    ui.ShowMessage("Middle quality value must be greater than good quality value!",
                   vantri::MessageIcon::kExclamation);
    return 0;
  }
  q.high_threshold = high;
  q.middle_threshold = middle;
  return 1;
}

}  // namespace

int32_t QualityClass::ColorFor(double residual) const {
  if (residual <= high_threshold) return high_color;
  if (residual <= middle_threshold) return middle_color;
  return low_color;
}

QualityThresholds QualityThresholds::LoadFromProfile() {
  QualityThresholds t;
  ReadClass("TiePoints", t.tie_points);
  ReadClass("GCPs", t.gcps);
  return t;
}

int QualityThresholds::SaveToProfile() const {
  return WriteClass("TiePoints", tie_points) & WriteClass("GCPs", gcps);
}

int CheckQualityThresholds(vantri::UserInterface& ui, const std::string& tie_high,
                           const std::string& tie_middle, const std::string& gcp_high,
                           const std::string& gcp_middle, QualityThresholds& out) {
  QualityThresholds checked = out;
  if (CheckClass(ui, tie_high, tie_middle, checked.tie_points) == 0) return 0;
  if (CheckClass(ui, gcp_high, gcp_middle, checked.gcps) == 0) return 0;
  out = checked;
  return 1;
}

}  // namespace vantri::project
