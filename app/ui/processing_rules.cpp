#include "ui/processing_rules.h"

#include <filesystem>

#include "aat/aat_process.h"
#include "bundle/bundle_process.h"
#include "bundle/completion_notice.h"
#include "project/project.h"
#include "report/bundle_report.h"
#include "report/result_files.h"
#include "system/files.h"
#include "system/text.h"
#include "ui_interface/ui.h"

namespace vantri::ui {

namespace fs = std::filesystem;

namespace {

constexpr const char* kRunSearchFirst = "Run tie points searching before!";

std::string TiePointsFolder(const CVantriProject& project) { return project.folder + "TiePoints"; }

bool IsFile(const std::string& path) {
  std::error_code error;
  return fs::is_regular_file(path, error);
}

}  // namespace

bool HasEarlierSearch(const CVantriProject& project) {
  if (!project.IsOpen()) return false;
  std::error_code error;
  for (fs::directory_iterator entry(TiePointsFolder(project), error), end; !error && entry != end;
       entry.increment(error)) {
    if (entry->path().extension() == ".bro" && entry->is_regular_file(error)) return true;
  }
  return false;
}

SearchStart PrepareTiePointSearch(const CVantriProject& project, UserInterface& ui, bool recover,
                                  std::string* resume_path) {
  resume_path->clear();
  if (!HasEarlierSearch(project)) return SearchStart::kFresh;
  if (recover) {
    if (!ui.PickOpenFile("Recover by BRO", {{"BRO File", "*.bro"}}, TiePointsFolder(project), "bro",
                         resume_path) ||
        resume_path->empty())
      return SearchStart::kCancelled;
    return SearchStart::kResume;
  }
  if (!ui.AskYesNo(kSearchDeletesResults, MessageIcon::kQuestion)) return SearchStart::kCancelled;
  return SearchStart::kFresh;
}

bool ConfirmAbort(UserInterface& ui) {
  if (!ui.AskYesNo(kAbortQuestion, MessageIcon::kQuestion)) return false;
  ui.SetProgressPosition(0);
  ui.SetAbort(true);
  return true;
}

WindowRect ProgressWindowRect(int screen_x, int screen_y, int screen_width, int screen_height) {
  WindowRect rect;
  rect.x = screen_x + screen_width / 5;
  rect.y = screen_y + screen_height / 5;
  rect.width = screen_x + screen_width - rect.x;
  rect.height = screen_y + screen_height - rect.y;
  return rect;
}

void FinishTiePointSearch(CVantriProject& project, UserInterface& ui, int tie_points) {
  project.used_tie_points = tie_points;
  ui.SetAbort(false);
}

int RunBundleWithNotice(CVantriProject& project, UserInterface& ui, std::string* message) {
  std::string why;
  // StartBundle writes the HTML accuracy report with the run's own statistics.
  const int result = bundle::StartBundle(project, ui, &why);
  if (why != kRunSearchFirst) bundle::NotifyCompletion(project, result != 0, ui);
  if (message != nullptr) *message = why;
  return result;
}

std::vector<std::string> BundleReportFiles(const CVantriProject& project) {
  std::vector<std::string> files;
  if (!project.IsOpen()) return files;
  const std::string stem = project.folder + "Bundle/" + project.name;
  for (const char* extension : {".atout", ".html"}) {
    if (IsFile(stem + extension)) files.push_back(stem + extension);
  }
  return files;
}

points::PointResults LoadPointResults(const CVantriProject& project, points::PointKind kind) {
  points::PointResults results;
  if (!project.IsOpen()) return results;
  const std::string path = project.folder + "Bundle/" + project.name +
                           (kind == points::PointKind::kGcp ? ".gcpres" : ".cpres");
  std::string text;
  if (!IsFile(path) || !system::ReadWholeFile(path, text)) return results;
  std::vector<report::PointResidual> rows;
  report::FileStatus status;
  report::ParsePointResiduals(text, rows, status);
  if (status.state != report::FileState::kRead) return results;
  const CGCPCollMap& points = points::PointMap(project, kind);
  for (const report::PointResidual& row : rows) {
    for (const auto& [name, point] : points) {
      if (!system::EqualsNoCase(point.name, row.id)) continue;
      results[point.id] = {row.vx, row.vy, row.vz};
    }
  }
  return results;
}

bool LoadBlockOrientations(CVantriProject& project, UserInterface& ui,
                           std::vector<nvc::COrientation>* orientations) {
  const std::string path = project.folder + project.name + ".bro";
  if (!project.IsOpen() || !IsFile(path)) return false;
  CAerialPhotogrammetricProcess process(project, ui);
  if (process.ReadBRO(path, true, true, true) < 0) return false;
  *orientations = process.Orientations();
  return static_cast<int>(orientations->size()) == project.ImageCount();
}

}  // namespace vantri::ui
