#include "shell/results_commands.h"

#include <cstdio>
#include <ostream>

#include "display/result_display.h"
#include "export/plotara_export.h"
#include "project/project.h"
#include "project/project_flows.h"
#include "shell/cli.h"
#include "shell/project_terrain.h"
#include "ui_interface/ui.h"

namespace vantri::shell {
namespace {

const char* ClassName(const project::QualityClass& quality, const display::CEntBundlePt& point) {
  if (!point.has_result) return "no result";
  const display::Rgb color = point.color;
  if (color == display::FromColorRef(quality.low_color)) return "low";
  if (color == display::FromColorRef(quality.middle_color)) return "middle";
  return "high";
}

template <typename Entry>
void PrintSurveyedPoints(const char* title, const std::map<std::string, Entry>& points,
                         const project::QualityClass& quality, std::ostream& out) {
  for (const auto& [name, point] : points) {
    char line[256];
    std::snprintf(line, sizeof line, "%s %s: %.6f %.6f %.6f |v| %.6f %s\n", title, name.c_str(),
                  point.res_x, point.res_y, point.res_z, point.magnitude,
                  ClassName(quality, point));
    out << line;
  }
}

}  // namespace

int RunExport(const std::string& project_path, bool launch, UserInterface& ui, std::ostream& out,
              std::ostream& err) {
  CVantriProject project;
  if (project::OpenProjectPath(project, ui, project_path) == 0) return kExitFailure;
  std::string problem;
  if (plotter::AdoptBundleOrientations(project, &problem) == 0) {
    err << (problem.empty() ? "No oriented image in the last bundle run" : problem) << "\n";
    return kExitFailure;
  }
  // The footprints the drawing would show: on the project's terrain, else on height 0.
  ProjectTerrain terrain;
  terrain.LoadForProject(project);
  terrain.UpdateFootprints(project, ui);

  int result = plotter::kDialogCancel;
  if (launch) {
    result = plotter::ExportToPlotara(project, ui);
  } else {
    plotter::ExportDialog dialog(project, {}, ui, nullptr);
    result = dialog.Run();
  }
  if (result != plotter::kDialogOk) return kExitFailure;
  int exported = 0;
  for (int i = 0; i < project.ImageCount(); ++i) exported += plotter::IsExportable(project, i);
  out << "Exported " << exported << " images: " << plotter::DescriptionPath(project) << "\n";
  if (launch) out << "Plotara started: " << plotter::FindPlotara() << "\n";
  return kExitOk;
}

int RunDisplaySettings(const std::string& project_path, const std::vector<std::string>& sets,
                       UserInterface& ui, std::ostream& out, std::ostream& err) {
  CVantriProject project;
  if (project::OpenProjectPath(project, ui, project_path) == 0) return kExitFailure;
  const std::string path = display::GrsPath(project.folder, project.name);
  std::vector<std::string> problems;
  display::DisplaySettings settings = display::ReadDisplaySettings(path, &problems);
  for (const std::string& problem : problems) err << problem << "\n";
  for (const std::string& set : sets) {
    const std::size_t equals = set.find('=');
    std::string problem = "expected \"Section.Key=VALUE\", got \"" + set + "\"";
    if (equals == std::string::npos ||
        !display::SetDisplaySetting(settings, set.substr(0, equals), set.substr(equals + 1),
                                    &problem)) {
      err << problem << "\n";
      return kExitFailure;
    }
  }
  if (!sets.empty() && !display::WriteDisplaySettings(path, settings)) {
    err << "Unable to write " << path << "\n";
    return kExitFailure;
  }
  for (const std::string& key : display::DisplaySettingKeys()) {
    std::string value;
    display::GetDisplaySetting(settings, key, &value);
    out << key << "=" << value << "\n";
  }
  return kExitOk;
}

int RunDisplay(const std::string& project_path, UserInterface& ui, std::ostream& out,
               std::ostream& err) {
  CVantriProject project;
  if (project::OpenProjectPath(project, ui, project_path) == 0) return kExitFailure;
  const display::DisplayResults results = display::ReadDisplayResults(project, &ui);
  for (const std::string& problem : results.problems) err << problem << "\n";
  if (results.problems.size() >= 5) {
    err << "No bundle results: run the bundle adjustment first\n";
    return kExitFailure;
  }
  std::vector<std::string> problems;
  const display::DisplaySettings settings =
      display::ReadDisplaySettings(display::GrsPath(project.folder, project.name), &problems);
  for (const std::string& problem : problems) err << problem << "\n";
  const project::QualityThresholds quality = project::QualityThresholds::LoadFromProfile();
  const display::DisplayModel model =
      display::BuildDisplayModel(project, results, quality, settings);

  for (const display::Layer& layer : model.layers)
    out << "Layer " << layer.name << ": " << layer.entities.size() << " entities"
        << (layer.visible ? "" : " (hidden)") << "\n";
  int classes[3] = {0, 0, 0};
  for (const auto& [id, tie] : model.tie_points) {
    const std::string name = ClassName(quality.tie_points, tie);
    ++classes[name == "high" ? 0 : name == "middle" ? 1 : 2];
  }
  out << "Tie points: " << model.tie_points.size() << " (high " << classes[0] << ", middle "
      << classes[1] << ", low " << classes[2] << ")\n";
  PrintSurveyedPoints("Control point", model.control_points, quality.gcps, out);
  PrintSurveyedPoints("Check point", model.check_points, quality.gcps, out);
  for (const display::ImageMovement& m : model.image_movements) {
    char line[256];
    std::snprintf(line, sizeof line,
                  "Image %s: dX %.3f dY %.3f dZ %.3f dOmega %.6f dPhi %.6f "
                  "dKappa %.6f\n",
                  m.image.c_str(), m.dx, m.dy, m.dz, m.d_omega, m.d_phi, m.d_kappa);
    out << line;
  }
  return kExitOk;
}

}  // namespace vantri::shell
