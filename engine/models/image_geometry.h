#ifndef BRAVIK_MODELS_IMAGE_GEOMETRY_H
#define BRAVIK_MODELS_IMAGE_GEOMETRY_H

#include <iosfwd>
#include <string>
#include <vector>

#include "lsq/adj_object.h"
#include "lsq/dense.h"
#include "models/vec3.h"

namespace bravik {

class PosCorrection;
class AttCorrection;

// Derivatives of the reduced image coordinates (u, v) of one point, as rows u and v.
struct GeometryDerivs {
  Matrix objectPoint;    // 2 x 3
  Matrix params;         // 2 x k, the geometry's own parameters
  Matrix posCorrection;  // 2 x 3m when a position correction is attached, else empty
  Matrix attCorrection;  // 2 x 3m when an attitude correction is attached, else empty
  Matrix observations;   // 2 x 2 identity
};

// Maps object points to reduced image coordinates: the exterior orientations,
// the DLT and the affine PMF model. Parameters p and their a-priori std. devs. s
// have the class's fixed length.
class ImageGeometry : public AdjObject {
 public:
  ImageGeometry(std::string id, int paramCount, AdjKind kind);

  int setupParamSlots(const LSParams& ls) override;

  // Record after the class keyword; 1, or -1 after a message on the diagnostics sink. The
  // settings `ls` classify the std. devs. and give the units of the records and reports.
  virtual int readRecord(std::istream& in, const LSParams& ls) = 0;
  virtual void writeRecord(std::ostream& out, const LSParams& ls) const = 0;
  virtual void printReport(std::ostream& out, const LSParams& ls) const = 0;
  // Reduced image coordinates (u, v) of object point P; z is the third component of
  // the reduced image vector (-c). 1 on success.
  virtual int projection(const Vec3& P, double z, double& u, double& v) const = 0;
  // Object point from this image's reduced image vector a1 and `other`'s a2, with the
  // distance e between the rays. 1 on success, -1 after a message.
  virtual int intersection(const ImageGeometry& other, const Vec3& a1, const Vec3& a2, Vec3& P,
                           double& e) const = 0;
  // Derivatives at the reduced image vector `reduced` and object point P; 1 or -1.
  virtual int getDerivs(const Vec3& reduced, const Vec3& P, GeometryDerivs& derivs) const = 0;
  // Base: prints "ATTENTION: Calculate approximate image geometry not implemented.\n"
  // and reports success.
  virtual int computeApproximation();
  // Recomputes derived quantities after the parameters changed.
  virtual void refresh();
  // Fills the caches getDerivs() relies on, so that getDerivs() may then run on several threads
  // at once until the parameters change.
  virtual void prepareDerivatives() const {}
  virtual bool hasPosCorrection() const { return posCorrection() != nullptr; }
  virtual bool hasAttCorrection() const { return attCorrection() != nullptr; }
  // 2 x k derivatives of (u, v) with respect to the rotation parameters; -1 for
  // geometries without rotation parameters.
  virtual int rotationDerivs(const Vec3& reduced, const Vec3& P, Matrix& derivs) const;

  virtual PosCorrection* posCorrection() const { return nullptr; }
  virtual AttCorrection* attCorrection() const { return nullptr; }

  std::vector<double> p;  // parameter values
  std::vector<double> s;  // their a-priori std. devs.
  double t = 0.0;         // exposure time, s
  bool usedByImage = false;
};

// Shared record and report of the geometries given as a plain parameter list (DLT and
// PMF): station ID, exposure time, then value and std. dev. of each parameter.
class ListGeometry : public ImageGeometry {
 public:
  ListGeometry(std::string id, int paramCount);
  int readRecord(std::istream& in, const LSParams& ls) override;
  void writeRecord(std::ostream& out, const LSParams& ls) const override;
  void printReport(std::ostream& out, const LSParams& ls) const override;
  // The keyword that starts the written record (the reader's keyword).
  virtual std::string recordKeyword() const = 0;
  int convergenceTest(const Vector& x, const LSParams& ls) const override;
};

// Affine projection u = a0 + a1 X + a2 Y + a3 Z, v = b0 + b1 X + b2 Y + b3 Z.
class PMFLinear : public ListGeometry {
 public:
  explicit PMFLinear(std::string id = "");
  std::string typeName() const override { return "PMF linear"; }
  std::string keyword() const override { return "pmf-linear"; }
  std::string recordKeyword() const override { return "pmf-linear"; }
  std::string paramName(int k) const override;
  int projection(const Vec3& P, double z, double& u, double& v) const override;
  int intersection(const ImageGeometry& other, const Vec3& a1, const Vec3& a2, Vec3& P,
                   double& e) const override;
  int getDerivs(const Vec3& reduced, const Vec3& P, GeometryDerivs& derivs) const override;
};

// Eleven-parameter direct linear transformation L1 .. L11:
// u = (L1 X + L2 Y + L3 Z + L4) / N, v = (L5 X + L6 Y + L7 Z + L8) / N with
// N = L9 X + L10 Y + L11 Z + 1. A zero N is reported on the numeric diagnostics and the division
// is carried out anyway. Intersections are not provided and always fail.
class DirectLinearTransf : public ListGeometry {
 public:
  explicit DirectLinearTransf(std::string id = "");
  std::string typeName() const override { return "DLT"; }
  std::string keyword() const override { return "DLT"; }
  std::string recordKeyword() const override { return "dlt"; }
  std::string paramName(int k) const override { return "L" + std::to_string(k + 1); }
  int projection(const Vec3& P, double z, double& u, double& v) const override;
  int intersection(const ImageGeometry& other, const Vec3& a1, const Vec3& a2, Vec3& P,
                   double& e) const override;
  int getDerivs(const Vec3& reduced, const Vec3& P, GeometryDerivs& derivs) const override;
};

// Solves the symmetric positive definite 3 x 3 system N x = b by Cholesky
// decomposition; false when N is not positive definite.
bool solveSymmetric3(const double (&n)[3][3], const Vec3& b, Vec3& x);

}  // namespace bravik

#endif  // BRAVIK_MODELS_IMAGE_GEOMETRY_H
