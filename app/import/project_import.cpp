#include "import/project_import.h"

#include <algorithm>
#include <cstdio>
#include <limits>

#include "crs/coordinate_conversion_window.h"
#include "geometry/vtp_writer.h"
#include "project/project.h"
#include "ui_interface/ui.h"

namespace vantri::import {
namespace {

std::string FormatCount(const char* pattern, int count) {
  char text[128];
  std::snprintf(text, sizeof text, pattern, count);
  return text;
}

// Sets the origin once and writes the .off file; false (with a message) when it cannot be
// written, so no record leaves the window with an origin that the project folder does not keep.
bool UpdateLocalOrigin(CVantriProject& project, double min_x, double min_y, UserInterface& ui) {
  const std::string off_path = project.folder + project.name + ".off";
  if (SetLocalOriginOnce(&project.local_origin, min_x, min_y, off_path) !=
      OriginUpdate::kWriteFailed)
    return true;
  ui.ShowMessage("Unable to write the local origin file " + off_path, MessageIcon::kExclamation);
  return false;
}

}  // namespace

int ImportControlPointsIntoProject(PointImportModel& model, CVantriProject& project,
                                   std::vector<SFIO_ControlPoint>* records) {
  double min_x = 0.0, min_y = 0.0;
  if (!model.ImportControlPoints(records, &min_x, &min_y)) return 0;
  if (!UpdateLocalOrigin(project, min_x, min_y, model.ui())) {
    records->clear();
    return 0;
  }
  if (model.mode() == ImportMode::kGcp)
    model.ui().Log(FormatCount("%d control points selected", static_cast<int>(records->size())));
  return 1;
}

int ImportGpsImuIntoProject(PointImportModel& model, CVantriProject& project) {
  UserInterface& ui = model.ui();
  GpsImuRecords records;
  if (!model.ReadGpsImuRecords(&records)) return 0;
  std::vector<std::string> names;
  for (const auto& image : project.images) names.push_back(image->Name());
  const std::vector<int> match = MatchRowsToImages(records.positions, names);

  std::vector<Eigen::Vector3d> matched;
  double min_x = std::numeric_limits<double>::max(), min_y = min_x;
  for (int row : match) {
    if (row < 0) continue;
    const SFIO_GPSPoint& p = records.positions[row];
    matched.emplace_back(p.x, p.y, p.z);
    min_x = std::min(min_x, p.x);
    min_y = std::min(min_y, p.y);
  }
  if (matched.empty()) {
    const char* message = "No valid data or already imported points";
    ui.Log(message);
    ui.ShowMessage(message, MessageIcon::kInformation);
    return 0;
  }
  if (!UpdateLocalOrigin(project, min_x, min_y, ui)) return 0;

  const Eigen::Vector3d origin(project.local_origin[0], project.local_origin[1],
                               project.local_origin[2]);
  for (auto& point : matched) point -= origin;
  const std::string cloud_path = project.folder + "GPS_coordinates.vtp";
  if (!WriteVtpPolyData(matched, cloud_path, origin)) ui.Log("Unable to write " + cloud_path);

  int updated = 0;
  for (std::size_t i = 0; i < match.size(); ++i) {
    if (match[i] < 0) continue;
    CABAImage& image = *project.images[i];
    const SFIO_GPSPoint& position = records.positions[match[i]];
    const SFIO_GPSPoint& attitude = records.attitudes[match[i]];
    const auto& variances = records.variances[match[i]];
    image.x = position.x, image.y = position.y, image.z = position.z;
    image.omega = attitude.x, image.phi = attitude.y, image.kappa = attitude.z;
    image.var_xy = variances[0], image.var_z = variances[1];
    image.var_op = variances[2], image.var_k = variances[3];
    ++updated;
  }
  const std::string message = FormatCount("%d GPS/IMU data points selected", updated);
  ui.ShowMessage(message, MessageIcon::kInformation);
  ui.Log(message);
  return 1;
}

WindowCoordinateConversion::WindowCoordinateConversion(UserInterface& ui, Driver drive)
    : ui_(ui), drive_(std::move(drive)) {}

WindowCoordinateConversion::~WindowCoordinateConversion() = default;

bool WindowCoordinateConversion::Run(double mean_latitude, double mean_longitude) {
  window_ = std::make_unique<crs::CoordinateConversionWindow>(mean_latitude, mean_longitude, ui_);
  drive_(*window_);
  return window_->outcome() == crs::CoordinateConversionWindow::Outcome::kOk;
}

bool WindowCoordinateConversion::Transform(double* x, double* y) {
  return window_ != nullptr && window_->Convert(*x, *y) != 0;
}

void ChooseUtmAutomatically(crs::CoordinateConversionWindow& window) {
  window.EstimateAutomatically();
  if (!window.Ok()) window.Cancel();
}

}  // namespace vantri::import
