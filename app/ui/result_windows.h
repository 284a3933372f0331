#pragma once
// The windows of the results: the Graphic Report options (the display settings of the residual
// symbols, written to <project name>.grs) and the export dialog of Export to Plotara. They show
// and ask; reading, checking and writing stay in app/display and app/export.

#include <QDialog>
#include <QPushButton>
#include <functional>
#include <map>
#include <string>

#include "display/display_settings.h"
#include "export/plotara_export.h"
#include "ui/qt_user_interface.h"

namespace vantri::ui {

// Graphic Report options: one row per symbol section (Visible, Filled, colour button) and the
// scales. Save converts every field through the core (a field that does not convert is named and
// nothing is written), writes the .grs file crash-safely and calls on_saved with the settings.
class DisplaySettingsWindow : public QDialog {
 public:
  DisplaySettingsWindow(std::string grs_path, UserInterface& ui, QWidget* parent = nullptr);

  // Shows the settings of the .grs file (defaults when it is missing; its problems are logged).
  void Reload();
  // The settings of the fields; false with `problem` naming the first field that does not convert.
  bool Collect(display::DisplaySettings* settings, std::string* problem) const;
  // The Save button: true when the file was written.
  bool Save();
  // The colour of a colour button ("Section.Color"), as a Windows colour value.
  void SetColor(const std::string& key, int32_t color_ref);

  std::function<void(const display::DisplaySettings&)> on_saved;

 private:
  void Build();
  void Show(const display::DisplaySettings& settings);
  void ChooseColor(const std::string& key);

  std::string grs_path_;
  UserInterface& ui_;
  std::map<std::string, QWidget*> fields_;  // by "Section.Key"
  std::map<std::string, int32_t> colors_;   // the colour buttons' values
};

// The export dialog: progress bar with the time to complete and the Abort button; the export runs
// once the window is shown, with the UI interface's progress on this window's bar. Returns the
// export's result (plotter::kDialogOk / kDialogCancel).
int RunExportDialog(QWidget* parent, plotter::ExportDialog& dialog, QtUserInterface& ui);

}  // namespace vantri::ui
