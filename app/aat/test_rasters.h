#pragma once

// Small GeoTIFF rasters written by the tests of this folder.

#include <gdal_priv.h>
#include <stdlib.h>

#include <array>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace vantri::aat::testing_support {

struct RasterSpec {
  int width = 40;
  int height = 30;
  GDALDataType type = GDT_Float32;
  int bands = 1;
  // Origin X, pixel width, 0, origin Y, 0, pixel height (negative: north up).
  std::optional<std::array<double, 6>> geo_transform = std::array<double, 6>{0, 1, 0, 0, 0, -1};
  std::optional<double> no_data;
  std::string wkt;  // empty: none
};

// Writes a GeoTIFF whose cell (col, row) holds value(col, row); true on success.
inline bool writeRaster(const std::string& path, const RasterSpec& spec,
                        const std::function<double(int col, int row)>& value) {
  GDALAllRegister();
  GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("GTiff");
  if (driver == nullptr) return false;
  GDALDatasetUniquePtr dataset(
      driver->Create(path.c_str(), spec.width, spec.height, spec.bands, spec.type, nullptr));
  if (!dataset) return false;
  if (spec.geo_transform) {
    std::array<double, 6> gt = *spec.geo_transform;
    dataset->SetGeoTransform(gt.data());
  }
  if (!spec.wkt.empty()) dataset->SetProjection(spec.wkt.c_str());
  std::vector<double> cells(static_cast<std::size_t>(spec.width) * spec.height);
  for (int r = 0; r < spec.height; ++r)
    for (int c = 0; c < spec.width; ++c)
      cells[static_cast<std::size_t>(r) * spec.width + c] = value(c, r);
  for (int b = 1; b <= spec.bands; ++b) {
    GDALRasterBand* band = dataset->GetRasterBand(b);
    if (spec.no_data) band->SetNoDataValue(*spec.no_data);
    if (band->RasterIO(GF_Write, 0, 0, spec.width, spec.height, cells.data(), spec.width,
                       spec.height, GDT_Float64, 0, 0) != CE_None)
      return false;
  }
  return true;
}

// A fresh folder below the test temporary folder, removed by the destructor.
class TempFolder {
 public:
  TempFolder() {
    std::string pattern = std::filesystem::temp_directory_path().string() + "/vantri_aat_XXXXXX";
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~TempFolder() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

}  // namespace vantri::aat::testing_support
