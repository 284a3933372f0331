#include "ui/qt_user_interface.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QMessageBox>
#include <QPalette>

#include "system/nvtools.h"

namespace vantri::ui {

LogListWidget::LogListWidget(QWidget* parent) : QListWidget(parent) {
  setObjectName("log_list");
  setToolTip("log messages");
  setStyleSheet(
      "QListWidget { background-color: rgb(40, 40, 40); color: "
      "rgb(250, 250, 250); }");
  QFont mono("Monospace");
  mono.setStyleHint(QFont::TypeWriter);
  setFont(mono);
  setUniformItemSizes(true);
}

void LogListWidget::InsertLine(std::string_view line) {
  insertItem(0, ToQt(line));
  constexpr int kMaxLines = 5000;
  while (count() > kMaxLines) delete takeItem(count() - 1);
}

std::vector<std::string> LogListWidget::Lines() const {
  std::vector<std::string> lines;
  for (int i = 0; i < count(); ++i) lines.push_back(FromQt(item(i)->text()));
  return lines;
}

TimeToCompleteBar::TimeToCompleteBar(QWidget* parent) : QProgressBar(parent) {
  setObjectName("progress");
  setTextVisible(true);
  setRange(0, 100);
  setValue(0);
  setFormat("");
}

void TimeToCompleteBar::SetRangeAndStart(int lower, int upper) {
  start_ = std::chrono::steady_clock::now();
  setRange(lower, upper > lower ? upper : lower + 1);
  setValue(lower);
  Refresh();
}

void TimeToCompleteBar::SetPosition(int position) {
  setValue(position);
  Refresh();
}

void TimeToCompleteBar::SetPrefix(std::string_view prefix) {
  prefix_ = prefix;
  Refresh();
}

void TimeToCompleteBar::Refresh() {
  const double elapsed =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  setFormat(ToQt(TimeToCompleteText(elapsed, minimum(), maximum(), value(), prefix_, prefix_)));
}

QString QtFilterText(const std::vector<FileFilter>& filters) {
  QStringList entries;
  for (const FileFilter& filter : filters) {
    QStringList globs = ToQt(filter.pattern).split(';', Qt::SkipEmptyParts);
    entries << ToQt(filter.name) + " (" + globs.join(' ') + ")";
  }
  return entries.join(";;");
}

QtUserInterface::QtUserInterface(QWidget* parent) : parent_(parent) {
  system::SetPumpMessagesHook([] { QCoreApplication::processEvents(); });
}

QtUserInterface::~QtUserInterface() { system::SetPumpMessagesHook({}); }

namespace {

QMessageBox::Icon QtIcon(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::kExclamation:
    case MessageIcon::kWarning:
      return QMessageBox::Warning;
    case MessageIcon::kInformation:
      return QMessageBox::Information;
    case MessageIcon::kQuestion:
      return QMessageBox::Question;
    case MessageIcon::kStop:
      return QMessageBox::Critical;
  }
  return QMessageBox::Information;
}

QString Caption(std::string_view caption) {
  return caption.empty() ? QString("Vantri") : ToQt(caption);
}

}  // namespace

void QtUserInterface::ShowMessage(std::string_view text, MessageIcon icon,
                                  std::string_view caption) {
  QMessageBox box(QtIcon(icon), Caption(caption), ToQt(text), QMessageBox::Ok, parent_);
  box.exec();
}

bool QtUserInterface::AskYesNo(std::string_view text, MessageIcon icon, std::string_view caption) {
  QMessageBox box(QtIcon(icon), Caption(caption), ToQt(text), QMessageBox::Yes | QMessageBox::No,
                  parent_);
  box.setDefaultButton(QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
}

bool QtUserInterface::PickOpenFile(std::string_view title, const std::vector<FileFilter>& filters,
                                   std::string_view start_folder, std::string_view,
                                   std::string* path) {
  const QString chosen =
      QFileDialog::getOpenFileName(parent_, ToQt(title), ToQt(start_folder), QtFilterText(filters));
  if (chosen.isEmpty()) return false;
  *path = FromQt(chosen);
  return true;
}

bool QtUserInterface::PickOpenFiles(std::string_view title, const std::vector<FileFilter>& filters,
                                    std::string_view start_folder,
                                    std::vector<std::string>* paths) {
  const QStringList chosen = QFileDialog::getOpenFileNames(parent_, ToQt(title), ToQt(start_folder),
                                                           QtFilterText(filters));
  if (chosen.isEmpty()) return false;
  paths->clear();
  for (const QString& path : chosen) paths->push_back(FromQt(path));
  return true;
}

bool QtUserInterface::PickSaveFile(std::string_view title, const std::vector<FileFilter>& filters,
                                   std::string_view start_folder,
                                   std::string_view default_extension, std::string* path) {
  QString chosen =
      QFileDialog::getSaveFileName(parent_, ToQt(title), ToQt(start_folder), QtFilterText(filters));
  if (chosen.isEmpty()) return false;
  if (!default_extension.empty() && QFileInfo(chosen).suffix().isEmpty()) {
    chosen += "." + ToQt(default_extension);
  }
  *path = FromQt(chosen);
  return true;
}

bool QtUserInterface::PickFolder(std::string_view title, std::string_view start_folder,
                                 std::string* folder) {
  const QString chosen =
      QFileDialog::getExistingDirectory(parent_, ToQt(title), ToQt(start_folder));
  if (chosen.isEmpty()) return false;
  *folder = FromQt(chosen);
  return true;
}

bool QtUserInterface::PromptValue(std::string_view title, std::string_view preset,
                                  std::string* value) {
  bool ok = false;
  const QString text =
      QInputDialog::getText(parent_, "Vantri", ToQt(title), QLineEdit::Normal, ToQt(preset), &ok);
  if (!ok) return false;
  *value = FromQt(text);
  return true;
}

void QtUserInterface::SetProgressRange(int lower, int upper) {
  if (progress_) progress_->SetRangeAndStart(lower, upper);
}

void QtUserInterface::SetProgressPosition(int position) {
  if (progress_) progress_->SetPosition(position);
}

void QtUserInterface::SetProgressText(std::string_view text) {
  if (progress_) progress_->SetPrefix(text);
}

void QtUserInterface::AppendLogLine(std::string_view line) {
  if (log_) log_->InsertLine(line);
}

void QtUserInterface::PumpMessages() { QCoreApplication::processEvents(); }

}  // namespace vantri::ui
