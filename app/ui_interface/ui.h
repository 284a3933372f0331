// The user interface as the Vantri core sees it: every window, message box, file dialog, progress
// bar and log list is reached through UserInterface, so that the logic of the windows is plain
// code. ConsoleUi serves vantri-cli, ScriptedUi (testing/scripted_ui.h) the tests; the Qt program
// brings its own.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

#include "system/nvtools.h"

namespace vantri {

enum class MessageIcon { kExclamation, kInformation, kQuestion, kStop, kWarning };

// Lower-case name of the icon ("exclamation", "information", ...), used by recordings and the
// console.
const char* IconName(MessageIcon icon);

// One entry of a file dialog's type list, e.g. {"Vantri Project", "*.bun"} shown as
// "Vantri Project (*.bun)". A pattern may hold several globs separated by ';' ("*.tif;*.jpg").
struct FileFilter {
  std::string name;
  std::string pattern;
};

// The timestamped log line:
// "%02d/%02d/%04d - %02d:%02d:%02d - (elpsed time %04d:%02d) %s - physical RAM: %dMB/%dMB"
// with the local day, month, year, hour, minute, second of `now`, the whole minutes and remaining
// seconds of `elapsed`, the message, the used memory (total - available, MiB rounded down) and the
// total memory (MiB rounded up).
std::string FormatLogLine(std::string_view message, const std::tm& local_now,
                          std::chrono::seconds elapsed, const system::MemoryStatus& memory);

class UserInterface {
 public:
  virtual ~UserInterface() = default;

  // A modal message box. The caption is empty for the program's default caption.
  virtual void ShowMessage(std::string_view text, MessageIcon icon,
                           std::string_view caption = {}) = 0;
  // Yes/No question; true for Yes.
  virtual bool AskYesNo(std::string_view text, MessageIcon icon = MessageIcon::kQuestion,
                        std::string_view caption = {}) = 0;

  // File dialogs: false when cancelled. `default_extension` has no dot ("bun"); it is appended
  // by dialogs that do so when the typed name has none.
  virtual bool PickOpenFile(std::string_view title, const std::vector<FileFilter>& filters,
                            std::string_view start_folder, std::string_view default_extension,
                            std::string* path) = 0;
  // Several files at once; false when cancelled or nothing was chosen.
  virtual bool PickOpenFiles(std::string_view title, const std::vector<FileFilter>& filters,
                             std::string_view start_folder, std::vector<std::string>* paths) = 0;
  virtual bool PickSaveFile(std::string_view title, const std::vector<FileFilter>& filters,
                            std::string_view start_folder, std::string_view default_extension,
                            std::string* path) = 0;
  virtual bool PickFolder(std::string_view title, std::string_view start_folder,
                          std::string* folder) = 0;
  // Asks for one text value, the field preset with `preset`; false when cancelled.
  virtual bool PromptValue(std::string_view title, std::string_view preset, std::string* value) = 0;

  // The main progress bar.
  virtual void SetProgressRange(int lower, int upper) = 0;
  virtual void SetProgressPosition(int position) = 0;
  virtual void SetProgressText(std::string_view text) = 0;

  // Receives a finished log line (FormatLogLine) or an empty line; newest first in the log list.
  virtual void AppendLogLine(std::string_view line) = 0;

  // Dispatches pending window messages; the console and scripted forms have none.
  virtual void PumpMessages() {}

  // The log line of long operations. Empty text appends an empty line, a null text does nothing.
  // Messages are pumped before and after.
  void Log(std::string_view message);
  void Log(const char* message);
  // Restarts the clock whose elapsed time the log lines show.
  void StartOperationClock();

  // Abort flag set by the abort buttons and polled by long operations, from any thread.
  void SetAbort(bool abort) { abort_.store(abort); }
  bool IsAborted() const { return abort_.load(); }

 protected:
  // Local time and memory of the log line; the tests replace them.
  virtual std::tm LocalNow() const;
  virtual system::MemoryStatus Memory() const;
  // The steady clock the elapsed time of the log lines is measured on; the tests replace it.
  virtual std::chrono::steady_clock::time_point SteadyNow() const;

 private:
  std::atomic<bool> abort_{false};
  std::chrono::steady_clock::time_point clock_start_ = std::chrono::steady_clock::now();
};

// Terminal form for vantri-cli: information to stdout, exclamation/stop/warning to stderr,
// log lines to stderr. Questions and dialogs follow the policy.
class ConsoleUi : public UserInterface {
 public:
  enum class Policy {
    kAnswerYes,  // every question Yes; dialogs cancelled
    kAnswerNo,   // every question No; dialogs cancelled
    kAskStdin,   // read "y"/"n", paths and values from the input stream
  };
  explicit ConsoleUi(Policy policy = Policy::kAnswerNo);
  // Streams replaced for tests; the defaults are the process's standard streams.
  ConsoleUi(Policy policy, std::istream& in, std::ostream& out, std::ostream& err);

  void set_quiet_log(bool quiet) { quiet_log_ = quiet; }

  void ShowMessage(std::string_view text, MessageIcon icon, std::string_view caption = {}) override;
  bool AskYesNo(std::string_view text, MessageIcon icon = MessageIcon::kQuestion,
                std::string_view caption = {}) override;
  bool PickOpenFile(std::string_view title, const std::vector<FileFilter>& filters,
                    std::string_view start_folder, std::string_view default_extension,
                    std::string* path) override;
  bool PickOpenFiles(std::string_view title, const std::vector<FileFilter>& filters,
                     std::string_view start_folder, std::vector<std::string>* paths) override;
  bool PickSaveFile(std::string_view title, const std::vector<FileFilter>& filters,
                    std::string_view start_folder, std::string_view default_extension,
                    std::string* path) override;
  bool PickFolder(std::string_view title, std::string_view start_folder,
                  std::string* folder) override;
  bool PromptValue(std::string_view title, std::string_view preset, std::string* value) override;
  void SetProgressRange(int lower, int upper) override;
  void SetProgressPosition(int position) override;
  void SetProgressText(std::string_view text) override;
  void AppendLogLine(std::string_view line) override;

 private:
  bool ReadLine(std::string_view prompt, std::string* line);

  Policy policy_;
  std::istream& in_;
  std::ostream& out_;
  std::ostream& err_;
  bool quiet_log_ = false;
};

}  // namespace vantri

// Asks the operator for a folder through the UI; empty when cancelled. Remembers the choice as
// the last browsed path (NVT_GetLastBrowsedPath).
std::string NVT_PickFolderPath(vantri::UserInterface& ui, std::string_view title,
                               std::string_view start_folder);
