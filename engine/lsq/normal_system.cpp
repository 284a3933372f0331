#include "lsq/normal_system.h"

#include <cstdio>
#include <new>
#include <numeric>

#include "lsq/adj_interface.h"
#include "lsq/dense_normal_system.h"
#include "lsq/sparse_normal_system.h"

namespace bravik {

int UnknownLayout::unknowns() const {
  return 3 * object_points + std::accumulate(object_sizes.begin(), object_sizes.end(), 0);
}

bool hasNormalSystem(int interface_value) {
  return interface_value == kAdjInterfaceNative || interface_value == kAdjInterfaceSparse;
}

std::unique_ptr<NormalSystem> createNormalSystem(int interface_value, const UnknownLayout& layout) {
  try {
    if (interface_value == kAdjInterfaceNative)
      return std::make_unique<DenseNormalSystem>(layout.unknowns(),
                                                 createAdjInterface(interface_value));
    if (interface_value == kAdjInterfaceSparse) return std::make_unique<SparseNormalSystem>(layout);
  } catch (const std::bad_alloc&) {
    const double gigabytes = 8.0 * layout.unknowns() * layout.unknowns() / 1e9;
    if (interface_value == kAdjInterfaceNative)
      std::printf(
          "ERROR: Not enough memory for the normal equations of %d unknowns (%.1f GB with the "
          "native adjustment interface).\n",
          layout.unknowns(), gigabytes);
    else
      std::printf("ERROR: Not enough memory for the normal equations of %d unknowns.\n",
                  layout.unknowns());
  }
  return nullptr;
}

}  // namespace bravik
