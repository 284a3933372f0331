#include "models/corrections.h"

#include <cmath>
#include <iostream>

#include "models/ext_orientation.h"
#include "models/image_geometry.h"
#include "util/diagnostics.h"
#include "util/tokens.h"

namespace bravik {

TimeCorrection::TimeCorrection(std::string id)
    : AdjObject(std::move(id), 3), c(3, 0.0), s(3, 0.0) {}

int TimeCorrection::readRecord(std::istream& in) {
  std::string word;
  while (readWord(in, word) && !isStopDep(word)) eoIds.push_back(word);
  in.clear(in.rdstate() & ~std::ios::failbit);
  readOptionalDouble(in, t0);
  double rows = 0.0;
  if (!readOptionalDouble(in, rows)) return 1;
  if (!(rows >= 1.0) || rows != std::floor(rows)) {
    messages() << "ERROR: " << messageName() << " " << id()
              << ": number of coefficient rows must be a positive integer.\n";
    return -1;
  }
  // Checked before any arithmetic or allocation: a count from a damaged file (1e308, 1e7) would
  // overflow 3 m or allocate gigabytes.
  if (rows > kMaxCoefficientRows) {
    messages() << "ERROR: " << messageName() << " " << id()
              << ": number of coefficient rows exceeds " << kMaxCoefficientRows << ".\n";
    return -1;
  }
  m_ = static_cast<int>(rows);
  c.assign(3 * m_, 0.0);
  s.assign(3 * m_, 0.0);
  setParamCount(3 * m_);
  for (int k = 0; k < m_; ++k) {
    for (int j = 0; j < 3; ++j) {
      if (!readOptionalDouble(in, c[3 * k + j]) || !readOptionalDouble(in, s[3 * k + j])) {
        return 1;
      }
    }
  }
  return 1;
}

int TimeCorrection::setupParamSlots(const LSParams& ls) {
  return setupSlotsFrom(c.data(), s.data(), ls);
}

Vec3 TimeCorrection::correctionAt(double t) const {
  const double tau = t - t0;
  Vec3 v{c[3 * (m_ - 1)], c[3 * (m_ - 1) + 1], c[3 * (m_ - 1) + 2]};
  for (int k = m_ - 2; k >= 0; --k) {
    for (int j = 0; j < 3; ++j) v[j] = v[j] * tau + c[3 * k + j];
  }
  return v;
}

Matrix TimeCorrection::derivativeBlock(const Matrix& columns, double t) const {
  const double tau = t - t0;
  Matrix block(2, 3 * m_);
  double power = 1.0;
  for (int k = 0; k < m_; ++k) {
    for (int i = 0; i < 2; ++i) {
      for (int j = 0; j < 3; ++j) block(i, 3 * k + j) = columns(i, j) * power;
    }
    power *= tau;
  }
  return block;
}

int TimeCorrection::attach(const OwnedList<ImageGeometry>& geometries) {
  for (const std::string& eoId : eoIds) {
    ImageGeometry* geometry = geometries.find(eoId);
    if (geometry == nullptr) {
      messages() << "ERROR: " << messageName() << " " << id() << ": EO " << eoId << " not found.\n";
      return -1;
    }
    if (!attachTo(*geometry)) {
      messages() << "ERROR: " << messageName() << " " << id() << ": EO " << eoId
                 << " invalid image geometry.\n";
      return -1;
    }
  }
  attached = true;
  return 1;
}

std::string PosCorrection::paramName(int k) const {
  static const char* const kAxes[] = {"X", "Y", "Z"};
  return std::string(kAxes[k % 3]) + "o[" + std::to_string(k / 3) + "]";
}

bool PosCorrection::attachTo(ImageGeometry& geometry) {
  auto* eo = dynamic_cast<ExtOrientation*>(&geometry);
  if (eo == nullptr) return false;
  eo->setPosCorrection(this);
  return true;
}

std::string AttCorrection::paramName(int k) const {
  static const char* const kAngles[] = {"a1", "a2", "a3"};
  return std::string(kAngles[k % 3]) + "[" + std::to_string(k / 3) + "]";
}

bool AttCorrection::attachTo(ImageGeometry& geometry) {
  auto* eo = dynamic_cast<ExtOrientation3*>(&geometry);
  if (eo == nullptr) return false;
  eo->setAttCorrection(this);
  return true;
}

}  // namespace bravik
