#include "project/project_flows.h"

#include <ogr_geometry.h>

#include <cstdio>
#include <filesystem>

#include "system/nvtools.h"
#include "system/text.h"
#include "ui_interface/ui.h"

namespace vantri::project {

namespace fs = std::filesystem;

namespace {

void Exclaim(vantri::UserInterface& ui, const std::string& text) {
  ui.ShowMessage(text, vantri::MessageIcon::kExclamation);
}

std::string WithTrailingSeparator(std::string folder) {
  if (folder.empty() || (folder.back() != '/' && folder.back() != '\\')) folder += '/';
  return folder;
}

std::string Format(const char* pattern, auto... args) {
  const int n = std::snprintf(nullptr, 0, pattern, args...);
  std::string out(static_cast<size_t>(n > 0 ? n : 0) + 1, '\0');
  std::snprintf(out.data(), out.size(), pattern, args...);
  out.pop_back();
  return out;
}

}  // namespace

std::string NewProjectStartFolder() {
  std::error_code ec;
  const std::string current = fs::current_path(ec).string();
  return NVT_GetUserProfileString("NewProject", "CurrentFolder", current);
}

std::string NewProjectPathText(const std::string& folder, const std::string& name) {
  return folder + "/" + name;
}

bool NewProjectOkEnabled(const std::string& name) { return !name.empty(); }

void RememberNewProjectFolder(const std::string& folder) {
  NVT_WriteUserProfileString("NewProject", "CurrentFolder", folder);
}

std::string ProjectPathLabel(const CVantriProject& project) {
  if (project.folder.empty()) return "Create a new project or open an existing one...";
  return project.folder + project.name;
}

int NewProject(CVantriProject& project, vantri::UserInterface& ui, NewProjectChoice choice,
               const std::function<void(CVantriProject&)>& choose_coordinate_system) {
  if (choice.name.empty() || choice.passport_path.empty() || choice.passport == nullptr) return 0;
  std::unique_ptr<CCameraPassport> passport = choice.passport->Clone();
  if (passport == nullptr) return 0;

  const std::string folder = WithTrailingSeparator(choice.parent_folder) + choice.name + "/";
  std::error_code ec;
  const fs::path folder_path = fs::path(folder).parent_path();
  if (!fs::create_directory(folder_path, ec) || ec) {
    Exclaim(ui, Format("Unable to create '%s' folder!\nDirectory already exists or no privilege to "
                       "write it.",
                       folder.c_str()));
    return 0;
  }
  const std::string passport_file = fs::path(choice.passport_path).filename().string();
  if (!fs::copy_file(choice.passport_path, folder + passport_file,
                     fs::copy_options::overwrite_existing, ec) ||
      ec) {
    Exclaim(ui, "Unable to copy camera passport file!");
    return 0;
  }

  project.Close();
  project.passport_file_name = vantri::system::ToLower(passport_file);
  project.folder = folder;
  project.name = choice.name;
  project.file_path = folder + choice.name + ".bun";
  project.format_version = kProjectFormatVersion;
  project.working_passport = passport->Clone();
  project.passport = std::move(passport);
  project.ApplyUndistortionRule();
  project.settings.Load(SettingsPath(project));

  if (SaveProjectFile(project, project.file_path, kProjectFormatVersion) == 0) {
    project.Close();
    Exclaim(ui, "Unable to save project!");
    return 0;
  }
  if (choose_coordinate_system) choose_coordinate_system(project);
  SaveProjectFile(project, project.file_path, kProjectFormatVersion);
  return 1;
}

int OpenProject(CVantriProject& project, vantri::UserInterface& ui) {
  std::string path;
  if (!ui.PickOpenFile("Open", {{"Vantri Project", "*.bun"}}, {}, "bun", &path)) return 0;
  return OpenProjectPath(project, ui, path);
}

int OpenProjectPath(CVantriProject& project, vantri::UserInterface& ui, const std::string& path) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) {
    Exclaim(ui, "Unable to find project!");
    return 0;
  }
  project.Close();
  const fs::path file = fs::absolute(path, ec);
  project.folder = WithTrailingSeparator(file.parent_path().string());
  project.name = FileTitle(file.string());
  project.file_path = file.string();
  if (LoadProjectFile(project, project.file_path, ui) == 0) {
    project.Close();
    Exclaim(ui, "Unable to open project!");
    return 0;
  }
  // An old text project is saved in the binary form beside it, so the .aba stays readable.
  if (vantri::system::ToLower(FileExtension(project.file_path)) == "aba")
    project.file_path = project.folder + project.name + ".bun";
  ReadLocalOrigin(project.folder + project.name + ".off", project.local_origin);
  if (project.load_tie_points) project.load_tie_points(project);
  return 1;
}

