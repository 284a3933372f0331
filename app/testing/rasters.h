// Small GeoTIFF rasters written by the tests.
#pragma once

#include <gdal.h>

#include <array>
#include <functional>
#include <optional>
#include <string>

namespace vantri::test_support {

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

// Writes a GeoTIFF whose cell (col, row) holds value(col, row) in every band; true on success.
bool WriteRaster(const std::string& path, const RasterSpec& spec,
                 const std::function<double(int col, int row)>& value);

}  // namespace vantri::test_support
