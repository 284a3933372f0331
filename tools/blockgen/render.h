#pragma once
// Rendering of one image by casting each pixel's ray onto the terrain and sampling the ground
// texture there. Every pixel is a pure function of the survey and its position, so the result
// does not depend on the number of threads or their scheduling.
#include <cstdint>
#include <vector>

#include "survey.h"

namespace blockgen {

// 8-bit image, row-major, row 0 at the top, channels interleaved (1: grey, 3: r g b).
struct Image8 {
  int width = 0;
  int height = 0;
  int channels = 1;
  std::vector<uint8_t> pixels;
  uint8_t at(int col, int row, int channel = 0) const {
    return pixels[(static_cast<size_t>(row) * width + col) * channels + channel];
  }
  // Bilinear value of one channel at a position in the top-left-corner pixel convention.
  double sample(double col, double row, int channel = 0) const;
};

// Grey value of the ground seen through one pixel position, before quantisation and without
// sensor grain: gain * texture + offset. Empty rays (above the horizon) give 0.
// Ground point seen through a pixel position (ray cast onto the terrain); empty above the
// horizon. guess_height: ground height near the pixel, where the ray search starts.
std::optional<Eigen::Vector3d> ground_seen(const Survey& survey, size_t image, Pixel position,
                                           double guess_height);

// guess_height: ground height near the pixel, where the ray search starts (optional).
double radiance(const Survey& survey, size_t image, Pixel position, double* guess_height = nullptr);

// Grey image, or RGB when the survey's options ask for colour.
Image8 render_image(const Survey& survey, size_t image, int threads);

}  // namespace blockgen
