#include "project/passport_editor.h"

#include <cstdlib>
#include <filesystem>

#include "ui_interface/ui.h"

namespace vantri::project {

namespace {

double PlainDouble(const std::string& text) { return std::strtod(text.c_str(), nullptr); }
int PlainInt(const std::string& text) {
  return static_cast<int>(std::strtol(text.c_str(), nullptr, 10));
}

int Refuse(vantri::UserInterface& ui, const char* message) {
  ui.ShowMessage(message, vantri::MessageIcon::kInformation);
  return 0;
}

}  // namespace

int CheckPassportEditor(vantri::UserInterface& ui, const PassportEditorValues& v,
                        CBCCCameraPassport& passport) {
  CBCCCameraPassport p;
  p.model = v.model;
  p.camera_serial = v.camera_serial;
  p.lens_serial = v.lens_serial;
  p.calibration_date = v.calibration_date;
  p.focal_mm = PlainDouble(v.focal_mm);
  p.pixel_mm = PlainDouble(v.pixel_mm);
  p.metric = {PlainDouble(v.k1), PlainDouble(v.k2), PlainDouble(v.k3), PlainDouble(v.p1),
              PlainDouble(v.p2)};
  p.width = PlainInt(v.width);
  p.height = PlainInt(v.height);
  p.ppx = PlainDouble(v.ppx);
  p.ppy = PlainDouble(v.ppy);

  if (!(p.focal_mm > 0.0)) return Refuse(ui, "Invalid focal length!");
  if (!(p.pixel_mm > 0.0 && p.pixel_mm <= 1.0)) return Refuse(ui, "Invalid pixel size value!");
  if (p.model.empty() || p.camera_serial.empty() || p.lens_serial.empty() ||
      p.calibration_date.empty())
    return Refuse(ui,
                  "Please check\n- Camera name\n- Camera serial number\n- lens serial number\n- "
                  "calibration date\nvalues");
  if (p.width < 1 || p.height < 1) return Refuse(ui, "Invalid camera raster size!");
  if (!(p.ppx >= 0.0 && p.ppx <= p.width && p.ppy >= 0.0 && p.ppy <= p.height))
    return Refuse(ui, "Invalid Principal Point coordinates!");
  passport = p;
  return 1;
}

std::string PassportEditorFileName(const CCameraPassport& p) {
  return p.model + "-" + p.camera_serial + "-" + p.lens_serial + "-" + p.calibration_date;
}

int SavePassportFromEditor(vantri::UserInterface& ui, const CBCCCameraPassport& passport,
                           const std::string& path, bool* retry) {
  if (retry != nullptr) *retry = false;
  std::error_code ec;
  if (std::filesystem::exists(path, ec) &&
      !ui.AskYesNo("Another passport with same name is already present into the archive. Do you "
                   "want to overwrite it?",
                   vantri::MessageIcon::kQuestion))
    return 0;
  if (passport.Save(path) != 0) return 1;
  const bool again = ui.AskYesNo("Unable to save the passport. Retry?");
  if (retry != nullptr) *retry = again;
  return 0;
}

}  // namespace vantri::project
