#include "lsq/normal_system.h"

#include <cstdio>
#include <new>
#include <numeric>

#include "lsq/adj_interface.h"
#include "lsq/dense_normal_system.h"
#include "lsq/sparse_normal_system.h"
#include "util/diagnostics.h"
#include "util/number_format.h"

namespace bravik {

int UnknownLayout::unknowns() const {
  return 3 * object_points + std::accumulate(object_sizes.begin(), object_sizes.end(), 0);
}

bool hasNormalSystem(AdjustmentInterface interface_value) {
  return interface_value == AdjustmentInterface::kNative ||
         interface_value == AdjustmentInterface::kSparse;
}

std::unique_ptr<NormalSystem> createNormalSystem(AdjustmentInterface interface_value,
                                                 const UnknownLayout& layout) {
  try {
    if (interface_value == AdjustmentInterface::kNative)
      return std::make_unique<DenseNormalSystem>(layout.unknowns(),
                                                 createAdjInterface(interface_value));
    if (interface_value == AdjustmentInterface::kSparse)
      return std::make_unique<SparseNormalSystem>(layout);
  } catch (const std::bad_alloc&) {
    const double gigabytes = 8.0 * layout.unknowns() * layout.unknowns() / 1e9;
    if (interface_value == AdjustmentInterface::kNative)
      messages() << "ERROR: Not enough memory for the normal equations of " << layout.unknowns()
                 << " unknowns (" << formatFixed(gigabytes, 1)
                 << " GB with the native adjustment interface).\n";
    else
      messages() << "ERROR: Not enough memory for the normal equations of " << layout.unknowns()
                 << " unknowns.\n";
  }
  return nullptr;
}

}  // namespace bravik
