#include "ui/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDockWidget>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QSplitter>
#include <QStatusBar>
#include <QToolBar>
#include <QVBoxLayout>
#include <filesystem>

#include "aat/dem_utils.h"
#include "aat/srtm.h"
#include "crs/coordinate_system_window.h"
#include "display/display_settings.h"
#include "export/plotara_export.h"
#include "import/project_import.h"
#include "points/collimation_session.h"
#include "points/point_manager.h"
#include "project/images_manager.h"
#include "project/passport_manager.h"
#include "project/project_flows.h"
#include "project/quality_thresholds.h"
#include "project/settings_window.h"
#include "system/nvtools.h"
#include "ui/import_dialog.h"
#include "ui/point_windows.h"
#include "ui/processing_rules.h"
#include "ui/processing_windows.h"
#include "ui/project_dialogs.h"
#include "ui/result_windows.h"
#include "ui/setup_dialogs.h"

namespace vantri::ui {

namespace {

// Beside the user profile, so that VANTRI_HOME moves it too.
QString WindowLayoutFile() {
  return ToQt((std::filesystem::path(system::ProfilePath()).parent_path() / "window.ini").string());
}

}  // namespace

MainWindow::MainWindow(CVantriProject& project, QtUserInterface& ui, MainWindowOptions options)
    : project_(project), ui_(ui), options_(std::move(options)) {
  setObjectName("main_window");
  setWindowTitle(ToQt(MainWindowTitle(options_.program, options_.version)));
  ui_.SetParent(this);
  BuildLayout();
  BuildActions();
  ui_.SetLogList(log_);
  ui_.SetProgressBar(progress_);
  project_.settings.SetUi(&ui_);
  if (options_.remember_layout) {
    QSettings layout(WindowLayoutFile(), QSettings::IniFormat);
    restoreGeometry(layout.value("geometry").toByteArray());
    restoreState(layout.value("state").toByteArray());
  }
  ProjectChanged();
}

MainWindow::~MainWindow() {
  ui_.SetLogList(nullptr);
  ui_.SetProgressBar(nullptr);
  ui_.SetParent(nullptr);
}

void MainWindow::BuildLayout() {
  drawing_ = new DrawingView;
  log_ = new LogListWidget;
  progress_ = new TimeToCompleteBar;
  project_path_ = new QLabel;
  project_path_->setObjectName("project_path");
  project_path_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  cursor_ = new QLabel("0.000, 0.000");
  cursor_->setObjectName("cursor");
  cursor_->setMinimumWidth(220);
  cursor_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  drawing_->on_point_clicked = [this](DrawingLayer layer, const std::string& name) {
    // Measuring needs the block of a search, as the point managers do.
    if (!states_.IsEnabled(Command::kGcp)) return;
    CollimatePoint(
        layer == DrawingLayer::kGcps ? points::PointKind::kGcp : points::PointKind::kCheckPoint,
        name);
  };
  drawing_->on_cursor_moved = [this](double x, double y) {
    cursor_->setText(QString("%1, %2").arg(x, 0, 'f', 3).arg(y, 0, 'f', 3));
  };

  auto* log_box = new QWidget;
  auto* log_layout = new QVBoxLayout(log_box);
  log_layout->setContentsMargins(0, 0, 0, 0);
  auto* log_title = new QLabel("log messages");
  log_layout->addWidget(log_title);
  log_layout->addWidget(log_);
  auto* progress_row = new QHBoxLayout;
  progress_row->addWidget(progress_, 1);
  auto* abort = new QPushButton("Abort");
  abort->setObjectName("abort");
  abort->setToolTip("Stops the running operation at its next step");
  connect(abort, &QPushButton::clicked, this, [this] { ui_.SetAbort(true); });
  progress_row->addWidget(abort);
  log_layout->addLayout(progress_row);

  auto* splitter = new QSplitter(Qt::Vertical);
  splitter->addWidget(drawing_);
  splitter->addWidget(log_box);
  splitter->setStretchFactor(0, 3);
  splitter->setStretchFactor(1, 1);
  splitter->setSizes({700, 240});
  log_->setMinimumHeight(140);
  setCentralWidget(splitter);

  statusBar()->addWidget(project_path_, 1);
  statusBar()->addPermanentWidget(cursor_);
}

void MainWindow::BuildActions() {
  auto* project_bar = new QToolBar("Project");
  project_bar->setObjectName("project_toolbar");
  project_bar->setToolButtonStyle(Qt::ToolButtonTextOnly);
  addToolBar(Qt::LeftToolBarArea, project_bar);
  auto* view_bar = new QToolBar("View");
  view_bar->setObjectName("view_toolbar");
  view_bar->setToolButtonStyle(Qt::ToolButtonTextOnly);
  addToolBar(Qt::TopToolBarArea, view_bar);
  QMenu* tools = menuBar()->addMenu("&Tools");
  QMenu* settings = menuBar()->addMenu("&Settings");

  for (const CommandInfo& info : CommandTable()) {
    auto* action = new QAction(info.label, this);
    action->setObjectName(QString("cmd_%1").arg(static_cast<int>(info.command)));
    if (*info.shortcut) action->setShortcut(QKeySequence(info.shortcut));
    action->setCheckable(info.checkable);
    const Command command = info.command;
    connect(action, &QAction::triggered, this, [this, command] { Run(command); });
    actions_[static_cast<std::size_t>(command)] = action;
    switch (info.place) {
      case CommandPlace::kProjectButtons:
        project_bar->addAction(action);
        if (command == Command::kSave || command == Command::kCheckPoints ||
            command == Command::kGraphicReport) {
          project_bar->addSeparator();
        }
        break;
      case CommandPlace::kViewButtons:
        view_bar->addAction(action);
        if (command == Command::kFootPrints || command == Command::kResetView) {
          view_bar->addSeparator();
        }
        break;
      case CommandPlace::kToolsMenu:
        tools->addAction(action);
        break;
      case CommandPlace::kSettingsMenu:
        settings->addAction(action);
        break;
    }
  }
  for (Command toggle : {Command::kShowTiePoints, Command::kShowGcp, Command::kShowCheckPoints,
                         Command::kFootPrints}) {
    Action(toggle)->setChecked(true);
  }
  // Project buttons share one width so the column reads as a list.
  for (QAction* action : project_bar->actions()) {
    if (QWidget* button = project_bar->widgetForAction(action)) button->setMinimumWidth(150);
  }
}

void MainWindow::Trigger(Command command) {
  QAction* action = Action(command);
  if (action->isEnabled()) action->trigger();
}

void MainWindow::RefreshCommandStates() {
  states_ = ComputeCommandStates(GatherProjectFacts(project_));
  for (const CommandInfo& info : CommandTable()) {
    Action(info.command)->setEnabled(states_.IsEnabled(info.command));
  }
  Action(Command::kSearchTiePoints)
      ->setText(states_.search_has_tie_points_icon ? "Search Tie Points \u2713"
                                                   : "Search Tie Points");
  Action(Command::kRunBundle)
      ->setText(states_.bundle_has_gcps_icon ? "Run Bundle \u2713" : "Run Bundle");
  Action(Command::kUseExternalDem)->setChecked(project_.IsOpen() && project_.use_external_dem);
  if (!states_.log_warning.empty()) ui_.Log(states_.log_warning);
}

void MainWindow::ProjectChanged() {
  project_path_->setText(ToQt(project::ProjectPathLabel(project_)));
  RedrawProject();
  RefreshCommandStates();
}

void MainWindow::RedrawProject() {
  drawing_->ShowProject(project_);
  // The points of the report follow the project's (imported, removed, collimated).
  DrawGraphicReport();
}

void MainWindow::ForgetResults() {
  drawing_->ClearResults();
  display_results_ = {};
  results_loaded_ = false;
  graphic_report_.reset();
}

void MainWindow::Run(Command command) {
  switch (command) {
    case Command::kNew:
      NewProjectCommand();
      break;
    case Command::kOpen:
      OpenProjectCommand();
      break;
    case Command::kSave:
      project::SaveProject(project_);
      break;
    case Command::kImagesManager:
      ImagesManagerCommand();
      break;
    case Command::kGcp:
      PointManagerCommand(points::PointKind::kGcp);
      break;
    case Command::kCheckPoints:
      PointManagerCommand(points::PointKind::kCheckPoint);
      break;
    case Command::kSearchTiePoints:
      SearchTiePointsCommand(false);
      break;
    case Command::kRunBundle:
      RunBundleCommand();
      break;
    case Command::kGraphicReport:
      GraphicReportCommand();
      break;
    case Command::kExportToPlotara:
      ExportToPlotaraCommand();
      break;
    case Command::kViewReport:
      ViewReportCommand();
      break;
    case Command::kSettings:
      SettingsCommand();
      break;
    case Command::kThresholds:
      ThresholdsCommand();
      break;
    case Command::kProjectInfo:
      project::ShowProjectInfo(project_, ui_);
      break;
    case Command::kCameraInfo:
      project::ShowCameraInfo(project_, ui_);
      break;
    case Command::kShowTiePoints:
    case Command::kShowGcp:
    case Command::kShowCheckPoints:
    case Command::kFootPrints:
      ToggleLayer(command);
      break;
    case Command::kResetView:
      drawing_->ResetView();
      break;
    case Command::kAbout:
      AboutCommand();
      break;
    case Command::kTutorial:
      OpenTutorial(ui_, options_.program_folder, options_.program);
      break;
    case Command::kExit:
      close();
      break;
    case Command::kRecoverByBro:
      RecoverCommand();
      break;
    case Command::kCoordinateSystem:
      CoordinateSystemCommand();
      break;
    case Command::kSelectSrtmSource:
      SrtmSourceCommand();
      break;
    case Command::kUseExternalDem:
      ExternalDemCommand();
      break;
    case Command::kCount:
      break;
  }
}

void MainWindow::ToggleLayer(Command command) {
  const bool visible = Action(command)->isChecked();
  switch (command) {
    case Command::kShowTiePoints:
      drawing_->SetLayerVisible(DrawingLayer::kTiePoints, visible);
      break;
    case Command::kShowGcp:
      drawing_->SetLayerVisible(DrawingLayer::kGcps, visible);
      break;
    case Command::kShowCheckPoints:
      drawing_->SetLayerVisible(DrawingLayer::kCheckPoints, visible);
      break;
    default:
      drawing_->SetLayerVisible(DrawingLayer::kFootprints, visible);
      break;
  }
}

void MainWindow::NewProjectCommand() {
  project::NewProjectChoice choice;
  if (!RunNewProjectDialog(this, ui_, &choice)) return;
  ForgetResults();
  const auto choose_system = [this](CVantriProject& project) {
    RunCoordinateSystemDialog(this, project.coordinate_system, ui_);
  };
  if (project::NewProject(project_, ui_, std::move(choice), choose_system)) {
    if (update_terrain) update_terrain(project_, ui_);
  }
  ProjectChanged();
}

void MainWindow::OpenProjectCommand() {
  const std::string before = project_.folder + project_.name;
  const bool opened = project::OpenProject(project_, ui_);
  if (opened || project_.folder + project_.name != before) ForgetResults();
  if (opened && update_terrain) update_terrain(project_, ui_);
  ProjectChanged();
}

void MainWindow::SettingsCommand() {
  ui_.StartOperationClock();
  project::RunSettingsCommand(project_, ui_, [this](CVantriSettings& settings) {
    project::SettingsWindowModel model(settings);
    return RunSettingsDialog(this, model);
  });
  RefreshCommandStates();
}

void MainWindow::ThresholdsCommand() {
  project::QualityThresholds thresholds = project::QualityThresholds::LoadFromProfile();
  if (RunThresholdsDialog(this, ui_, &thresholds)) {
    thresholds.SaveToProfile();
    RedrawProject();
  }
}

void MainWindow::ImagesManagerCommand() {
  if (!project::CanOpenImagesManager(project_, ui_)) return;
  if (!images_manager_) {
    ui_.StartOperationClock();
    images_manager_model_ = std::make_unique<project::ImagesManager>(project_, ui_);
    if (bind_images_manager) bind_images_manager(*images_manager_model_);
    images_manager_ =
        std::make_unique<ImagesManagerDialog>(*images_manager_model_, project_, ui_, this);
    images_manager_->on_changed = [this] { ProjectChanged(); };
  }
  images_manager_->setVisible(!images_manager_->isVisible());
  if (images_manager_->isVisible()) {
    images_manager_->Refresh();
    images_manager_->raise();
  }
}

void MainWindow::CoordinateSystemCommand() {
  if (RunCoordinateSystemDialog(this, project_.coordinate_system, ui_)) {
    project::SaveProject(project_);
    if (update_terrain) update_terrain(project_, ui_);
  }
  ProjectChanged();
}

void MainWindow::SrtmSourceCommand() {
  aat::SrtmSourceDialog model(ui_);
  if (RunSrtmDialog(this, model) && project_.IsOpen() && update_terrain) {
    update_terrain(project_, ui_);
    ProjectChanged();
  }
}

void MainWindow::ExternalDemCommand() {
  if (aat::UseExternalDemCommand(project_, ui_)) {
    project::SaveProject(project_);
    if (update_terrain) update_terrain(project_, ui_);
  }
  ProjectChanged();
}

void MainWindow::RecoverCommand() {
  if (!project_.IsOpen() || project_.ImageCount() == 0) {
    ui_.ShowMessage(kRecoverNeedsProject, MessageIcon::kInformation);
    return;
  }
  SearchTiePointsCommand(true);
}

void MainWindow::SetProcessControlsEnabled(bool enabled) {
  if (enabled) {
    RefreshCommandStates();
    return;
  }
  for (const CommandInfo& info : CommandTable()) {
    if (info.place == CommandPlace::kProjectButtons || info.place == CommandPlace::kToolsMenu ||
        info.place == CommandPlace::kSettingsMenu) {
      Action(info.command)->setEnabled(false);
    }
  }
}

void MainWindow::SearchTiePointsCommand(bool recover) {
  std::string resume;
  if (PrepareTiePointSearch(project_, ui_, recover, &resume) == SearchStart::kCancelled) return;
  SetProcessControlsEnabled(false);
  int tie_points = 0;
  const int result =
      RunSearchProgressWindow(this, project_, ui_, resume, &tie_points, on_search_window);
  ui_.SetAbort(false);
  if (result != 0) FinishTiePointSearch(project_, ui_, tie_points);
  ProjectChanged();
  if (result != 0) RunBundleCommand();
}

void MainWindow::RunBundleCommand() {
  SetProcessControlsEnabled(false);
  QApplication::setOverrideCursor(Qt::BusyCursor);
  ui_.SetAbort(false);
  const int result = RunBundleWithNotice(project_, ui_);
  ui_.SetAbort(false);
  QApplication::restoreOverrideCursor();
  ProjectChanged();
  if (result == 1) LoadGraphicReport();
}

void MainWindow::GraphicReportCommand() {
  if (!results_loaded_) LoadGraphicReport();
  if (!graphic_report_) {
    graphic_report_ = std::make_unique<DisplaySettingsWindow>(
        display::GrsPath(project_.folder, project_.name), ui_, this);
    graphic_report_->on_saved = [this](const display::DisplaySettings&) { DrawGraphicReport(); };
  }
  graphic_report_->setVisible(!graphic_report_->isVisible());
  if (graphic_report_->isVisible()) {
    graphic_report_->Reload();
    graphic_report_->raise();
  }
}

void MainWindow::LoadGraphicReport() {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  display_results_ = display::ReadDisplayResults(project_, &ui_);
  ui_.SetAbort(false);
  display::ApplyPointResiduals(display_results_, project_);
  results_loaded_ = true;
  DrawGraphicReport();
  QApplication::restoreOverrideCursor();
  if (!display_results_.problems.empty()) {
    std::string text = "The graphic report is incomplete:";
    for (const std::string& problem : display_results_.problems) text += "\n" + problem;
    ui_.ShowMessage(text, MessageIcon::kWarning);
  }
}

void MainWindow::DrawGraphicReport() {
  if (!results_loaded_ || !project_.IsOpen()) return;
  std::vector<std::string> problems;
  const display::DisplaySettings settings =
      display::ReadDisplaySettings(display::GrsPath(project_.folder, project_.name), &problems);
  for (const std::string& problem : problems) ui_.Log(problem);
  drawing_->ShowResults(display::BuildDisplayModel(
      project_, display_results_, project::QualityThresholds::LoadFromProfile(), settings));
}

void MainWindow::ExportToPlotaraCommand() {
  plotter::ExportToPlotara(
      project_, ui_, plotter::StartPlotara,
      [this](plotter::ExportDialog& dialog) { return RunExportDialog(this, dialog, ui_); });
}

void MainWindow::ViewReportCommand() {
  for (const std::string& file : BundleReportFiles(project_)) NVT_ShellExecute(file);
}

void MainWindow::PointManagerCommand(points::PointKind kind) {
  points::PointResults results = LoadPointResults(project_, kind);
  points::PointManager::DrawingHooks hooks;
  hooks.redraw_symbols = [this] { RedrawProject(); };
  points::PointManager manager(kind, project_, ui_, &results,
                               project::QualityThresholds::LoadFromProfile().gcps, hooks);
  if (!manager.CanOpen()) return;
  PointManagerDialog dialog(manager, this);
  dialog.import_window = [this](QWidget* parent, import::ImportMode mode,
                                std::vector<import::SFIO_ControlPoint>* records) {
    import::PointImportModel model(mode, ui_);
    return RunImportDialog(parent, model, [&] {
      return import::ImportControlPointsIntoProject(model, project_, records);
    });
  };
  dialog.on_collimate = [this, kind](const std::string& name) { CollimatePoint(kind, name); };
  dialog.exec();
  ProjectChanged();
}

void MainWindow::CollimatePoint(points::PointKind kind, const std::string& name) {
  std::vector<nvc::COrientation> orientations;
  points::SessionOptions options;
  if (LoadBlockOrientations(project_, ui_, &orientations)) {
    options.orientations = &orientations;
    options.orientation_origin = {project_.local_origin[0], project_.local_origin[1],
                                  project_.local_origin[2]};
  }
  options.redraw_symbols = [this] { RedrawProject(); };
  points::CollimationSession session(kind, project_, name, ui_, options);
  if (!session.IsValid()) return;
  if (session.ImageCount() == 0) {
    ui_.ShowMessage("No image shows the point " + name + ".", MessageIcon::kInformation);
    return;
  }
  RunCollimationWindow(this, session);
}

void MainWindow::AboutCommand() {
  QMessageBox::about(this, "About Vantri",
                     ToQt("Vantri " + options_.version +
                          "\n\nAerial triangulation of photogrammetric image blocks."));
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (!ConfirmExit(ui_)) {
    event->ignore();
    return;
  }
  if (options_.remember_layout) {
    QSettings layout(WindowLayoutFile(), QSettings::IniFormat);
    layout.setValue("geometry", saveGeometry());
    layout.setValue("state", saveState());
  }
  if (images_manager_) images_manager_->hide();
  event->accept();
}

}  // namespace vantri::ui
