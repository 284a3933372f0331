#ifndef BRAVIK_MODELS_CORRECTIONS_H
#define BRAVIK_MODELS_CORRECTIONS_H

#include <iosfwd>
#include <string>
#include <vector>

#include "lsq/adj_object.h"
#include "lsq/dense.h"
#include "models/owned_list.h"
#include "models/vec3.h"

namespace bravik {

class ImageGeometry;

// A time polynomial of m coefficient triples added to the projection centres
// (PosCorrection, object units per power of seconds) or to the three rotation angles
// (AttCorrection, radians per power of seconds) of the exterior orientations it lists.
// Parameter 3k + j is component j of coefficient k.
class TimeCorrection : public AdjObject {
 public:
  explicit TimeCorrection(std::string id);

  // A time polynomial of this many terms is far beyond any drift model; larger counts are
  // refused as damaged input.
  static constexpr int kMaxCoefficientRows = 100;

  // Record after the ID: EO IDs up to "stop-dep", t0, m, m rows of
  // c.x s.x c.y s.y c.z s.z. Missing numbers keep the defaults (m = 1, zeros).
  // -1 after "ERROR: " on the diagnostics sink when m is not an integer in 1..kMaxCoefficientRows.
  int readRecord(std::istream& in);
  int setupParamSlots(const LSParams& ls) override;

  // sum_k c[k] (t - t0)^k by Horner's scheme.
  Vec3 correctionAt(double t) const;
  // 2 x 3m block whose column 3k + j is column j of `columns` (2 x 3) times (t - t0)^k.
  Matrix derivativeBlock(const Matrix& columns, double t) const;
  // Refers every listed EO to this correction; 1, or -1 after a message.
  int attach(const OwnedList<ImageGeometry>& geometries);

  int termCount() const { return m_; }

  std::vector<std::string> eoIds;
  double t0 = 0.0;
  std::vector<double> c;  // 3m coefficients
  std::vector<double> s;  // their a-priori std. devs.
  bool attached = false;

 protected:
  // "Position correction" or "Attitude correction", for messages.
  virtual const char* messageName() const = 0;
  // Refers the geometry to this correction; false when it is not a suitable EO.
  virtual bool attachTo(ImageGeometry& geometry) = 0;

 private:
  int m_ = 1;
};

class PosCorrection : public TimeCorrection {
 public:
  explicit PosCorrection(std::string id = "") : TimeCorrection(std::move(id)) {}
  std::string typeName() const override { return "position correction"; }
  std::string keyword() const override { return "pos-corr"; }
  std::string paramName(int k) const override;

 protected:
  const char* messageName() const override { return "Position correction"; }
  bool attachTo(ImageGeometry& geometry) override;
};

class AttCorrection : public TimeCorrection {
 public:
  explicit AttCorrection(std::string id = "") : TimeCorrection(std::move(id)) {}
  std::string typeName() const override { return "attitude correction"; }
  std::string keyword() const override { return "att-corr"; }
  std::string paramName(int k) const override;

 protected:
  const char* messageName() const override { return "Attitude correction"; }
  bool attachTo(ImageGeometry& geometry) override;
};

}  // namespace bravik

#endif  // BRAVIK_MODELS_CORRECTIONS_H
