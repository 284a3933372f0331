#include "lsq/adj_interface.h"

#include <cstdio>

#include "lsq/cholesky.h"

namespace bravik {

int AdjInterfaceNative::solve(Matrix& N, const Vector& n, Vector& x, Vector& d) {
  int result = choleskyDecompose(N, d);
  if (result != 0) {
    std::fputs("ERROR: Cholesky decomposition failed.\n", stdout);
    return result;
  }
  result = choleskySubstitute(N, d, n, x);
  if (result != 0) std::fputs("ERROR: Backsubstitution failed.\n", stdout);
  return result;
}

std::unique_ptr<AdjInterface> createAdjInterface(int interface_value) {
  if (interface_value == kAdjInterfaceNative) return std::make_unique<AdjInterfaceNative>();
  return nullptr;
}

}  // namespace bravik
