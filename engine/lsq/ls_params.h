#ifndef BRAVIK_LSQ_LS_PARAMS_H
#define BRAVIK_LSQ_LS_PARAMS_H

#include "lsq/units.h"

namespace bravik {

// The "Adjustment interface" setting: how the normal equations are formed and solved.
// "native" forms the full normal matrix and solves it with the built-in Cholesky solver;
// "lapack" is accepted by the settings reader but has no solver; "sparse" eliminates the object
// points and solves the reduced system with a fill-reducing ordering; it gives the same results as
// "native" without forming the full normal matrix.
enum class AdjustmentInterface : int { kNative = 0, kLapack = 1, kSparse = 2 };

// The least-squares settings of one run (Block::settings), passed to every step that needs
// them. A run starts with the settings its caller gives it and replaces them only by an
// "ls-params" file read completely; where they persist between runs is the entry points'
// business (input/run.h). Lengths are metres, angles radians.
struct LSParams {
  double sigma0 = 1e-6;  // a-priori std. dev. of unit weight, m in the image plane
  int maxIterations = 10;
  // Unknowns used for the iteration criterion.
  bool critObjectPoints = false;
  bool critProjectionCentres = false;
  bool critRotations = true;
  bool critGeometry = true;
  // Convergence limits.
  double limitObjectPoints = 0.001;       // m
  double limitProjectionCentres = 0.001;  // m
  double limitRotations = 1e-6;
  double limitGeometry = 1e-8;
  // Std. dev. thresholds: s < smin eliminated, smin <= s <= smax observed, s > smax unknown.
  double smin = 1e-30;
  double smax = 1e30;
  double sminu = 1e-31;  // marker value of a fixed unknown
  double smaxu = 1e31;   // marker value of a free unknown
  double weightSuppression = 1e10;
  double weightConstraints = 1e10;
  double correlationLimit = 0.8;
  double incrementObjectPoints = 1.0;  // m
  double incrementRotations = 0.001;   // rad
  double significanceLimit = 1.96;
  double aptvLimit = 0.0001;
  double residualPrintLimit = 1e-5;  // m (read and printed in um)
  UnitLength lengthUnit;
  UnitAngle angleUnit;
  AdjustmentInterface adjustmentInterface = AdjustmentInterface::kNative;

  // True for a std. dev. in the observed range smin <= s <= smax (false for NaN).
  bool isObserved(double s) const { return smin <= s && s <= smax; }
};

}  // namespace bravik

#endif  // BRAVIK_LSQ_LS_PARAMS_H
