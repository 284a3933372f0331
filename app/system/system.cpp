// Files, processes, program start and system information on Linux (/proc, uname).
#include <signal.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "system/files.h"
#include "system/nvtools.h"

namespace fs = std::filesystem;

namespace {

std::function<void()>& PumpHook() {
  static std::function<void()> hook;
  return hook;
}

std::function<void(int, int)>& SplashHook() {
  static std::function<void(int, int)> hook;
  return hook;
}

std::string StripExeSuffix(std::string_view name) {
  std::string out(name);
  if (out.size() > 4 && strcasecmp(out.c_str() + out.size() - 4, ".exe") == 0)
    out.resize(out.size() - 4);
  return out;
}

// The executable name of a process: the base name of its command line's first word, or the
// kernel's short name when the command line is empty (kernel threads).
std::string ProcessName(const fs::path& proc_entry) {
  std::ifstream cmdline(proc_entry / "cmdline", std::ios::binary);
  std::string first;
  if (cmdline && std::getline(cmdline, first, '\0') && !first.empty())
    return fs::path(first).filename().string();
  std::ifstream comm(proc_entry / "comm");
  std::string name;
  std::getline(comm, name);
  return name;
}

bool IsPidFolder(const std::string& name) {
  return !name.empty() && name.find_first_not_of("0123456789") == std::string::npos;
}

// Starts the program with an argument vector (no shell) and does not wait for it. Double fork:
// the intermediate child starts the program and exits at once, so the program is re-parented to
// init and never becomes a zombie of this process. Only execv and _exit run after fork.
int SpawnDetached(const std::vector<std::string>& argv) {
  const std::string program = vantri::system::FindExecutable(argv.at(0));
  if (program.empty()) return 0;
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  const pid_t helper = fork();
  if (helper < 0) return 0;
  if (helper == 0) {
    setsid();
    const pid_t child = fork();
    if (child == 0) {
      execv(program.c_str(), args.data());
      _exit(127);
    }
    _exit(child < 0 ? 1 : 0);
  }
  int status = 0;
  while (waitpid(helper, &status, 0) < 0) {
    if (errno != EINTR) return 0;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 1 : 0;
}

std::string ReadFirstLine(const char* path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

std::string OsReleaseName() {
  std::ifstream in("/etc/os-release");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("PRETTY_NAME=", 0) == 0) {
      std::string value = line.substr(12);
      if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        value = value.substr(1, value.size() - 2);
      return value;
    }
  }
  return {};
}

std::tm LocalNow() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return local;
}

}  // namespace

namespace vantri::system {

MemoryStatus ReadMemoryStatus() {
  MemoryStatus status;
  std::ifstream in("/proc/meminfo");
  std::string key;
  std::uint64_t kib = 0;
  std::string unit;
  while (in >> key >> kib) {
    std::getline(in, unit);
    if (key == "MemTotal:") status.total_bytes = kib * 1024;
    if (key == "MemAvailable:") status.available_bytes = kib * 1024;
  }
  return status;
}

}  // namespace vantri::system

int NVT_DeleteDirectory(std::string_view folder) {
  if (folder.empty()) return 0;
  std::error_code error;
  fs::remove_all(fs::path(folder), error);
  return fs::exists(fs::path(folder), error) ? 0 : 1;
}

