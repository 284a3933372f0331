#pragma once
// Quality thresholds and colours that colour points by their residual, kept in the user profile
// (section "BundleQuality"). Tie-point thresholds are in pixels, GCP and check-point thresholds in
// drawing units; check points use the GCP values. Colours are RGB values with red in the low byte.

#include <cstdint>
#include <string>

namespace vantri {
class UserInterface;
}

namespace vantri::project {

struct QualityClass {
  double high_threshold = 2.0;
  double middle_threshold = 4.0;
  int32_t high_color = 48640;    // green 190
  int32_t middle_color = 56540;  // red 220, green 220
  int32_t low_color = 190;       // red 190

  // residual <= high: high colour; <= middle: middle colour; above: low colour.
  int32_t ColorFor(double residual) const;
};

struct QualityThresholds {
  QualityClass tie_points;
  QualityClass gcps;

  // Reads the ten profile values; a stored text that does not convert leaves the default.
  static QualityThresholds LoadFromProfile();
  // Writes the ten values; 1 on success.
  int SaveToProfile() const;
};

// The thresholds window's OK: the four threshold texts are checked tie points first, then GCPs
// (high converts, middle converts, high < middle); the first failure is shown with the
// exclamation icon and 0 returned (the window stays open). On success `out` receives the values
// and the colours given, and 1 is returned.
int CheckQualityThresholds(vantri::UserInterface& ui, const std::string& tie_high,
                           const std::string& tie_middle, const std::string& gcp_high,
                           const std::string& gcp_middle, QualityThresholds& out);

}  // namespace vantri::project
