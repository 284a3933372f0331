#include "shell/crash_reporter.h"

#include <execinfo.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <filesystem>

#include "system/files.h"
#include "system/nvtools.h"
#include "ui_interface/ui.h"

namespace vantri::shell {

namespace {

constexpr int kSignals[] = {SIGSEGV, SIGABRT, SIGFPE, SIGILL, SIGBUS};
constexpr int kMaxFrames = 64;

// Prepared at installation so the handler never allocates.
struct Prepared {
  char final_path[4096];
  char temporary_path[4096];
  std::string header;  // never changed while installed
  struct sigaction previous[sizeof(kSignals) / sizeof(kSignals[0])];
  std::terminate_handler previous_terminate = nullptr;
  volatile sig_atomic_t writing = 0;
  bool installed = false;
};

Prepared& State() {
  static Prepared prepared;
  return prepared;
}

void WriteAll(int fd, const char* text, size_t size) {
  while (size > 0) {
    const ssize_t written = write(fd, text, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    text += written;
    size -= static_cast<size_t>(written);
  }
}

void WriteText(int fd, const char* text) { WriteAll(fd, text, strlen(text)); }

void WriteNumber(int fd, long value) {
  char digits[24];
  int n = 0;
  const bool negative = value < 0;
  unsigned long magnitude = negative ? 0UL - static_cast<unsigned long>(value) : value;
  do {
    digits[n++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude > 0 && n < 22);
  if (negative) digits[n++] = '-';
  char text[24];
  for (int i = 0; i < n; ++i) text[i] = digits[n - 1 - i];
  WriteAll(fd, text, static_cast<size_t>(n));
}

int ExceptionTypeOf(int signal_number) {
  switch (signal_number) {
    case SIGABRT:
      return 7;
    case SIGFPE:
      return 8;
    case SIGILL:
      return 9;
    case SIGINT:
      return 10;
    case SIGTERM:
      return 12;
    default:
      return 11;  // SIGSEGV and SIGBUS: invalid storage access
  }
}

// Async-signal-safe: plain system calls on prepared text. backtrace() was
// called once at installation so that its library is already loaded.
void WriteReport(int exception_type, int signal_number) {
  Prepared& state = State();
  if (state.writing) return;
  state.writing = 1;
  const int fd = open(state.temporary_path, O_CREAT | O_WRONLY | O_TRUNC, 0644);
  if (fd < 0) return;
  WriteAll(fd, state.header.data(), state.header.size());
  WriteText(fd, "ExceptionType: ");
  WriteNumber(fd, exception_type);
  WriteText(fd, "\nSignal: ");
  WriteNumber(fd, signal_number);
  WriteText(fd, "\nProcess: ");
  WriteNumber(fd, static_cast<long>(getpid()));
  WriteText(fd, "\nBacktrace:\n");
  void* frames[kMaxFrames];
  const int count = backtrace(frames, kMaxFrames);
  backtrace_symbols_fd(frames, count, fd);
  WriteText(fd, "End of report\n");
  fsync(fd);
  close(fd);
  rename(state.temporary_path, state.final_path);
}

void RestoreDefaultAndReraise(int signal_number) {
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  sigaction(signal_number, &fallback, nullptr);
  raise(signal_number);
}

void OnSignal(int signal_number) {
  WriteReport(ExceptionTypeOf(signal_number), signal_number);
  RestoreDefaultAndReraise(signal_number);
}

[[noreturn]] void OnTerminate() {
  WriteReport(1, SIGABRT);
  // The abort that follows must not write a second report over this one.
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  sigaction(SIGABRT, &fallback, nullptr);
  abort();
}

void AppendProperty(std::string* text, const std::string& name, const std::string& value) {
  // Multi-line values continue on lines indented by two spaces.
  *text += name + ": ";
  for (char c : value) {
    *text += c;
    if (c == '\n') *text += "  ";
  }
  *text += "\n";
}

}  // namespace

std::string CrashReportSubject(const std::string& program, const std::string& version) {
  return program + " (ver. " + version + ") Error report";
}

std::vector<std::pair<std::string, std::string>> CrashReportProperties(
    const CrashReporterSetup& setup) {
  std::vector<std::pair<std::string, std::string>> properties = {
      {"ExceptionTypeMeaning", kExceptionTypeMeaning},
      {"OS_Info", setup.os_info},
      {"Screen_Pixel_Depth", setup.pixel_depth},
      {"Screen_Resolution", setup.resolution},
      {"RAM_Info", setup.ram_info},
  };
  for (size_t i = 0; i < setup.adapters.size(); ++i) {
    properties.emplace_back("Graphic_Adapter_" + std::to_string(i), setup.adapters[i]);
  }
  return properties;
}

std::string CrashReportPath(const CrashReporterSetup& setup) {
  return setup.report_folder + "/" + setup.program + "_crash_report.txt";
}

bool InstallCrashReporter(const CrashReporterSetup& setup, std::string* error) {
  Prepared& state = State();
  if (!system::MakeFolders(setup.report_folder)) {
    if (error) *error = "Unable to create the crash report folder " + setup.report_folder;
    return false;
  }
  const std::string path = CrashReportPath(setup);
  const std::string temporary = path + ".tmp";
  if (temporary.size() >= sizeof state.temporary_path) {
    if (error) *error = "The crash report folder's path is too long: " + setup.report_folder;
    return false;
  }
  std::snprintf(state.final_path, sizeof state.final_path, "%s", path.c_str());
  std::snprintf(state.temporary_path, sizeof state.temporary_path, "%s", temporary.c_str());
  std::string header =
      "Crash report\nApplication: " + setup.program + "\nVersion: " + setup.version +
      "\nSubject: " + CrashReportSubject(setup.program, setup.version) + "\nProperties:\n";
  for (const auto& [name, value] : CrashReportProperties(setup)) {
    AppendProperty(&header, name, value);
  }
  state.header = std::move(header);
  state.writing = 0;

  void* warm_up[2];
  backtrace(warm_up, 2);  // loads the unwinder now, not inside the handler

  // An alternate stack lets the handler run after a stack overflow.
  static char alternate_stack[64 * 1024];
  stack_t stack{};
  stack.ss_sp = alternate_stack;
  stack.ss_size = sizeof alternate_stack;
  sigaltstack(&stack, nullptr);
  for (size_t i = 0; i < std::size(kSignals); ++i) {
    struct sigaction action {};
    action.sa_handler = OnSignal;
    action.sa_flags = SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    sigaction(kSignals[i], &action, &state.previous[i]);
  }
  state.previous_terminate = std::set_terminate(OnTerminate);
  state.installed = true;
  return true;
}

void RemoveCrashReporter() {
  Prepared& state = State();
  if (!state.installed) return;
  for (size_t i = 0; i < std::size(kSignals); ++i) {
    sigaction(kSignals[i], &state.previous[i], nullptr);
  }
  std::set_terminate(state.previous_terminate);
  state.installed = false;
}

bool AnnouncePendingCrashReport(UserInterface& ui, const CrashReporterSetup& setup,
                                const std::string& smtp_server, const std::string& recipients) {
  const std::string path = CrashReportPath(setup);
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return false;
  const std::string seen = path + ".seen";
  std::filesystem::rename(path, seen, error);
  const std::string& report = error ? path : seen;
  const std::string told =
      "The program ended unexpectedly last time. A crash "
      "report was written:\n" +
      report;
  if (smtp_server.empty() || recipients.empty()) {
    ui.ShowMessage(told, MessageIcon::kInformation);
    return true;
  }
  if (ui.AskYesNo(told + "\n\nDo you want to send it by e-mail?", MessageIcon::kQuestion)) {
    if (!NVT_SendEmail(smtp_server, recipients, "vantri@localhost",
                       CrashReportSubject(setup.program, setup.version),
                       "Crash report attached.\n\n", report, "")) {
      ui.ShowMessage("Unable to send the email.\nIs the bmail executable present?",
                     MessageIcon::kInformation);
    }
  }
  return true;
}

}  // namespace vantri::shell
