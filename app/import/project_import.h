#pragma once

// The import window bound to a project: control points and check points with the project's
// local origin, GPS/IMU data written into the project's images, and the Coordinate Conversion
// window behind the import's conversion command.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "import/point_import.h"

class CVantriProject;

namespace vantri::crs {
class CoordinateConversionWindow;
}

namespace vantri::import {

// "Import" of modes 1 and 2: the records of the selected rows; when the project's local origin
// has X = 0 it becomes (smallest X, smallest Y, 0) and is written to <folder><name>.off. Mode 1
// logs "%d control points selected". Returns 1 when the window closes with OK, 0 when it stays
// open (no selection, no valid record, or the origin file could not be written).
int ImportControlPointsIntoProject(PointImportModel& model, CVantriProject& project,
                                   std::vector<SFIO_ControlPoint>* records);

// "Import" of mode 0: matches the selected rows to the project's images by file title, sets the
// local origin once as above, writes the matched positions minus the origin to
// <folder>GPS_coordinates.vtp, and sets position, attitude and the four variances of every
// matched image. Shows and logs "%d GPS/IMU data points selected". Without any match shows and
// logs "No valid data or already imported points" and returns 0 (window stays open).
int ImportGpsImuIntoProject(PointImportModel& model, CVantriProject& project);

// The Coordinate Conversion window of the coordinate-system layer behind the import's command.
// `drive` plays the operator: it receives the open window, makes its choices and calls ok() or
// cancel(); the conversion runs when the window's outcome is OK.
class WindowCoordinateConversion : public CoordinateConversion {
 public:
  using Driver = std::function<void(crs::CoordinateConversionWindow&)>;
  WindowCoordinateConversion(UserInterface& ui, Driver drive);
  ~WindowCoordinateConversion() override;

  bool Run(double mean_latitude, double mean_longitude) override;
  bool Transform(double* x, double* y) override;

 private:
  UserInterface& ui_;
  Driver drive_;
  std::unique_ptr<crs::CoordinateConversionWindow> window_;
};

// A driver for batch use: WGS 84 source, UTM on WGS 84 with the zone estimated from the mean
// longitude, then OK.
void ChooseUtmAutomatically(crs::CoordinateConversionWindow& window);

}  // namespace vantri::import
