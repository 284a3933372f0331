// Regions of GDAL rasters copied into 8-bit OpenCV images.
#pragma once

#include <opencv2/core.hpp>
#include <string>

class GDALDataset;

namespace vantri::photogrammetry {

// Value scaling of GDALExtractROI.
constexpr double kRoiStretchMinMax = -2.0;  // 8-bit data unchanged; other types stretched from the
                                            // band's minimum..maximum to 0..255
constexpr double kRoiClip = -1.0;           // values clipped to 0..255
// A positive value multiplies the values before clipping to 0..255.
// Largest region (pixels of the output size) GDALExtractROI reads in one piece.
constexpr long long kMaxRoiPixels = 1LL << 30;

}  // namespace vantri::photogrammetry

// Copies the pixel rectangle `roi` (col, row, width, height) of the raster into `image`.
// When `image` is empty it is allocated with the rectangle's size; otherwise the rectangle is
// resampled (GDAL average) to the image's size. Channels: one-band rasters give CV_8UC1, rasters
// with three or more bands CV_8UC3 in OpenCV's BGR order from bands 1, 2, 3 (red, green, blue);
// an existing image keeps its channel count (1: band 1, 3: bands 1 to 3). `reserved` is unused.
// 0 when the rectangle is empty or leaves the raster, the output exceeds kMaxRoiPixels, or the
// read fails.
int GDALExtractROI(GDALDataset* dataset, cv::Mat* image, const cv::Rect& roi,
                   double value_scaling = vantri::photogrammetry::kRoiStretchMinMax,
                   void* reserved = nullptr);
// Same, opening the raster read-only from a path.
int GDALExtractROI(const std::string& path, cv::Mat* image, const cv::Rect& roi,
                   double value_scaling = vantri::photogrammetry::kRoiStretchMinMax,
                   void* reserved = nullptr);
