#pragma once
// GeoTIFF and image files of a block, written through GDAL (GeoTIFF) and OpenCV (JPEG); none
// of them carries a timestamp, so the same input gives the same bytes.
#include <string>

#include "options.h"
#include "render.h"
#include "terrain.h"

namespace blockgen {

// Empty when epsg names a projected system in metres; otherwise the reason it cannot be used.
std::string projected_system_problem(int epsg);

// The DEM: Float32 GeoTIFF in the projected system epsg, one band, cells as in terrain.
void write_dem(const Terrain& terrain, int epsg, const std::string& path);

struct SrtmTile {
  std::string file_name;  // e.g. "N47E009.tif", named after the south-west integer degree
  double west = 0, north = 0, cell_deg = 1.0 / 3600.0;
  int cols = 0, rows = 0;
};

constexpr int kSrtmNoData = -32768;

// SRTM-like tile: EPSG:4326 Int16 GeoTIFF of one arc-second cells covering cover (in the
// projected system epsg) with heights sampled from terrain, no-data value -32768 and a few
// no-data cells at its corners, outside cover. Writes into folder; returns the tile.
SrtmTile write_srtm_tile(const Terrain& terrain, int epsg, const GroundBox& cover,
                         const std::string& folder);

void write_image(const Image8& image, ImageFormat format, const std::string& path);
std::string image_extension(ImageFormat format);

}  // namespace blockgen
