#pragma once
// Helpers shared by the fuzz targets: a private scratch folder for readers that take a path, and
// a view of the input as text.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace fuzzing {

// A folder of this process, created on first use and removed at exit.
const std::string& ScratchFolder();
// Writes the bytes to `name` in the scratch folder (replacing it) and returns the full path.
std::string WriteScratchFile(const std::string& name, std::string_view bytes);

inline std::string_view AsText(const uint8_t* data, size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// Inputs above this size are skipped: the readers' own caps are tested elsewhere, and libFuzzer
// explores small inputs better.
inline constexpr size_t kMaxFuzzInput = 1 << 16;

}  // namespace fuzzing
