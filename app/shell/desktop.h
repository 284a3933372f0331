#pragma once
// Start-up of the desktop program: the crash reporter first, then the GDAL/OGR
// drivers, the per-user folders, the splash screen and the main window
// maximised with its title and version. The QApplication is made by the caller
// (after the default surface format is set).

#include <QPixmap>
#include <memory>
#include <string>

#include "project/project.h"
#include "shell/crash_reporter.h"
#include "shell/project_terrain.h"
#include "ui/main_window.h"
#include "ui/qt_user_interface.h"

namespace vantri::shell {

struct DesktopOptions {
  int splash_ms = 1000;
  bool show_maximized = true;
  bool remember_layout = true;
};

class Desktop {
 public:
  // `ui` replaces the Qt dialogs (the GUI test answers them from a script); null: QtUserInterface.
  explicit Desktop(DesktopOptions options = {}, std::unique_ptr<ui::QtUserInterface> ui = nullptr);
  ~Desktop();

  // Runs the start-up sequence; false (with the message shown and printed) when
  // the crash reporter could not be installed: the main window is then not
  // opened.
  bool StartUp(const std::string& executable_path);
  ui::MainWindow* Window() const { return window_.get(); }
  ui::QtUserInterface& Ui() { return *ui_; }
  CVantriProject& Project() { return project_; }
  const CrashReporterSetup& CrashSetup() const { return crash_setup_; }

 private:
  void ShowSplash();

  DesktopOptions options_;
  CVantriProject project_;
  std::unique_ptr<ui::QtUserInterface> ui_;
  shell::ProjectTerrain terrain_;
  CrashReporterSetup crash_setup_;
  std::unique_ptr<ui::MainWindow> window_;
};

// The splash screen's picture: the program's aerial bitmap with its title and version.
QPixmap SplashPicture();

// The OpenGL surface format the 3-D preview needs; set before the QApplication is made.
void SetSurfaceFormatForVtk();

// main(): QSurfaceFormat, QApplication, Desktop, event loop.
int RunDesktopProgram(int argc, char** argv);

}  // namespace vantri::shell
