#include "system/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "system/bounded_read.h"

namespace vantri::system {
namespace {

namespace fs = std::filesystem;

// A new, empty temporary file "<folder>/.<name>.tmpXXXXXX<extension>" beside `path`; the
// descriptor is open for writing. -1 when it cannot be made.
int MakeTemporaryBeside(const std::string& path, std::string* temporary) {
  const fs::path target(path);
  const std::string folder =
      target.has_parent_path() ? target.parent_path().string() : std::string(".");
  const std::string extension = target.extension().string();
  *temporary = folder + "/." + target.filename().string() + ".tmpXXXXXX" + extension;
  const int fd = mkstemps(temporary->data(), static_cast<int>(extension.size()));
  if (fd >= 0) fchmod(fd, 0644);
  return fd;
}

bool WriteAll(int fd, std::string_view content) {
  std::size_t written = 0;
  while (written < content.size()) {
    const ssize_t n = ::write(fd, content.data() + written, content.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    written += static_cast<std::size_t>(n);
  }
  return true;
}

// Syncs the finished temporary to disk and renames it over the target; removes it on failure.
bool CommitTemporary(const std::string& temporary, const std::string& path) {
  const int fd = ::open(temporary.c_str(), O_RDONLY);
  bool ok = fd >= 0 && ::fsync(fd) == 0;
  if (fd >= 0) ok = ::close(fd) == 0 && ok;
  if (ok && std::rename(temporary.c_str(), path.c_str()) == 0) return true;
  std::remove(temporary.c_str());
  return false;
}

}  // namespace

bool WriteFileAtomically(const std::string& path, std::string_view content) {
  return WriteFileAtomicallyWith(path, [&](const std::string& temporary) {
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_TRUNC);
    if (fd < 0) return false;
    const bool written = WriteAll(fd, content);
    return ::close(fd) == 0 && written;
  });
}

bool WriteFileAtomicallyWith(const std::string& path,
                             const std::function<bool(const std::string& temporary)>& write) {
  if (path.empty()) return false;
  std::string temporary;
  const int fd = MakeTemporaryBeside(path, &temporary);
  if (fd < 0) return false;
  ::close(fd);
  bool written = false;
  try {
    written = write(temporary);
  } catch (...) {  // an outside writer's exception stays here
    written = false;
  }
  if (!written) {
    std::remove(temporary.c_str());
    return false;
  }
  return CommitTemporary(temporary, path);
}

bool ReadWholeFile(const std::string& path, std::string& bytes) {
  return ReadRegularFile(path, &bytes) == ReadFileStatus::kOk;
}

bool ReadTextLines(const std::string& path, std::vector<std::string>* lines) {
  std::string bytes;
  if (ReadRegularFile(path, &bytes) != ReadFileStatus::kOk) return false;
  lines->clear();
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    std::size_t end = bytes.find('\n', pos);
    if (end == std::string::npos) end = bytes.size();
    std::string line = bytes.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines->push_back(std::move(line));
    pos = end + 1;
  }
  return true;
}

std::string PathOnDisk(const std::string& decoded, const std::string& stored) {
  if (stored.empty() || stored == decoded) return decoded;
  std::error_code error;
  if (fs::exists(decoded, error) || !fs::exists(stored, error)) return decoded;
  return stored;
}

bool MakeFolders(const std::string& folder) {
  if (folder.empty()) return false;
  std::error_code error;
  fs::create_directories(folder, error);
  return fs::is_directory(folder, error);
}

bool IsExecutableFile(const std::string& path) {
  struct stat info {};
  return !path.empty() && stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
         access(path.c_str(), X_OK) == 0;
}

std::string FindExecutable(const std::string& name) {
  if (name.find('/') != std::string::npos) return IsExecutableFile(name) ? name : "";
  const char* path = std::getenv("PATH");
  const std::string folders = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= folders.size()) {
    std::size_t end = folders.find(':', start);
    if (end == std::string::npos) end = folders.size();
    const std::string folder = folders.substr(start, end - start);
    const std::string candidate = (folder.empty() ? std::string(".") : folder) + "/" + name;
    if (IsExecutableFile(candidate)) return candidate;
    start = end + 1;
  }
  return {};
}

}  // namespace vantri::system
