#pragma once
// File helpers of the project layer: whole-file reads and crash-safe writes.

#include <string>
#include <string_view>

namespace vantri {

// Writes `bytes` to `path` through a temporary file in the same folder and an atomic rename; the
// previous file stays untouched when anything fails. Returns false on failure.
bool writeFileAtomically(const std::string& path, std::string_view bytes);
// Reads a whole regular file (capped, see platform/bounded_read.h); false when it cannot be read.
bool readWholeFile(const std::string& path, std::string& bytes);

// A path read from a project: `decoded` as the archive decoded it, or, when only that does not
// exist on disk, the bytes as `stored` (projects written before paths were kept byte for byte
// stored folder names that are not UTF-8 unmarked).
std::string PathOnDisk(const std::string& decoded, const std::string& stored);

bool equalsNoCase(std::string_view a, std::string_view b);
std::string toLower(std::string_view text);

}  // namespace vantri
