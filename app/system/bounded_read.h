#pragma once
// Whole-file reads for every reader of files that operators bring in from elsewhere: only regular
// files (after following links) are read, and never more than a cap, so a folder, a device such as
// /dev/zero, a FIFO or a runaway file gives a clear failure instead of a hang or an exhausted
// memory.

#include <cstdint>
#include <string>

namespace vantri::system {

// Largest file any of our text or project readers takes in (256 MiB).
inline constexpr std::uint64_t kMaxReadFileBytes = std::uint64_t{256} << 20;

enum class ReadFileStatus { kOk, kMissing, kNotRegular, kTooLarge, kReadError };

// Reads all bytes of the regular file `path` into `bytes` (left unchanged on failure). Never
// throws; a FIFO is opened without blocking and refused.
ReadFileStatus ReadRegularFile(const std::string& path, std::string* bytes,
                               std::uint64_t max_bytes = kMaxReadFileBytes);

// Why a read failed, for messages: "does not exist", "is not a regular file", ...
const char* ReadFileStatusText(ReadFileStatus status);

}  // namespace vantri::system
