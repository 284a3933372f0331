#include "models/camera.h"

#include <cmath>
#include <iomanip>
#include <iostream>

#include "models/ap_set.h"
#include "models/bundle_image.h"
#include "util/diagnostics.h"
#include "util/tokens.h"

namespace bravik {
namespace {

constexpr double kMm = 0.001;
constexpr double kUm = 1e-6;

void fixed(std::ostream& out, double value, int decimals, int width) {
  out << std::fixed << std::setprecision(decimals) << std::setw(width) << value
      << std::defaultfloat;
}

}  // namespace

Camera::~Camera() = default;

int Camera::readHead(std::istream& in) {
  double pp[2] = {xp / kMm, yp / kMm};
  double focal = 0.0;
  if (!readWord(in, id_) || !readWord(in, comment) || !readDouble(in, focal) || !readPair(in, pp)) {
    return -1;
  }
  // Every projection divides by the focal length: a zero or non-finite one would turn the whole
  // adjustment into infinities instead of a clear refusal.
  if (!std::isfinite(focal) || focal == 0.0) {
    messages() << "ERROR: Invalid focal length of camera " << id_ << ": " << focal << "\n";
    return -1;
  }
  c = focal * kMm;
  xp = pp[0] * kMm;
  yp = pp[1] * kMm;
  return 1;
}

int Camera::readRecord(std::istream& in) {
  if (readHead(in) != 1) return -1;
  double format[2];
  if (!readDouble(in, format[0]) || !readDouble(in, format[1])) return -1;
  sx = format[0] * kMm;
  sy = format[1] * kMm;
  return 1;
}

void Camera::writeRecord(std::ostream& out) const {
  out << "frame   " << id_ << "   " << comment << "\n";
  fixed(out, c / kMm, 6, 12);
  fixed(out, xp / kMm, 6, 12);
  fixed(out, yp / kMm, 6, 12);
  out << "\n";
  fixed(out, sx / kMm, 6, 12);
  fixed(out, sy / kMm, 6, 12);
  out << "\n";
}

void Camera::printHead(std::ostream& out) const {
  out << "Camera ID          :  " << id_ << "\n"
      << "Camera type        :  " << typeName() << "\n"
      << "Comment            :  " << comment << "\n"
      << "Coord. system type :  " << coordSystemType() << "\n"
      << "Focal length       :  f  = ";
  fixed(out, c / kMm, 4, 10);
  out << " mm\n"
      << "Principal point    :  xp = ";
  fixed(out, xp / kMm, 4, 10);
  out << " mm      yp = ";
  fixed(out, yp / kMm, 4, 10);
  out << " mm\n"
      << "BundleImage format       :  sx = ";
  fixed(out, sx / kMm, 4, 10);
  out << " mm      sy = ";
  fixed(out, sy / kMm, 4, 10);
  out << " mm\n\n";
}

void Camera::printReport(std::ostream& out) const { printHead(out); }

void Camera::cameraToImage(double c, double r, double& x, double& y) const {
  x = c;
  y = r;
}

void Camera::imageToCamera(double x, double y, double& c, double& r) const {
  c = x;
  r = y;
}

void Camera::scaleStdDevs(double s1, double s2, double& sx, double& sy) const {
  sx = s1;
  sy = s2;
}

int Camera::readImagePoints(std::istream& in, BundleImage& image) const {
  double factor = 0.0;
  if (!readDouble(in, factor)) return -1;
  std::string id;
  while (readWord(in, id) && !isListEnd(id)) {
    double xy[2];
    double s[2];
    if (!readPair(in, xy) || !readPair(in, s)) return -1;
    const ImagePoint point{id, xy[0] * factor, xy[1] * factor, s[0] * factor, s[1] * factor};
    if (image.insertPoint(point)) {
      messages() << "ATTENTION: BundleImage " << image.id() << " point " << id
                 << " was replaced.\n";
    }
  }
  return 1;
}

bool Camera::distortion(double u, double v, double& dx, double& dy) const {
  dx = 0.0;
  dy = 0.0;
  for (const APSet* set : apSets) {
    double ddx = 0.0;
    double ddy = 0.0;
    if (set == nullptr) {
      numericMessages() << "ERROR: Camera::get_derivs: null pointer!\n";
      return false;
    }
    if (set->correction(u, v, -c, ddx, ddy) != 1) return false;
    dx += ddx;
    dy += ddy;
  }
  return true;
}

bool Camera::distortionJacobian(double u, double v, double (&J)[2][2]) const {
  J[0][0] = J[0][1] = J[1][0] = J[1][1] = 0.0;
  for (const APSet* set : apSets) {
    if (set == nullptr) continue;  // reported with the set's derivatives
    double setJ[2][2];
    if (set->correctionJacobian(u, v, -c, setJ) != 1) return false;
    for (int i = 0; i < 2; ++i) {
      for (int j = 0; j < 2; ++j) J[i][j] += setJ[i][j];
    }
  }
  return true;
}

Vec3 Camera::reducedImageVector(double x, double y) const {
  const double u = x - xp;
  const double v = y - yp;
  double dx = 0.0;
  double dy = 0.0;
  distortion(u, v, dx, dy);
  return {u - dx, v - dy, -c};
}

int CameraCCD::readRecord(std::istream& in) {
  if (readHead(in) != 1) return -1;
  int columns = 0;
  int rows = 0;
  double spacing[2];
  if (!readInt(in, columns) || !readInt(in, rows) || !readDouble(in, spacing[0]) ||
      !readDouble(in, spacing[1])) {
    return -1;
  }
  // Pixel conversions divide by the spacings: a sensor without pixels is no camera.
  if (columns <= 0 || rows <= 0 || !(spacing[0] > 0.0) || !(spacing[1] > 0.0)) return -1;
  nc = columns;
  nr = rows;
  sc = spacing[0] * kUm;
  sr = spacing[1] * kUm;
  deriveFormat();
  return 1;
}

void CameraCCD::deriveFormat() {
  c0 = (nc - 1) * 0.5;
  r0 = (nr - 1) * 0.5;
  sx = sc * nc;
  sy = sr * nr;
}

void CameraCCD::writeRecord(std::ostream& out) const {
  out << "ccd-frame   " << id_ << "   " << comment << "\n";
  fixed(out, c / kMm, 6, 12);
  fixed(out, xp / kMm, 6, 12);
  fixed(out, yp / kMm, 6, 12);
  out << "\n";
  fixed(out, sx / kMm, 6, 12);
  fixed(out, sy / kMm, 6, 12);
  out << "\n" << std::setw(12) << nc << std::setw(12) << nr << "\n";
  fixed(out, sc / kUm, 3, 6);
  fixed(out, sr / kUm, 3, 6);
  out << "\n";
}

void CameraCCD::printReport(std::ostream& out) const {
  printHead(out);
  out << "Number of pixel    :  nc = " << std::setprecision(6) << std::setw(10)
      << static_cast<double>(nc) << " pix     nr = " << std::setw(10) << static_cast<double>(nr)
      << " pix\n"
      << "ICS location       :  c0 = ";
  fixed(out, c0, 3, 10);
  out << " pix     r0 = ";
  fixed(out, r0, 3, 10);
  out << " pix\nPixel spacing      :  sc = ";
  fixed(out, sc / kUm, 3, 10);
  out << " um/pix  sr = ";
  fixed(out, sr / kUm, 3, 10);
  out << " um/pix\n\n";
}

void CameraCCD::cameraToImage(double c, double r, double& x, double& y) const {
  x = (c - c0) * sc;
  y = -((r - r0) * sr);
}

void CameraCCD::imageToCamera(double x, double y, double& c, double& r) const {
  c = x / sc + c0;
  r = r0 - y / sr;
}

void CameraCCD::scaleStdDevs(double s1, double s2, double& sx, double& sy) const {
  sx = sc * s1;
  sy = sr * s2;
}

void CameraCCDTR::deriveFormat() {
  c0 = (nc - 1) * 0.5;
  r0 = (nr - 1) * 0.5;
  sx = nr * sr;
  sy = nc * sc;
}

void CameraCCDTR::cameraToImage(double c, double r, double& x, double& y) const {
  x = -((r - r0) * sr);
  y = -((c - c0) * sc);
}

void CameraCCDTR::imageToCamera(double x, double y, double& c, double& r) const {
  c = c0 - y / sc;
  r = r0 - x / sr;
}

void CameraCCDTR::scaleStdDevs(double s1, double s2, double& sx, double& sy) const {
  sx = sr * s1;
  sy = sc * s2;
}

int PBCamera::readRecord(std::istream& in) {
  if (readHead(in) != 1) return -1;
  int columns = 0;
  double spacing[2];
  double line = 0.0;
  if (!readInt(in, columns) || !readDouble(in, spacing[0]) || !readDouble(in, spacing[1]) ||
      !readDouble(in, line)) {
    return -1;
  }
  if (columns <= 0 || !(spacing[0] > 0.0) || !(spacing[1] > 0.0)) return -1;
  nc = columns;
  nr = 1;
  sc = spacing[0] * kUm;
  sr = spacing[1] * kUm;
  x0 = line * kMm;
  c0 = (nc - 1) * 0.5;
  r0 = 0.0;
  sx = nr * sr;
  sy = nc * sc;
  return 1;
}

void PBCamera::writeRecord(std::ostream&) const {}

void PBCamera::printReport(std::ostream& out) const {
  printHead(out);
  out << "Number of pixels   :  nc = " << nc << "\n"
      << "Pixel size         :  sc = ";
  fixed(out, sc / kUm, 3, 10);
  out << " um/pix  sr = ";
  fixed(out, sr / kUm, 3, 10);
  out << " um/pix\nCCD line position  :  x0 = ";
  fixed(out, x0 / kMm, 3, 10);
  out << " mm\n";
}

void PBCamera::cameraToImage(double c, double r, double& x, double& y) const {
  const double line = std::trunc(r + 0.5);
  x = (r - line) * sr + x0;
  y = (c - c0) * sc;
}

void PBCamera::imageToCamera(double x, double y, double& c, double& r) const {
  c = y / sc + c0;
  r = (x - x0) / sr;
}

}  // namespace bravik
