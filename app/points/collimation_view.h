#pragma once
// Zoom and pan of the collimation window as plain code: where an image pixel lands on the
// screen, and which region of the raster is read for the window (only what is visible; at full
// resolution from 1:1 up, reduced by the raster library below it).
//
// Image positions are pixels (col, row) from the top-left corner of the raster; screen positions
// are window pixels from the top-left corner of the view, y down. Zoom is screen pixels per
// image pixel.

#include <Eigen/Core>

namespace vantri::points {

// A rectangle of raster pixels read for the view, the size of the buffer it is read into and
// where that buffer is drawn on the screen.
struct ViewRegion {
  int col = 0, row = 0, width = 0, height = 0;
  int buffer_width = 0, buffer_height = 0;
  double screen_x = 0, screen_y = 0, screen_width = 0, screen_height = 0;
  bool IsEmpty() const { return width <= 0 || height <= 0; }
};

class CollimationViewport {
 public:
  static constexpr double kMinZoom = 1.0 / 32.0;
  static constexpr double kMaxZoom = 32.0;

  void SetScreenSize(int width, int height);
  int ScreenWidth() const { return screen_width_; }
  int ScreenHeight() const { return screen_height_; }

  // The image position shown in the middle of the view.
  void CentreOn(const Eigen::Vector2d& pixel) { centre_ = pixel; }
  const Eigen::Vector2d& Centre() const { return centre_; }

  double Zoom() const { return zoom_; }
  // Clamped to kMinZoom .. kMaxZoom.
  void SetZoom(double zoom);
  // By a factor of 2 each, keeping the centre.
  void ZoomIn() { SetZoom(zoom_ * 2.0); }
  void ZoomOut() { SetZoom(zoom_ / 2.0); }
  // The zoom at which a raster fits the view whole (at most 1:1).
  double FitZoom(int raster_width, int raster_height) const;

  // Dragging by (dx, dy) screen pixels moves the image with the mouse.
  void Pan(double dx, double dy);

  Eigen::Vector2d ScreenToImage(const Eigen::Vector2d& screen) const;
  Eigen::Vector2d ImageToScreen(const Eigen::Vector2d& pixel) const;
  // One screen pixel in image pixels: the step of the keypad moves.
  double ImagePixelsPerScreenPixel() const { return 1.0 / zoom_; }

  // The visible part of a raster of the given size, clipped to it (empty when nothing of it is
  // visible). From 1:1 up the buffer has the region's size (full resolution, enlarged when
  // drawn); below it the buffer has the region's screen size.
  ViewRegion VisibleRegion(int raster_width, int raster_height) const;

 private:
  int screen_width_ = 1, screen_height_ = 1;
  Eigen::Vector2d centre_ = Eigen::Vector2d::Zero();
  double zoom_ = 1.0;
};

}  // namespace vantri::points
