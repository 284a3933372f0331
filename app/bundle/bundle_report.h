#pragma once
// The aerial-triangulation report (<project name>.atout) and the result files
// of a bundle run (gcpres, cpres, ptres, ptics, ptocs, extor), composed from
// the adjusted block. Every figure is in project coordinates; image residuals
// are in micrometres on the sensor (pixels x pixel size), measured minus
// projected, x to the right and y down.

#include <Eigen/Core>
#include <string>
#include <vector>

#include "photogrammetry/orientation.h"
#include "photogrammetry/point_collection.h"
#include "ssba/ssba.h"

class CVantriProject;

namespace vantri::bundle {

// The adjusted exterior orientation of one image: centre and omega, phi, kappa
// (radians).
struct ExteriorResult {
  int image = 0;
  Eigen::Vector3d centre = Eigen::Vector3d::Zero();
  Eigen::Vector3d angles = Eigen::Vector3d::Zero();
};

// What the adjustment itself tells the report.
struct AdjustmentFigures {
  int iterations = 0;
  bool converged =
      false; // stopped on the convergence limit, not at the maximum
  double cpu_seconds = 0.0;
  std::vector<ExteriorResult> exterior; // in camera order
};

// A surveyed point after the run: adjusted coordinates and adjusted minus
// surveyed. A point that cannot be intersected keeps its surveyed coordinates
// and residual (0, 0, 0).
struct PointResidual {
  std::string name;
  Eigen::Vector3d adjusted = Eigen::Vector3d::Zero();
  Eigen::Vector3d v = Eigen::Vector3d::Zero();
};

struct ReportInput {
  const CVantriProject &project;
  // Per project image, project coordinates; unoriented ones have the centre (0,
  // 0, 0).
  const std::vector<nvc::COrientation> &orientations;
  // The adjusted tie points (project coordinates); measurements by project
  // image index.
  const std::vector<CSSBAPoint> &tie_points;
  // Per project image its camera number in the adjustment, -1 when it took no
  // part.
  const std::vector<int> &camera_of_image;
  const CGCPCollMap &gcps;
  const CGCPCollMap &check_points;
  // The control points that took part, by name, in adjustment order.
  const std::vector<std::string> &control_names;
  const AdjustmentFigures &figures;
};

struct ReportFiles {
  std::string atout, gcpres, cpres, ptres, ptics, ptocs, extor;
  std::vector<PointResidual> control_residuals;
  std::vector<PointResidual> check_residuals;
};

// Intersects the point's measurements in the enabled oriented images and
// compares with the surveyed coordinates.
PointResidual
SurveyedPointResidual(const CGCPCollEx &point, const CVantriProject &project,
                      const std::vector<nvc::COrientation> &orientations);

ReportFiles ComposeReport(const ReportInput &input);

// Writes <folder><name>.atout and the result files, each through a temporary
// file and a rename. False when one cannot be written.
bool WriteReportFiles(const std::string &folder, const std::string &name,
                      const ReportFiles &files);

} // namespace vantri::bundle
