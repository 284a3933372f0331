#ifndef BRAVIK_MODELS_AP_SET_H
#define BRAVIK_MODELS_AP_SET_H

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "lsq/adj_object.h"
#include "lsq/dense.h"
#include "models/owned_list.h"

namespace bravik {

class Camera;

// A set of additional parameters a[0..n-1] (internal image units: metres and their
// powers) that corrects the reduced image coordinates of one camera. Every model is
// linear in a: the correction at (x, y, z) is D(x, y, z) a with the 2 x n matrix D of
// derivatives(), z being the third component of the reduced image vector (-c).
class APSet : public AdjObject {
 public:
  APSet(int paramCount, std::string typeName, std::string keyword);

  std::string typeName() const override { return typeName_; }
  std::string keyword() const override { return keyword_; }
  // "a" followed by the 1-based index.
  std::string paramName(int k) const override { return "a" + std::to_string(k + 1); }
  int setupParamSlots(const LSParams& ls) override;

  // Record after the keyword: set ID, camera ID, [grid width b in mm,] n pairs of value
  // and std. dev. A short list keeps the remaining parameters. 1, or -1 when the ID
  // cannot be read.
  virtual int readRecord(std::istream& in);
  virtual void writeRecord(std::ostream& out) const;
  virtual void printReport(std::ostream& out, const LSParams& ls) const;
  // 2 x n derivative matrix D at (x, y, z); the correction is D a.
  virtual int derivatives(double x, double y, double z, Matrix& D) const;
  // Dx = dD/dx and Dy = dD/dy (each 2 x n) at (x, y, z), z held constant. 1, or -1 for a
  // set without a model.
  virtual int derivativesByPosition(double x, double y, double z, Matrix& Dx, Matrix& Dy) const;
  int correction(double x, double y, double z, double& dx, double& dy) const;
  // J[i][j] = d(D a)[i] / d(x, y)[j] at (x, y, z): how the correction moves with the point.
  int correctionJacobian(double x, double y, double z, double (&J)[2][2]) const;
  // The correction summed over the columns marked '1' in `selection` (one character per
  // parameter; missing characters count as '0').
  int partialCorrection(double x, double y, double z, const std::string& selection, double& dx,
                        double& dy) const;
  // Appends the set to its camera's AP list; -1 after a message when there is none.
  int attach(const OwnedList<Camera>& cameras);
  // Effects on photo-coordinates on an nx x ny grid over the camera's format, centred on
  // the principal point, in micrometres. A grid count below 2 puts that axis's single
  // point on the principal point. -1 after the messages when the camera is missing.
  int printEffects(std::ostream& out, const OwnedList<Camera>& cameras, int nx, int ny) const;

  std::string cameraId;
  std::vector<double> a;
  std::vector<double> s;
  bool attached = false;

 protected:
  virtual void readHeadExtra(std::istream&) {}
  virtual void writeHeadExtra(std::ostream&) const {}
  virtual void printHeadExtra(std::ostream&) const {}
  struct EffectGrid {
    const char* title;
    const char* selection;
  };
  // The grids printed by printEffects; default: the type name with every parameter.
  virtual std::vector<EffectGrid> effectGrids() const;

 private:
  std::string typeName_;
  std::string keyword_;
};

// Base of the orthogonal polynomial sets; b is the grid width in metres.
class APSetP : public APSet {
 public:
  using APSet::APSet;
  double b = 0.0;

 protected:
  void readHeadExtra(std::istream& in) override;
  void writeHeadExtra(std::ostream& out) const override;
  void printHeadExtra(std::ostream& out) const override;
};

// Parameter names given by a fixed list.
class APSetNamed : public APSet {
 public:
  APSetNamed(std::vector<std::string> names, std::string typeName, std::string keyword);
  std::string paramName(int k) const override { return names_[k]; }

 private:
  std::vector<std::string> names_;
};

// Principal point, focal length, affinity, radial and decentering distortion.
class APSetGAP : public APSetNamed {
 public:
  APSetGAP();
  int derivatives(double x, double y, double z, Matrix& D) const override;
  int derivativesByPosition(double x, double y, double z, Matrix& Dx, Matrix& Dy) const override;

 protected:
  std::vector<EffectGrid> effectGrids() const override;
};
// Principal point, focal length, radial and decentering distortion, affinity and shear.
class APSetAustralis : public APSetNamed {
 public:
  APSetAustralis();
  int derivatives(double x, double y, double z, Matrix& D) const override;
  int derivativesByPosition(double x, double y, double z, Matrix& Dx, Matrix& Dy) const override;

 protected:
  std::vector<EffectGrid> effectGrids() const override;
};
// Principal-point shift and focal-length change.
class APSetIO : public APSetNamed {
 public:
  APSetIO();
  int derivatives(double x, double y, double z, Matrix& D) const override;
  int derivativesByPosition(double x, double y, double z, Matrix& Dx, Matrix& Dy) const override;

 protected:
  std::vector<EffectGrid> effectGrids() const override;
};
class APSetRadial : public APSetNamed {
 public:
  APSetRadial();
  int derivatives(double x, double y, double z, Matrix& D) const override;
  int derivativesByPosition(double x, double y, double z, Matrix& Dx, Matrix& Dy) const override;
};
class APSetDecentering : public APSetNamed {
 public:
  APSetDecentering();
  int derivatives(double x, double y, double z, Matrix& D) const override;
  int derivativesByPosition(double x, double y, double z, Matrix& Dx, Matrix& Dy) const override;
};
class APSetOutOfPlane : public APSetNamed {
 public:
  APSetOutOfPlane();
  int derivatives(double x, double y, double z, Matrix& D) const override;
  int derivativesByPosition(double x, double y, double z, Matrix& Dx, Matrix& Dy) const override;
};
class APSetInPlane : public APSet {
 public:
  APSetInPlane() : APSet(12, "in-plane distortion", "in-plane-dist") {}
  int derivatives(double x, double y, double z, Matrix& D) const override;
  int derivativesByPosition(double x, double y, double z, Matrix& Dx, Matrix& Dy) const override;
};
// Polynomials orthogonal over the 3 x 3 grid of spacing b.
class APSetP12 : public APSetP {
 public:
  APSetP12() : APSetP(12, "12-parameter (Ebner)", "p12") {}
  int derivatives(double x, double y, double z, Matrix& D) const override;
  int derivativesByPosition(double x, double y, double z, Matrix& Dx, Matrix& Dy) const override;
};
// Polynomials orthogonal over the 5 x 5 grid of spacing b / 2.
class APSetP44 : public APSetP {
 public:
  APSetP44() : APSetP(44, "44-parameter (Gruen)", "p44") {}
  int derivatives(double x, double y, double z, Matrix& D) const override;
  int derivativesByPosition(double x, double y, double z, Matrix& Dx, Matrix& Dy) const override;
};

// The set for an AP-set record keyword, or nullptr for an unknown keyword.
std::unique_ptr<APSet> makeAPSet(const std::string& keyword);

}  // namespace bravik

#endif  // BRAVIK_MODELS_AP_SET_H
