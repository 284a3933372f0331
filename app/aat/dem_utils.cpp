#include "dem_utils.h"

#include <gdal_priv.h>
#include <ogr_spatialref.h>

#include <cmath>
#include <opencv2/imgproc.hpp>

#include "project/project.h"
#include "system/nvtools.h"
#include "ui_interface/ui.h"

namespace vantri::aat {

bool IsValidElevationRaster(GDALDataset* dataset) {
  if (dataset == nullptr || dataset->GetRasterCount() != 1) return false;
  double transform[6];
  if (dataset->GetGeoTransform(transform) != CE_None) return false;
  const GDALDataType type = dataset->GetRasterBand(1)->GetRasterDataType();
  return type == GDT_UInt16 || type == GDT_Int16 || type == GDT_Float32;
}

bool IsValidExternalDem(GDALDataset* dataset) {
  if (dataset == nullptr || dataset->GetRasterCount() != 1) return false;
  double transform[6];
  if (dataset->GetGeoTransform(transform) != CE_None) return false;
  const GDALDataType type = dataset->GetRasterBand(1)->GetRasterDataType();
  return type == GDT_Float32 || type == GDT_Int16;
}

int SetExternalDem(CVantriProject& project, const std::string& path, UserInterface& ui) {
  GDALDatasetUniquePtr dataset(GDALDataset::Open(path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY,
                                                 nullptr, nullptr, nullptr));
  if (!dataset) {
    ui.ShowMessage("Unable to open selected file!", MessageIcon::kExclamation);
    return 0;
  }
  if (!IsValidExternalDem(dataset.get())) {
    ui.ShowMessage("Invalid DEM file!", MessageIcon::kExclamation);
    return 0;
  }
  project.use_external_dem = 1;
  project.external_dem_path = path;
  return 1;
}

int UseExternalDemCommand(CVantriProject& project, UserInterface& ui) {
  if (project.use_external_dem) {
    project.use_external_dem = 0;
    return 1;
  }
  std::string path;
  if (!ui.PickOpenFile("Use External DEM", {{"DEM File", "*.gtif;*.tif"}}, NVT_GetLastBrowsedPath(),
                       "gtif", &path))
    return 0;
  return SetExternalDem(project, path, ui);
}

CDemUtils::CDemUtils(GDALDataset* dataset, OGRCoordinateTransformation* project_to_raster)
    : dataset_(dataset), project_to_raster_(project_to_raster) {
  if (dataset_ == nullptr || dataset_->GetRasterCount() < 1) return;
  band_ = dataset_->GetRasterBand(1);
  data_type_ = band_->GetRasterDataType();
  int has_no_data = 0;
  const double no_data = band_->GetNoDataValue(&has_no_data);
  has_no_data_ = has_no_data != 0;
  if (has_no_data_) no_data_ = no_data;
  width_ = dataset_->GetRasterXSize();
  height_ = dataset_->GetRasterYSize();
  if (dataset_->GetGeoTransform(geo_transform_.data()) != CE_None) geo_transform_.fill(0.0);
}

bool CDemUtils::IsNoData(float value) const {
  if (std::isnan(value)) return true;
  if (!has_no_data_) return false;
  if (std::isnan(no_data_)) return false;
  return value == static_cast<float>(no_data_);
}

// The 16-bit types are read as float by GDAL; every 16-bit value is exact in a float.
bool CDemUtils::ReadWindow(int corner_col, int corner_row, float* cells) const {
  return band_->RasterIO(GF_Read, corner_col, corner_row, kWindow, kWindow, cells, kWindow, kWindow,
                         GDT_Float32, 0, 0) == CE_None;
}

double CDemUtils::HeightAt(double x, double y) const {
  if (band_ == nullptr) return kNoHeight;
  if (project_to_raster_ != nullptr && !project_to_raster_->Transform(1, &x, &y)) return kNoHeight;
  const double pixel_width = geo_transform_[1], pixel_height = geo_transform_[5];
  if (pixel_width == 0.0 || pixel_height == 0.0) return kNoHeight;
  const double c = (x - geo_transform_[0]) / pixel_width;
  const double r = (y - geo_transform_[3]) / pixel_height;
  if (!(c >= kWindow && r >= kWindow && c <= width_ - kWindow && r <= height_ - kWindow))
    return kNoHeight;

  // Cell-centre coordinates: (u, v) = (0, 0) at the centre of the top-left cell.
  const double u = c - 0.5, v = r - 0.5;
  const int iu = static_cast<int>(std::floor(u)), iv = static_cast<int>(std::floor(v));
  cv::Mat window(kWindow, kWindow, CV_32F);
  if (!ReadWindow(iu - kWindow / 2, iv - kWindow / 2, window.ptr<float>())) return kNoHeight;
  for (int i = 0; i < kWindow * kWindow; ++i)
    if (IsNoData(window.ptr<float>()[i])) return kNoHeight;

  // getRectSubPix takes pixel centres at integer coordinates, as (u, v) does.
  cv::Mat sample;
  const cv::Point2f centre(static_cast<float>(u - iu + kWindow / 2),
                           static_cast<float>(v - iv + kWindow / 2));
  cv::getRectSubPix(window, cv::Size(1, 1), centre, sample, CV_32F);
  return sample.at<float>(0, 0);
}

bool CDemUtils::PointHeight(Eigen::Vector3d* point) const {
  const double h = HeightAt(point->x(), point->y());
  if (h == kNoHeight) return false;
  point->z() = h;
  return true;
}

bool IntersectTerrain(const Eigen::Vector3d& origin, const Eigen::Vector3d& direction,
                      double start_height, const CDemUtils& dem, Eigen::Vector3d* ground,
                      int* rounds) {
  constexpr int kMaxRounds = 50;
  constexpr double kTolerance = 0.001;
  double h = start_height != kNoHeight ? start_height : dem.HeightAt(origin.x(), origin.y());
  if (h == kNoHeight) return false;
  for (int round = 1; round <= kMaxRounds; ++round) {
    if (direction.z() == 0.0) return false;
    const double t = (h - origin.z()) / direction.z();
    if (!(t > 0.0)) return false;
    const Eigen::Vector3d on_plane = origin + t * direction;
    const double sampled = dem.HeightAt(on_plane.x(), on_plane.y());
    if (sampled == kNoHeight) return false;
    if (std::abs(sampled - h) < kTolerance) {
      *ground = on_plane;
      if (rounds) *rounds = round;
      return true;
    }
    h = sampled;
  }
  return false;
}

}  // namespace vantri::aat
