#include "ui/processing_windows.h"

#include <QVTKOpenGLNativeWidget.h>
#include <vtkActor.h>
#include <vtkCamera.h>
#include <vtkCellArray.h>
#include <vtkGenericOpenGLRenderWindow.h>
#include <vtkNew.h>
#include <vtkPointData.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>
#include <vtkPolyDataMapper.h>
#include <vtkProperty.h>
#include <vtkRenderer.h>
#include <vtkUnsignedCharArray.h>

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

#include "aat/aat_process.h"
#include "aat/srtm.h"
#include "project/project.h"
#include "ui/processing_rules.h"
#include "ui/qt_user_interface.h"

namespace vantri::ui {

// --- 3-D preview -------------------------------------------------------------------------------

struct PreviewView::Vtk {
  QVTKOpenGLNativeWidget* widget = nullptr;
  vtkNew<vtkGenericOpenGLRenderWindow> window;
  vtkNew<vtkRenderer> renderer;
  vtkNew<vtkPolyData> cameras;
  vtkNew<vtkPolyData> points;
  vtkNew<vtkPolyDataMapper> camera_mapper;
  vtkNew<vtkPolyDataMapper> point_mapper;
  vtkNew<vtkActor> camera_actor;
  vtkNew<vtkActor> point_actor;
};

namespace {

// Vertices of a point set; `colours` may be empty (the actor's colour then).
void FillVertices(const std::vector<Eigen::Vector3d>& positions,
                  const std::vector<std::array<uint8_t, 3>>& colours, vtkPolyData* data) {
  vtkNew<vtkPoints> points;
  points->SetDataTypeToDouble();  // float would lose the local metres' decimals
  vtkNew<vtkCellArray> vertices;
  vtkNew<vtkUnsignedCharArray> rgb;
  rgb->SetName("RGB");
  rgb->SetNumberOfComponents(3);
  for (size_t i = 0; i < positions.size(); ++i) {
    const vtkIdType id = points->InsertNextPoint(positions[i].data());
    vertices->InsertNextCell(1, &id);
    if (i < colours.size()) rgb->InsertNextTypedTuple(colours[i].data());
  }
  data->SetPoints(points);
  data->SetVerts(vertices);
  data->GetPointData()->SetScalars(colours.empty() ? nullptr : rgb.Get());
  data->Modified();
}

}  // namespace

PreviewView::PreviewView(QWidget* parent) : QWidget(parent), vtk_(std::make_unique<Vtk>()) {
  setObjectName("preview");
  setMinimumSize(480, 320);
  vtk_->widget = new QVTKOpenGLNativeWidget(this);
  vtk_->widget->setRenderWindow(vtk_->window);
  vtk_->window->AddRenderer(vtk_->renderer);
  vtk_->renderer->SetBackground(0.08, 0.09, 0.12);
  vtk_->renderer->SetBackground2(0.25, 0.28, 0.35);
  vtk_->renderer->GradientBackgroundOn();

  vtk_->camera_mapper->SetInputData(vtk_->cameras);
  vtk_->camera_mapper->ScalarVisibilityOff();
  vtk_->camera_actor->SetMapper(vtk_->camera_mapper);
  vtk_->camera_actor->GetProperty()->SetColor(1.0, 0.25, 0.2);
  vtk_->camera_actor->GetProperty()->SetPointSize(8);
  vtk_->point_mapper->SetInputData(vtk_->points);
  vtk_->point_mapper->SetColorModeToDirectScalars();
  vtk_->point_actor->SetMapper(vtk_->point_mapper);
  vtk_->point_actor->GetProperty()->SetPointSize(4);
  vtk_->renderer->AddActor(vtk_->camera_actor);
  vtk_->renderer->AddActor(vtk_->point_actor);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(vtk_->widget);
}

PreviewView::~PreviewView() = default;

void PreviewView::Show(const aat::PreviewCloud& cloud) {
  FillVertices(cloud.cameras, {}, vtk_->cameras);
  FillVertices(cloud.points, cloud.colours, vtk_->points);
  cameras_ = static_cast<int>(cloud.cameras.size());
  points_ = static_cast<int>(cloud.points.size());
  if (cloud.reset_camera) {
    // From above, tilted towards the north so the heights read.
    vtkCamera* camera = vtk_->renderer->GetActiveCamera();
    camera->SetPosition(0, 0, 1);
    camera->SetFocalPoint(0, 0, 0);
    camera->SetViewUp(0, 1, 0);
    vtk_->renderer->ResetCamera();
    camera->Elevation(-50);
    vtk_->renderer->ResetCamera();
    vtk_->renderer->ResetCameraClippingRange();
  }
  vtk_->window->Render();
  vtk_->widget->update();
}

// --- Progress window ---------------------------------------------------------------------------

SearchProgressWindow::SearchProgressWindow(CVantriProject& project, QtUserInterface& ui,
                                           std::string resume_path, QWidget* parent)
    : QDialog(parent), project_(project), ui_(ui), resume_path_(std::move(resume_path)) {
  setObjectName("search_progress_window");
  setWindowTitle(resume_path_.empty() ? "Search Tie Points" : "Recover by BRO");
  preview_ = new PreviewView;
  progress_ = new TimeToCompleteBar;
  progress_->setObjectName("search_progress");
  progress_->setMinimumHeight(26);
  status_ = new QLabel("Preparing the search...");
  status_->setObjectName("status");
  abort_ = new QPushButton("Abort");
  abort_->setObjectName("abort");
  abort_->setAutoDefault(false);
  connect(abort_, &QPushButton::clicked, this, [this] { AskAbort(); });

  auto* bottom = new QHBoxLayout;
  bottom->addWidget(progress_, 1);
  bottom->addWidget(abort_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(preview_, 1);
  layout->addWidget(status_);
  layout->addLayout(bottom);

  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect available = screen->availableGeometry();
    const WindowRect rect =
        ProgressWindowRect(available.x(), available.y(), available.width(), available.height());
    setGeometry(rect.x, rect.y, rect.width, rect.height);
  }
  QTimer::singleShot(200, this, [this] { Run(); });
}

SearchProgressWindow::~SearchProgressWindow() {
  if (main_progress_ != nullptr) ui_.SetProgressBar(main_progress_);
}

void SearchProgressWindow::AskAbort() {
  if (!running_) return;
  if (ConfirmAbort(ui_) && main_progress_ != nullptr) main_progress_->SetPosition(0);
}

void SearchProgressWindow::reject() {
  // Closing the window while the search runs is a request to abort it.
  if (running_) {
    AskAbort();
    return;
  }
  QDialog::reject();
}

void SearchProgressWindow::Run() {
  running_ = true;
  main_progress_ = ui_.ProgressBar();
  ui_.SetProgressBar(progress_);
  ui_.SetAbort(false);
  ui_.StartOperationClock();
  aat::ElevationModel srtm;
  aat::LoadSrtmForProjectImages(project_, &srtm);
  int result = 0;
  std::string reason;
  {
    CAerialPhotogrammetricProcess process(project_, ui_);
    process.SetSrtmDem(srtm.dataset.get(), project_.coordinate_system.project_to_wgs84());
    process.on_preview = [this](const aat::PreviewCloud& cloud) { preview_->Show(cloud); };
    process.on_image_added = [this](int added, int image, int found) {
      status_->setText(QString("Image %1 added (%2 of %3), %4 new tie points")
                           .arg(ToQt(project_.Image(image)->Name()))
                           .arg(added)
                           .arg(project_.ImageCount())
                           .arg(found));
      if (on_image_added) on_image_added(added, project_.ImageCount());
    };
    const std::string dem = project_.use_external_dem != 0 ? project_.external_dem_path : "";
    result = process.RunAAT(resume_path_, dem);
    tie_points_ = result != 0 ? process.TiePoints().Size() : 0;
    reason = process.LastMessage();
  }
  const bool aborted = ui_.IsAborted();
  ui_.SetProgressBar(main_progress_);
  main_progress_ = nullptr;
  running_ = false;
  if (result != 0) {
    QDialog::accept();
    return;
  }
  if (!aborted && !reason.empty()) {
    ui_.ShowMessage("The tie-point search stopped: " + reason, MessageIcon::kExclamation);
  }
  QDialog::reject();
}

int RunSearchProgressWindow(QWidget* parent, CVantriProject& project, QtUserInterface& ui,
                            const std::string& resume_path, int* tie_points,
                            const std::function<void(SearchProgressWindow&)>& on_open) {
  SearchProgressWindow window(project, ui, resume_path, parent);
  if (on_open) on_open(window);
  const int result = window.exec() == QDialog::Accepted ? 1 : 0;
  *tie_points = window.TiePoints();
  return result;
}

}  // namespace vantri::ui
