#pragma once
// Set-up windows over their core models: the process settings grid, the quality
// thresholds, the SRTM source and the two coordinate-system windows. Each Run*
// function shows its window modally and returns true when it closed with OK.
// Widgets carry object names so tests can reach them.

#include <QWidget>

#include "crs/coordinate_conversion_window.h"
#include "crs/coordinate_system_window.h"

namespace vantri::project {
class SettingsWindowModel;
struct QualityThresholds;
}  // namespace vantri::project

namespace vantri {
class UserInterface;
}
namespace vantri::aat {
class SrtmSourceDialog;
}

namespace vantri::ui {

bool RunSettingsDialog(QWidget* parent, project::SettingsWindowModel& model);
bool RunThresholdsDialog(QWidget* parent, UserInterface& ui,
                         project::QualityThresholds* thresholds);
bool RunSrtmDialog(QWidget* parent, aat::SrtmSourceDialog& model);
// Edits the project's coordinate system in place (imports act at once, as in
// the core window).
bool RunCoordinateSystemDialog(QWidget* parent, crs::CoordinateSystem& system, UserInterface& ui);
// Drives the conversion window of the point import.
void RunCoordinateConversionDialog(QWidget* parent, crs::CoordinateConversionWindow& window);

}  // namespace vantri::ui
