#include "report/bundle_report.h"

#include <ctime>
#include <exception>
#include <filesystem>
#include <system_error>

#include "project/footprints.h"
#include "report/html_report.h"
#include "system/files.h"
#include "system/nvtools.h"
#include "system/text.h"
#include "ui_interface/ui.h"

namespace vantri::report {
namespace {

// Not part of a report handed to a client: addresses and mail server.
constexpr const char* kPrivateSettingsGroup = "Email parameters";

std::string BundleFolder(const CVantriProject& project) { return project.folder + "Bundle/"; }

std::string LocalTimeText() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local);
  return text;
}

CameraSummary SummarizeCamera(const CVantriProject& project) {
  CameraSummary camera;
  const CCameraPassport* passport = project.passport.get();
  if (passport == nullptr) return camera;
  camera.known = true;
  camera.model = passport->model;
  camera.camera_serial = passport->camera_serial;
  camera.lens_serial = passport->lens_serial;
  camera.calibration_date = passport->calibration_date;
  camera.focal_mm = passport->focal_mm;
  camera.pixel_mm = passport->pixel_mm;
  camera.width = passport->width;
  camera.height = passport->height;
  return camera;
}

std::vector<SettingRow> SettingRows(const CVantriSettings& settings) {
  std::vector<SettingRow> rows;
  for (const project::SettingsGroup& group : settings.groups) {
    if (group.name == kPrivateSettingsGroup) continue;
    for (const std::string& property : group.properties)
      rows.push_back({group.name, property, settings.Value(property)});
  }
  return rows;
}

double MeanTiePointHeight(const ResultFiles& files) {
  double sum = 0;
  int count = 0;
  for (const ObjectPointRow& row : files.object_points) {
    sum += row.z;
    ++count;
  }
  return count > 0 ? sum / count : 0.0;
}

// Footprints on a flat plane when the project has none (no terrain was loaded by the caller).
std::vector<std::vector<std::array<double, 2>>> FlatFootprints(const CVantriProject& project,
                                                               double height) {
  std::vector<std::vector<std::array<double, 2>>> footprints(project.images.size());
  const CCameraPassport* passport =
      project.working_passport ? project.working_passport.get() : project.passport.get();
  if (passport == nullptr) return footprints;
  const project::TerrainIntersector no_terrain = [](const Eigen::Vector3d&, const Eigen::Vector3d&,
                                                    Eigen::Vector3d*) { return false; };
  for (size_t i = 0; i < project.images.size(); ++i)
    if (project.images[i]->HasGpsImu())
      footprints[i] = project::ImageFootprint(*passport, *project.images[i], no_terrain, height);
  return footprints;
}

bool HasAnyFootprint(const CVantriProject& project) {
  for (const auto& outline : project.footprints)
    if (!outline.empty()) return true;
  return false;
}

}  // namespace

std::string HtmlReportPath(const CVantriProject& project) {
  return BundleFolder(project) + project.name + ".html";
}

ReportInput GatherReportInput(const CVantriProject& project) {
  ReportInput input;
  input.project_name = project.name;
  input.project_path = project.file_path;
  NVT_GetVersionInfo("", &input.program_version, nullptr);
  input.generated_at = LocalTimeText();
  const crs::CoordinateSystem& cs = project.coordinate_system;
  input.crs = {cs.ProjectionName(), cs.DatumName(), cs.FuseName(), cs.UnitsName()};
  input.camera = SummarizeCamera(project);
  input.images_total = project.ImageCount();
  for (const auto& image : project.images) {
    input.images_enabled += image->enabled != 0;
    input.approximate.push_back({image->Name(), image->HasGpsImu(), image->x, image->y, image->z,
                                 image->omega, image->phi, image->kappa});
  }
  input.defined_control_points = static_cast<int>(project.gcps.size());
  input.defined_check_points = static_cast<int>(project.check_points.size());
  input.settings = SettingRows(project.settings);
  input.quality = project::QualityThresholds::LoadFromProfile();
  input.files = ReadResultFiles(BundleFolder(project), project.name);
  input.footprints = HasAnyFootprint(project)
                         ? project.footprints
                         : FlatFootprints(project, MeanTiePointHeight(input.files));
  return input;
}

int WriteBundleHtmlReport(const CVantriProject& project, const BundleRunStatistics* run,
                          vantri::UserInterface& ui) {
  try {
    if (project.folder.empty() || project.name.empty()) {
      ui.Log("HTML report not written: no project folder");
      return 0;
    }
    std::error_code error;
    std::filesystem::create_directories(BundleFolder(project), error);
    if (run != nullptr &&
        !vantri::system::WriteFileAtomically(BundleFolder(project) + project.name + ".runstats",
                                             FormatRunStatistics(*run)))
      ui.Log("Unable to write the bundle statistics file!");
    const std::string path = HtmlReportPath(project);
    const std::string html = RenderHtmlReport(BuildReportModel(GatherReportInput(project)));
    if (!vantri::system::WriteFileAtomically(path, html)) {
      ui.Log("Unable to write HTML report " + path);
      return 0;
    }
    ui.Log("HTML report written: " + path);
    return 1;
  } catch (const std::exception& e) {
    ui.Log(std::string("Unable to write HTML report: ") + e.what());
  } catch (...) {
    ui.Log("Unable to write HTML report");
  }
  return 0;
}

}  // namespace vantri::report
