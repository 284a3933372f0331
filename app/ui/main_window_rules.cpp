#include "ui/main_window_rules.h"

#include <cstdio>
#include <filesystem>

#include "project/project.h"
#include "system/nvtools.h"
#include "ui_interface/ui.h"

namespace vantri::ui {

namespace fs = std::filesystem;

const std::vector<CommandInfo>& CommandTable() {
  using enum Command;
  using enum CommandPlace;
  static const std::vector<CommandInfo> table = {
      {kNew, "New", kProjectButtons, "Ctrl+N", false},
      {kOpen, "Open", kProjectButtons, "Ctrl+O", false},
      {kSave, "Save", kProjectButtons, "Ctrl+S", false},
      {kImagesManager, "Images Manager", kProjectButtons, "Ctrl+I", false},
      {kGcp, "GCP", kProjectButtons, "Ctrl+G", false},
      {kCheckPoints, "Check Points", kProjectButtons, "Ctrl+K", false},
      {kSearchTiePoints, "Search Tie Points", kProjectButtons, "F5", false},
      {kRunBundle, "Run Bundle", kProjectButtons, "F6", false},
      {kViewReport, "View Report", kProjectButtons, "Ctrl+R", false},
      {kGraphicReport, "Graphic Report", kProjectButtons, "", false},
      {kSettings, "Settings", kProjectButtons, "Ctrl+E", false},
      {kThresholds, "Thresholds", kProjectButtons, "", false},
      {kProjectInfo, "Project Info", kProjectButtons, "", false},
      {kCameraInfo, "Camera Info", kProjectButtons, "", false},
      {kShowTiePoints, "Tie Points", kViewButtons, "", true},
      {kShowGcp, "GCP", kViewButtons, "", true},
      {kShowCheckPoints, "Check Points", kViewButtons, "", true},
      {kFootPrints, "Foot Prints", kViewButtons, "", true},
      {kResetView, "Reset View", kViewButtons, "Home", false},
      {kAbout, "About", kViewButtons, "", false},
      {kTutorial, "Tutorial", kViewButtons, "F1", false},
      {kExit, "Exit", kViewButtons, "Ctrl+Q", false},
      {kRecoverByBro, "Recover by BRO", kToolsMenu, "", false},
      {kExportToPlotara, "Export to Plotara", kToolsMenu, "", false},
      {kCoordinateSystem, "Coordinate System", kSettingsMenu, "", false},
      {kSelectSrtmSource, "Select SRTM Source", kSettingsMenu, "", false},
      {kUseExternalDem, "Use External DEM", kSettingsMenu, "", true},
  };
  return table;
}

const CommandInfo& InfoOf(Command command) {
  for (const CommandInfo& info : CommandTable()) {
    if (info.command == command) return info;
  }
  return CommandTable().front();
}

std::string BundleReportPath(const CVantriProject& project) {
  if (!project.IsOpen()) return {};
  return project.folder + "Bundle/" + project.name + ".atout";
}

ProjectFacts GatherProjectFacts(const CVantriProject& project) {
  ProjectFacts facts;
  facts.open = project.IsOpen();
  if (!facts.open) return facts;
  std::error_code error;
  facts.image_count = project.ImageCount();
  for (int i = 0; i < project.ImageCount(); ++i) {
    if (!project.Image(i)->HasGpsImu()) ++facts.images_without_gps_imu;
  }
  // The block of the last search (<folder><name>.bro) survives closing the project.
  facts.tie_points_exist = project.used_tie_points > 0 ||
                           fs::is_regular_file(project.folder + project.name + ".bro", error);
  facts.waiting_for_tie_point_search = facts.image_count > 0 && !facts.tie_points_exist;
  facts.report_exists = fs::is_regular_file(BundleReportPath(project), error);
  facts.gcps_exist = !project.gcps.empty();
  return facts;
}

CommandStates ComputeCommandStates(const ProjectFacts& facts) {
  CommandStates states;
  auto set = [&states](Command command, bool on) {
    states.enabled[static_cast<std::size_t>(command)] = on;
  };
  // Commands that need no project.
  for (Command command :
       {Command::kThresholds, Command::kShowTiePoints, Command::kShowGcp, Command::kShowCheckPoints,
        Command::kFootPrints, Command::kResetView, Command::kAbout, Command::kTutorial,
        Command::kExit, Command::kRecoverByBro, Command::kSelectSrtmSource}) {
    set(command, true);
  }
  set(Command::kNew, !facts.open);
  set(Command::kOpen, !facts.open);
  if (!facts.open) return states;

  for (Command command :
       {Command::kSave, Command::kSettings, Command::kImagesManager, Command::kProjectInfo,
        Command::kCameraInfo, Command::kCoordinateSystem, Command::kUseExternalDem}) {
    set(command, true);
  }
  const bool search = facts.image_count > 0 && facts.images_without_gps_imu == 0;
  if (facts.image_count > 0 && facts.images_without_gps_imu > 0) {
    states.log_warning = kGpsImuWarning;
  }
  set(Command::kSearchTiePoints, search);
  const bool bundle = search && facts.tie_points_exist && !facts.waiting_for_tie_point_search;
  set(Command::kGcp, bundle);
  set(Command::kCheckPoints, bundle);
  set(Command::kRunBundle, bundle);
  const bool results = bundle && facts.report_exists;
  set(Command::kViewReport, results);
  set(Command::kGraphicReport, results);
  set(Command::kExportToPlotara, results);
  states.search_has_tie_points_icon = facts.tie_points_exist;
  states.bundle_has_gcps_icon = facts.gcps_exist;
  return states;
}

namespace {

std::string Plural(int n) { return n == 1 ? "" : "s"; }

}  // namespace

std::string TimeToCompleteText(double elapsed_seconds, int lower, int upper, int position,
                               std::string_view prefix, std::string_view plain_text) {
  const int range = upper - lower;
  const double fraction = range > 0 ? static_cast<double>(position - lower) / range : 0.0;
  if (fraction <= 0.02) return std::string(plain_text);
  const double remaining = elapsed_seconds / fraction * (1.0 - fraction);
  char text[128];
  if (remaining >= 60) {
    const int minutes = static_cast<int>(remaining / 60);
    const int seconds = static_cast<int>(remaining) % 60;
    std::snprintf(text, sizeof text, "%d minute%s, %d second%s remaining", minutes,
                  Plural(minutes).c_str(), seconds, Plural(seconds).c_str());
  } else if (static_cast<int>(remaining) > 0) {
    const int seconds = static_cast<int>(remaining);
    std::snprintf(text, sizeof text, "%d second%s remaining", seconds, Plural(seconds).c_str());
  } else {
    std::snprintf(text, sizeof text, "Completing process");
  }
  if (prefix.empty()) return text;
  return std::string(prefix) + " " + text;
}

void LogLines::Insert(std::string_view line) {
  lines_.emplace_front(line);
  if (lines_.size() > capacity_) lines_.pop_back();
}

bool ConfirmExit(UserInterface& ui) {
  return ui.AskYesNo("Do you really want to exit?", MessageIcon::kQuestion);
}

std::string FindTutorial(const std::string& program_folder, const std::string& program_title) {
  for (const char* extension : {".pdf", ".html", ".chm"}) {
    const fs::path path = fs::path(program_folder) / "tutorial" / (program_title + extension);
    std::error_code error;
    if (fs::is_regular_file(path, error)) return path.string();
  }
  return {};
}

bool OpenTutorial(UserInterface& ui, const std::string& program_folder,
                  const std::string& program_title) {
  const std::string path = FindTutorial(program_folder, program_title);
  if (path.empty()) {
    ui.ShowMessage(kTutorialMissing, MessageIcon::kExclamation);
    return false;
  }
  return NVT_ShellExecute(path) != 0;
}

bool OpenBundleReport(const CVantriProject& project) {
  const std::string path = BundleReportPath(project);
  std::error_code error;
  if (path.empty() || !fs::is_regular_file(path, error)) return false;
  return NVT_ShellExecute(path) != 0;
}

std::string MainWindowTitle(std::string_view program, std::string_view version) {
  return std::string(program) + " " + std::string(version);
}

}  // namespace vantri::ui
