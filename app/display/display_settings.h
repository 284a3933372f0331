#pragma once
// Display settings of the graphic result display: which residual symbols are drawn, their fill,
// colour and scale. Kept per project in <project folder><project name>.grs, an INI file with one
// section per symbol (ImageResXYEllipse, TPResXY, ...; docs/formats.md).
//
// Colours are Windows colour values (0x00BBGGRR, red in the low byte), written as decimal integers;
// booleans are written "0" / "1" and scales with "%lf". Scales multiply a residual into drawing
// units (project units): an image moved by 0.2 m with scale 25 gets a 5 m symbol. Scales are kept
// as absolute values.

#include <cstdint>
#include <string>
#include <vector>

namespace vantri::display {

// Windows colour values of the defaults.
inline constexpr int32_t kCyanColorRef = 16776960;     // 0xFFFF00
inline constexpr int32_t kMagentaColorRef = 16711935;  // 0xFF00FF
// Scale used when a stored scale does not convert.
inline constexpr double kFallbackScale = 25.0;

// A symbol with its own layer: "<section>" holds Visible, Filled and Color.
struct SymbolStyle {
  bool visible = false;
  bool filled = false;
  int32_t color = kCyanColorRef;
  bool operator==(const SymbolStyle&) const = default;
};

struct DisplaySettings {
  // Per image: how far the adjusted orientation moved from the GPS/IMU values.
  SymbolStyle image_xy_ellipse{false, false, kCyanColorRef};   // ImageResXYEllipse
  SymbolStyle image_z_circle{false, false, kMagentaColorRef};  // ImageResZCircle
  bool image_xy_vector = false;                                // ImageResXYVector
  bool image_z_vector = false;                                 // ImageResZVector
  double image_xy_scale = 25.0;                                // ImageResXY (metres)
  double image_z_scale = 25.0;                                 // ImageResZ
  SymbolStyle image_op_ellipse{false, false, kCyanColorRef};   // ImageResOPEllipse (omega, phi)
  SymbolStyle image_k_circle{false, false, kMagentaColorRef};  // ImageResKCircle (kappa)
  double image_op_scale = 100000.0;                            // ImageResOP (radians)
  double image_k_scale = 100000.0;                             // ImageResK
  // Tie points: the mean image residual (the units of the .ptres file, micrometres).
  SymbolStyle tie_xy_ellipse{false, false, kCyanColorRef};  // TPResXYEllipse
  bool tie_xy_vector = false;                               // TPResXYVector
  double tie_xy_scale = 25.0;                               // TPResXY
  // Check points and control points: adjusted minus surveyed coordinates (metres).
  SymbolStyle check_xy_ellipse{false, false, kCyanColorRef};    // CPResXYEllipse
  SymbolStyle check_z_circle{false, true, kMagentaColorRef};    // CPResZCircle
  bool check_xy_vector = false;                                 // CPResXYVector
  bool check_z_vector = false;                                  // CPResZVector
  double check_xy_scale = 25.0;                                 // CPResXY
  double check_z_scale = 25.0;                                  // CPResZ
  SymbolStyle control_xy_ellipse{false, false, kCyanColorRef};  // GCPResXYEllipse
  SymbolStyle control_z_circle{false, true, kMagentaColorRef};  // GCPResZCircle
  bool control_xy_vector = false;                               // GCPResXYVector
  bool control_z_vector = false;                                // GCPResZVector
  double control_xy_scale = 25.0;                               // GCPResXY
  double control_z_scale = 25.0;                                // GCPResZ

  bool operator==(const DisplaySettings&) const = default;
};

// <project folder><project name>.grs; `project_folder` ends with a separator.
std::string GrsPath(const std::string& project_folder, const std::string& project_name);

// Reads a .grs file. A missing file gives the defaults and no problem. A file that cannot be read
// (not a regular file, unreadable) gives the defaults; a value that does not convert keeps the
// default (a scale: 25). Each such problem is one line in `problems` naming the file or the key.
// The file is never changed by reading.
DisplaySettings ReadDisplaySettings(const std::string& path, std::vector<std::string>* problems);
// Writes every section and key crash-safely (temporary file, flush, rename); false on failure,
// the old file then untouched.
bool WriteDisplaySettings(const std::string& path, const DisplaySettings& settings);

// Access by "Section.Key" (case-insensitive), as the settings window and vantri-cli use them:
// the value as the file holds it.
std::vector<std::string> DisplaySettingKeys();  // every "Section.Key" in file order
bool GetDisplaySetting(const DisplaySettings& settings, const std::string& key, std::string* value);
// Sets one value from its text with the reader's conversions; false with `problem` when the key is
// unknown or the text does not convert (settings unchanged).
bool SetDisplaySetting(DisplaySettings& settings, const std::string& key, const std::string& text,
                       std::string* problem);

}  // namespace vantri::display
