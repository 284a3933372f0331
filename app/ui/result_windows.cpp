#include "ui/result_windows.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <QVBoxLayout>
#include <vector>

#include "display/display_model.h"

namespace vantri::ui {

namespace {

// "Section.Key" split at the dot.
std::pair<std::string, std::string> SplitKey(const std::string& key) {
  const size_t dot = key.find('.');
  return {key.substr(0, dot), key.substr(dot + 1)};
}

void PaintColorButton(QWidget* button, int32_t color_ref) {
  const display::Rgb rgb = display::FromColorRef(color_ref);
  button->setStyleSheet(
      QString("background-color: rgb(%1, %2, %3);").arg(rgb.r).arg(rgb.g).arg(rgb.b));
}

}  // namespace

DisplaySettingsWindow::DisplaySettingsWindow(std::string grs_path, UserInterface& ui,
                                             QWidget* parent)
    : QDialog(parent), grs_path_(std::move(grs_path)), ui_(ui) {
  setObjectName("display_settings");
  setWindowTitle("Graphic Report");
  Build();
  Reload();
}

void DisplaySettingsWindow::Build() {
  auto* symbols_box = new QGroupBox("Residual symbols");
  auto* symbols = new QGridLayout(symbols_box);
  auto* scales_box = new QGroupBox("Scales (drawing units per residual unit)");
  auto* scales = new QGridLayout(scales_box);
  int column = 1;
  for (const char* heading : {"Visible", "Filled", "Colour"})
    symbols->addWidget(new QLabel(heading), 0, column++);

  std::map<std::string, int> symbol_rows;
  for (const std::string& key : display::DisplaySettingKeys()) {
    const auto [section, name] = SplitKey(key);
    QWidget* field = nullptr;
    if (name == "Scale") {
      auto* edit = new QLineEdit;
      edit->setMaximumWidth(140);
      const int row = scales->rowCount();
      scales->addWidget(new QLabel(QString::fromStdString(section)), row, 0);
      scales->addWidget(edit, row, 1);
      field = edit;
    } else {
      if (!symbol_rows.count(section)) {
        const int row = symbols->rowCount();
        symbol_rows[section] = row;
        symbols->addWidget(new QLabel(QString::fromStdString(section)), row, 0);
      }
      const int row = symbol_rows[section];
      if (name == "Color") {
        auto* button = new QPushButton;
        button->setFixedSize(48, 20);
        connect(button, &QPushButton::clicked, this, [this, key = key] { ChooseColor(key); });
        symbols->addWidget(button, row, 3);
        field = button;
      } else {
        auto* box = new QCheckBox;
        symbols->addWidget(box, row, name == "Visible" ? 1 : 2, Qt::AlignHCenter);
        field = box;
      }
    }
    field->setObjectName(QString::fromStdString(key));
    fields_[key] = field;
  }

  auto* buttons = new QDialogButtonBox;
  QPushButton* save = buttons->addButton("Save", QDialogButtonBox::AcceptRole);
  save->setObjectName("save");
  QPushButton* close = buttons->addButton("Close", QDialogButtonBox::RejectRole);
  close->setObjectName("close");
  // Save keeps the window open: the operator watches the drawing change.
  connect(save, &QPushButton::clicked, this, [this] { Save(); });
  connect(close, &QPushButton::clicked, this, &QDialog::hide);

  auto* columns = new QHBoxLayout;
  columns->addWidget(symbols_box);
  auto* right = new QVBoxLayout;
  right->addWidget(scales_box);
  right->addStretch();
  columns->addLayout(right);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(columns);
  layout->addWidget(buttons);
}

void DisplaySettingsWindow::Reload() {
  std::vector<std::string> problems;
  const display::DisplaySettings settings = display::ReadDisplaySettings(grs_path_, &problems);
  for (const std::string& problem : problems) ui_.Log(problem);
  Show(settings);
}

void DisplaySettingsWindow::Show(const display::DisplaySettings& settings) {
  for (const auto& [key, field] : fields_) {
    std::string value;
    if (!display::GetDisplaySetting(settings, key, &value)) continue;
    if (auto* box = qobject_cast<QCheckBox*>(field)) {
      box->setChecked(value != "0");
    } else if (auto* edit = qobject_cast<QLineEdit*>(field)) {
      edit->setText(QString::fromStdString(value));
    } else {
      SetColor(key, static_cast<int32_t>(std::stol(value)));
    }
  }
}

void DisplaySettingsWindow::SetColor(const std::string& key, int32_t color_ref) {
  colors_[key] = color_ref;
  if (auto it = fields_.find(key); it != fields_.end()) PaintColorButton(it->second, color_ref);
}

void DisplaySettingsWindow::ChooseColor(const std::string& key) {
  const display::Rgb rgb = display::FromColorRef(colors_[key]);
  const QColor chosen = QColorDialog::getColor(QColor(rgb.r, rgb.g, rgb.b), this,
                                               QString::fromStdString(SplitKey(key).first));
  if (!chosen.isValid()) return;
  SetColor(key, display::ToColorRef({static_cast<uint8_t>(chosen.red()),
                                     static_cast<uint8_t>(chosen.green()),
                                     static_cast<uint8_t>(chosen.blue())}));
}

bool DisplaySettingsWindow::Collect(display::DisplaySettings* settings,
                                    std::string* problem) const {
  display::DisplaySettings collected;
  for (const auto& [key, field] : fields_) {
    QString text;
    if (auto* box = qobject_cast<QCheckBox*>(field)) {
      text = box->isChecked() ? "1" : "0";
    } else if (auto* edit = qobject_cast<QLineEdit*>(field)) {
      text = edit->text().trimmed();
    } else {
      text = QString::number(colors_.at(key));
    }
    if (!display::SetDisplaySetting(collected, key, text.toStdString(), problem)) return false;
  }
  *settings = collected;
  return true;
}

bool DisplaySettingsWindow::Save() {
  display::DisplaySettings settings;
  std::string problem;
  if (!Collect(&settings, &problem)) {
    ui_.ShowMessage(problem, MessageIcon::kExclamation);
    return false;
  }
  if (!display::WriteDisplaySettings(grs_path_, settings)) {
    ui_.ShowMessage("Unable to write " + grs_path_, MessageIcon::kExclamation);
    return false;
  }
  Show(settings);  // scales as stored (absolute values)
  if (on_saved) on_saved(settings);
  return true;
}

namespace {

class ExportWindow : public QDialog {
 public:
  ExportWindow(QWidget* parent, plotter::ExportDialog& dialog, QtUserInterface& ui)
      : QDialog(parent), dialog_(dialog), ui_(ui) {
    setObjectName("export_dialog");
    setWindowTitle("Export to Plotara");
    auto* progress = new TimeToCompleteBar;
    progress->setObjectName("progress");
    progress->setMinimumWidth(360);
    auto* abort = new QPushButton("Abort");
    abort->setObjectName("abort");
    connect(abort, &QPushButton::clicked, this, [this] { dialog_.OnAbort(); });
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel("Exporting the oriented images..."));
    layout->addWidget(progress);
    layout->addWidget(abort, 0, Qt::AlignRight);
    progress_ = progress;
    // The work starts once the window is up, so that its progress and Abort are seen.
    QTimer::singleShot(100, this, [this] { RunExport(); });
  }

  // Escape or the window's close button while the export runs: the Abort button's question.
  void reject() override {
    if (running_) {
      dialog_.OnAbort();
    } else {
      done(plotter::kDialogCancel);
    }
  }

 private:
  void RunExport() {
    TimeToCompleteBar* main_bar = ui_.ProgressBar();
    ui_.SetProgressBar(progress_);
    running_ = true;
    const int result = dialog_.Run();
    running_ = false;
    ui_.SetProgressBar(main_bar);
    done(result);
  }

  bool running_ = false;

  plotter::ExportDialog& dialog_;
  QtUserInterface& ui_;
  TimeToCompleteBar* progress_ = nullptr;
};

}  // namespace

int RunExportDialog(QWidget* parent, plotter::ExportDialog& dialog, QtUserInterface& ui) {
  ExportWindow window(parent, dialog, ui);
  return window.exec();
}

}  // namespace vantri::ui
