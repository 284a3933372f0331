#include "project/passport_manager.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "formula/distortion_formula.h"
#include "system/files.h"
#include "system/nvtools.h"
#include "system/text.h"
#include "ui_interface/ui.h"

namespace vantri::project {

namespace fs = std::filesystem;
using vantri::MessageIcon;

namespace {

constexpr const char* kProfileSection = "Passport";
constexpr const char* kProfileLastIndex = "LastSelectedPassportIndex";

std::string FormatNumber(const char* pattern, double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, pattern, value);
  return buffer;
}

std::string Number(double value) { return FormatNumber("%.12g", value); }

std::vector<std::string> FilesWithExtension(const std::string& folder, const std::string& ext) {
  std::vector<std::string> found;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(folder, error)) {
    if (!entry.is_regular_file(error)) continue;
    if (vantri::system::ToLower(entry.path().extension().string()) == "." + ext)
      found.push_back(entry.path().string());
  }
  std::sort(found.begin(), found.end());
  return found;
}

// Converts the metric coefficients to the normalised convention with (s / 1000 * F)^n.
photogrammetry::DistortionCoefficients NormalisedFromMetric(
    const photogrammetry::DistortionCoefficients& m, double scale) {
  return {m.k1 * std::pow(scale, 2), m.k2 * std::pow(scale, 4), m.k3 * std::pow(scale, 6),
          m.p1 * std::pow(scale, 2), m.p2 * std::pow(scale, 2)};
}

photogrammetry::DistortionCoefficients MetricFromNormalised(
    const photogrammetry::DistortionCoefficients& n, double scale) {
  if (scale == 0.0) return {};
  return {n.k1 / std::pow(scale, 2), n.k2 / std::pow(scale, 4), n.k3 / std::pow(scale, 6),
          n.p1 / std::pow(scale, 2), n.p2 / std::pow(scale, 2)};
}

// Both conventions as the table shows them: {normalised, metric}.
std::pair<photogrammetry::DistortionCoefficients, photogrammetry::DistortionCoefficients>
ShownCoefficients(const CCameraPassport& p) {
  const double scale = p.pixel_mm / 1000.0 * p.FocalPixels();
  if (p.TypeCode() == photogrammetry::kPassportCodeBCC) {
    const photogrammetry::DistortionCoefficients metric = p.MetricCoefficients();
    return {NormalisedFromMetric(metric, scale), metric};
  }
  if (p.TypeCode() == photogrammetry::kPassportCodeCVC) {
    const photogrammetry::DistortionCoefficients normalised = p.NormalisedCoefficients();
    return {normalised, MetricFromNormalised(normalised, scale)};
  }
  return {};
}

}  // namespace

std::vector<std::string> ListPassportArchive(const std::string& archive_folder) {
  vantri::system::MakeFolders(archive_folder);
  std::vector<std::string> entries;
  for (const char* ext : {"ccb", "cvc", "bcc", "rdr"})
    for (const std::string& path : FilesWithExtension(archive_folder, ext)) entries.push_back(path);
  return entries;
}

DistortionFormulas DefaultDistortionFormulas() {
  return {vantri::formula::kDefaultRadialFormula, vantri::formula::kDefaultTangentialXFormula,
          vantri::formula::kDefaultTangentialYFormula};
}

std::vector<PassportTableRow> PassportParameterRows(const CCameraPassport* p) {
  const DistortionFormulas formulas = DefaultDistortionFormulas();
  std::vector<PassportTableRow> rows;
  if (p == nullptr) {
    rows.push_back({"Camera Model", "<new camera passport>", ""});
    for (const char* label :
         {"Camera Serial Number", "Focal Length", "Pixel Size (mm)", "K1", "K2", "K3", "P1", "P2",
          "Raster Dimension X", "Raster Dimension Y", "Principal Point Coordinates X (pix)",
          "Principal Point Coordinates Y"})
      rows.push_back({label, "", ""});
  } else {
    const auto [normalised, metric] = ShownCoefficients(*p);
    rows.push_back({"Camera Model", p->model, ""});
    rows.push_back({"Camera Serial Number", p->camera_serial, ""});
    rows.push_back({"Focal Length", Number(p->FocalPixels()), Number(p->focal_mm)});
    rows.push_back({"Pixel Size (mm)", Number(p->pixel_mm), ""});
    rows.push_back({"K1", Number(normalised.k1), Number(metric.k1)});
    rows.push_back({"K2", Number(normalised.k2), Number(metric.k2)});
    rows.push_back({"K3", Number(normalised.k3), Number(metric.k3)});
    rows.push_back({"P1", Number(normalised.p1), Number(metric.p1)});
    rows.push_back({"P2", Number(normalised.p2), Number(metric.p2)});
    rows.push_back({"Raster Dimension X", std::to_string(p->width), ""});
    rows.push_back({"Raster Dimension Y", std::to_string(p->height), ""});
    rows.push_back(
        {"Principal Point Coordinates X (pix)", Number(p->ppx), Number(p->ppx * p->pixel_mm)});
    rows.push_back({"Principal Point Coordinates Y", Number(p->ppy), Number(p->ppy * p->pixel_mm)});
  }
  rows.push_back({"Radial Distortion Formula, dr =", formulas.radial, ""});
  rows.push_back({"Tangential Distortion Formula, dx =", formulas.tangential_x, ""});
  rows.push_back({"Tangential Distortion Formula, dy =", formulas.tangential_y, ""});
  return rows;
}