std::int64_t NVT_GetFileSize(std::string_view path) {
  struct stat info {};
  if (stat(std::string(path).c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return -1;
  return static_cast<std::int64_t>(info.st_size);
}

int NVT_GetActiveProcessNumber(std::string_view exe_name) {
  const std::string wanted = StripExeSuffix(fs::path(exe_name).filename().string());
  if (wanted.empty()) return 0;
  int count = 0;
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator("/proc", error)) {
    if (!IsPidFolder(entry.path().filename().string())) continue;
    const std::string name = StripExeSuffix(ProcessName(entry.path()));
    if (strcasecmp(name.c_str(), wanted.c_str()) == 0) ++count;
  }
  return count;
}

int NVT_ShellExecute(std::string_view file, std::string_view program, std::string_view verb, int) {
  if (file.empty()) return 0;
  if (!verb.empty() && strcasecmp(std::string(verb).c_str(), "open") != 0) return 0;
  std::vector<std::string> argv;
  // "explorer" is the Windows shell; here the desktop's default handler takes its place.
  const bool default_handler =
      program.empty() || strcasecmp(std::string(program).c_str(), "explorer") == 0;
  argv.emplace_back(default_handler ? std::string("xdg-open") : std::string(program));
  argv.emplace_back(file);
  return SpawnDetached(argv);
}

void NVT_PumpMessages() {
  if (PumpHook()) PumpHook()();
}

void vantri::system::SetPumpMessagesHook(std::function<void()> hook) {
  PumpHook() = std::move(hook);
}

std::string NVT_GetCurrentSysDate(int format) {
  const std::tm now = LocalNow();
  char text[32];
  switch (format) {
    case 1:
      std::snprintf(text, sizeof text, "%02d/%02d/%04d", now.tm_mon + 1, now.tm_mday,
                    now.tm_year + 1900);
      break;
    case 2:
      std::snprintf(text, sizeof text, "%04d-%02d-%02d", now.tm_year + 1900, now.tm_mon + 1,
                    now.tm_mday);
      break;
    default:
      std::snprintf(text, sizeof text, "%02d/%02d/%04d", now.tm_mday, now.tm_mon + 1,
                    now.tm_year + 1900);
  }
  return text;
}

std::string NVT_GetCurrentSysTime(int format) {
  const std::tm now = LocalNow();
  char text[32];
  if (format == 1)
    std::snprintf(text, sizeof text, "%02d:%02d", now.tm_hour, now.tm_min);
  else
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", now.tm_hour, now.tm_min, now.tm_sec);
  return text;
}

std::string NVT_GetOSInfo() {
  struct utsname name {};
  if (uname(&name) != 0) return "unknown";
  std::string text = std::string(name.sysname) + " " + name.release + " " + name.machine;
  const std::string distribution = OsReleaseName();
  if (!distribution.empty()) text += " (" + distribution + ")";
  return text;
}

std::string NVT_GetRAMInfo() {
  const vantri::system::MemoryStatus memory = vantri::system::ReadMemoryStatus();
  constexpr std::uint64_t kMiB = 1024 * 1024;
  const std::uint64_t used =
      memory.total_bytes > memory.available_bytes ? memory.total_bytes - memory.available_bytes : 0;
  std::ostringstream text;
  text << "Physical RAM: used " << used / kMiB << " MB of "
       << (memory.total_bytes + kMiB - 1) / kMiB << " MB";
  return text.str();
}

std::string NVT_GetPixelDepth() { return "unknown"; }

std::string NVT_GetResolution() { return "unknown"; }

int NVT_GetDisplayAdaptersList(std::vector<std::string>* adapters) {
  if (adapters) adapters->clear();
  // DRM cards list the graphics devices even without a display server.
  std::error_code error;
  int count = 0;
  for (const fs::directory_entry& entry : fs::directory_iterator("/sys/class/drm", error)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("card", 0) != 0 || name.find('-') != std::string::npos) continue;
    const std::string vendor = ReadFirstLine((entry.path() / "device/vendor").c_str());
    const std::string device = ReadFirstLine((entry.path() / "device/device").c_str());
    if (adapters) adapters->push_back(name + " (vendor " + vendor + ", device " + device + ")");
    ++count;
  }
  return count;
}

void NVT_GetScreenSize(int* width, int* height) {
  if (width) *width = 0;
  if (height) *height = 0;
}

void NVT_ShowSplashScreen(int bitmap_id, int display_ms) {
  if (SplashHook()) SplashHook()(bitmap_id, display_ms);
}

void vantri::system::SetSplashScreenHook(std::function<void(int, int)> hook) {
  SplashHook() = std::move(hook);
}
