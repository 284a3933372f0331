#pragma once
// The windows of the control and check points: the point manager ("GCPs Manager",
// "Check-Points Manager") over points::PointManager, and the collimation window over
// points::CollimationSession, which shows one image at a time read by region at the window's
// zoom.

#include <QDialog>
#include <QLabel>
#include <QTableWidget>
#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

#include "points/collimation_session.h"
#include "points/collimation_view.h"
#include "points/point_manager.h"

namespace vantri::ui {

// The point manager window. A row's check box is the point's use flag; a right click on the
// "XY var" or "Z var" header opens the variance menu; a double click on a row (or "Collimate...")
// measures the point in its images.
class PointManagerDialog : public QDialog {
 public:
  PointManagerDialog(points::PointManager& manager, QWidget* parent);

  void Refresh();
  QTableWidget* Table() const { return table_; }
  QLabel* CountLabel() const { return count_; }
  // The variance menu of a header column (control points' "XY var" / "Z var" only).
  void ShowVarianceMenu(int column, const QPoint& global_position);

 protected:
  void resizeEvent(QResizeEvent* event) override;

 public:
  // Opens the collimation of a point; set by the main window.
  std::function<void(const std::string& name)> on_collimate;
  // The delimited-text import window for the list's kind; true on OK with its records.
  std::function<bool(QWidget* parent, import::ImportMode mode,
                     std::vector<import::SFIO_ControlPoint>* records)>
      import_window;

 private:
  void FitColumns();
  std::vector<std::string> SelectedNames() const;
  std::string CurrentName() const;

  points::PointManager& manager_;
  QTableWidget* table_;
  QLabel* count_;
  QPushButton* remove_;
  QPushButton* remove_all_;
  bool filling_ = false;
};

// The image of the collimation window: draws the visible region of the current image and the
// marker, and turns the operator's keys, clicks, wheel and drags into session and view commands.
class CollimationCanvas : public QWidget {
 public:
  CollimationCanvas(points::CollimationSession& session, points::CollimationViewport& view,
                    QWidget* parent);
  // Called after every change the window must show (marker, image, zoom).
  std::function<void()> on_changed;
  // Pixels read from the raster for the last drawing (width x height of the read region).
  int LastReadWidth() const { return last_read_width_; }
  int LastReadHeight() const { return last_read_height_; }
  void Invalidate() { cached_key_.clear(); }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;

 private:
  const QImage& RegionImage(const points::ViewRegion& region);

  points::CollimationSession& session_;
  points::CollimationViewport& view_;
  QString cached_key_;
  QImage cached_;
  std::vector<uint8_t> buffer_;
  bool dragging_ = false;
  QPoint last_mouse_;
  int last_read_width_ = 0, last_read_height_ = 0;
};

// The collimation window; OK stores the measurements through the session, Cancel leaves the
// point unchanged.
class CollimationWindow : public QDialog {
 public:
  CollimationWindow(points::CollimationSession& session, QWidget* parent);

  CollimationCanvas* Canvas() const { return canvas_; }
  points::CollimationViewport& View() { return view_; }
  // Shows the session's current image centred on the marker at the current zoom.
  void ShowCurrentImage();
  void Refresh();

  void accept() override;
  void reject() override;

 private:
  points::CollimationSession& session_;
  points::CollimationViewport view_;
  CollimationCanvas* canvas_;
  QLabel* image_line_;
  QLabel* marker_line_;
  int shown_image_ = -1;
};

// Runs the collimation of one point in a modal window; true when it ended with OK.
bool RunCollimationWindow(QWidget* parent, points::CollimationSession& session);

}  // namespace vantri::ui
