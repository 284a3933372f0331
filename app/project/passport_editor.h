#pragma once
// Logic of the passport editor: the typed values become a CBCCCameraPassport (metric distortion
// coefficients), are checked in the editor's order and saved under the editor's file name.

#include <string>

#include "photogrammetry/passport.h"

namespace vantri {
class UserInterface;
}

namespace vantri::project {

// The editor's rows as typed.
struct PassportEditorValues {
  std::string model = "<new camera passport>";
  std::string camera_serial, lens_serial, calibration_date;  // date "dd-mm-yyyy"
  std::string focal_mm, pixel_mm;
  std::string k1, k2, k3, p1, p2;  // metric convention
  std::string width, height;       // pixels
  std::string ppx, ppy;            // pixels, decimals kept
};

// Converts the values (plain conversions: text that does not convert gives 0) and checks focal
// length, pixel size (0 < s <= 1 mm), the four texts, raster size and principal point
// (0 .. width, 0 .. height). The first failure is shown with the information icon and 0 returned.
int CheckPassportEditor(vantri::UserInterface& ui, const PassportEditorValues& values,
                        CBCCCameraPassport& passport);

// "%s-%s-%s-%s" from model, camera serial, lens serial and calibration date.
std::string PassportEditorFileName(const CCameraPassport& passport);

// Saves to `path`. An existing file asks "Another passport with same name is already present
// into the archive. Do you want to overwrite it?" (No: 0, nothing written). A failed write asks
// "Unable to save the passport. Retry?"; the answer is returned through `retry`.
int SavePassportFromEditor(vantri::UserInterface& ui, const CBCCCameraPassport& passport,
                           const std::string& path, bool* retry = nullptr);

}  // namespace vantri::project
