#pragma once
// The crash reporter of the desktop program. Installed first at start-up: on a
// fatal signal (SIGSEGV, SIGABRT, SIGFPE, SIGILL, SIGBUS) or std::terminate it
// writes a report into the per-user data folder with the program name and
// version, the exception-type code of the legend, the machine properties in a
// fixed order and a backtrace. The report text is prepared at installation; the
// handler only uses async-signal-safe calls (open, write, fsync, rename) and
// then lets the signal end the process as it would have. The next start finds
// the report.

#include <string>
#include <vector>

namespace vantri {
class UserInterface;
}

namespace vantri::shell {

// The legend of the exception-type codes, stored with every report.
inline constexpr const char* kExceptionTypeMeaning =
    "0 SEH exception.\n1 C++ terminate() call.\n2 C++ unexpected() call.\n3 "
    "C++ pure virtual "
    "function call.\n4 C++ new operator fault.\n5 Buffer overrun error.\n6 "
    "Invalid parameter "
    "exception.\n7 C++ SIGABRT signal (abort).\n8 C++ SIGFPE signal (floating "
    "point "
    "exception).\n9 C++ SIGILL signal (illegal instruction).\n10 C++ SIGINT "
    "signal.\n11 C++ "
    "SIGSEGV signal (invalid storage access)\n12 C++ SIGTERM signal "
    "(termination request).;";

struct CrashReporterSetup {
  std::string program;  // executable base name
  std::string version;
  std::string report_folder;  // where the report is written (created when missing)
  std::string os_info, pixel_depth, resolution, ram_info;
  std::vector<std::string> adapters;
};

// "%s (ver. %s) Error report".
std::string CrashReportSubject(const std::string& program, const std::string& version);
// Name and value pairs in the order they are written: ExceptionTypeMeaning,
// OS_Info, Screen_Pixel_Depth, Screen_Resolution, RAM_Info, Graphic_Adapter_0
// ...
std::vector<std::pair<std::string, std::string>> CrashReportProperties(
    const CrashReporterSetup& setup);
// "<folder>/<program>_crash_report.txt".
std::string CrashReportPath(const CrashReporterSetup& setup);

// Installs the handlers; false with the reason in `error` (the report folder
// cannot be made).
bool InstallCrashReporter(const CrashReporterSetup& setup, std::string* error);
// Puts back the previous handlers.
void RemoveCrashReporter();

// At start-up: when a report from an earlier run exists, tells the operator;
// with a mail server and recipients it offers to send the report (Yes sends it
// through the mailer). The report is then renamed "<path>.seen" so it is
// announced once. True when a report was found.
bool AnnouncePendingCrashReport(UserInterface& ui, const CrashReporterSetup& setup,
                                const std::string& smtp_server, const std::string& recipients);

}  // namespace vantri::shell
