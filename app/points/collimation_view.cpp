#include "points/collimation_view.h"

#include <algorithm>
#include <cmath>

namespace vantri::points {

void CollimationViewport::SetScreenSize(int width, int height) {
  screen_width_ = std::max(width, 1);
  screen_height_ = std::max(height, 1);
}

void CollimationViewport::SetZoom(double zoom) {
  if (!std::isfinite(zoom) || zoom <= 0.0) return;
  zoom_ = std::clamp(zoom, kMinZoom, kMaxZoom);
}

double CollimationViewport::FitZoom(int raster_width, int raster_height) const {
  if (raster_width <= 0 || raster_height <= 0) return 1.0;
  const double fit = std::min(static_cast<double>(screen_width_) / raster_width,
                              static_cast<double>(screen_height_) / raster_height);
  return std::clamp(fit, kMinZoom, 1.0);
}

void CollimationViewport::Pan(double dx, double dy) { centre_ -= Eigen::Vector2d(dx, dy) / zoom_; }

Eigen::Vector2d CollimationViewport::ScreenToImage(const Eigen::Vector2d& screen) const {
  const Eigen::Vector2d middle(screen_width_ / 2.0, screen_height_ / 2.0);
  return centre_ + (screen - middle) / zoom_;
}

Eigen::Vector2d CollimationViewport::ImageToScreen(const Eigen::Vector2d& pixel) const {
  const Eigen::Vector2d middle(screen_width_ / 2.0, screen_height_ / 2.0);
  return middle + (pixel - centre_) * zoom_;
}

ViewRegion CollimationViewport::VisibleRegion(int raster_width, int raster_height) const {
  ViewRegion region;
  const Eigen::Vector2d top_left = ScreenToImage({0.0, 0.0});
  const Eigen::Vector2d bottom_right =
      ScreenToImage({static_cast<double>(screen_width_), static_cast<double>(screen_height_)});
  const int col0 = std::max(0, static_cast<int>(std::floor(top_left.x())));
  const int row0 = std::max(0, static_cast<int>(std::floor(top_left.y())));
  const int col1 = std::min(raster_width, static_cast<int>(std::ceil(bottom_right.x())));
  const int row1 = std::min(raster_height, static_cast<int>(std::ceil(bottom_right.y())));
  if (col1 <= col0 || row1 <= row0) return region;
  region.col = col0;
  region.row = row0;
  region.width = col1 - col0;
  region.height = row1 - row0;
  const Eigen::Vector2d screen_origin = ImageToScreen({col0, row0});
  region.screen_x = screen_origin.x();
  region.screen_y = screen_origin.y();
  region.screen_width = region.width * zoom_;
  region.screen_height = region.height * zoom_;
  if (zoom_ >= 1.0) {
    region.buffer_width = region.width;
    region.buffer_height = region.height;
  } else {
    region.buffer_width = std::max(1, static_cast<int>(std::lround(region.screen_width)));
    region.buffer_height = std::max(1, static_cast<int>(std::lround(region.screen_height)));
  }
  return region;
}

}  // namespace vantri::points
