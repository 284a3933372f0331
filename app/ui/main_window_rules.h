#pragma once
// The rules of the main window without any window code: its command table,
// which commands are enabled at which stage of a project, the remaining-time
// text of the progress bar, the log list (newest line first) and the exit
// question. The Qt main window only draws what these return.

#include <array>
#include <cstddef>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

class CVantriProject;

namespace vantri {
class UserInterface;
}

namespace vantri::ui {

enum class Command {
  kNew,
  kOpen,
  kSave,
  kImagesManager,
  kGcp,
  kCheckPoints,
  kSearchTiePoints,
  kRunBundle,
  kViewReport,
  kGraphicReport,
  kSettings,
  kThresholds,
  kProjectInfo,
  kCameraInfo,
  kShowTiePoints,
  kShowGcp,
  kShowCheckPoints,
  kFootPrints,
  kResetView,
  kAbout,
  kTutorial,
  kExit,
  kRecoverByBro,
  kExportToPlotara,
  kCoordinateSystem,
  kSelectSrtmSource,
  kUseExternalDem,
  kCount
};
inline constexpr std::size_t kCommandCount = static_cast<std::size_t>(Command::kCount);

// Where a command sits in the main window.
enum class CommandPlace { kProjectButtons, kViewButtons, kToolsMenu, kSettingsMenu };

struct CommandInfo {
  Command command;
  const char* label;  // the control's text
  CommandPlace place;
  const char* shortcut;  // key sequence text ("Ctrl+N"), empty for none
  bool checkable;        // the view toggles
};

// Every command of the main window in the order the window lays them out.
const std::vector<CommandInfo>& CommandTable();
const CommandInfo& InfoOf(Command command);

// What the command states depend on, gathered from the project and its folder.
struct ProjectFacts {
  bool open = false;
  int image_count = 0;
  int images_without_gps_imu = 0;
  bool tie_points_exist = false;
  // The project needs a (new) tie-point search before a bundle run.
  bool waiting_for_tie_point_search = false;
  bool report_exists = false;  // Bundle/<name>.atout in the project folder
  bool gcps_exist = false;
};

// "<folder>Bundle/<name>.atout"; empty without a project.
std::string BundleReportPath(const CVantriProject& project);
// The facts of an open (or closed) project; tie points count as present when
// the project reports used tie points, and a project with images but no tie
// points is waiting for a search.
ProjectFacts GatherProjectFacts(const CVantriProject& project);

inline constexpr const char* kGpsImuWarning = "Warning: not all images have GPS/IMU data";

struct CommandStates {
  std::array<bool, kCommandCount> enabled{};
  bool search_has_tie_points_icon = false;  // second icon of "Search Tie Points"
  bool bundle_has_gcps_icon = false;        // second icon of "Run Bundle"
  // The line to log at this refresh (the GPS/IMU warning), empty for none.
  std::string log_warning;

  bool IsEnabled(Command command) const { return enabled[static_cast<std::size_t>(command)]; }
};

CommandStates ComputeCommandStates(const ProjectFacts& facts);

// Text of the progress bar with the time to complete. `elapsed_seconds` since
// the range was set; while the completed fraction is at most 0.02 the plain
// text is shown.
std::string TimeToCompleteText(double elapsed_seconds, int lower, int upper, int position,
                               std::string_view prefix, std::string_view plain_text);

// The log list's lines, newest first.
class LogLines {
 public:
  explicit LogLines(std::size_t capacity = 5000) : capacity_(capacity) {}
  void Insert(std::string_view line);
  const std::deque<std::string>& Newest() const { return lines_; }

 private:
  std::size_t capacity_;
  std::deque<std::string> lines_;
};

// "Exit" and closing the window: true when the operator answered Yes.
bool ConfirmExit(UserInterface& ui);

// "Tutorial": the first of tutorial/<title>.{pdf,html,chm} below
// `program_folder` that exists, empty when none does.
std::string FindTutorial(const std::string& program_folder, const std::string& program_title);
inline constexpr const char* kTutorialMissing =
    "The tutorial was not present. Please contact Norvel Software to get the "
    "tutorial.";
// Opens the tutorial with the desktop's default program, or shows the
// missing-tutorial message. True when it was handed to the desktop.
bool OpenTutorial(UserInterface& ui, const std::string& program_folder,
                  const std::string& program_title);
// "View Report": hands the bundle report to the desktop when it exists.
bool OpenBundleReport(const CVantriProject& project);

// "Recover by BRO" without an open project with images.
inline constexpr const char* kRecoverNeedsProject = "Please open project to recover before";

// Title of the main window: program name followed by the version text.
std::string MainWindowTitle(std::string_view program, std::string_view version);

}  // namespace vantri::ui
