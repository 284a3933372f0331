#include "system/nvtools.h"

int NVT_GetVersionInfo(std::string_view module, std::string* file_version,
                       std::string* product_version) {
  if (!module.empty()) return 0;
  if (file_version) *file_version = VANTRI_VERSION;
  if (product_version) *product_version = VANTRI_VERSION;
  return 1;
}
