#include "testing/scripted_ui.h"

namespace vantri {

std::vector<std::string> ScriptedUi::Texts() const {
  std::vector<std::string> texts;
  for (const Shown& entry : shown) {
    if (entry.kind == Kind::kMessage || entry.kind == Kind::kQuestion) texts.push_back(entry.text);
  }
  return texts;
}

std::string ScriptedUi::LastText() const {
  const std::vector<std::string> texts = Texts();
  return texts.empty() ? std::string() : texts.back();
}

void ScriptedUi::ShowMessage(std::string_view text, MessageIcon icon, std::string_view caption) {
  shown.push_back({Kind::kMessage, icon, std::string(text), std::string(caption)});
}

bool ScriptedUi::AskYesNo(std::string_view text, MessageIcon icon, std::string_view caption) {
  shown.push_back({Kind::kQuestion, icon, std::string(text), std::string(caption)});
  if (yes_no_answers.empty()) return false;
  const bool answer = yes_no_answers.front();
  yes_no_answers.pop_front();
  return answer;
}

bool ScriptedUi::PopFile(Kind kind, std::string_view title, std::string* out) {
  shown.push_back({kind, MessageIcon::kInformation, std::string(title), {}});
  if (file_answers.empty()) return false;
  std::optional<std::string> answer = file_answers.front();
  file_answers.pop_front();
  if (!answer) return false;
  *out = *answer;
  return true;
}

bool ScriptedUi::PickOpenFile(std::string_view title, const std::vector<FileFilter>&,
                              std::string_view, std::string_view, std::string* path) {
  return PopFile(Kind::kOpenFile, title, path);
}

bool ScriptedUi::PickOpenFiles(std::string_view title, const std::vector<FileFilter>&,
                               std::string_view, std::vector<std::string>* paths) {
  shown.push_back({Kind::kOpenFiles, MessageIcon::kInformation, std::string(title), {}});
  if (multi_file_answers.empty()) return false;
  std::optional<std::vector<std::string>> answer = multi_file_answers.front();
  multi_file_answers.pop_front();
  if (!answer || answer->empty()) return false;
  *paths = *answer;
  return true;
}

bool ScriptedUi::PickSaveFile(std::string_view title, const std::vector<FileFilter>&,
                              std::string_view, std::string_view, std::string* path) {
  return PopFile(Kind::kSaveFile, title, path);
}

bool ScriptedUi::PickFolder(std::string_view title, std::string_view, std::string* folder) {
  return PopFile(Kind::kFolder, title, folder);
}

bool ScriptedUi::PromptValue(std::string_view title, std::string_view, std::string* value) {
  shown.push_back({Kind::kPrompt, MessageIcon::kQuestion, std::string(title), {}});
  if (value_answers.empty()) return false;
  std::optional<std::string> answer = value_answers.front();
  value_answers.pop_front();
  if (!answer) return false;
  *value = *answer;
  return true;
}

void ScriptedUi::SetProgressRange(int lower, int upper) {
  progress_lower = lower;
  progress_upper = upper;
}

void ScriptedUi::SetProgressPosition(int position) { progress_position = position; }

void ScriptedUi::SetProgressText(std::string_view text) { progress_text = std::string(text); }

void ScriptedUi::AppendLogLine(std::string_view line) { log_lines.emplace_back(line); }

}  // namespace vantri
