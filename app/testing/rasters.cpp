#include "testing/rasters.h"

#include <gdal_priv.h>

#include <vector>

namespace vantri::test_support {

bool WriteRaster(const std::string& path, const RasterSpec& spec,
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

}  // namespace vantri::test_support
