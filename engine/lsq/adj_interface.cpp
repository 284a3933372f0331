#include "lsq/adj_interface.h"

#include <cstdio>

#include "lsq/cholesky.h"
#include "util/diagnostics.h"

namespace bravik {

int AdjInterfaceNative::solve(Matrix& N, const Vector& n, Vector& x, Vector& d) {
  int result = choleskyDecompose(N, d);
  if (result != 0) {
    messages() << "ERROR: Cholesky decomposition failed.\n";
    return result;
  }
  result = choleskySubstitute(N, d, n, x);
  if (result != 0) messages() << "ERROR: Backsubstitution failed.\n";
  return result;
}

std::unique_ptr<AdjInterface> createAdjInterface(AdjustmentInterface interface_value) {
  if (interface_value == AdjustmentInterface::kNative)
    return std::make_unique<AdjInterfaceNative>();
  return nullptr;
}

}  // namespace bravik