int SaveProject(CVantriProject& project) {
  return SaveProjectFile(project, project.file_path, kProjectFormatVersion);
}

double FootprintUnionArea(const CVantriProject& project) {
  std::unique_ptr<OGRGeometry> united;
  for (const auto& outline : project.footprints) {
    if (outline.size() < 3) continue;
    OGRLinearRing ring;
    for (const auto& p : outline) ring.addPoint(p[0], p[1]);
    ring.closeRings();
    OGRPolygon polygon;
    polygon.addRing(&ring);
    std::unique_ptr<OGRGeometry> valid(polygon.MakeValid());
    if (valid == nullptr) continue;
    if (united == nullptr) {
      united = std::move(valid);
    } else {
      std::unique_ptr<OGRGeometry> merged(united->Union(valid.get()));
      if (merged != nullptr) united = std::move(merged);
    }
  }
  if (united == nullptr) return 0.0;
  if (const auto* surface = dynamic_cast<const OGRSurface*>(united.get()))
    return surface->get_Area();
  if (const auto* collection = dynamic_cast<const OGRGeometryCollection*>(united.get()))
    return collection->get_Area();
  return 0.0;
}

static int UsedPoints(const CGCPCollMap& points) {
  int used = 0;
  for (const auto& [name, point] : points)
    if (point.use) ++used;
  return used;
}

std::string ProjectInfoText(const CVantriProject& project) {
  if (project.folder.empty()) return {};
  int disabled = 0;
  for (const auto& image : project.images)
    if (image->enabled == 0) ++disabled;
  return Format("Number of images: %d", project.ImageCount()) +
         Format("\n\nNumber of disabled images: %d", disabled) +
         Format("\n\nTotal area: %.3lf km^2", FootprintUnionArea(project) / 1000000.0) +
         Format("\n\nNumber of used Tie Points: %d", project.used_tie_points) +
         Format("\n\nNumber of used GCPs: %d", UsedPoints(project.gcps)) +
         Format("\n\nNumber of used Check Points: %d", UsedPoints(project.check_points));
}

std::string CameraInfoText(const CVantriProject& project) {
  const CCameraPassport* p = project.working_passport.get();
  if (p == nullptr) return {};
  return Format(
             "Camera Serial:%s\nModel Name:%s\nLens Serial:%s\nLens Nominal C:%d\nCalibration "
             "Date:%s\nFocal Length (mm):%.3f\n",
             p->camera_serial.c_str(), p->model.c_str(), p->lens_serial.c_str(), p->lens_constant,
             p->calibration_date.c_str(), p->focal_mm) +
         Format("Pixel Size: %.12f\n", p->pixel_mm) +
         Format("Dim. Image (WxH): %d x %d\n", p->width, p->height) +
         Format("PPPix: (%.3f, %.3f)\n", p->ppx, p->ppy);
}

void ShowProjectInfo(const CVantriProject& project, vantri::UserInterface& ui) {
  if (!project.folder.empty())
    ui.ShowMessage(ProjectInfoText(project), vantri::MessageIcon::kInformation);
}

void ShowCameraInfo(const CVantriProject& project, vantri::UserInterface& ui) {
  if (project.working_passport != nullptr)
    ui.ShowMessage(CameraInfoText(project), vantri::MessageIcon::kInformation);
}

std::string SettingsPath(const CVantriProject& project) {
  return project.folder.empty() ? std::string() : project.folder + "settings.ini";
}

int RunSettingsCommand(CVantriProject& project, vantri::UserInterface& ui,
                       const std::function<bool(CVantriSettings&)>& window) {
  if (project.folder.empty()) return 0;
  project.settings.SetUi(&ui);
  const std::string path = SettingsPath(project);
  if (project.settings.Load(path) == 0) return 0;
  if (!window || !window(project.settings)) return 0;
  if (project.settings.Save(path) == 0) {
    Exclaim(ui, "Unable to save the settings!");
    return 0;
  }
  project.settings.Load(path);
  return 1;
}

}  // namespace vantri::project
