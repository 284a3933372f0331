#include "shell/commands.h"

#include <algorithm>
#include <filesystem>
#include <ostream>

#include "aat/dem_utils.h"
#include "aat/srtm.h"
#include "import/control_point_files.h"
#include "import/project_import.h"
#include "project/project.h"
#include "project/project_flows.h"
#include "ui_interface/ui.h"

namespace vantri::shell {
namespace {

namespace fs = std::filesystem;

int Failure(std::ostream& err, const std::string& message) {
  err << message << "\n";
  return kExitFailure;
}

int ImportPoints(import::ImportMode mode, import::PointImportModel& model, CVantriProject& project,
                 UserInterface& ui, std::ostream& err) {
  std::vector<import::SFIO_ControlPoint> records;
  if (!import::ImportControlPointsIntoProject(model, project, &records))
    return Failure(err, "No valid data or already imported control points");
  const std::string collection =
      project.folder + (mode == import::ImportMode::kGcp ? "GCP.col" : "CP.col");
  int added = 0;
  if (!import::AddImportedPointsToFile(collection, records, &added))
    return Failure(err, "Unable to update " + collection);
  if (added == 0) {
    ui.ShowMessage("No valid point to import or points already imported!", MessageIcon::kWarning);
    return kExitFailure;
  }
  ui.ShowMessage(std::to_string(added) + " control points imported", MessageIcon::kInformation);
  return kExitOk;
}

}  // namespace

int RunImport(import::ImportMode mode, const std::string& project_path,
              const std::string& file_path, const import::ImportOptions& options, UserInterface& ui,
              std::ostream& out, std::ostream& err) {
  (void)out;
  CVantriProject project;
  if (!project::OpenProjectPath(project, ui, project_path)) return kExitFailure;

  import::PointImportModel model(mode, ui);
  if (!model.OpenFile(file_path)) return kExitFailure;
  if (const std::string failure = import::ApplyImportOptions(options, &model); !failure.empty()) {
    err << failure << " (targets: " << import::TargetTitlesText(mode, ui) << ")\n";
    return kExitUsage;
  }
  model.SelectAll();
  if (options.geographic) {
    import::WindowCoordinateConversion conversion(ui, import::ChooseUtmAutomatically);
    if (!model.ConvertCoordinates(conversion)) return kExitFailure;
  }
  if (mode != import::ImportMode::kGpsImu) return ImportPoints(mode, model, project, ui, err);

  if (!import::ImportGpsImuIntoProject(model, project)) return kExitFailure;
  if (!project::SaveProject(project))
    return Failure(err, "Unable to save the project " + project.file_path);
  return kExitOk;
}

int RunDem(const std::string& project_path, const std::optional<std::string>& external_dem,
           UserInterface& ui, std::ostream& out, std::ostream& err) {
  CVantriProject project;
  if (!project::OpenProjectPath(project, ui, project_path)) return kExitFailure;
  if (!external_dem) {
    project.use_external_dem = 0;
  } else if (!aat::SetExternalDem(project, *external_dem, ui)) {
    return kExitFailure;
  }
  if (!project::SaveProject(project))
    return Failure(err, "Unable to save the project " + project.file_path);
  out << (external_dem ? "External DEM: " + project.external_dem_path + "\n"
                       : std::string("External DEM off\n"));
  return kExitOk;
}

int RunSrtmFolder(const std::optional<std::string>& project_path, const std::string& folder,
                  UserInterface& ui, std::ostream& out, std::ostream& err) {
  (void)err;
  aat::SrtmSourceDialog dialog(ui);
  std::string absolute = folder;
  std::replace(absolute.begin(), absolute.end(), '\\', '/');
  absolute = fs::absolute(absolute).lexically_normal().string();
  while (absolute.size() > 1 && absolute.back() == '/') absolute.pop_back();
  dialog.SetFolderText(absolute);
  if (!dialog.Ok()) return kExitFailure;
  out << "SRTM folder: " << aat::SrtmFolder() << "\n";
  if (!project_path) return kExitOk;

  CVantriProject project;
  if (!project::OpenProjectPath(project, ui, *project_path)) return kExitFailure;
  aat::ElevationModel model;
  if (!aat::LoadSrtmForProjectImages(project, &model)) {
    out << "No SRTM tile covers the image positions\n";
    return kExitOk;
  }
  out << "SRTM tile: " << model.path << "\n";
  return kExitOk;
}

}  // namespace vantri::shell
