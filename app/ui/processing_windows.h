#pragma once
// The progress window of the tie-point search: the progress bar with the time to complete, the
// 3-D preview of the camera positions and the tie points of each step (VTK in Qt), and the
// abort button with its question. The run stays on the UI thread and keeps the window
// responsive by pumping messages at every polling point of the process.

#include <QDialog>
#include <QLabel>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "aat/preview_cloud.h"

class CVantriProject;
class QPushButton;
class QVTKOpenGLNativeWidget;
class vtkGenericOpenGLRenderWindow;
class vtkRenderer;
class vtkPolyData;

namespace vantri::ui {

class QtUserInterface;
class TimeToCompleteBar;

// The 3-D preview: cameras as red squares, tie points in their colours.
class PreviewView : public QWidget {
 public:
  explicit PreviewView(QWidget* parent = nullptr);
  ~PreviewView() override;
  void Show(const aat::PreviewCloud& cloud);
  int CameraCount() const { return cameras_; }
  int PointCount() const { return points_; }

 private:
  struct Vtk;
  std::unique_ptr<Vtk> vtk_;
  int cameras_ = 0;
  int points_ = 0;
};

class SearchProgressWindow : public QDialog {
 public:
  // `resume_path`: the exchange file to resume from, empty for a fresh search.
  SearchProgressWindow(CVantriProject& project, QtUserInterface& ui, std::string resume_path,
                       QWidget* parent);
  ~SearchProgressWindow() override;

  PreviewView* Preview() const { return preview_; }
  TimeToCompleteBar* Progress() const { return progress_; }
  QPushButton* AbortButton() const { return abort_; }
  // Tie points of the finished run (0 until it ended well).
  int TiePoints() const { return tie_points_; }
  bool Running() const { return running_; }

  // Called after every image the run added with (images added, image count); the test takes its
  // screenshots and aborts from here.
  std::function<void(int added, int count)> on_image_added;

  void reject() override;

 private:
  void Run();
  void AskAbort();

  CVantriProject& project_;
  QtUserInterface& ui_;
  std::string resume_path_;
  PreviewView* preview_;
  TimeToCompleteBar* progress_;
  QLabel* status_;
  QPushButton* abort_;
  TimeToCompleteBar* main_progress_ = nullptr;
  int tie_points_ = 0;
  bool running_ = false;
};

// Runs the search in its window; 1 when it succeeded (the window closed with OK), else 0.
// `tie_points` receives the number of tie points found.
int RunSearchProgressWindow(QWidget* parent, CVantriProject& project, QtUserInterface& ui,
                            const std::string& resume_path, int* tie_points,
                            const std::function<void(SearchProgressWindow&)>& on_open = {});

}  // namespace vantri::ui
