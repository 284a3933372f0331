#include "photogrammetry/raster_roi.h"

#include <gdal_priv.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

struct DatasetCloser {
  void operator()(GDALDataset* dataset) const { GDALClose(dataset); }
};

int OutputChannels(GDALDataset& dataset, const cv::Mat& image) {
  if (!image.empty()) return image.channels() >= 3 ? 3 : 1;
  return dataset.GetRasterCount() >= 3 ? 3 : 1;
}

// The scale and offset that map the band's values to 0..255: value * scale + offset.
void ValueMapping(GDALRasterBand* band, double value_scaling, double* scale, double* offset) {
  *scale = 1.0;
  *offset = 0.0;
  if (value_scaling > 0.0) {
    *scale = value_scaling;
    return;
  }
  if (value_scaling != vantri::photogrammetry::kRoiStretchMinMax ||
      band->GetRasterDataType() == GDT_Byte)
    return;
  double min_max[2] = {0.0, 255.0};
  if (band->ComputeRasterMinMax(TRUE, min_max) != CE_None || !(min_max[1] > min_max[0])) return;
  *scale = 255.0 / (min_max[1] - min_max[0]);
  *offset = -min_max[0] * *scale;
}

bool ReadBand(GDALRasterBand* band, const cv::Rect& roi, cv::Size size, double value_scaling,
              cv::Mat* out) {
  std::vector<float> values(static_cast<std::size_t>(size.area()));
  GDALRasterIOExtraArg extra;
  INIT_RASTERIO_EXTRA_ARG(extra);
  extra.eResampleAlg = GRIORA_Average;
  if (band->RasterIO(GF_Read, roi.x, roi.y, roi.width, roi.height, values.data(), size.width,
                     size.height, GDT_Float32, 0, 0, &extra) != CE_None)
    return false;
  double scale = 1.0, offset = 0.0;
  ValueMapping(band, value_scaling, &scale, &offset);
  cv::Mat floats(size, CV_32FC1, values.data());
  floats.convertTo(*out, CV_8UC1, scale, offset);  // saturating: clips to 0..255
  return true;
}

}  // namespace

int GDALExtractROI(GDALDataset* dataset, cv::Mat* image, const cv::Rect& roi, double value_scaling,
                   void*) {
  if (dataset == nullptr || image == nullptr || dataset->GetRasterCount() < 1) return 0;
  const cv::Rect raster(0, 0, dataset->GetRasterXSize(), dataset->GetRasterYSize());
  if (roi.width <= 0 || roi.height <= 0 || (roi & raster) != roi) return 0;
  const int channels = OutputChannels(*dataset, *image);
  const cv::Size size = image->empty() ? roi.size() : image->size();
  // Sizes come from the raster's header: a region beyond kMaxRoiPixels (or one whose pixel count
  // overflows int) is refused before anything is allocated.
  if (static_cast<long long>(size.width) * size.height > vantri::photogrammetry::kMaxRoiPixels)
    return 0;
  std::vector<cv::Mat> planes(channels);
  for (int c = 0; c < channels; ++c) {
    const int band_index = std::min(c + 1, dataset->GetRasterCount());
    if (!ReadBand(dataset->GetRasterBand(band_index), roi, size, value_scaling, &planes[c]))
      return 0;
  }
  if (channels == 3) {
    std::swap(planes[0], planes[2]);  // RGB bands -> BGR
    cv::merge(planes, *image);
  } else {
    *image = planes[0];
  }
  return 1;
}

int GDALExtractROI(const std::string& path, cv::Mat* image, const cv::Rect& roi,
                   double value_scaling, void* reserved) {
  GDALAllRegister();
  std::unique_ptr<GDALDataset, DatasetCloser> dataset(
      GDALDataset::Open(path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY));
  if (!dataset) return 0;
  return GDALExtractROI(dataset.get(), image, roi, value_scaling, reserved);
}