std::string CheckDistortionFormulas(const DistortionFormulas& formulas,
                                    const CCameraPassport* passport) {
  vantri::formula::DistortionCoefficients coefficients;
  if (passport != nullptr) {
    const photogrammetry::DistortionCoefficients n = ShownCoefficients(*passport).first;
    coefficients = {n.k1, n.k2, n.k3, n.p1, n.p2};
  }
  using vantri::formula::DistortionKind;
  const std::pair<DistortionKind, const std::string*> checks[] = {
      {DistortionKind::kRadial, &formulas.radial},
      {DistortionKind::kTangential, &formulas.tangential_x},
      {DistortionKind::kTangential, &formulas.tangential_y}};
  for (const auto& [kind, text] : checks) {
    vantri::formula::DistortionFormula formula;
    const std::string message = formula.Check(kind, *text, coefficients);
    if (!message.empty()) return message;
  }
  return {};
}

std::vector<std::array<double, 2>> DistortionCurve(const DistortionFormulas& formulas,
                                                   const CCameraPassport& passport,
                                                   DistortionCurveKind kind, int samples) {
  const double focal = passport.FocalPixels();
  if (CheckDistortionFormulas(formulas, &passport) != "" || focal <= 0 || samples < 2) return {};
  const photogrammetry::DistortionCoefficients n = ShownCoefficients(passport).first;
  const vantri::formula::DistortionCoefficients values{n.k1, n.k2, n.k3, n.p1, n.p2};
  using vantri::formula::DistortionKind;
  vantri::formula::DistortionFormula radial, dx, dy;
  radial.Check(DistortionKind::kRadial, formulas.radial, values);
  dx.Check(DistortionKind::kTangential, formulas.tangential_x, values);
  dy.Check(DistortionKind::kTangential, formulas.tangential_y, values);
  const double half_diagonal = std::hypot(passport.width, passport.height) / 2.0;
  std::vector<std::array<double, 2>> curve;
  for (int i = 0; i < samples; ++i) {
    const double r_pixels = half_diagonal * i / (samples - 1);
    const double r = r_pixels / focal;
    double shift = 0;
    if (kind == DistortionCurveKind::kRadial) {
      shift = radial.Evaluate(r, 0.0);
    } else {
      const double c = r / std::sqrt(2.0);
      shift = std::hypot(dx.Evaluate(c, c), dy.Evaluate(c, c));
    }
    curve.push_back({r_pixels, shift * focal});
  }
  return curve;
}

EditorOutcome PassportEditorOk(vantri::UserInterface& ui, const PassportEditorValues& values,
                               const std::string& archive_folder, std::string* saved_path) {
  saved_path->clear();
  CBCCCameraPassport passport;
  if (CheckPassportEditor(ui, values, passport) == 0) return EditorOutcome::kStayOpen;
  vantri::system::MakeFolders(archive_folder);
  const std::string path = archive_folder + "/" + PassportEditorFileName(passport) + ".bcc";
  std::error_code error;
  if (fs::exists(path, error) &&
      !ui.AskYesNo("Another passport with same name is already present into the archive. Do you "
                   "want to overwrite it?",
                   MessageIcon::kQuestion))
    return EditorOutcome::kStayOpen;
  if (passport.Save(path) != 0) {
    *saved_path = path;
    return EditorOutcome::kClosed;
  }
  return ui.AskYesNo("Unable to save the passport. Retry?") ? EditorOutcome::kStayOpen
                                                            : EditorOutcome::kClosed;
}

std::unique_ptr<CCameraPassport> ReadManagerPassport(const std::string& path) {
  if (vantri::system::ToLower(fs::path(path).extension().string()) == ".ccb") {
    auto passport = std::make_unique<CBCCCameraPassport>();
    if (CCBtoBCC(path, passport.get()) == 0) return nullptr;
    return passport;
  }
  return CCameraPassport::New(path);
}

