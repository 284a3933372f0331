#pragma once
// The UI interface over Qt: message boxes, file and folder pickers, the value
// prompt, the main window's progress bar and log list, and message pumping
// through the Qt event loop.

#include <QListWidget>
#include <QProgressBar>
#include <QString>
#include <chrono>
#include <string>

#include "ui/main_window_rules.h"
#include "ui_interface/ui.h"

namespace vantri::ui {

inline QString ToQt(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<int>(text.size()));
}
inline std::string FromQt(const QString& text) { return text.toUtf8().toStdString(); }

// The log list: dark (RGB 40, 40, 40) with near-white text (RGB 250, 250, 250),
// one column headed "log messages", newest line on top.
class LogListWidget : public QListWidget {
 public:
  explicit LogListWidget(QWidget* parent = nullptr);
  void InsertLine(std::string_view line);
  // Texts from the top (newest first).
  std::vector<std::string> Lines() const;
};

// A progress bar that also shows the estimated time to complete.
class TimeToCompleteBar : public QProgressBar {
 public:
  explicit TimeToCompleteBar(QWidget* parent = nullptr);
  void SetRangeAndStart(int lower, int upper);
  void SetPosition(int position);
  void SetPrefix(std::string_view prefix);
  QString ShownText() const { return format(); }

 private:
  void Refresh();
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::string prefix_;
};

// Qt file-dialog filter text of the type list: "Vantri Project (*.bun);;DEM
// File (*.gtif *.tif)".
QString QtFilterText(const std::vector<FileFilter>& filters);

class QtUserInterface : public UserInterface {
 public:
  explicit QtUserInterface(QWidget* parent = nullptr);
  ~QtUserInterface() override;

  void SetParent(QWidget* parent) { parent_ = parent; }
  void SetLogList(LogListWidget* log) { log_ = log; }
  void SetProgressBar(TimeToCompleteBar* progress) { progress_ = progress; }
  QWidget* Parent() const { return parent_; }
  TimeToCompleteBar* ProgressBar() const { return progress_; }

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
  void PumpMessages() override;

 private:
  QWidget* parent_;
  LogListWidget* log_ = nullptr;
  TimeToCompleteBar* progress_ = nullptr;
};

}  // namespace vantri::ui
