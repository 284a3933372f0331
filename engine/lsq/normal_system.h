#ifndef BRAVIK_LSQ_NORMAL_SYSTEM_H
#define BRAVIK_LSQ_NORMAL_SYSTEM_H

#include <memory>
#include <string>
#include <vector>

#include "lsq/dense.h"
#include "lsq/ls_params.h"

namespace bravik {

// Derivatives of r observation equations with respect to c consecutive unknowns
// starting at unknown number `offset` (the owner's first unknown index).
struct DesignBlock {
  Matrix A;  // r x c
  int offset = -1;
};

// One group of observation equations (two image coordinates of one point, ...):
//   sum_k A_k dx_k + B v = l,  cofactor matrix of the observations Q.
// Built by the caller for one contribution and discarded afterwards.
struct ObservationGroup {
  std::vector<DesignBlock> blocks;
  Matrix B;  // r x q, derivatives with respect to the observations
  Matrix Q;  // q x q cofactor matrix of the observations
  Vector l;  // misclosures, length r
};

// Names of the four normal-equation files of the run options; "none" means not written.
// Relative names resolve against the current directory (the input file's folder during a run).
struct NormalEquationFileNames {
  std::string structure = "none";  // PBM image of the non-zero pattern of N
  std::string matrix = "none";     // N with the Cholesky factor in its strictly lower triangle
  std::string rhs = "none";        // n
  std::string solution = "none";   // x
};

// Sizes of the objects owning unknowns, in numbering order: `object_points` blocks of 3
// unknowns first, then one entry per further object (image geometry, AP set, correction).
struct UnknownLayout {
  int object_points = 0;
  std::vector<int> object_sizes;

  int unknowns() const;
};

// The normal equations N x = n of one adjustment and their solution.
// Implementations differ in storage (dense "native", block-sparse); every one gives
// the same N, n, x and vtpv. Unknowns are numbered as the adjustable-object list numbers
// them: object points (3 each) first, then image geometries, AP sets and corrections.
class NormalSystem {
 public:
  virtual ~NormalSystem() = default;

  // Number of unknowns u.
  virtual int size() const = 0;

  // Start of an iteration: N, n and x set to 0, vtpv to 0.
  virtual void reset() = 0;

  // Adds one observation group: P = (B Q B^T)^-1, N += A^T P A, n += A^T P l,
  // vtpv += l^T P l. Returns false (after printing "ERROR: Decomposition of weight
  // matrix failed.\n" to the diagnostics sink) when B Q B^T is not positive definite.
  virtual bool accumulate(const ObservationGroup& group) = 0;

  // Constraint equations with diagonal weights w: N += A^T W A, n += A^T W l, vtpv += l^T W l.
  virtual void accumulateWeighted(const DesignBlock& block, const Vector& w, const Vector& l) = 0;

  // Direct observation of unknown i with weight w and misclosure l:
  // N[i][i] += w, n[i] += w l, vtpv += w l^2.
  virtual void addParameterObservation(int i, double w, double l) = 0;

  // Concurrent accumulation of observation groups. A system with more than one lane takes the
  // groups observing object point p in lane laneOfPoint(p), so a caller may run one thread per
  // lane between beginLanes() and endLanes(): each thread calls accumulateInLane(group, lane) only
  // for the groups of its lane, in its own order. endLanes() adds the lanes in lane order, so the
  // sums do not depend on how many threads ran them. false from endLanes() means the lanes met a
  // block the system did not know yet or failed: the caller then starts over with reset() and
  // accumulate(group). Groups without an object point go to lane 0.
  virtual int accumulationLanes() const { return 1; }
  virtual int laneOfPoint(int /*point*/) const { return 0; }
  // A hint that the contribution of object point `point` follows soon: its blocks may be fetched
  // into the cache, in stages 0, 1, 2 called in that order some points apart. No effect on the
  // results.
  virtual void prefetchPoint(int /*point*/, int /*stage*/) const {}
  virtual void beginLanes() {}
  virtual bool accumulateInLane(const ObservationGroup& group, int /*lane*/) {
    return accumulate(group);
  }
  virtual bool endLanes() { return true; }

  // Solves for x. 0 on success; k > 0 when the leading minor of order k is not positive;
  // negative only for size mismatches (programming errors).
  virtual int solve() = 0;

  virtual const Vector& rhs() const = 0;       // n
  virtual const Vector& solution() const = 0;  // x
  virtual double vtpv() const = 0;
  virtual void setVtpv(double value) = 0;

  // Cofactors of the unknowns, Q = N^-1, for the precision and reliability analysis.
  // retainFactor(true) before the solve() whose matrix is wanted keeps what the inverse needs;
  // after that solve(), prepareInverse() computes the blocks of Q that inverseBlock() returns
  // and is false when the system cannot (nothing solved, factor not retained, no inverse). The
  // dense system has every block. The sparse one has the blocks within an object and between
  // objects that one observation or one object point links (an object point and the objects
  // observing it, two such objects, an image geometry and the AP sets of its camera, ...);
  // others are not computed. Nothing after prepareInverse() may use the solution path again.
  virtual void retainFactor(bool /*retain*/) {}
  virtual bool prepareInverse() { return false; }
  // Rows [row0, row0 + rows) and columns [col0, col0 + cols) of Q into `out`; each range must lie
  // within the unknowns of one object. false when that block was not computed.
  virtual bool inverseBlock(int /*row0*/, int /*rows*/, int /*col0*/, int /*cols*/,
                            Matrix& /*out*/) const {
    return false;
  }

  // Writes the files whose names are not exactly "none", after the last solution. A file that
  // cannot be written prints its "ERROR: " line to the diagnostics sink; the run continues.
  // The default (for systems that keep no matrix, e.g. test doubles) writes nothing.
  virtual void writeNormalEquationFiles(const NormalEquationFileNames& /*names*/) const {}
};

// True for the "Adjustment interface" values that have a normal system: 0 (native), 2 (sparse).
bool hasNormalSystem(AdjustmentInterface interface_value);

// The normal system for the "Adjustment interface" value: 0 (native) dense, 2 (sparse)
// block-sparse with the object points eliminated. nullptr for any other value, for which the
// caller reports "ERROR: Unkown adjustment interface.\n", and nullptr for a known value when the
// memory cannot be allocated (after "ERROR: Not enough memory for the normal equations of ..."
// on the diagnostics sink; the dense system needs 8 u^2 bytes).
std::unique_ptr<NormalSystem> createNormalSystem(AdjustmentInterface interface_value,
                                                 const UnknownLayout& layout);

}  // namespace bravik

#endif  // BRAVIK_LSQ_NORMAL_SYSTEM_H
