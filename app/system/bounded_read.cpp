#include "system/bounded_read.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>

namespace vantri::system {

namespace {

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// Reads until the end of the file; more than `max_bytes` (the file grew) is kTooLarge.
ReadFileStatus ReadAll(int fd, std::uint64_t max_bytes, std::string* out) {
  char chunk[65536];
  for (;;) {
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return ReadFileStatus::kReadError;
    if (n == 0) return ReadFileStatus::kOk;
    if (out->size() + static_cast<std::uint64_t>(n) > max_bytes) return ReadFileStatus::kTooLarge;
    out->append(chunk, static_cast<std::size_t>(n));
  }
}

}  // namespace

ReadFileStatus ReadRegularFile(const std::string& path, std::string* bytes,
                               std::uint64_t max_bytes) {
  if (path.empty()) return ReadFileStatus::kMissing;
  const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (file.get() < 0) {
    return errno == ENOENT || errno == ENOTDIR ? ReadFileStatus::kMissing
                                               : ReadFileStatus::kReadError;
  }
  struct stat info {};
  if (::fstat(file.get(), &info) != 0) return ReadFileStatus::kReadError;
  if (!S_ISREG(info.st_mode)) return ReadFileStatus::kNotRegular;
  if (static_cast<std::uint64_t>(info.st_size) > max_bytes) return ReadFileStatus::kTooLarge;
  std::string read;
  try {
    read.reserve(static_cast<std::size_t>(info.st_size));
    const ReadFileStatus status = ReadAll(file.get(), max_bytes, &read);
    if (status != ReadFileStatus::kOk) return status;
  } catch (const std::bad_alloc&) {
    return ReadFileStatus::kTooLarge;
  }
  *bytes = std::move(read);
  return ReadFileStatus::kOk;
}

const char* ReadFileStatusText(ReadFileStatus status) {
  switch (status) {
    case ReadFileStatus::kOk:
      return "was read";
    case ReadFileStatus::kMissing:
      return "does not exist";
    case ReadFileStatus::kNotRegular:
      return "is not a regular file";
    case ReadFileStatus::kTooLarge:
      return "is too large";
    case ReadFileStatus::kReadError:
      break;
  }
  return "cannot be read";
}

}  // namespace vantri::system
