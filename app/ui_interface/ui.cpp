#include "ui_interface/ui.h"

#include <cstdio>
#include <iostream>

#include "system/nvtools.h"

namespace vantri {

namespace {

constexpr std::uint64_t kMiB = 1024 * 1024;

std::string JoinFilters(const std::vector<FileFilter>& filters) {
  std::string text;
  for (const FileFilter& filter : filters) {
    if (!text.empty()) text += ", ";
    text += filter.name + " (" + filter.pattern + ")";
  }
  return text;
}

}  // namespace

const char* IconName(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::kExclamation:
      return "exclamation";
    case MessageIcon::kInformation:
      return "information";
    case MessageIcon::kQuestion:
      return "question";
    case MessageIcon::kStop:
      return "stop";
    case MessageIcon::kWarning:
      return "warning";
  }
  return "information";
}

std::string FormatLogLine(std::string_view message, const std::tm& local_now,
                          std::chrono::seconds elapsed, const system::MemoryStatus& memory) {
  const long long total_seconds = elapsed.count() < 0 ? 0 : elapsed.count();
  const int minutes = static_cast<int>(total_seconds / 60);
  const int seconds = static_cast<int>(total_seconds % 60);
  const std::uint64_t used =
      memory.total_bytes > memory.available_bytes ? memory.total_bytes - memory.available_bytes : 0;
  const int used_mib = static_cast<int>(used / kMiB);
  const int total_mib = static_cast<int>((memory.total_bytes + kMiB - 1) / kMiB);
  const std::string text(message);
  const int size = std::snprintf(
      nullptr, 0,
      "%02d/%02d/%04d - %02d:%02d:%02d - (elpsed time %04d:%02d) %s - physical RAM: %dMB/%dMB",
      local_now.tm_mday, local_now.tm_mon + 1, local_now.tm_year + 1900, local_now.tm_hour,
      local_now.tm_min, local_now.tm_sec, minutes, seconds, text.c_str(), used_mib, total_mib);
  std::string line(static_cast<std::size_t>(size), '\0');
  std::snprintf(
      line.data(), line.size() + 1,
      "%02d/%02d/%04d - %02d:%02d:%02d - (elpsed time %04d:%02d) %s - physical RAM: %dMB/%dMB",
      local_now.tm_mday, local_now.tm_mon + 1, local_now.tm_year + 1900, local_now.tm_hour,
      local_now.tm_min, local_now.tm_sec, minutes, seconds, text.c_str(), used_mib, total_mib);
  return line;
}

// --- UserInterface -----------------------------------------------------------------------------

void UserInterface::Log(std::string_view message) {
  PumpMessages();
  if (message.empty()) {
    AppendLogLine({});
  } else {
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::seconds>(SteadyNow() - clock_start_);
    AppendLogLine(FormatLogLine(message, LocalNow(), elapsed, Memory()));
  }
  PumpMessages();
}

void UserInterface::Log(const char* message) {
  if (message != nullptr) Log(std::string_view(message));
}

void UserInterface::StartOperationClock() { clock_start_ = SteadyNow(); }

std::chrono::steady_clock::time_point UserInterface::SteadyNow() const {
  return std::chrono::steady_clock::now();
}

std::tm UserInterface::LocalNow() const {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return local;
}

system::MemoryStatus UserInterface::Memory() const { return system::ReadMemoryStatus(); }

// --- ConsoleUi ---------------------------------------------------------------------------------

ConsoleUi::ConsoleUi(Policy policy) : ConsoleUi(policy, std::cin, std::cout, std::cerr) {}

ConsoleUi::ConsoleUi(Policy policy, std::istream& in, std::ostream& out, std::ostream& err)
    : policy_(policy), in_(in), out_(out), err_(err) {}

void ConsoleUi::ShowMessage(std::string_view text, MessageIcon icon, std::string_view caption) {
  std::ostream& stream = icon == MessageIcon::kInformation ? out_ : err_;
  if (!caption.empty()) stream << caption << ": ";
  stream << text << '\n';
  stream.flush();
}

bool ConsoleUi::ReadLine(std::string_view prompt, std::string* line) {
  if (policy_ != Policy::kAskStdin) return false;
  out_ << prompt << std::flush;
  if (!std::getline(in_, *line)) return false;
  if (!line->empty() && line->back() == '\r') line->pop_back();
  return true;
}

bool ConsoleUi::AskYesNo(std::string_view text, MessageIcon, std::string_view) {
  out_ << text << '\n';
  if (policy_ == Policy::kAnswerYes || policy_ == Policy::kAnswerNo) {
    const bool yes = policy_ == Policy::kAnswerYes;
    out_ << (yes ? "-> Yes" : "-> No") << '\n';
    return yes;
  }
  std::string answer;
  if (!ReadLine("[y/n] ", &answer)) return false;
  return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
}

bool ConsoleUi::PickOpenFile(std::string_view title, const std::vector<FileFilter>& filters,
                             std::string_view, std::string_view, std::string* path) {
  std::string answer;
  if (!ReadLine(std::string(title) + " [" + JoinFilters(filters) + "]: ", &answer) ||
      answer.empty())
    return false;
  *path = answer;
  return true;
}

bool ConsoleUi::PickOpenFiles(std::string_view title, const std::vector<FileFilter>& filters,
                              std::string_view, std::vector<std::string>* paths) {
  std::string answer;
  if (!ReadLine(std::string(title) + " [" + JoinFilters(filters) + "] (';' separated): ",
                &answer) ||
      answer.empty())
    return false;
  std::vector<std::string> fields;
  NVT_ParseString(answer, ';', &fields);
  paths->clear();
  for (std::string& field : fields) {
    if (!field.empty()) paths->push_back(std::move(field));
  }
  return !paths->empty();
}

bool ConsoleUi::PickSaveFile(std::string_view title, const std::vector<FileFilter>& filters,
                             std::string_view start_folder, std::string_view default_extension,
                             std::string* path) {
  return PickOpenFile(title, filters, start_folder, default_extension, path);
}

bool ConsoleUi::PickFolder(std::string_view title, std::string_view, std::string* folder) {
  std::string answer;
  if (!ReadLine(std::string(title) + ": ", &answer) || answer.empty()) return false;
  *folder = answer;
  return true;
}

bool ConsoleUi::PromptValue(std::string_view title, std::string_view preset, std::string* value) {
  std::string answer;
  if (!ReadLine(std::string(title) + " [" + std::string(preset) + "]: ", &answer)) return false;
  *value = answer.empty() ? std::string(preset) : answer;
  return true;
}

void ConsoleUi::SetProgressRange(int, int) {}

void ConsoleUi::SetProgressPosition(int) {}

void ConsoleUi::SetProgressText(std::string_view) {}

void ConsoleUi::AppendLogLine(std::string_view line) {
  if (quiet_log_) return;
  err_ << line << '\n';
  err_.flush();
}

}  // namespace vantri

std::string NVT_PickFolderPath(vantri::UserInterface& ui, std::string_view title,
                               std::string_view start_folder) {
  std::string folder;
  if (!ui.PickFolder(title, start_folder, &folder) || folder.empty()) return {};
  while (folder.size() > 1 && (folder.back() == '/' || folder.back() == '\\')) folder.pop_back();
  NVT_SetLastBrowsedPath(folder);
  return folder;
}
