#include "lsq/ls_params.h"

namespace bravik {

LSParams& lsParams() {
  static LSParams settings;
  return settings;
}

}  // namespace bravik
