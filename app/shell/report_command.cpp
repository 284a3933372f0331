#include "shell/report_command.h"

#include <ostream>

#include "project/project_flows.h"
#include "report/bundle_report.h"
#include "shell/project_terrain.h"
#include "ui_interface/ui.h"

namespace vantri::shell {
namespace {

constexpr const char* kReportUsage =
    "Usage: vantri-cli report PROJECT.bun\n"
    "Writes the accuracy report Bundle/<project name>.html (one self-contained HTML file) from "
    "the\n"
    "project and the result files of its last bundle run. Missing or damaged result files are\n"
    "named in the report and on standard error.\n";

}  // namespace

int RunReportCommand(const std::vector<std::string>& args, UserInterface& ui, std::ostream& out,
                     std::ostream& err) {
  for (const std::string& arg : args)
    if (arg == "--help" || arg == "-h") {
      out << kReportUsage;
      return 0;
    }
  if (args.size() != 1 || (args[0].size() > 1 && args[0][0] == '-')) {
    err << "vantri-cli: expected one project file\n" << kReportUsage;
    return 2;
  }
  CVantriProject project;
  if (OpenProjectPath(project, ui, args[0]) == 0) return 1;
  // As after Open in the desktop program: footprints on the project's terrain.
  ProjectTerrain terrain;
  if (terrain.LoadForProject(project)) terrain.UpdateFootprints(project, ui);
  if (report::WriteBundleHtmlReport(project, nullptr, ui) == 0) {
    err << "vantri-cli: Unable to write " << report::HtmlReportPath(project) << "\n";
    return 1;
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
  return 0;
}

}  // namespace vantri::shell
