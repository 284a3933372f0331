#ifndef BRAVIK_MODELS_EXT_ORIENTATION_H
#define BRAVIK_MODELS_EXT_ORIENTATION_H

#include "lsq/units.h"
#include "models/image_geometry.h"

namespace bravik {

namespace DEP {

// Collinearity: d = P - X0, (U, V, N) = R^T d, u = z U / N, v = z V / N.
// A zero N writes "DEP::projection: zero denominator.\n" to the numeric diagnostics, divides
// anyway and reports success (1).
int projection(const Vec3& X0, const Mat3& R, const Vec3& P, double z, double& u, double& v);

// Closest approach of the rays X01 + t R1 a1 and X02 + t R2 a2: P is the midpoint of
// the two closest points, e their distance. Parallel rays write
// "DEP::intersection: rays are parallel.\n" to the numeric diagnostics and fail (-1).
int intersection(const Vec3& X01, const Mat3& R1, const Vec3& a1, const Vec3& X02, const Mat3& R2,
                 const Vec3& a2, Vec3& P, double& e);

}  // namespace DEP

// Exterior orientation: projection centre Xo, Yo, Zo (parameters 0..2, object units)
// and k rotation parameters (3..). X0 and R are refreshed from the parameters, the
// position correction and (three-angle classes) the attitude correction at time t.
class ExtOrientation : public ImageGeometry {
 public:
  ExtOrientation(std::string id, int rotationCount);

  // Rotation parameters q[0..k-1] from a rotation matrix.
  virtual void rotationFromMatrix(const Mat3& R, double* q) const = 0;
  // Rotation matrix from rotation parameters q[0..k-1].
  virtual Mat3 matrixFromRotation(const double* q) const = 0;
  // dR/dq_k at q, element by element.
  virtual Mat3 matrixDerivative(const double* q, int k) const = 0;
  int rotationCount() const { return paramCount() - 3; }

  int projection(const Vec3& P, double z, double& u, double& v) const override;
  int intersection(const ImageGeometry& other, const Vec3& a1, const Vec3& a2, Vec3& P,
                   double& e) const override;
  int getDerivs(const Vec3& reduced, const Vec3& P, GeometryDerivs& derivs) const override;
  int rotationDerivs(const Vec3& reduced, const Vec3& P, Matrix& derivs) const override;
  void refresh() override;
  void prepareDerivatives() const override { rotationMatrixDerivatives(); }
  int convergenceTest(const Vector& x, const LSParams& ls) const override;
  void printIterationTable(std::ostream& out, const Vector& x) const override;
  PosCorrection* posCorrection() const override { return posCorrection_; }
  void setPosCorrection(PosCorrection* correction) { posCorrection_ = correction; }

  // Sets the rotation parameters p[3..] from a rotation matrix.
  void setRotationMatrix(const Mat3& R) { rotationFromMatrix(R, &p[3]); }

  const Vec3& projectionCentre() const { return X0_; }
  const Mat3& rotation() const { return R_; }
  const std::vector<double>& workingRotation() const { return rotation_; }

 protected:
  // Record fields shared by all classes, in order; each prints its message on failure.
  int readIdAndTime(std::istream& in, UnitAngle* unit);
  int readCentre(std::istream& in);
  void writeCentre(std::ostream& out, const LSParams& ls) const;
  void printReportRows(std::ostream& out, const LSParams& ls, double rotationFactor,
                       int rotationDecimals) const;

  Vec3 X0_{0.0, 0.0, 0.0};
  Mat3 R_ = identity3();
  std::vector<double> rotation_;  // working rotation parameters
  PosCorrection* posCorrection_ = nullptr;

 private:
  // dR/dq_k at the working rotation, computed once per change of the rotation parameters
  // rather than once per observation.
  const std::vector<Mat3>& rotationMatrixDerivatives() const;

  mutable std::vector<double> derivatives_rotation_;  // rotation_ the derivatives belong to
  mutable std::vector<Mat3> derivatives_;
};

// Exterior orientation with three rotation angles (radians) and an optional
// attitude correction added to them.
class ExtOrientation3 : public ExtOrientation {
 public:
  explicit ExtOrientation3(std::string id);
  int readRecord(std::istream& in, const LSParams& ls) override;
  void writeRecord(std::ostream& out, const LSParams& ls) const override;
  void printReport(std::ostream& out, const LSParams& ls) const override;
  int getDerivs(const Vec3& reduced, const Vec3& P, GeometryDerivs& derivs) const override;
  void refresh() override;
  AttCorrection* attCorrection() const override { return attCorrection_; }
  void setAttCorrection(AttCorrection* correction) { attCorrection_ = correction; }

