#include "file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/bounded_read.h"

namespace vantri {

bool equalsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

bool readWholeFile(const std::string& path, std::string& bytes) {
  return ReadRegularFile(path, &bytes) == ReadFileStatus::kOk;
}

std::string PathOnDisk(const std::string& decoded, const std::string& stored) {
  if (stored.empty() || stored == decoded) return decoded;
  std::error_code error;
  if (std::filesystem::exists(decoded, error) || !std::filesystem::exists(stored, error))
    return decoded;
  return stored;
}

bool writeFileAtomically(const std::string& path, std::string_view bytes) {
  std::string temp = path + ".XXXXXX";
  const int fd = mkstemp(temp.data());
  if (fd < 0) return false;
  size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
    if (n <= 0) break;
    written += static_cast<size_t>(n);
  }
  const bool complete = written == bytes.size() && ::fsync(fd) == 0;
  fchmod(fd, 0644);
  if (::close(fd) != 0 || !complete || std::rename(temp.c_str(), path.c_str()) != 0) {
    std::remove(temp.c_str());
    return false;
  }
  return true;
}

std::string toLower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace vantri
