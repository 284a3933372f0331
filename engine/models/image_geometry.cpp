#include "models/image_geometry.h"

#include <cmath>
#include <iomanip>
#include <iostream>

#include "lsq/ls_params.h"
#include "util/diagnostics.h"
#include "util/tokens.h"

namespace bravik {

ImageGeometry::ImageGeometry(std::string id, int paramCount, AdjKind kind)
    : AdjObject(std::move(id), paramCount, kind), p(paramCount, 0.0), s(paramCount, 0.0) {}

int ImageGeometry::setupParamSlots(const LSParams& ls) {
  return setupSlotsFrom(p.data(), s.data(), ls);
}

int ImageGeometry::computeApproximation() {
  messages() << "ATTENTION: Calculate approximate image geometry not implemented.\n";
  return 1;
}

void ImageGeometry::refresh() {}

int ImageGeometry::rotationDerivs(const Vec3&, const Vec3&, Matrix&) const { return -1; }

ListGeometry::ListGeometry(std::string id, int paramCount)
    : ImageGeometry(std::move(id), paramCount, AdjKind::kImageGeometry) {}

int ListGeometry::readRecord(std::istream& in, const LSParams&) {
  std::string station;
  if (!readWord(in, station)) {
    messages() << "ERROR: Reading station ID failed.\n";
    return -1;
  }
  setId(station);
  if (!readDouble(in, t)) {
    messages() << "ERROR: Cannot read exposure time.\n";
    return -1;
  }
  for (int k = 0; k < paramCount(); ++k) {
    if (!readDouble(in, p[k]) || !readDouble(in, s[k])) {
      messages() << "ERROR: Reading values and std. devs. failed.\n";
      return -1;
    }
  }
  return 1;
}

void ListGeometry::writeRecord(std::ostream& out, const LSParams&) const {
  out << recordKeyword() << "   " << id() << "   " << std::fixed << std::setprecision(6)
      << std::setw(12) << t << "\n"
      << std::scientific << std::setprecision(15);
  for (int k = 0; k < paramCount(); ++k) {
    out << std::setw(23) << p[k] << "   " << std::setw(23) << s[k] << "\n";
  }
  out << std::defaultfloat;
}

void ListGeometry::printReport(std::ostream& out, const LSParams& ls) const {
  out << "Station ID    :  " << id() << "\n"
      << "Exposure time :  " << t << "\n"
      << "Type          :  " << typeName() << "\n\n"
      << "  Param.     State         Value       Std.dev.\n\n";
  for (int k = 0; k < paramCount(); ++k) {
    out << "  " << std::left << std::setw(8) << paramName(k) << "   " << std::setw(4)
        << stateName(s[k], ls) << std::right << std::scientific << std::setprecision(6) << "   "
        << std::setw(14) << p[k] << "   " << std::setw(14) << s[k] << std::defaultfloat << "\n";
  }
  out << "\n";
}

int ListGeometry::convergenceTest(const Vector& x, const LSParams& ls) const {
  if (!ls.critGeometry) return -1;
  for (int k = 0; k < paramCount(); ++k) {
    if (std::fabs(x[firstUnknown() + k]) > ls.limitGeometry) return k;
  }
  return -1;
}

PMFLinear::PMFLinear(std::string id) : ListGeometry(std::move(id), 8) {}

std::string PMFLinear::paramName(int k) const {
  static const char* const kNames[] = {"a0", "a1", "a2", "a3", "b0", "b1", "b2", "b3"};
  return kNames[k];
}

int PMFLinear::projection(const Vec3& P, double, double& u, double& v) const {
  u = p[0] + p[1] * P[0] + p[2] * P[1] + p[3] * P[2];
  v = p[4] + p[5] * P[0] + p[6] * P[1] + p[7] * P[2];
  return 1;
}

int PMFLinear::getDerivs(const Vec3&, const Vec3& P, GeometryDerivs& derivs) const {
  derivs.params = Matrix(2, 8);
  const double row[4] = {1.0, P[0], P[1], P[2]};
  for (int j = 0; j < 4; ++j) {
    derivs.params(0, j) = row[j];
    derivs.params(1, 4 + j) = row[j];
  }
  derivs.objectPoint = Matrix(2, 3);
  for (int j = 0; j < 3; ++j) {
    derivs.objectPoint(0, j) = p[1 + j];
    derivs.objectPoint(1, j) = p[5 + j];
  }
  derivs.posCorrection = Matrix();
  derivs.attCorrection = Matrix();
  derivs.observations = Matrix(2, 2);
  derivs.observations(0, 0) = derivs.observations(1, 1) = 1.0;
  return 1;
}

int PMFLinear::intersection(const ImageGeometry& other, const Vec3& a1, const Vec3& a2, Vec3& P,
                            double& e) const {
  const auto* second = dynamic_cast<const PMFLinear*>(&other);
  if (second == nullptr) {
    messages() << "PMFLinear::intersection: Incompatible image geometries!\n";
    return -1;
  }
  // Four equations a1 X + a2 Y + a3 Z = u - a0 (and b for v), solved by least squares.
  double n[3][3] = {};
  Vec3 b{0.0, 0.0, 0.0};
  auto addEquation = [&](const double* coeff, double rhs) {
    for (int i = 0; i < 3; ++i) {
      for (int j = 0; j < 3; ++j) n[i][j] += coeff[i] * coeff[j];
      b[i] += coeff[i] * rhs;
    }
  };
  for (const auto& [geometry, a] : {std::pair{this, a1}, std::pair{second, a2}}) {
    addEquation(&geometry->p[1], a[0] - geometry->p[0]);
    addEquation(&geometry->p[5], a[1] - geometry->p[4]);
  }
  if (!solveSymmetric3(n, b, P)) {
    messages() << "ERROR: Decomposition of normal matrix failed.\n";
    return -1;
  }
  e = 0.0;
  return 1;
}

DirectLinearTransf::DirectLinearTransf(std::string id) : ListGeometry(std::move(id), 11) {}

namespace {

// L9 X + L10 Y + L11 Z + 1.
double dltDenominator(const std::vector<double>& L, const Vec3& P) {
  return L[8] * P[0] + L[9] * P[1] + L[10] * P[2] + 1.0;
}

}  // namespace

int DirectLinearTransf::projection(const Vec3& P, double, double& u, double& v) const {
  const double N = dltDenominator(p, P);
  if (N == 0.0) numericMessages() << "DEP::projection: zero denominator.\n";
  u = (p[0] * P[0] + p[1] * P[1] + p[2] * P[2] + p[3]) / N;
  v = (p[4] * P[0] + p[5] * P[1] + p[6] * P[2] + p[7]) / N;
  return 1;
}

int DirectLinearTransf::getDerivs(const Vec3&, const Vec3& P, GeometryDerivs& derivs) const {
  const double N = dltDenominator(p, P);
  if (N == 0.0) numericMessages() << "DirectLinearTransf::get_derivs: zero denominator.\n";
  const double u = (p[0] * P[0] + p[1] * P[1] + p[2] * P[2] + p[3]) / N;
  const double v = (p[4] * P[0] + p[5] * P[1] + p[6] * P[2] + p[7]) / N;
  const double homogeneous[4] = {P[0], P[1], P[2], 1.0};
  derivs.params = Matrix(2, 11);
  for (int j = 0; j < 4; ++j) {
    derivs.params(0, j) = homogeneous[j] / N;
    derivs.params(1, 4 + j) = homogeneous[j] / N;
  }
  derivs.objectPoint = Matrix(2, 3);
  for (int j = 0; j < 3; ++j) {
    derivs.params(0, 8 + j) = -P[j] * u / N;
    derivs.params(1, 8 + j) = -P[j] * v / N;
    derivs.objectPoint(0, j) = (p[j] - p[8 + j] * u) / N;
    derivs.objectPoint(1, j) = (p[4 + j] - p[8 + j] * v) / N;
  }
  derivs.posCorrection = Matrix();
  derivs.attCorrection = Matrix();
  derivs.observations = Matrix(2, 2);
  derivs.observations(0, 0) = derivs.observations(1, 1) = 1.0;
  return 1;
}

int DirectLinearTransf::intersection(const ImageGeometry& other, const Vec3&, const Vec3&, Vec3&,
                                     double&) const {
  if (dynamic_cast<const DirectLinearTransf*>(&other) == nullptr) {
    messages() << "DirectLinearTransf::intersection: Incompatible image geometries!\n";
  } else {
    messages() << "DirectLinearTransf::intersection: Not implemented yet!\n";
  }
  return -1;
}

bool solveSymmetric3(const double (&n)[3][3], const Vec3& b, Vec3& x) {
  double l[3][3] = {};
  for (int j = 0; j < 3; ++j) {
    double diag = n[j][j];
    for (int k = 0; k < j; ++k) diag -= l[j][k] * l[j][k];
    if (!(diag > 0.0)) return false;
    l[j][j] = std::sqrt(diag);
    for (int i = j + 1; i < 3; ++i) {
      double sum = n[i][j];
      for (int k = 0; k < j; ++k) sum -= l[i][k] * l[j][k];
      l[i][j] = sum / l[j][j];
    }
  }
  Vec3 y{};
  for (int i = 0; i < 3; ++i) {
    double sum = b[i];
    for (int k = 0; k < i; ++k) sum -= l[i][k] * y[k];
    y[i] = sum / l[i][i];
  }
  for (int i = 2; i >= 0; --i) {
    double sum = y[i];
    for (int k = i + 1; k < 3; ++k) sum -= l[k][i] * x[k];
    x[i] = sum / l[i][i];
  }
  return true;
}

}  // namespace bravik
