// The user interface of the tests: answers from queues and records what is shown.
#pragma once

#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ui_interface/ui.h"

namespace vantri {

// Answers from queues and records everything shown, for tests. An empty answer queue answers
// "No" / "Cancel".
class ScriptedUi : public UserInterface {
 public:
  enum class Kind { kMessage, kQuestion, kOpenFile, kOpenFiles, kSaveFile, kFolder, kPrompt };
  struct Shown {
    Kind kind;
    MessageIcon icon;  // kInformation for dialogs that have none
    std::string text;  // message, question, or the dialog's title
    std::string caption;
  };

  // Answer queues; an empty optional (or an empty queue) is a Cancel.
  std::deque<bool> yes_no_answers;
  std::deque<std::optional<std::string>> file_answers;  // open, save and folder dialogs
  std::deque<std::optional<std::vector<std::string>>> multi_file_answers;
  std::deque<std::optional<std::string>> value_answers;

  // Recordings.
  std::vector<Shown> shown;
  std::vector<std::string> log_lines;  // in order of arrival (oldest first)
  int progress_lower = 0, progress_upper = 100, progress_position = 0;
  std::string progress_text;
  int pump_count = 0;

  // Texts of the recorded messages and questions, in order.
  std::vector<std::string> Texts() const;
  // The last message or question shown, or an empty text.
  std::string LastText() const;

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
  void PumpMessages() override { ++pump_count; }

 private:
  bool PopFile(Kind kind, std::string_view title, std::string* out);
};

}  // namespace vantri
