#include "lsq/normal_system.h"

#include <numeric>

#include "lsq/adj_interface.h"
#include "lsq/dense_normal_system.h"
#include "lsq/sparse_normal_system.h"

namespace bravik {

int UnknownLayout::unknowns() const {
  return 3 * object_points + std::accumulate(object_sizes.begin(), object_sizes.end(), 0);
}

std::unique_ptr<NormalSystem> createNormalSystem(int interface_value, const UnknownLayout& layout) {
  if (interface_value == kAdjInterfaceNative)
    return std::make_unique<DenseNormalSystem>(layout.unknowns(),
                                               createAdjInterface(interface_value));
  if (interface_value == kAdjInterfaceSparse) return std::make_unique<SparseNormalSystem>(layout);
  return nullptr;
}

}  // namespace bravik
