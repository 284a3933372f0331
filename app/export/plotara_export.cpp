#include "export/plotara_export.h"

#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <thread>

#include "photogrammetry/orientation.h"
#include "report/result_files.h"
#include "system/files.h"
#include "system/nvtools.h"
#include "system/text.h"
#include "ui_interface/ui.h"

extern char** environ;

namespace vantri::plotter {
namespace {

namespace fs = std::filesystem;

constexpr const char* kOverwriteQuestion = "Plotara project already exported.\nOverwrite it?";
constexpr const char* kRemoveFailed = "Unable to remove existing files!";
constexpr const char* kTooFewImages = "At least 2 images must be oriented!";
constexpr const char* kAbortQuestion = "Abort process?";

using system::IsExecutableFile;

std::string StripTrailingSeparators(std::string path) {
  while (path.size() > 1 && (path.back() == '/' || path.back() == '\\')) path.pop_back();
  return path;
}

// Folder of an image path as stored ('/' or '\' separate folders), with a trailing '/'.
std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? std::string("./") : path.substr(0, slash) + "/";
}

std::string Printf(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

std::string Printf(const char* format, int value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

// Exchanges two folders atomically where the file system can; else moves the old one away first.
bool ExchangeFolders(const std::string& from, const std::string& to) {
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_EXCHANGE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  const std::string aside = to + ".old";
  NVT_DeleteDirectory(aside);
  if (std::rename(to.c_str(), aside.c_str()) != 0) return false;
  if (std::rename(from.c_str(), to.c_str()) != 0) {
    std::rename(aside.c_str(), to.c_str());
    return false;
  }
  return std::rename(aside.c_str(), from.c_str()) == 0;
}

}  // namespace

std::string FindPlotara() {
  const std::string configured =
      NVT_GetUserProfileString(kProfileSection, kProfileExecutableKey, "");
  if (IsExecutableFile(configured)) return configured;
  return system::FindExecutable(kPlotaraExecutable);
}

bool StartPlotara(const std::string& executable, const std::string& sti) {
  std::vector<char*> argv{const_cast<char*>(executable.c_str()), const_cast<char*>(sti.c_str()),
                          nullptr};
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  // Its own session: Plotara outlives the program and its terminal.
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
  pid_t child = 0;
  const int failed =
      posix_spawn(&child, executable.c_str(), nullptr, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  if (failed != 0) return false;
  // Nobody waits for Plotara; this reaps it when it ends.
  std::thread([child] {
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
  return true;
}

std::string ExportFolder(const CVantriProject& project) {
  return StripTrailingSeparators(project.folder + "Stereo");
}

std::string MarkerPath(const CVantriProject& project) {
  return ExportFolder(project) + "/" + project.name + ".st3";
}

std::string DescriptionPath(const CVantriProject& project) {
  return ExportFolder(project) + "/" + project.name + ".sti";
}

bool IsExportable(const CVantriProject& project, int image_index) {
  const CABAImage* image = project.Image(image_index);
  return image != nullptr && image->enabled != 0 && image->reserved != 0 &&
         image->footprint_handle != 0;
}

const std::vector<std::array<double, 2>>& FootprintOf(const CVantriProject& project,
                                                      int image_index) {
  static const std::vector<std::array<double, 2>> kNone;
  if (image_index < 0 || static_cast<size_t>(image_index) >= project.footprints.size())
    return kNone;
  return project.footprints[image_index];
}

double AverageGsd(const std::vector<std::array<double, 2>>& footprint, int width, int height) {
  if (width <= 0 || height <= 0 || footprint.size() < 3) return 0.0;
  double twice_area = 0;  // shoelace formula over the closed outline
  for (size_t i = 0; i < footprint.size(); ++i) {
    const auto& a = footprint[i];
    const auto& b = footprint[(i + 1) % footprint.size()];
    twice_area += a[0] * b[1] - b[0] * a[1];
  }
  return std::sqrt(std::fabs(twice_area) / 2) /
         std::sqrt(static_cast<double>(width) * static_cast<double>(height));
}

int AdoptBundleOrientations(CVantriProject& project, std::string* problem) {
  const std::string path = project.folder + "Bundle/" + project.name + ".extor";
  std::string text;
  std::error_code error;
  if (!fs::exists(path, error)) {
    if (problem != nullptr) *problem = path + " is missing: run the bundle adjustment first";
    return 0;
  }
  if (!system::ReadWholeFile(path, text)) {
    if (problem != nullptr) *problem = "Unable to read " + path;
    return 0;
  }
  std::vector<report::AdjustedOrientation> rows;
  report::CoordinateSystemNames names;
  report::FileStatus status;
  report::ParseExtor(text, rows, names, status);
  if (status.state == report::FileState::kDamaged) {
    if (problem != nullptr) *problem = path + " is damaged: " + status.problem;
    return 0;
  }
  // The file is the whole result of the last run: images it does not list were not oriented.
  for (auto& image : project.images) image->reserved = 0;
  int updated = 0;
  for (const report::AdjustedOrientation& row : rows)
    for (auto& image : project.images) {
      if (!system::EqualsNoCase(image->Name(), row.image)) continue;
      image->reserved = 1;
      image->reserved_point1 = {row.x, row.y, row.z};
      image->reserved_point2 = {row.omega, row.phi, row.kappa};
      ++updated;
      break;
    }
  return updated;
}

ExportDialog::ExportDialog(CVantriProject& project, std::string executable, UserInterface& ui,
                           PlotaraStarter start)
    : project_(project), executable_(std::move(executable)), ui_(ui), start_(std::move(start)) {}

void ExportDialog::OnAbort() {
  ui_.PumpMessages();
  if (ui_.AskYesNo(kAbortQuestion, MessageIcon::kQuestion)) ui_.SetAbort(true);
}

bool ExportDialog::Aborted() {
  ui_.PumpMessages();
  return ui_.IsAborted();
}

bool ExportDialog::CollectImages() {
  ui_.SetProgressRange(0, project_.ImageCount());
  for (int i = 0; i < project_.ImageCount(); ++i) {
    ui_.SetProgressPosition(i);
    if (Aborted()) return false;
    if (IsExportable(project_, i)) exported_.push_back(i);
  }
  return true;
}

bool ExportDialog::WriteImages(std::string* sti_text) {
  system::IniFile sti;
  sti.Set("CoordinateSystem", "WKT", system::SingleLine(project_.coordinate_system.BuildWkt()));
  sti.Set("Images", "Number", Printf("%d", static_cast<int>(exported_.size())));
  ui_.SetProgressRange(0, static_cast<int>(exported_.size()));
  const CCameraPassport& passport = *project_.passport;
  for (size_t k = 0; k < exported_.size(); ++k) {
    ui_.SetProgressPosition(static_cast<int>(k));
    if (Aborted()) return false;
    const CABAImage& image = *project_.Image(exported_[k]);
    const std::string section = Printf("Image_%05d", static_cast<int>(k));
    sti.Set(section, "FilePath", system::SingleLine(image.Path()));

    const std::vector<std::array<double, 2>>& footprint = FootprintOf(project_, exported_[k]);
    nvc::COrientation orientation(1.0);
    orientation.BuildINTWithoutDistortion(passport, 0.0);
    const auto& centre = image.reserved_point1;
    const auto& angles = image.reserved_point2;
    orientation.SetN({centre[0], centre[1], centre[2]});
    orientation.SetRotMat(FromEulerAnglesXYZ(angles[0], angles[1], angles[2]));
    orientation.SetAvgGSD(AverageGsd(footprint, passport.width, passport.height));
    const std::string base = FolderOf(image.Path()) + image.Name();
    if (orientation.WriteINT(base + ".int", passport) == 0) unwritten_.push_back(base + ".int");
    if (orientation.WriteEST(base + ".est") == 0) unwritten_.push_back(base + ".est");

    sti.Set(section, "nVertices", Printf("%d", static_cast<int>(footprint.size())));
    for (size_t v = 0; v < footprint.size(); ++v) {
      const std::string vertex = Printf("Vertex_%02d_", static_cast<int>(v));
      sti.Set(section, vertex + "X", Printf("%lf", footprint[v][0]));
      sti.Set(section, vertex + "Y", Printf("%lf", footprint[v][1]));
    }
  }
  // The INI text as the private-profile writer lays it out.
  std::string text;
  for (const std::string& name : sti.Sections()) {
    text += "[" + name + "]\n";
    for (const std::string& key : sti.Keys(name)) text += key + "=" + sti.Get(name, key) + "\n";
  }
  *sti_text = std::move(text);
  return true;
}

bool ExportDialog::SwapIn(const std::string& staging) {
  const std::string folder = ExportFolder(project_);
  std::error_code error;
  if (!fs::exists(folder, error)) return std::rename(staging.c_str(), folder.c_str()) == 0;
  if (!ExchangeFolders(staging, folder)) return false;
  NVT_DeleteDirectory(staging);  // now the earlier export
  return true;
}

int ExportDialog::Run() {
  ui_.SetProgressRange(0, 100);
  ui_.SetProgressPosition(0);
  ui_.PumpMessages();
  ui_.SetAbort(false);
  exported_.clear();
  unwritten_.clear();
  if (!project_.IsOpen() || (start_ && !IsExecutableFile(executable_))) return kDialogCancel;

  std::error_code error;
  if (fs::exists(MarkerPath(project_), error) &&
      !ui_.AskYesNo(kOverwriteQuestion, MessageIcon::kQuestion))
    return kDialogCancel;

  // Built beside the export folder and swapped in when complete.
  const std::string staging = ExportFolder(project_) + ".new";
  const auto give_up = [&](const char* message) {
    NVT_DeleteDirectory(staging);
    if (message != nullptr) ui_.ShowMessage(message, MessageIcon::kExclamation);
    ui_.SetProgressPosition(0);
    return kDialogCancel;
  };
  if (NVT_DeleteDirectory(staging) == 0 || !system::MakeFolders(staging)) {
    ui_.ShowMessage("Unable to create the folder " + staging, MessageIcon::kExclamation);
    return kDialogCancel;
  }
  if (!CollectImages()) return give_up(nullptr);
  if (exported_.size() < 2) return give_up(kTooFewImages);
  std::string sti_text;
  if (!WriteImages(&sti_text)) return give_up(nullptr);
  const std::string staged_sti = staging + "/" + project_.name + ".sti";
  if (!system::WriteFileAtomically(staged_sti, sti_text)) {
    ui_.ShowMessage("Unable to write " + DescriptionPath(project_), MessageIcon::kExclamation);
    return give_up(nullptr);
  }
  if (!SwapIn(staging)) return give_up(kRemoveFailed);

  if (!unwritten_.empty()) {
    std::string list;
    for (const std::string& path : unwritten_) list += "\n" + path;
    ui_.ShowMessage("Unable to write the orientation files:" + list, MessageIcon::kWarning);
  }
  ui_.SetProgressPosition(0);
  ui_.PumpMessages();
  if (start_ && !start_(executable_, DescriptionPath(project_))) {
    ui_.ShowMessage("Unable to start Plotara (" + executable_ + ")", MessageIcon::kExclamation);
    return kDialogCancel;
  }
  return kDialogOk;
}

int RunningPlotaraCount() {
  int count = NVT_GetActiveProcessNumber(kPlotaraExecutable);
  const std::string configured =
      NVT_GetUserProfileString(kProfileSection, kProfileExecutableKey, "");
  const std::string name = fs::path(configured).filename().string();
  if (!name.empty() && !system::EqualsNoCase(name, kPlotaraExecutable))
    count += NVT_GetActiveProcessNumber(name);
  return count;
}

int ExportToPlotara(CVantriProject& project, UserInterface& ui, PlotaraStarter start,
                    const DialogRunner& run) {
  if (RunningPlotaraCount() >= 1) {
    ui.ShowMessage("Another instance of Plotara is running.\nPlease close it before continue",
                   MessageIcon::kExclamation);
    return kDialogCancel;
  }
  const std::string executable = FindPlotara();
  if (executable.empty()) {
    ui.ShowMessage("Unable to find Plotara", MessageIcon::kExclamation);
    return kDialogCancel;
  }
  ExportDialog dialog(project, executable, ui, std::move(start));
  return run ? run(dialog) : dialog.Run();
}

}  // namespace vantri::plotter
