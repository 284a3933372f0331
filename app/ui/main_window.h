#pragma once
// The main window: the project and view commands, the Tools and Settings menus,
// the drawing, the progress bar with the time to complete, the project path and
// cursor labels and the log list. Command states come from
// ComputeCommandStates; every command runs the core flow behind it.

#include <QAction>
#include <QLabel>
#include <QMainWindow>
#include <array>
#include <functional>
#include <memory>
#include <string>

#include "display/result_display.h"
#include "points/point_maps.h"
#include "project/project.h"
#include "ui/drawing_view.h"
#include "ui/main_window_rules.h"
#include "ui/qt_user_interface.h"

namespace vantri::project {
class ImagesManager;
}  // namespace vantri::project

namespace vantri::ui {

class DisplaySettingsWindow;
class ImagesManagerDialog;
class SearchProgressWindow;

struct MainWindowOptions {
  std::string program = "vantri";
  std::string version;
  std::string program_folder;  // where tutorial/ is looked for
  bool remember_layout = true;
};

class MainWindow : public QMainWindow {
 public:
  MainWindow(CVantriProject& project, QtUserInterface& ui, MainWindowOptions options);
  ~MainWindow() override;

  // Hooks of the shell: the elevation model and the footprints of the project
  // (after Open, New, a change of images, GPS/IMU data or DEM choice) and the
  // images manager's hooks.
  std::function<void(CVantriProject&, UserInterface&)> update_terrain;
  std::function<void(project::ImagesManager&)> bind_images_manager;
  // Called when the progress window of a tie-point search opens (the GUI test watches it).
  std::function<void(SearchProgressWindow&)> on_search_window;

  QAction* Action(Command command) const { return actions_[static_cast<std::size_t>(command)]; }
  void Trigger(Command command);
  const CommandStates& States() const { return states_; }
  LogListWidget* Log() const { return log_; }
  DrawingView* Drawing() const { return drawing_; }
  QLabel* ProjectPath() const { return project_path_; }
  QLabel* Cursor() const { return cursor_; }
  ImagesManagerDialog* ImagesManagerWindow() const { return images_manager_.get(); }
  // The Graphic Report options window; nullptr until Graphic Report was first used.
  DisplaySettingsWindow* GraphicReportWindow() const { return graphic_report_.get(); }

  // Recomputes the command states (and logs the GPS/IMU warning when it
  // applies).
  void RefreshCommandStates();
  // Redraws the project, its path label and the command states.
  void ProjectChanged();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildActions();
  void BuildLayout();
  void Run(Command command);
  // The project's drawing and the graphic report on it.
  void RedrawProject();
  // A new or another project: the results of the last one are no longer shown.
  void ForgetResults();

  void NewProjectCommand();
  void OpenProjectCommand();
  void SettingsCommand();
  void ThresholdsCommand();
  void ImagesManagerCommand();
  void CoordinateSystemCommand();
  void SrtmSourceCommand();
  void ExternalDemCommand();
  void RecoverCommand();
  void SearchTiePointsCommand(bool recover);
  void RunBundleCommand();
  void ViewReportCommand();
  void GraphicReportCommand();
  // Reads the result files of the last bundle run and draws them (progress, problems shown).
  void LoadGraphicReport();
  // Draws the loaded results with the quality thresholds and the display settings of the .grs.
  void DrawGraphicReport();
  void ExportToPlotaraCommand();
  void PointManagerCommand(points::PointKind kind);
  void CollimatePoint(points::PointKind kind, const std::string& name);
  void SetProcessControlsEnabled(bool enabled);
  void AboutCommand();
  void ToggleLayer(Command command);

  CVantriProject& project_;
  QtUserInterface& ui_;
  MainWindowOptions options_;
  std::array<QAction*, kCommandCount> actions_{};
  CommandStates states_;
  DrawingView* drawing_ = nullptr;
  LogListWidget* log_ = nullptr;
  TimeToCompleteBar* progress_ = nullptr;
  QLabel* project_path_ = nullptr;
  QLabel* cursor_ = nullptr;
  std::unique_ptr<ImagesManagerDialog> images_manager_;
  std::unique_ptr<project::ImagesManager> images_manager_model_;
  std::unique_ptr<DisplaySettingsWindow> graphic_report_;
  display::DisplayResults display_results_;
  bool results_loaded_ = false;
};

}  // namespace vantri::ui