PassportManager::PassportManager(vantri::UserInterface& ui, std::string archive_folder)
    : ui_(ui), archive_folder_(std::move(archive_folder)) {
  Refresh();
  int stored = -1;
  const std::string text = NVT_GetUserProfileString(kProfileSection, kProfileLastIndex, "-1");
  if (NVT_StringToInt(text, &stored) != 0) SetSelectedIndex(stored);
}

void PassportManager::Refresh() {
  entries_ = ListPassportArchive(archive_folder_);
  if (selected_ >= static_cast<int>(entries_.size())) selected_ = -1;
}

std::vector<std::string> PassportManager::EntryNames() const {
  std::vector<std::string> names;
  for (const std::string& path : entries_) names.push_back(fs::path(path).filename().string());
  return names;
}

void PassportManager::SetSelectedIndex(int index) {
  selected_ = index >= 0 && index < static_cast<int>(entries_.size()) ? index : -1;
}

std::unique_ptr<CCameraPassport> PassportManager::SelectedPassport() const {
  if (selected_ < 0) return nullptr;
  return ReadManagerPassport(entries_[selected_]);
}

std::vector<PassportTableRow> PassportManager::SelectedRows() const {
  const std::unique_ptr<CCameraPassport> passport = SelectedPassport();
  return PassportParameterRows(passport.get());
}

int PassportManager::Import(const std::string& source) {
  const bool is_ccb = vantri::system::ToLower(fs::path(source).extension().string()) == ".ccb";
  const bool readable =
      is_ccb ? fs::is_regular_file(source) : CCameraPassport::New(source) != nullptr;
  if (!readable) {
    ui_.ShowMessage("Unable to open camera passport", MessageIcon::kExclamation);
    return 0;
  }
  vantri::system::MakeFolders(archive_folder_);
  const std::string target = archive_folder_ + "/" + fs::path(source).filename().string();
  std::error_code error;
  if (fs::exists(target, error) &&
      !ui_.AskYesNo("Camera passport already present into database.\nDo you want to overwrite it?",
                    MessageIcon::kQuestion))
    return 0;
  std::string bytes;
  if (!vantri::system::ReadWholeFile(source, bytes) ||
      !vantri::system::WriteFileAtomically(target, bytes)) {
    ui_.ShowMessage("Unable to import the certificate!", MessageIcon::kStop);
    return 0;
  }
  Refresh();
  return 1;
}

int PassportManager::ImportWithDialog() {
  std::string path;
  if (!ui_.PickOpenFile("Import", {{"Camera Passport", "*.ccb;*.cvc;*.cvcc;*.bcc;*.rdr"}}, "",
                        "ccb", &path))
    return 0;
  return Import(path);
}

int PassportManager::Create(
    const std::function<std::string(const std::string& archive_folder)>& editor) {
  vantri::system::MakeFolders(archive_folder_);
  const std::string saved = editor ? editor(archive_folder_) : std::string();
  if (saved.empty()) return 0;
  if (saved.find("bcc") != std::string::npos) {
    CBCCCameraPassport passport;
    const fs::path bcc(saved);
    const std::string ccb = (bcc.parent_path() / bcc.stem()).string() + ".ccb";
    if (passport.Open(saved) != 0 && BCCtoCCB(passport, ccb) != 0) {
      std::error_code error;
      fs::remove(bcc, error);
    }
  }
  Refresh();
  return 1;
}

bool PassportManager::CheckFormulas(const DistortionFormulas& formulas) {
  const std::unique_ptr<CCameraPassport> passport = SelectedPassport();
  const std::string message = CheckDistortionFormulas(formulas, passport.get());
  if (message.empty()) return true;
  ui_.ShowMessage(message, MessageIcon::kExclamation, "Parser Initialize Error");
  return false;
}

int PassportManager::Select() {
  if (selected_ < 0) {
    ui_.ShowMessage("Select a camera passport", MessageIcon::kInformation);
    return 0;
  }
  NVT_WriteUserProfileString(kProfileSection, kProfileLastIndex, std::to_string(selected_));
  std::unique_ptr<CCameraPassport> passport = ReadManagerPassport(entries_[selected_]);
  if (passport == nullptr) {
    ui_.ShowMessage("Invalid camera passport!", MessageIcon::kExclamation);
    return 0;
  }
  chosen_path_ = entries_[selected_];
  chosen_ = std::move(passport);
  return 1;
}

}  // namespace vantri::project
