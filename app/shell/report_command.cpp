#include "shell/report_command.h"

#include <ostream>

#include "project/project_flows.h"
#include "report/bundle_report.h"
#include "shell/project_terrain.h"
#include "ui_interface/ui.h"

namespace vantri::shell {

bool WriteReportOfProjectFile(const std::string& project_path, UserInterface& ui, std::ostream& out,
                              std::ostream& err) {
  CVantriProject project;
  if (project::OpenProjectPath(project, ui, project_path) == 0) return false;
  // As after Open in the desktop program: footprints on the project's terrain.
  ProjectTerrain terrain;
  if (terrain.LoadForProject(project)) terrain.UpdateFootprints(project, ui);
  if (report::WriteBundleHtmlReport(project, nullptr, ui) == 0) {
    err << "vantri-cli: Unable to write " << report::HtmlReportPath(project) << "\n";
    return false;
  }
  const report::ResultFiles files =
      report::ReadResultFiles(project.folder + "Bundle/", project.name);
  for (const report::FileStatus& status : files.files) {
    if (status.state == report::FileState::kMissing)
      err << "vantri-cli: " << status.path << " is missing\n";
    else if (status.state == report::FileState::kDamaged)
      err << "vantri-cli: " << status.path << " is damaged: " << status.problem << "\n";
  }
  out << "HTML report written: " << report::HtmlReportPath(project) << "\n";
  return true;
}

}  // namespace vantri::shell