  UnitAngle angleUnit;  // unit of the angles in records

 protected:
  AttCorrection* attCorrection_ = nullptr;
};

// R = R_y(phi) R_x(omega) R_z(kappa); parameters phi, omega, kappa.
class EOAnglesPOKRot : public ExtOrientation3 {
 public:
  explicit EOAnglesPOKRot(std::string id = "") : ExtOrientation3(std::move(id)) {}
  std::string typeName() const override { return "EO (phi-omega-kappa, rotated)"; }
  std::string keyword() const override { return "ext-ori-pok-rot"; }
  std::string paramName(int k) const override;
  void rotationFromMatrix(const Mat3& R, double* q) const override;
  Mat3 matrixFromRotation(const double* q) const override;
  Mat3 matrixDerivative(const double* q, int k) const override;
};

// R = R_x(omega) R_y(phi) R_z(kappa); parameters omega, phi, kappa.
class EOAnglesOPKRot : public EOAnglesPOKRot {
 public:
  explicit EOAnglesOPKRot(std::string id = "") : EOAnglesPOKRot(std::move(id)) {}
  std::string typeName() const override { return "EO (omega-phi-kappa, rotated)"; }
  std::string keyword() const override { return "ext-ori-opk-rot"; }
  std::string paramName(int k) const override;
  void rotationFromMatrix(const Mat3& R, double* q) const override;
  Mat3 matrixFromRotation(const double* q) const override;
  Mat3 matrixDerivative(const double* q, int k) const override;
};

// The transpose of the omega-phi-kappa rotated-axes matrix.
class EOAnglesOPKFix : public EOAnglesPOKRot {
 public:
  explicit EOAnglesOPKFix(std::string id = "") : EOAnglesPOKRot(std::move(id)) {}
  std::string typeName() const override { return "EO (omega-phi-kappa, fixed)"; }
  std::string keyword() const override { return "ext-ori-opk-fix"; }
  std::string paramName(int k) const override;
  void rotationFromMatrix(const Mat3& R, double* q) const override;
  Mat3 matrixFromRotation(const double* q) const override;
  Mat3 matrixDerivative(const double* q, int k) const override;
};

// Australis angles azimuth, elevation, roll.
class EOAustralis : public EOAnglesPOKRot {
 public:
  explicit EOAustralis(std::string id = "") : EOAnglesPOKRot(std::move(id)) {}
  std::string typeName() const override { return "EO (Australis)"; }
  std::string keyword() const override { return "ext-ori-australis"; }
  std::string paramName(int k) const override;
  void rotationFromMatrix(const Mat3& R, double* q) const override;
  Mat3 matrixFromRotation(const double* q) const override;
  Mat3 matrixDerivative(const double* q, int k) const override;
};

// Rotation by the unnormalised quaternion q0..q3, held near unit length by one
// constraint equation 1 - |q|^2 = 0.
class EOQuaternion : public ExtOrientation {
 public:
  explicit EOQuaternion(std::string id = "") : ExtOrientation(std::move(id), 4) {}
  std::string typeName() const override { return "EO (quaternion)"; }
  std::string keyword() const override { return "ext-ori-quaternion"; }
  std::string paramName(int k) const override;
  int readRecord(std::istream& in, const LSParams& ls) override;
  void writeRecord(std::ostream& out, const LSParams& ls) const override;
  void printReport(std::ostream& out, const LSParams& ls) const override;
  void rotationFromMatrix(const Mat3& R, double* q) const override;
  Mat3 matrixFromRotation(const double* q) const override;
  Mat3 matrixDerivative(const double* q, int k) const override;
  int constraintCount() const override { return 1; }
  void addConstraints(NormalSystem& normals, const LSParams& ls) const override;
  // Misclosure 1 - (q0^2 + q1^2 + q2^2 + q3^2) of the constraint.
  double constraintMisclosure() const;
};

}  // namespace bravik

#endif  // BRAVIK_MODELS_EXT_ORIENTATION_H
