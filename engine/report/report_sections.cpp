#include "report/report_sections.h"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <ostream>
#include <string>

#include "lsq/ls_params.h"
#include "util/diagnostics.h"
#include "util/number_format.h"

namespace bravik {
namespace {

constexpr double kMicrometre = 1e6;  // metres to micrometres

// Count, largest |v|, mean and RMS of one coordinate component.
struct ComponentStats {
  int count = 0;
  double maxAbs = 0.0;
  double sum = 0.0;
  double sumSquares = 0.0;

  void add(double v) {
    ++count;
    maxAbs = std::max(maxAbs, std::fabs(v));
    sum += v;
    sumSquares += v * v;
  }
  double mean() const { return count > 0 ? sum / count : 0.0; }
  double rms() const { return count > 0 ? std::sqrt(sumSquares / count) : 0.0; }
};

// The value of coordinate k as read: the initial value of its parameter slot once the
// adjustment numbered the point, otherwise the stored coordinate.
double givenCoordinate(const ObjectPoint& point, int k) {
  if (static_cast<int>(point.slots().size()) == 3) return point.slots()[k].initial;
  return point.xyz[k];
}

std::string adjustedCoordinates(const ObjectPoint& point) {
  return alignRight(point.id(), 8) + " " + formatFixed(point.xyz[0], 3, 12) + " " +
         formatFixed(point.xyz[1], 3, 12) + " " + formatFixed(point.xyz[2], 3, 12);
}

void printComponentSummary(std::ostream& out, const ComponentStats (&stats)[3],
                           const char* countLabel, const char* maxLabel, const char* meanLabel,
                           const char* rmsLabel) {
  out << countLabel;
  for (int k = 0; k < 3; ++k) out << (k ? " " : "") << formatGeneral(stats[k].count, 9);
  out << "\n" << maxLabel;
  for (int k = 0; k < 3; ++k) out << (k ? " " : "") << formatFixed(stats[k].maxAbs, 3, 9);
  out << "\n" << meanLabel;
  for (int k = 0; k < 3; ++k) out << (k ? " " : "") << formatFixed(stats[k].mean(), 3, 9);
  out << "\n" << rmsLabel;
  for (int k = 0; k < 3; ++k) out << (k ? " " : "") << formatFixed(stats[k].rms(), 3, 9);
  out << "\n\n";
}

// A std. dev. of the observed range scaled by the object-unit factor, otherwise the
// fixed/free marker unchanged.
std::string formatStdDev(double s, int width, const LSParams& settings) {
  if (settings.isObserved(s)) return formatFixed(s * settings.lengthUnit.factor(), 3, width);
  return formatScientific(s, 1, width);
}

// Residual statistics of the image points of one image or of the whole block.
struct ResidualStats {
  int count = 0;
  double sumX = 0.0;
  double sumY = 0.0;
  double sumSqX = 0.0;
  double sumSqY = 0.0;
  double weighted = 0.0;

