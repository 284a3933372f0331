#pragma once
// The rules of the processing commands of the main window without window code: how "Search Tie
// Points" and "Recover by BRO" start, the abort question of the progress window and where that
// window sits, what follows a finished search, "Run Bundle" with its completion notice, and the
// report files "View Report" opens.

#include <string>
#include <vector>

#include "photogrammetry/orientation.h"
#include "points/point_maps.h"

class CVantriProject;

namespace vantri {
class UserInterface;
}

namespace vantri::ui {

inline constexpr const char* kSearchDeletesResults =
    "If you proceed previous results will be deleted.\nDo you want continue?";
inline constexpr const char* kAbortQuestion = "Abort Process?";

// True when the project's TiePoints folder holds an exchange file (*.bro) of an earlier search.
bool HasEarlierSearch(const CVantriProject& project);

enum class SearchStart { kCancelled, kFresh, kResume };
// With an earlier search, "Recover by BRO" (`recover`) asks for the exchange file to resume from
// ("BRO File (*.bro)", cancelling ends the command) and "Search Tie Points" asks
// kSearchDeletesResults (No ends the command). Without one both start a fresh search.
SearchStart PrepareTiePointSearch(const CVantriProject& project, UserInterface& ui, bool recover,
                                  std::string* resume_path);

// The abort button: after Yes the progress bar is reset and the abort flag set; true then.
bool ConfirmAbort(UserInterface& ui);

// The progress window: from 20 % of the screen's width and height to its bottom-right corner.
struct WindowRect {
  int x = 0, y = 0, width = 0, height = 0;
};
WindowRect ProgressWindowRect(int screen_x, int screen_y, int screen_width, int screen_height);

// After a successful search: the project has tie points (the number found) and the abort flag is
// cleared, so the bundle process may start.
void FinishTiePointSearch(CVantriProject& project, UserInterface& ui, int tie_points);

// "Run Bundle": the bundle process, the HTML accuracy report after every run that got going, and
// the completion notice (report shown, alert e-mail) as the settings ask. 1 / 0; `message`
// receives why a failed run stopped.
int RunBundleWithNotice(CVantriProject& project, UserInterface& ui, std::string* message = nullptr);

// "View Report": the text report Bundle/<name>.atout and the accuracy report Bundle/<name>.html,
// those that exist, in that order.
std::vector<std::string> BundleReportFiles(const CVantriProject& project);

// The residuals of the last bundle run by point ID (Bundle/<name>.gcpres or .cpres, matched to
// the map's points by name without regard to case); empty when the file is missing or damaged.
points::PointResults LoadPointResults(const CVantriProject& project, points::PointKind kind);

// The orientations of the block the last search left (<folder><name>.bro), indexed like the
// images, in local coordinates (project minus the local origin); images the block does not
// hold have none (centre 0). False when there is no readable block.
bool LoadBlockOrientations(CVantriProject& project, UserInterface& ui,
                           std::vector<nvc::COrientation>* orientations);

}  // namespace vantri::ui
