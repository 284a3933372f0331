#include "fuzz_support.h"

#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace fuzzing {

const std::string& ScratchFolder() {
  static const std::string folder = [] {
    std::string pattern = std::filesystem::temp_directory_path().string() + "/vantri_fuzz_XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    std::atexit([] {
      std::error_code error;
      std::filesystem::remove_all(ScratchFolder(), error);
    });
    // Per-user settings of the readers (import separators, profile) stay in the scratch folder.
    setenv("VANTRI_HOME", pattern.c_str(), 1);
    return pattern;
  }();
  return folder;
}

std::string WriteScratchFile(const std::string& name, std::string_view bytes) {
  const std::string path = ScratchFolder() + "/" + name;
  std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), bytes.size());
  return path;
}

}  // namespace fuzzing
