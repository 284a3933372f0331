#include "system/files.h"
// Operating-system services of the Vantri core on POSIX (the NVT_* utility layer).
// Every function returns 1 (non-zero) for success and 0 for failure unless stated otherwise;
// none throws.
//
// Per-user storage: the profile is the INI file <config root>/vantri/profile.ini and the data
// folder is <data root>/vantri, with config root = $XDG_CONFIG_HOME (default ~/.config) and
// data root = $XDG_DATA_HOME (default ~/.local/share). When VANTRI_HOME is set it replaces both
// roots (tests point it at a temporary folder).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// Special-folder identifiers of NVT_GetSpecialFolder.
constexpr int NVT_FOLDER_COMMON_APPDATA = 35;    // per-user data folder (<data root>/vantri)
constexpr int NVT_FOLDER_PROGRAM_FILES = 38;     // folder of the running executable
constexpr int NVT_FOLDER_PROGRAM_FILESX86 = 42;  // folder of the running executable

// --- Conversions -----------------------------------------------------------------------------
// Non-zero and the value only when the whole text (surrounding blanks allowed) converts.
int NVT_StringToDouble(std::string_view text, double* value);
int NVT_StringToInt(std::string_view text, int* value);
// Accepts 1/0, true/false, yes/no, on/off (any case).
int NVT_StringToBoolean(std::string_view text, bool* value);
// Fixed notation with `decimals` decimals (0..17). Writes into the buffer, always terminated;
// 0 when the buffer is too small (then it holds the truncated text).
int NVT_DoubleToString(double value, int decimals, char* buffer, std::size_t size);
std::string NVT_DoubleToString(double value, int decimals);

// Splits at every separator: "a;;b" gives "a", "", "b"; "" gives one empty field; a trailing
// separator gives a trailing empty field; a trailing CR of a Windows line is dropped. Returns the
// number of fields.
int NVT_ParseString(std::string_view text, char separator, std::vector<std::string>* fields);

// --- Per-user profile ------------------------------------------------------------------------
// The stored value, or `default_value` when the key is absent. The buffer form copies at most
// size - 1 characters and returns the number copied.
int NVT_GetUserProfileString(std::string_view section, std::string_view key,
                             std::string_view default_value, char* buffer, std::size_t size);
std::string NVT_GetUserProfileString(std::string_view section, std::string_view key,
                                     std::string_view default_value);
// Writes the profile atomically (temporary file + rename); the value is seen by later reads in
// this and later runs. Values are single lines: CR and LF are stored as blanks.
int NVT_WriteUserProfileString(std::string_view section, std::string_view key,
                               std::string_view value);

// --- Folders and files -----------------------------------------------------------------------
// Folder path without trailing separator, created when missing (35); empty for unknown ids.
std::string NVT_GetSpecialFolder(int folder_id, int option1 = 0, int option2 = 0);
int NVT_GetSpecialFolder(int folder_id, char* buffer, std::size_t size, int option1 = 0,
                         int option2 = 0);
// Last folder used in a file or folder dialog (NVT_PickFolderPath in ui_interface/ui.h), kept in
// the profile section "NVTools", key "LastBrowsedPath".
std::string NVT_GetLastBrowsedPath();
int NVT_SetLastBrowsedPath(std::string_view folder);
// Removes the folder and everything below it; non-zero when it is gone (also when it never was).
int NVT_DeleteDirectory(std::string_view folder);
// Size in bytes, -1 when the file cannot be examined.
std::int64_t NVT_GetFileSize(std::string_view path);
// Number of running processes whose executable name is `exe_name` (a ".exe" suffix and the case
// are ignored), from /proc.
int NVT_GetActiveProcessNumber(std::string_view exe_name);

// --- Programs, mail and messages -------------------------------------------------------------
// Opens `file` with `program` when given, else with the desktop's default (xdg-open). Starts the
// program directly with an argument vector (no shell) and does not wait. `verb` and `show` are
// accepted for compatibility; only "open" (or empty) is supported.
int NVT_ShellExecute(std::string_view file, std::string_view program = {},
                     std::string_view verb = "open", int show = 1);
