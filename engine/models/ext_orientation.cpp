#include "models/ext_orientation.h"

#include <algorithm>
#include <cmath>
#include <iomanip>
#include <iostream>

#include "lsq/ls_params.h"
#include "lsq/normal_system.h"
#include "models/corrections.h"
#include "util/diagnostics.h"
#include "util/tokens.h"

namespace bravik {
namespace {

// Forward-mode dual number: value and derivative with respect to one parameter. The
// rotation formulas are written once as templates and give exact derivatives with it.
struct Dual {
  double v = 0.0;
  double d = 0.0;
};
Dual operator+(Dual a, Dual b) { return {a.v + b.v, a.d + b.d}; }
Dual operator-(Dual a, Dual b) { return {a.v - b.v, a.d - b.d}; }
Dual operator-(Dual a) { return {-a.v, -a.d}; }
Dual operator*(Dual a, Dual b) { return {a.v * b.v, a.d * b.v + a.v * b.d}; }
Dual operator*(double s, Dual a) { return {s * a.v, s * a.d}; }
Dual sin(Dual a) { return {std::sin(a.v), std::cos(a.v) * a.d}; }
Dual cos(Dual a) { return {std::cos(a.v), -std::sin(a.v) * a.d}; }

template <class T>
using Mat3T = std::array<T, 9>;

// a = (phi, omega, kappa).
template <class T>
Mat3T<T> pokRotMatrix(const T* a) {
  using std::cos;
  using std::sin;
  const T s1 = sin(a[0]), c1 = cos(a[0]), s2 = sin(a[1]), c2 = cos(a[1]), s3 = sin(a[2]),
          c3 = cos(a[2]);
  return {c3 * c1 + s2 * s1 * s3, s2 * s1 * c3 - c1 * s3, c2 * s1, c2 * s3, c3 * c2, -s2,
          s2 * c1 * s3 - c3 * s1, c3 * s2 * c1 + s1 * s3, c1 * c2};
}

// a = (omega, phi, kappa).
template <class T>
Mat3T<T> opkRotMatrix(const T* a) {
  using std::cos;
  using std::sin;
  const T s1 = sin(a[0]), c1 = cos(a[0]), s2 = sin(a[1]), c2 = cos(a[1]), s3 = sin(a[2]),
          c3 = cos(a[2]);
  return {c3 * c2,
          -(c2 * s3),
          s2,
          s2 * s1 * c3 + c1 * s3,
          c3 * c1 - s2 * s1 * s3,
          -(c2 * s1),
          s3 * s1 - s2 * c1 * c3,
          c3 * s1 + s3 * s2 * c1,
          c1 * c2};
}

template <class T>
Mat3T<T> transposed(const Mat3T<T>& m) {
  return {m[0], m[3], m[6], m[1], m[4], m[7], m[2], m[5], m[8]};
}

// a = (az, elev, roll).
template <class T>
Mat3T<T> australisMatrix(const T* a) {
  using std::cos;
  using std::sin;
  const T s1 = sin(a[0]), c1 = cos(a[0]), s2 = sin(a[1]), c2 = cos(a[1]), s3 = sin(a[2]),
          c3 = cos(a[2]);
  return {c3 * c1 + s2 * s1 * s3,
          s2 * s1 * c3 - c1 * s3,
          c2 * s1,
          c3 * s1 - c1 * s2 * s3,
          -(s1 * s3) - c1 * s2 * c3,
          -(c1 * c2),
          s3 * c2,
          c3 * c2,
          -s2};
}

// q = (q0, q1, q2, q3), not normalised.
template <class T>
Mat3T<T> quaternionMatrix(const T* q) {
  const T a = q[0], b = q[1], c = q[2], d = q[3];
  return {
      a * a + b * b - c * c - d * d, 2.0 * (b * c - a * d),         2.0 * (b * d + a * c),
      2.0 * (a * d + b * c),         a * a - b * b + c * c - d * d, 2.0 * (c * d - a * b),
      2.0 * (b * d - a * c),         2.0 * (a * b + c * d),         a * a - b * b - c * c + d * d};
}

template <class Formula>
Mat3 derivativeOf(Formula formula, const double* q, int count, int k) {
  Dual args[4];
  for (int i = 0; i < count; ++i) args[i] = {q[i], i == k ? 1.0 : 0.0};
  const Mat3T<Dual> m = formula(args);
  Mat3 result;
  for (int i = 0; i < 9; ++i) result[i] = m[i].d;
  return result;
}

void printFixed(std::ostream& out, double value, int decimals, int width) {
  out << std::fixed << std::setprecision(decimals) << std::setw(width) << value
      << std::defaultfloat;
}

void printScientific(std::ostream& out, double value, int decimals, int width) {
  out << std::scientific << std::setprecision(decimals) << std::setw(width) << value
      << std::defaultfloat;
}

}  // namespace

namespace DEP {

int projection(const Vec3& X0, const Mat3& R, const Vec3& P, double z, double& u, double& v) {
  const Vec3 uvn = multiplyTransposed(R, P - X0);
  if (uvn[2] == 0.0) numericMessages() << "DEP::projection: zero denominator.\n";
  u = z * uvn[0] / uvn[2];
  v = z * uvn[1] / uvn[2];
  return 1;
}

int intersection(const Vec3& X01, const Mat3& R1, const Vec3& a1, const Vec3& X02, const Mat3& R2,
                 const Vec3& a2, Vec3& P, double& e) {
  Vec3 d1 = multiply(R1, a1);
  Vec3 d2 = multiply(R2, a2);
  d1 = (1.0 / norm(d1)) * d1;
  d2 = (1.0 / norm(d2)) * d2;
  const Vec3 n = cross(d1, d2);
  const double D = dot(n, n);
  if (D == 0.0) {
    numericMessages() << "DEP::intersection: rays are parallel.\n";
    return -1;
  }
  const Vec3 w = X02 - X01;
  const double t1 = det3(w, d2, n) / D;
  const double t2 = det3(w, d1, n) / D;
  const Vec3 F1 = X01 + t1 * d1;
  const Vec3 F2 = X02 + t2 * d2;
  P = 0.5 * (F1 + F2);
  e = norm(F1 - F2);
  return 1;
}

}  // namespace DEP

ExtOrientation::ExtOrientation(std::string id, int rotationCount)
    : ImageGeometry(std::move(id), 3 + rotationCount, AdjKind::kExtOrientation),
      rotation_(rotationCount, 0.0) {}

int ExtOrientation::projection(const Vec3& P, double z, double& u, double& v) const {
  return DEP::projection(X0_, R_, P, z, u, v);
}

int ExtOrientation::intersection(const ImageGeometry& other, const Vec3& a1, const Vec3& a2,
                                 Vec3& P, double& e) const {
  const auto* second = dynamic_cast<const ExtOrientation*>(&other);
  if (second == nullptr) {
    messages() << "ExtOrientation::intersection: Incompatible image geometries!\n";
    return -1;
  }
  return DEP::intersection(X0_, R_, a1, second->X0_, second->R_, a2, P, e);
}

const std::vector<Mat3>& ExtOrientation::rotationMatrixDerivatives() const {
  if (derivatives_rotation_ != rotation_ || derivatives_.size() != rotation_.size()) {
    derivatives_.resize(rotation_.size());
    for (int k = 0; k < rotationCount(); ++k)
      derivatives_[k] = matrixDerivative(rotation_.data(), k);
    derivatives_rotation_ = rotation_;
  }
  return derivatives_;
}

int ExtOrientation::rotationDerivs(const Vec3& reduced, const Vec3& P, Matrix& derivs) const {
  const double z = reduced[2];
  const Vec3 d = P - X0_;
  const Vec3 uvn = multiplyTransposed(R_, d);
  const double N = uvn[2];
  if (N == 0.0) return -1;
  derivs.resize(2, rotationCount());
  const std::vector<Mat3>& matrixDerivatives = rotationMatrixDerivatives();
  for (int k = 0; k < rotationCount(); ++k) {
    const Vec3 prime = multiplyTransposed(matrixDerivatives[k], d);
    derivs(0, k) = z * (prime[0] * N - uvn[0] * prime[2]) / (N * N);
    derivs(1, k) = z * (prime[1] * N - uvn[1] * prime[2]) / (N * N);
  }
  return 1;
}

int ExtOrientation::getDerivs(const Vec3& reduced, const Vec3& P, GeometryDerivs& derivs) const {
  const Vec3 uvn = multiplyTransposed(R_, P - X0_);
  const double U = uvn[0], V = uvn[1], N = uvn[2];
  if (N == 0.0) {
    messages() << "ERROR: ExtOrientation::get_derivs: Zero denominator.\n";
    return -1;
  }
  const double q = reduced[2] / (N * N);
  const Mat3& r = R_;
  // resize() keeps the storage of a GeometryDerivs that is reused from point to point.
  derivs.params.resize(2, paramCount());
  derivs.objectPoint.resize(2, 3);
  for (int j = 0; j < 3; ++j) {
    // Column j: r_j3 U - r_j1 N (row u) and r_j3 V - r_j2 N (row v), times q.
    const double du = (r[3 * j + 2] * U - r[3 * j] * N) * q;
    const double dv = (r[3 * j + 2] * V - r[3 * j + 1] * N) * q;
    derivs.params(0, j) = du;
    derivs.params(1, j) = dv;
    derivs.objectPoint(0, j) = -du;
    derivs.objectPoint(1, j) = -dv;
  }
  Matrix& rotation = derivs.observations;  // scratch until the observations block is set
  if (rotationDerivs(reduced, P, rotation) != 1) return -1;
  for (int k = 0; k < rotationCount(); ++k) {
    derivs.params(0, 3 + k) = rotation(0, k);
    derivs.params(1, 3 + k) = rotation(1, k);
  }
  derivs.posCorrection.resize(0, 0);
  if (posCorrection_ != nullptr) {
    Matrix centre(2, 3);
    for (int i = 0; i < 2; ++i) {
      for (int j = 0; j < 3; ++j) centre(i, j) = derivs.params(i, j);
    }
    derivs.posCorrection = posCorrection_->derivativeBlock(centre, t);
  }
  derivs.attCorrection.resize(0, 0);
  derivs.observations.resize(2, 2);
  derivs.observations(0, 0) = derivs.observations(1, 1) = 1.0;
  return 1;
}

void ExtOrientation::refresh() {
  X0_ = {p[0], p[1], p[2]};
  if (posCorrection_ != nullptr) X0_ = X0_ + posCorrection_->correctionAt(t);
  for (int k = 0; k < rotationCount(); ++k) rotation_[k] = p[3 + k];
  R_ = matrixFromRotation(rotation_.data());
}

int ExtOrientation::convergenceTest(const Vector& x, const LSParams& ls) const {
  for (int k = 0; k < paramCount(); ++k) {
    const bool centre = k < 3;
    if (centre ? !ls.critProjectionCentres : !ls.critRotations) continue;
    const double limit = centre ? ls.limitProjectionCentres : ls.limitRotations;
    if (std::fabs(x[firstUnknown() + k]) > limit) return k;
  }
  return -1;
}

void ExtOrientation::printIterationTable(std::ostream& out, const Vector& x) const {
  out << "Station ID :  " << id() << "\n"
      << "Type       :  " << typeName() << "\n"
      << "Index      :  " << firstUnknown() << "\n\n"
      << "  Name       State       Approx.         Change       Adjusted\n\n";
  printSlotRows(out, x, true);
  out << "\n";
}

int ExtOrientation::readIdAndTime(std::istream& in, UnitAngle* unit) {
  std::string station;
  if (!readWord(in, station)) {
    messages() << "ERROR: Reading ID failed.\n";
    return -1;
  }
  setId(station);
  if (unit != nullptr) {
    std::string word;
    if (!readWord(in, word)) {
      messages() << "ERROR: Reading unit of rotation angles failed.\n";
      return -1;
    }
    if (!unit->lookup(word)) {
      messages() << "ERROR: Unknown unit of rotation angles: " << word << "\n";
      return -1;
    }
  }
  if (!readDouble(in, t)) {
    messages() << "ERROR: Cannot read exposure time.\n";
    return -1;
  }
  return 1;
}

int ExtOrientation::readCentre(std::istream& in) {
  if (!readTriple(in, &p[0])) {
    messages() << "ERROR: Reading projection centre coords. failed.\n";
    return -1;
  }
  if (!readTriple(in, &s[0])) {
    messages() << "ERROR: Reading std. dev. of proj. centre coords. failed.\n";
    return -1;
  }
  return 1;
}

void ExtOrientation::writeCentre(std::ostream& out, const LSParams& ls) const {
  const double f = ls.lengthUnit.factor();
  for (int k = 0; k < 3; ++k) {
    out << " ";
    printFixed(out, p[k] * f, 4, 15);
  }
  out << "\n";
  for (int k = 0; k < 3; ++k) {
    out << " ";
    if (ls.isObserved(s[k])) {
      printFixed(out, s[k] * f, 4, 15);
    } else {
      printScientific(out, s[k], 6, 15);
    }
  }
  out << "\n";
}

void ExtOrientation::printReportRows(std::ostream& out, const LSParams& ls, double rotationFactor,
                                     int rotationDecimals) const {
  const double lengthFactor = ls.lengthUnit.factor();
  out << "Station ID    :  " << id() << "\n"
      << "Exposure time :  " << t << " s\n"
      << "Type          :  " << typeName() << "\n\n"
      << "  Param.     State         Value       Std.dev.\n\n";
  for (int k = 0; k < paramCount(); ++k) {
    const bool centre = k < 3;
    const double factor = centre ? lengthFactor : rotationFactor;
    const int decimals = centre ? 3 : rotationDecimals;
    out << "  " << std::left << std::setw(4) << stateName(s[k], ls) << "   " << std::setw(8)
        << paramName(k) << std::right << "   ";
    printFixed(out, p[k] * factor, decimals, 12);
    out << "   ";
    if (ls.isObserved(s[k])) {
      printFixed(out, s[k] * factor, decimals, 12);
    } else {
      out << std::setw(12) << s[k];
    }
    out << "\n";
  }
  const Mat3 own = matrixFromRotation(&p[3]);
  out << "\nRotation matrix:\n";
  for (int i = 0; i < 3; ++i) {
    out << " ";
    for (int j = 0; j < 3; ++j) printFixed(out, own[3 * i + j] + 0.0, 7, 12);
    out << "\n";
  }
  out << "\n";
}

ExtOrientation3::ExtOrientation3(std::string id) : ExtOrientation(std::move(id), 3) {}

int ExtOrientation3::readRecord(std::istream& in, const LSParams& ls) {
  if (readIdAndTime(in, &angleUnit) != 1 || readCentre(in) != 1) return -1;
  const double F = angleUnit.factor();
  double angles[3];
  if (!readTriple(in, angles)) {
    messages() << "ERROR: Reading rotation parameters failed.\n";
    return -1;
  }
  for (int k = 0; k < 3; ++k) p[3 + k] = angles[k] / F;
  double sdevs[3];
  if (!readTriple(in, sdevs)) {
    messages() << "ERROR: Reading std. dev. of rotation angles failed.\n";
    return -1;
  }
  for (int k = 0; k < 3; ++k) s[3 + k] = ls.isObserved(sdevs[k]) ? sdevs[k] / F : sdevs[k];
  refresh();
  return 1;
}

void ExtOrientation3::writeRecord(std::ostream& out, const LSParams& ls) const {
  const double F = angleUnit.factor();
  out << keyword() << " " << id() << " " << angleUnit.abbreviation() << " ";
  printFixed(out, t, 4, 15);
  out << "\n";
  writeCentre(out, ls);
  for (int k = 3; k < 6; ++k) {
    out << " ";
    printScientific(out, p[k] * F, 6, 15);
  }
  out << "\n";
  // Observed std. devs. in the record's unit, so that the record reads back unchanged.
  for (int k = 3; k < 6; ++k) {
    out << " ";
    printScientific(out, ls.isObserved(s[k]) ? s[k] * F : s[k], 6, 15);
  }
  out << "\n";
}

void ExtOrientation3::printReport(std::ostream& out, const LSParams& ls) const {
  printReportRows(out, ls, angleUnit.factor(), 5);
}

int ExtOrientation3::getDerivs(const Vec3& reduced, const Vec3& P, GeometryDerivs& derivs) const {
  if (ExtOrientation::getDerivs(reduced, P, derivs) != 1) return -1;
  if (attCorrection_ != nullptr) {
    Matrix angles(2, 3);
    for (int i = 0; i < 2; ++i) {
      for (int j = 0; j < 3; ++j) angles(i, j) = derivs.params(i, 3 + j);
    }
    derivs.attCorrection = attCorrection_->derivativeBlock(angles, t);
  }
  return 1;
}

void ExtOrientation3::refresh() {
  ExtOrientation::refresh();
  if (attCorrection_ == nullptr) return;
  const Vec3 correction = attCorrection_->correctionAt(t);
  for (int k = 0; k < 3; ++k) rotation_[k] = p[3 + k] + correction[k];
  R_ = matrixFromRotation(rotation_.data());
}

std::string EOAnglesPOKRot::paramName(int k) const {
  static const char* const kNames[] = {"Xo", "Yo", "Zo", "phi", "omega", "kappa"};
  return kNames[k];
}

Mat3 EOAnglesPOKRot::matrixFromRotation(const double* q) const { return pokRotMatrix(q); }

Mat3 EOAnglesPOKRot::matrixDerivative(const double* q, int k) const {
  return derivativeOf([](const Dual* a) { return pokRotMatrix(a); }, q, 3, k);
}

void EOAnglesPOKRot::rotationFromMatrix(const Mat3& r, double* q) const {
  q[0] = std::atan2(r[2], r[8]);
  q[1] = std::asin(-r[5]);
  q[2] = std::atan2(r[3], r[4]);
}

std::string EOAnglesOPKRot::paramName(int k) const {
  static const char* const kNames[] = {"Xo", "Yo", "Zo", "omega", "phi", "kappa"};
  return kNames[k];
}

Mat3 EOAnglesOPKRot::matrixFromRotation(const double* q) const { return opkRotMatrix(q); }

Mat3 EOAnglesOPKRot::matrixDerivative(const double* q, int k) const {
  return derivativeOf([](const Dual* a) { return opkRotMatrix(a); }, q, 3, k);
}

void EOAnglesOPKRot::rotationFromMatrix(const Mat3& r, double* q) const {
  q[0] = std::atan2(-r[5], r[8]);
  q[1] = std::asin(r[2]);
  q[2] = std::atan2(-r[1], r[0]);
}

std::string EOAnglesOPKFix::paramName(int k) const { return EOAnglesOPKRot().paramName(k); }

Mat3 EOAnglesOPKFix::matrixFromRotation(const double* q) const {
  return transposed(opkRotMatrix(q));
}

Mat3 EOAnglesOPKFix::matrixDerivative(const double* q, int k) const {
  return derivativeOf([](const Dual* a) { return transposed(opkRotMatrix(a)); }, q, 3, k);
}

void EOAnglesOPKFix::rotationFromMatrix(const Mat3& r, double* q) const {
  q[0] = std::atan2(-r[7], r[8]);
  q[1] = std::asin(r[6]);
  q[2] = std::atan2(-r[3], r[0]);
}

std::string EOAustralis::paramName(int k) const {
  static const char* const kNames[] = {"Xo", "Yo", "Zo", "az", "elev", "roll"};
  return kNames[k];
}

Mat3 EOAustralis::matrixFromRotation(const double* q) const { return australisMatrix(q); }

Mat3 EOAustralis::matrixDerivative(const double* q, int k) const {
  return derivativeOf([](const Dual* a) { return australisMatrix(a); }, q, 3, k);
}

void EOAustralis::rotationFromMatrix(const Mat3& r, double* q) const {
  q[0] = std::atan2(r[2], -r[5]);
  q[1] = -std::asin(r[8]);
  q[2] = std::atan2(r[6], r[7]);
}

std::string EOQuaternion::paramName(int k) const {
  static const char* const kNames[] = {"Xo", "Yo", "Zo", "q0", "q1", "q2", "q3"};
  return kNames[k];
}

int EOQuaternion::readRecord(std::istream& in, const LSParams&) {
  if (readIdAndTime(in, nullptr) != 1 || readCentre(in) != 1) return -1;
  double q[4];
  for (double& component : q) {
    if (!readDouble(in, component)) {
      messages() << "ERROR: Reading rotation parameters failed.\n";
      return -1;
    }
  }
  double sq[4];
  for (double& component : sq) {
    if (!readDouble(in, component)) {
      messages() << "ERROR: Reading std. dev. of rotation parameters failed.\n";
      return -1;
    }
  }
  for (int k = 0; k < 4; ++k) {
    p[3 + k] = q[k];
    s[3 + k] = sq[k];
  }
  refresh();
  return 1;
}

void EOQuaternion::writeRecord(std::ostream& out, const LSParams& ls) const {
  out << keyword() << " " << id() << " ";
  printFixed(out, t, 4, 15);
  out << "\n";
  writeCentre(out, ls);
  for (const std::vector<double>* values : {&p, &s}) {
    for (int k = 3; k < 7; ++k) {
      out << " ";
      printScientific(out, (*values)[k], 6, 15);
    }
    out << "\n";
  }
}

void EOQuaternion::printReport(std::ostream& out, const LSParams& ls) const {
  printReportRows(out, ls, 1.0, 6);
}

Mat3 EOQuaternion::matrixFromRotation(const double* q) const { return quaternionMatrix(q); }

Mat3 EOQuaternion::matrixDerivative(const double* q, int k) const {
  return derivativeOf([](const Dual* a) { return quaternionMatrix(a); }, q, 4, k);
}

// The component with the largest of 4q0^2 = 1 + r11 + r22 + r33, 4q1^2 = 1 + r11 - r22 - r33,
// 4q2^2 and 4q3^2 is taken from the diagonal and the others from the off-diagonal sums
// and differences, so that half turns (q0 = 0) and rounding never divide by zero or take
// the root of a negative number. The sign is chosen so that q0 >= 0; for q0 > 0 this is
// q0 = sqrt(1 + trace) / 2, q1 = (r32 - r23) / (4 q0), q2 = (r13 - r31) / (4 q0),
// q3 = (r21 - r12) / (4 q0).
void EOQuaternion::rotationFromMatrix(const Mat3& r, double* q) const {
  const double m[4] = {1.0 + r[0] + r[4] + r[8], 1.0 + r[0] - r[4] - r[8], 1.0 - r[0] + r[4] - r[8],
                       1.0 - r[0] - r[4] + r[8]};
  int largest = 0;
  for (int i = 1; i < 4; ++i) {
    if (m[i] > m[largest]) largest = i;
  }
  const double big = 0.5 * std::sqrt(std::max(0.0, m[largest]));
  const double f = 0.25 / big;
  const double ab = (r[7] - r[5]), ac = (r[2] - r[6]), ad = (r[3] - r[1]);
  const double bc = (r[3] + r[1]), bd = (r[2] + r[6]), cd = (r[7] + r[5]);
  switch (largest) {
    case 0:
      q[0] = big, q[1] = ab * f, q[2] = ac * f, q[3] = ad * f;
      break;
    case 1:
      q[0] = ab * f, q[1] = big, q[2] = bc * f, q[3] = bd * f;
      break;
    case 2:
      q[0] = ac * f, q[1] = bc * f, q[2] = big, q[3] = cd * f;
      break;
    default:
      q[0] = ad * f, q[1] = bd * f, q[2] = cd * f, q[3] = big;
      break;
  }
  if (q[0] < 0.0) {
    for (int k = 0; k < 4; ++k) q[k] = -q[k];
  }
}

double EOQuaternion::constraintMisclosure() const {
  return 1.0 - (p[3] * p[3] + p[4] * p[4] + p[5] * p[5] + p[6] * p[6]);
}

void EOQuaternion::addConstraints(NormalSystem& normals, const LSParams& ls) const {
  DesignBlock block{Matrix(1, 7), firstUnknown()};
  for (int k = 3; k < 7; ++k) block.A(0, k) = 2.0 * p[k];
  normals.accumulateWeighted(block, {ls.weightConstraints}, {constraintMisclosure()});
}

}  // namespace bravik
