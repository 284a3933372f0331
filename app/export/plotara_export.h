#pragma once
// Export of an oriented block to Plotara, the stereo-plotting program: the description file
// Stereo/<project name>.sti (INI: the coordinate system and, per exported image, its file and
// footprint), <image name>.int / .est next to every exported image, then Plotara started on the
// .sti file (docs/formats.md).
//
// Exported images: enabled, oriented by a bundle run (the adjusted flag of the image record) and
// with a footprint, in project order, numbered Image_00000, Image_00001, ... without gaps.
//
// The Stereo folder is never half-replaced: the new one is built beside it and swapped in only
// when complete. A refusal, an abort or a failure leaves the earlier export as it was; only the
// .int / .est files already written next to the images stay.

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "project/project.h"

namespace vantri {
class UserInterface;
}

namespace vantri::plotter {

// Results of the export dialog.
inline constexpr int kDialogOk = 1;
inline constexpr int kDialogCancel = 2;

// The executable looked for on the PATH, and the profile key that names another one.
inline constexpr const char* kPlotaraExecutable = "plotara";
inline constexpr const char* kProfileSection = "Plotara";
inline constexpr const char* kProfileExecutableKey = "ExecutablePath";

// The executable: the path in the profile (section "Plotara", key "ExecutablePath") when it names
// an executable file, else `plotara` on the PATH; empty when neither exists.
std::string FindPlotara();

// Starts Plotara with the .sti path as its only argument, directly (no shell), without waiting.
using PlotaraStarter = std::function<bool(const std::string& executable, const std::string& sti)>;
bool StartPlotara(const std::string& executable, const std::string& sti);

// <project folder>Stereo (trailing separators stripped), and the .st3 / .sti paths in it.
std::string ExportFolder(const CVantriProject& project);
std::string MarkerPath(const CVantriProject& project);
std::string DescriptionPath(const CVantriProject& project);

// An image qualifies for the export: enabled, oriented and with a footprint.
bool IsExportable(const CVantriProject& project, int image_index);

// The image's footprint outline (project units); empty when it has none.
const std::vector<std::array<double, 2>>& FootprintOf(const CVantriProject& project,
                                                      int image_index);
// Average ground sample distance: sqrt(footprint area) / sqrt(raster width * raster height).
double AverageGsd(const std::vector<std::array<double, 2>>& footprint, int width, int height);

// Images the adjusted orientations of the last bundle run (Bundle/<name>.extor) when the records
// do not hold them (vantri-cli opens the project from its file, the bundle run kept them in
// memory). Rows of unknown images are skipped. Returns the number of images updated; `problem`
// says why none could be read.
int AdoptBundleOrientations(CVantriProject& project, std::string* problem);

// The export dialog: runs both passes with progress, messages pumped before each image and the
// abort flag polled; returns kDialogOk after Plotara was started, kDialogCancel otherwise.
// Without a starter (vantri-cli without --launch) the export is written and Plotara not needed.
class ExportDialog {
 public:
  ExportDialog(CVantriProject& project, std::string executable, UserInterface& ui,
               PlotaraStarter start = StartPlotara);
  int Run();
  // The abort button: asks "Abort process?" and sets the abort flag on Yes.
  void OnAbort();

  // The images exported by the last run, in export order.
  const std::vector<int>& exported() const { return exported_; }

 private:
  bool CollectImages();
  bool WriteImages(std::string* sti_text);
  bool SwapIn(const std::string& staging);
  bool Aborted();

  CVantriProject& project_;
  std::string executable_;
  UserInterface& ui_;
  PlotaraStarter start_;
  std::vector<int> exported_;
  std::vector<std::string> unwritten_;  // orientation files that could not be written
};

// Running processes of Plotara: `plotara` and the executable named in the profile.
int RunningPlotaraCount();

// Shows the export dialog (a window with the progress bar and the abort button) and returns its
// result; it runs ExportDialog::Run once the window is up.
using DialogRunner = std::function<int(ExportDialog& dialog)>;

// The main window's command: refuses while Plotara runs ("Another instance of Plotara is
// running.\nPlease close it before continue") or when it cannot be found ("Unable to find
// Plotara"), otherwise runs the dialog, through `run` when given. Returns the dialog's result
// (kDialogCancel when refused).
int ExportToPlotara(CVantriProject& project, UserInterface& ui, PlotaraStarter start = StartPlotara,
                    const DialogRunner& run = {});

}  // namespace vantri::plotter
