#include "fuzz_support.h"

#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace fuzzing {

const std::string& ScratchFolder() {
  // Never destroyed: the exit handler that removes the folder runs after static destructors.
  static const std::string* const folder = [] {
    std::string pattern = std::filesystem::temp_directory_path().string() + "/vantri_fuzz_XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    // Per-user settings of the readers (import separators, profile) stay in the scratch folder.
    setenv("VANTRI_HOME", pattern.c_str(), 1);
    auto* created = new std::string(pattern);
    std::atexit([] {
      std::error_code error;
      std::filesystem::remove_all(ScratchFolder(), error);
    });
    return created;
  }();
  return *folder;
}

std::string WriteScratchFile(const std::string& name, std::string_view bytes) {
  const std::string path = ScratchFolder() + "/" + name;
  std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), bytes.size());
  return path;
}

}  // namespace fuzzing
