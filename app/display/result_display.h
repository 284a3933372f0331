#pragma once
// The rules of the graphic result display: which result files of the last bundle run feed it,
// how residuals are aggregated and classified into quality colours, how far each image moved
// from its GPS/IMU values, and the symbols on their layers (display/display_model.h).
//
// Typical use by the main window after a bundle run, and again when the display settings change:
//   DisplayResults results = ReadDisplayResults(project, &ui);      // the five files, once
//   ApplyPointResiduals(results, project);                          // managers show ResX..ResZ
//   DisplayModel model = BuildDisplayModel(project, results, QualityThresholds::LoadFromProfile(),
//                                          ReadDisplaySettings(GrsPath(...), &problems));

#include <array>
#include <map>
#include <string>
#include <vector>

#include "display/display_model.h"
#include "display/display_settings.h"
#include "project/project.h"
#include "project/quality_thresholds.h"
#include "report/result_files.h"
#include "report/statistics.h"

namespace vantri {
class UserInterface;
}

namespace vantri::display {

// Steps of the progress bar while the results load: range 0 .. kLoadProgressSteps.
inline constexpr int kLoadProgressSteps = 9;
// Image chips of control and check points: pixels around the first measurement.
inline constexpr int kChipSizePx = 64;

// --- Rules ------------------------------------------------------------------------------------

// An angle difference wrapped into (-pi, pi] by whole turns (the report's rule).
using report::WrapAngle;
// A difference smaller than 1e-6 in magnitude counts as 0.
double ZeroBelowTolerance(double difference);

// Colour of a residual magnitude: above the middle threshold the low-quality colour, else above
// the high threshold the middle-quality colour, else the high-quality colour. A magnitude that is
// not a number gets the low-quality colour.
Rgb QualityColor(const project::QualityClass& quality, double magnitude);

// Mean image residual of each tie point (by point ID) over the rows of type "in":
// (sum vx / n, sum vy / n) and n. The bundle run numbers tie points; other IDs are kept as written.
struct MeanResidual {
  double vx = 0, vy = 0;
  int rows = 0;
};
std::map<std::string, MeanResidual> MeanTieResiduals(
    const std::vector<report::ImageResiduals>& residuals);

// Adjusted orientation minus the image's GPS/IMU values (angles wrapped, tiny differences 0).
ImageMovement MovementOf(const CABAImage& image, int image_index,
                         const report::AdjustedOrientation& adjusted);

// An arrow from (x, y) by (dx, dy): shaft, then the two strokes of the head (a quarter of the
// shaft long, 25 degrees off it), as one open polyline tip-to-tip. Empty for a zero vector.
std::vector<std::array<double, 2>> ArrowPolyline(double x, double y, double dx, double dy);

// --- Result files -----------------------------------------------------------------------------

// What the display takes from Bundle/<project name>.{ptres,ptocs,gcpres,cpres,extor}. A file that
// is missing or damaged leaves its part empty (rows that parsed are kept) and adds a line to
// `problems` naming it.
struct DisplayResults {
  std::vector<report::ImageResiduals> image_residuals;    // .ptres
  std::vector<report::ObjectPointRow> object_points;      // .ptocs
  std::vector<report::PointResidual> control_points;      // .gcpres
  std::vector<report::PointResidual> check_points;        // .cpres
  std::vector<report::AdjustedOrientation> orientations;  // .extor
  std::vector<std::string> problems;
};

// Reads the five files of the project's Bundle folder. With `ui`: progress range
// 0 .. kLoadProgressSteps advanced after each file and reset at the end, messages pumped between
// files; an abort leaves the files not yet read empty and says so in `problems`.
DisplayResults ReadDisplayResults(const CVantriProject& project, UserInterface* ui);

// Copies the control and check points' residuals (vX, vY, vZ) into the project's point records
// (ResX, ResY, ResZ shown by the managers); points without a result are left as they are.
void ApplyPointResiduals(const DisplayResults& results, CVantriProject& project);

// --- The model --------------------------------------------------------------------------------

// The whole display from the results: tie points with a mean residual and a position on "TP"
// (residuals kept in micrometres as the file gives them, coloured by their size in pixels of the
// project's camera, the unit of the tie-point thresholds);
// every control and check point of the project on "GCP" / "CP" (grey without a result, at its
// surveyed position), its chip on "GCP_Images" / "CP_Images"; the residual symbols of the points
// on the base symbol layers and of each image found in the .extor file (by name, case-insensitive;
// images without a GPS position are left out) on its six layers "<image>_ResXYEllipse", ...
// Visibility, fill, colours and scales follow `settings`.
DisplayModel BuildDisplayModel(const CVantriProject& project, const DisplayResults& results,
                               const project::QualityThresholds& quality,
                               const DisplaySettings& settings);

}  // namespace vantri::display
