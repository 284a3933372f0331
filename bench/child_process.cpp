#include "child_process.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace bench {
namespace {

bool writeAll(int fd, const void* data, std::size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = write(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

std::vector<double> readValues(int fd) {
  std::vector<double> values;
  double value;
  std::size_t filled = 0;
  char* bytes = reinterpret_cast<char*>(&value);
  for (;;) {
    const ssize_t n = read(fd, bytes + filled, sizeof value - filled);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    filled += static_cast<std::size_t>(n);
    if (filled == sizeof value) {
      values.push_back(value);
      filled = 0;
    }
  }
  return values;
}

[[noreturn]] void childMain(int fd, const std::function<std::vector<double>()>& work) {
  const std::vector<double> values = work();
  const bool sent = !values.empty() && writeAll(fd, values.data(), values.size() * sizeof(double));
  std::fflush(stdout);
  std::fflush(stderr);
  _exit(sent ? 0 : 1);
}

}  // namespace

ChildResult runInChild(const std::function<std::vector<double>()>& work) {
  ChildResult result;
  int fds[2];
  if (pipe(fds) != 0) return result;
  std::fflush(stdout);
  std::fflush(stderr);
  const pid_t pid = fork();
  if (pid < 0) {
    close(fds[0]);
    close(fds[1]);
    return result;
  }
  if (pid == 0) {
    close(fds[0]);
    childMain(fds[1], work);
  }
  close(fds[1]);
  result.values = readValues(fds[0]);
  close(fds[0]);
  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  result.peak_mb = usage.ru_maxrss / 1024.0;  // ru_maxrss is in KiB on Linux
  result.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0 && !result.values.empty();
  return result;
}

}  // namespace bench
