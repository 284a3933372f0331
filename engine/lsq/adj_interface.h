#ifndef BRAVIK_LSQ_ADJ_INTERFACE_H
#define BRAVIK_LSQ_ADJ_INTERFACE_H

#include <memory>

#include "lsq/dense.h"
#include "lsq/ls_params.h"

namespace bravik {

// Solver of dense normal equations N x = n.
class AdjInterface {
 public:
  virtual ~AdjInterface() = default;

  // Decomposes N in place (factor in the strictly lower triangle, its diagonal in d; the
  // diagonal and upper triangle of N are kept) and computes x. Result 0 on success, k > 0 when
  // the leading principal minor of order k is not positive, negative on size mismatches.
  virtual int solve(Matrix& N, const Vector& n, Vector& x, Vector& d) = 0;
};

// Cholesky decomposition and forward/backward substitution. Prints
// "ERROR: Cholesky decomposition failed.\n" or "ERROR: Backsubstitution failed.\n" to standard
// output on a non-zero result of the respective step and returns that result unchanged.
class AdjInterfaceNative : public AdjInterface {
 public:
  int solve(Matrix& N, const Vector& n, Vector& x, Vector& d) override;
};

// The dense solver for `interface_value`: native for kNative, nullptr for every other value (the
// caller then reports "ERROR: Unkown adjustment interface.\n"). The sparse value selects a
// different normal system, see createNormalSystem, not a dense solver.
std::unique_ptr<AdjInterface> createAdjInterface(AdjustmentInterface interface_value);

}  // namespace bravik

#endif  // BRAVIK_LSQ_ADJ_INTERFACE_H