// Sends one message through SMTP (libcurl). `smtp_server` is "host", "host:port" or a
// "smtp://" / "smtps://" URL (default port 25). `recipients` are separated by ',' or ';'.
// The attachment is optional (empty path: none); `extra` may hold "user:password" for servers that
// need a login, empty otherwise. Non-zero when the server accepted the message.
int NVT_SendEmail(std::string_view smtp_server, std::string_view recipients,
                  std::string_view sender, std::string_view subject, std::string_view body,
                  std::string_view attachment_path, std::string_view extra);
// Dispatches pending window messages through the installed hook (none: does nothing).
void NVT_PumpMessages();
// Program version ("0.1.0" from the build) for module empty/null; 0 for other modules.
int NVT_GetVersionInfo(std::string_view module, std::string* file_version,
                       std::string* product_version);

// --- System information ----------------------------------------------------------------------
// Date: selector 0 "dd/mm/yyyy", 1 "mm/dd/yyyy", 2 "yyyy-mm-dd". Time: 0 "hh:mm:ss", 1 "hh:mm".
std::string NVT_GetCurrentSysDate(int format = 0);
std::string NVT_GetCurrentSysTime(int format = 0);
std::string NVT_GetOSInfo();      // "Linux 6.1.0 x86_64 (Debian GNU/Linux 12 (bookworm))"
std::string NVT_GetRAMInfo();     // "Physical RAM: used %d MB of %d MB"
std::string NVT_GetPixelDepth();  // "unknown" without a display
std::string NVT_GetResolution();  // "unknown" without a display
int NVT_GetDisplayAdaptersList(std::vector<std::string>* adapters);  // count; 0 headless
void NVT_GetScreenSize(int* width, int* height);                     // 0, 0 headless
// Through the hook the desktop program installs; the core shows nothing.
void NVT_ShowSplashScreen(int bitmap_id, int display_ms);

// --- Helpers of this layer -------------------------------------------------------------------
namespace vantri::system {

// What NVT_PumpMessages and NVT_ShowSplashScreen(bitmap id, display ms) do: installed by the
// desktop program (an empty function removes the hook).
void SetPumpMessagesHook(std::function<void()> hook);
void SetSplashScreenHook(std::function<void(int, int)> hook);

// Physical memory of the machine, in bytes.
struct MemoryStatus {
  std::uint64_t total_bytes = 0;
  std::uint64_t available_bytes = 0;
};
// MemTotal and MemAvailable of /proc/meminfo (zeros when unreadable).
MemoryStatus ReadMemoryStatus();
// The profile file and the data folder as described at the top (not created).
std::string ProfilePath();
std::string DataFolder();
// <data folder>/VTR/passports, created with its parents.
std::string PassportArchiveFolder();
// A small INI file in the Windows private-profile layout ("[section]", "key=value"), read with
// CR-LF or LF line ends. Section and key names compare without regard to case; order is kept.
class IniFile {
 public:
  // Reads the file; a missing file gives an empty INI and 1, an unreadable one 0.
  int Load(const std::string& path);
  // Writes to a temporary file in the same folder, then renames it over `path`.
  int Save(const std::string& path) const;

  bool Has(std::string_view section, std::string_view key) const;
  std::string Get(std::string_view section, std::string_view key,
                  std::string_view default_value = {}) const;
  void Set(std::string_view section, std::string_view key, std::string_view value);
  void RemoveSection(std::string_view section);
  std::vector<std::string> Sections() const;
  std::vector<std::string> Keys(std::string_view section) const;

 private:
  struct Entry {
    std::string key, value;
  };
  struct Section {
    std::string name;
    std::vector<Entry> entries;
  };
  Section* FindSection(std::string_view name);
  const Section* FindSection(std::string_view name) const;
  std::vector<Section> sections_;
};

}  // namespace vantri::system