  void add(const ResidualStats& other) {
    count += other.count;
    sumX += other.sumX;
    sumY += other.sumY;
    sumSqX += other.sumSqX;
    sumSqY += other.sumSqY;
    weighted += other.weighted;
  }
  double rms(double sumSq) const { return count > 0 ? std::sqrt(sumSq / count) : 0.0; }
  double mean(double sum) const { return count > 0 ? sum / count : 0.0; }
};

void printResidualStats(std::ostream& out, const ResidualStats& stats) {
  out << "RMS of residuals       :   " << formatFixed(stats.rms(stats.sumSqX) * kMicrometre, 2, 10)
      << "   " << formatFixed(stats.rms(stats.sumSqY) * kMicrometre, 2, 10) << "\n"
      << "Average of residuals   :   " << formatFixed(stats.mean(stats.sumX) * kMicrometre, 2, 10)
      << "   " << formatFixed(stats.mean(stats.sumY) * kMicrometre, 2, 10) << "\n";
}

void printResidualLine(std::ostream& out, const ImagePoint& measured, const ObjectPoint& point,
                       double vx, double vy, double smax) {
  out << "  " << alignRight(measured.id, 8) << "  " << formatFixed(vx * kMicrometre, 2, 10) << " "
      << formatFixed(vy * kMicrometre, 2, 10) << " "
      << formatFixed(std::hypot(vx, vy) * kMicrometre, 2, 10);
  if (point.type == kPointControl) {
    out << "   control point for";
    const char* axes[3] = {" X", " Y", " Z"};
    for (int k = 0; k < 3; ++k) {
      if (!(point.sdev[k] > smax)) out << axes[k];
    }
  }
  out << "\n";
}

ResidualStats writeImageResiduals(const Block& block, const BundleImage& image, std::ostream& out) {
  const LSParams& settings = block.settings;
  out << "BundleImage ID : " << image.id() << "\n\n"
      << "  Point ID       vx/um      vy/um     |v|/um\n\n";
  ResidualStats stats;
  for (const ImagePoint& measured : image.points) {
    const ObjectPoint* point = block.objectPoints.find(measured.id);
    double vx = 0.0;
    double vy = 0.0;
    if (point == nullptr || !imagePointResidual(image, measured, *point, vx, vy)) {
      out << "ATTENTION: Object point " << measured.id << " not found\n";
      continue;
    }
    double sx = 0.0;
    double sy = 0.0;
    image.camera->scaleStdDevs(measured.sx, measured.sy, sx, sy);
    ++stats.count;
    stats.sumX += vx;
    stats.sumY += vy;
    stats.sumSqX += vx * vx;
    stats.sumSqY += vy * vy;
    stats.weighted +=
        std::pow(settings.sigma0 / sx, 2) * vx * vx + std::pow(settings.sigma0 / sy, 2) * vy * vy;
    const double limit = settings.residualPrintLimit;
    if (std::fabs(vx) >= limit || std::fabs(vy) >= limit) {
      printResidualLine(out, measured, *point, vx, vy, settings.smax);
    }
  }
  out << "\nNumber of points       :   " << stats.count << "\n";
  printResidualStats(out, stats);
  out << "\n";
  return stats;
}

}  // namespace

bool imagePointResidual(const BundleImage& image, const ImagePoint& measured,
                        const ObjectPoint& point, double& vx, double& vy) {
  if (image.camera == nullptr) return false;
  double xProjected = 0.0;
  double yProjected = 0.0;
  if (image.projection(point.xyz, xProjected, yProjected) != 1) return false;
  double x = 0.0;
  double y = 0.0;
  image.camera->cameraToImage(measured.x, measured.y, x, y);
  vx = xProjected - x;
  vy = yProjected - y;
  return true;
}

void writeCamerasSection(const Block& block, std::ostream& out) {
  out << "Cameras\n=======\n\n";
  for (const Camera* camera : block.cameras.items()) camera->printReport(out);
  out << "\n";
}

void writeAPSetsSection(const Block& block, std::ostream& out) {
  out << "Additional parameter sets\n=========================\n\n";
  for (const APSet* set : block.apSets.items()) {
    set->printReport(out, block.settings);
    out << "\n";
    set->printEffects(out, block.cameras, block.options.apGridX, block.options.apGridY);
  }
}

void writeExtOrientationsSection(const Block& block, std::ostream& out) {
  out << "Exterior orientations\n=====================\n\n";
  for (const ImageGeometry* geometry : block.geometries.items())
    geometry->printReport(out, block.settings);
}

void writeObjectPointsSection(const Block& block, std::ostream& out) {
  out << "Object point coordinates\n"
      << "========================\n"
      << "Object point type:\n"
      << "in=intersection, co=control point, ch=check point\n\n"
      << "Point ID       X/m         Y/m         Z/m      sX/m      sY/m      sZ/m\n\n";
  int byType[4] = {0, 0, 0, 0};
  for (const ObjectPoint* point : block.objectPoints.items()) {
    out << alignRight(point->id(), 8) << " " << formatFixed(point->xyz[0], 3, 11) << " "
        << formatFixed(point->xyz[1], 3, 11) << " " << formatFixed(point->xyz[2], 3, 11) << " "
        << formatStdDev(point->sdev[0], 9, block.settings) << " "
        << formatStdDev(point->sdev[1], 9, block.settings) << " "
        << formatStdDev(point->sdev[2], 9, block.settings) << "   "
        << objectPointTypeCode(point->type) << "\n";
    if (point->type >= 0 && point->type <= 3) ++byType[point->type];
  }
  out << "\nNumber of object points with type\n"
      << "  intersection  :  " << byType[kPointIntersection] << "\n"
      << "  control       :  " << byType[kPointControl] << "\n"
      << "  check         :  " << byType[kPointCheck] << "\n"
      << "  total         :  "
      << byType[kPointIntersection] + byType[kPointControl] + byType[kPointCheck] << "\n";
  if (byType[kPointNone] > 0) {
    out << "WARNING: " << byType[kPointNone] << " invalid points found!\n\n";
  } else {
    out << "\n";
  }
}

void writeImageResidualsSection(const Block& block, int redundancy, std::ostream& out) {
  out << "Residuals of image coords.\n"
      << "==========================\n"
      << "Limit for printing residuals:  "
      << formatFixed(block.settings.residualPrintLimit * kMicrometre, 2) << " um\n\n";
  ResidualStats total;
  for (const BundleImage* image : block.images.items()) {
    total.add(writeImageResiduals(block, *image, out));
  }
  out << "\nSummary for all image points of all images\n"
      << "------------------------------------------\n"
      << "                                vx/um        vy/um\n\n"
      << "Total number of points :   " << total.count << "\n";
  printResidualStats(out, total);
  out << "\nContribution to vtpv and sigma 0:   " << formatScientific(total.weighted, 3)
      << " m^2   ";
  const double sigma = redundancy > 0 ? std::sqrt(total.weighted / redundancy) : 0.0;
  if (sigma > 0.0) {
    out << formatFixed(sigma * kMicrometre, 2) << " um\n";
  } else {
    out << "undefined, no redundancy!\n";
  }
  out << "Redundancy :   " << redundancy << "\n\n";
}

void writeControlPointResiduals(const Block& block, std::ostream& out) {
  out << "Control point residuals\n"
      << "=======================\n\n"
      << "Point ID        X/m          Y/m          Z/m      vX/m      vY/m      vZ/m\n\n";
  ComponentStats stats[3];
  for (const ObjectPoint* point : block.objectPoints.items()) {
    if (point->type != kPointControl) continue;
    out << adjustedCoordinates(*point);
    for (int k = 0; k < 3; ++k) {
      if (!block.settings.isObserved(point->sdev[k])) {
        out << "     ---  ";
        continue;
      }
      const double v = point->xyz[k] - givenCoordinate(*point, k);
      stats[k].add(v);
      out << " " << formatFixed(v, 3, 9);
    }
    out << "\n";
  }
  out << "\nStd. dev. from control point residuals\n"
      << "--------------------------------------\n"
      << "                                 vX/m      vY/m      vZ/m\n\n";
  printComponentSummary(out, stats,
                        "Number of residuals        :  ", "Maximum of abs. residuals  :  ",
                        "Average of residuals       :  ", "RMS of residuals           :  ");
}

void writeCheckPointAnalysis(const Block& block, std::ostream& out) {
  out << "Check point analysis\n"
      << "====================\n\n"
      << "Point ID    X-new/m      Y-new/m      Z-new/m        DX/m      DY/m      DZ/m\n\n";
  ComponentStats stats[3];
  for (const ObjectPoint* point : block.objectPoints.items()) {
    if (point->type != kPointCheck) continue;
    out << adjustedCoordinates(*point) << "  ";
    for (int k = 0; k < 3; ++k) {
      if (!point->checkComponents[k]) {
        out << "     ---  ";
        continue;
      }
      const double d = givenCoordinate(*point, k) - point->xyz[k];
      stats[k].add(d);
      out << " " << formatFixed(d, 3, 9);
    }
    out << "\n";
  }
  out << "\nSummary of check point analysis\n"
      << "-------------------------------\n"
      << "Empirical accuracy in object space.\n\n"
      << "                                  DX/m      DY/m      DZ/m\n\n";
  printComponentSummary(out, stats,
                        "Number of differences       :  ", "Maximum of abs. differences :  ",
                        "Average of differences      :  ", "RMS of differences          :  ");
}

void writeAPSetRecords(const Block& block, std::ostream& out) {
  for (const APSet* set : block.apSets.items()) set->writeRecord(out);
  out << "stop-dep\n";
}

void writeGeometryRecords(const Block& block, std::ostream& out) {
  out << "indiv-type\n";
  for (const ImageGeometry* geometry : block.geometries.items())
    geometry->writeRecord(out, block.settings);
  out << "stop-dep\n";
}

void writeObjectPointRecords(const Block& block, std::ostream& out) {
  for (const ObjectPoint* point : block.objectPoints.items()) {
    out << "  " << alignRight(point->id(), 8) << " " << formatFixed(point->xyz[0], 3, 11) << " "
        << formatFixed(point->xyz[1], 3, 11) << " " << formatFixed(point->xyz[2], 3, 11) << " "
        << formatStdDev(point->sdev[0], 11, block.settings) << " "
        << formatStdDev(point->sdev[1], 11, block.settings) << " "
        << formatStdDev(point->sdev[2], 11, block.settings) << "\n";
  }
  out << "stop-dep\n";
}

void writeImagePointRecords(const Block& block, std::ostream& out) {
  for (const BundleImage* image : block.images.items()) {
    out << image->id() << "\n";
    for (const ImagePoint& measured : image->points) {
      const ObjectPoint* point = block.objectPoints.find(measured.id);
      double vx = 0.0;
      double vy = 0.0;
      if (point == nullptr || !imagePointResidual(*image, measured, *point, vx, vy)) {
        messages() << "ATTENTION: Object point " << measured.id << " not found\n";
        continue;
      }
      out << "  " << alignRight(measured.id, 8) << "  " << formatFixed(vx * kMicrometre, 3, 10)
          << " " << formatFixed(vy * kMicrometre, 3, 10) << "\n";
    }
    out << "stop-dep\n";
  }
  out << "stop-dep\n";
}

void writeCameraRecords(const Block& block, std::ostream& out) {
  for (const Camera* camera : block.cameras.items()) camera->writeRecord(out);
  out << "stop-dep\n";
}

}  // namespace bravik
