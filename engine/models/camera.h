#ifndef BRAVIK_MODELS_CAMERA_H
#define BRAVIK_MODELS_CAMERA_H

#include <iosfwd>
#include <string>
#include <vector>

#include "models/vec3.h"

namespace bravik {

class APSet;
class BundleImage;

// Frame camera. Lengths are metres internally (records in mm, pixel spacing in
// um/pixel). Camera coordinates are the measured coordinates as stored in image
// points; image coordinates (x, y) are metres in the image plane.
class Camera {
 public:
  virtual ~Camera();

  // Reads the record after the keyword; 1, or -1 on a stream failure (no message).
  virtual int readRecord(std::istream& in);
  virtual void writeRecord(std::ostream& out) const;
  virtual void printReport(std::ostream& out) const;
  virtual std::string typeName() const { return "frame"; }
  virtual std::string coordSystemType() const { return "image"; }
  // Camera coordinates (column, row for pixel cameras) to image coordinates.
  virtual void cameraToImage(double c, double r, double& x, double& y) const;
  virtual void imageToCamera(double x, double y, double& c, double& r) const;
  // Std. devs. of a point as stored (camera units) to image units.
  virtual void scaleStdDevs(double s1, double s2, double& sx, double& sy) const;
  // Reads a scale factor and the point records of one image up to "stop-dep", "-1"
  // or the end of the stream; 1, or -1 on a stream failure inside a record.
  virtual int readImagePoints(std::istream& in, BundleImage& image) const;

  // Sum of the corrections of the attached AP sets at reduced coordinates (u, v),
  // in attachment order; (0, 0) without AP sets. False when a set cannot evaluate.
  bool distortion(double u, double v, double& dx, double& dy) const;
  // J = d(dx, dy)/d(u, v) of that sum at (u, v); zero without AP sets. Missing sets are
  // skipped; false when a set cannot evaluate.
  bool distortionJacobian(double u, double v, double (&J)[2][2]) const;
  // (u - dx, v - dy, -c) with u = x - xp, v = y - yp, the correction evaluated once at
  // the uncorrected (u, v).
  Vec3 reducedImageVector(double x, double y) const;

  const std::string& id() const { return id_; }

  std::string id_;
  std::string comment;
  double c = 1.0;
  double xp = 0.0;
  double yp = 0.0;
  double sx = 1.0;
  double sy = 1.0;
  std::vector<APSet*> apSets;  // attached sets, not owned

 protected:
  int readHead(std::istream& in);  // ID, comment, c, principal point
  void printHead(std::ostream& out) const;
};

// Frame camera measured in pixels, origin top-left, rows growing downward.
class CameraCCD : public Camera {
 public:
  int readRecord(std::istream& in) override;
  void writeRecord(std::ostream& out) const override;
  void printReport(std::ostream& out) const override;
  std::string typeName() const override { return "CCD-frame"; }
  std::string coordSystemType() const override { return "pixel (top-left)"; }
  void cameraToImage(double c, double r, double& x, double& y) const override;
  void imageToCamera(double x, double y, double& c, double& r) const override;
  void scaleStdDevs(double s1, double s2, double& sx, double& sy) const override;

  int nc = 0;
  int nr = 0;
  double sc = 0.0;  // m per pixel
  double sr = 0.0;
  double c0 = 0.0;  // origin of the image coordinate system, pixels
  double r0 = 0.0;

 protected:
  virtual void deriveFormat();
};

// CCD frame camera with origin top-right: image x runs along the rows.
class CameraCCDTR : public CameraCCD {
 public:
  std::string typeName() const override { return "CCD-frame (top-right)"; }
  void cameraToImage(double c, double r, double& x, double& y) const override;
  void imageToCamera(double x, double y, double& c, double& r) const override;
  void scaleStdDevs(double s1, double s2, double& sx, double& sy) const override;

 protected:
  void deriveFormat() override;
};

// Push-broom camera: one CCD line at image x = x0; the row is the scan line.
class PBCamera : public CameraCCD {
 public:
  int readRecord(std::istream& in) override;
  void writeRecord(std::ostream& out) const override;
  void printReport(std::ostream& out) const override;
  std::string typeName() const override { return "pushbroom"; }
  void cameraToImage(double c, double r, double& x, double& y) const override;
  void imageToCamera(double x, double y, double& c, double& r) const override;

  double x0 = 0.0;  // m
};

}  // namespace bravik

#endif  // BRAVIK_MODELS_CAMERA_H
