#include "raster_outputs.h"

#include <gdal_priv.h>
#include <ogr_spatialref.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <stdexcept>

#include "file_io.h"

namespace blockgen {
namespace {

struct DatasetCloser {
  void operator()(GDALDataset* d) const { GDALClose(d); }
};
using Dataset = std::unique_ptr<GDALDataset, DatasetCloser>;

OGRSpatialReference reference_system(int epsg) {
  OGRSpatialReference srs;
  if (srs.importFromEPSG(epsg) != OGRERR_NONE)
    throw std::runtime_error("unknown coordinate system EPSG:" + std::to_string(epsg));
  srs.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
  return srs;
}

Dataset create_tiff(const std::string& path, int cols, int rows, GDALDataType type, int bands = 1) {
  GDALAllRegister();
  CPLSetConfigOption("GDAL_PAM_ENABLED", "NO");  // no .aux.xml side files
  GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("GTiff");
  if (!driver) throw std::runtime_error("GDAL has no GTiff driver");
  char* options[] = {const_cast<char*>("PHOTOMETRIC=RGB"), nullptr};
  Dataset d(driver->Create(path.c_str(), cols, rows, bands, type, bands == 3 ? options : nullptr));
  if (!d) throw std::runtime_error("cannot create " + path);
  return d;
}

void set_georeference(GDALDataset& d, const OGRSpatialReference& srs, const double transform[6]) {
  double t[6];
  std::copy(transform, transform + 6, t);
  d.SetGeoTransform(t);
  d.SetSpatialRef(&srs);
}

void write_band(GDALDataset& d, GDALDataType type, void* data, const std::string& path) {
  if (d.GetRasterBand(1)->RasterIO(GF_Write, 0, 0, d.GetRasterXSize(), d.GetRasterYSize(), data,
                                   d.GetRasterXSize(), d.GetRasterYSize(), type, 0, 0) != CE_None)
    throw std::runtime_error("cannot write " + path);
}

// Finishes a dataset written to a temporary path and renames it into place.
void close_and_commit(Dataset d, const std::string& temporary, const std::string& path) {
  CPLErrorReset();
  GDALClose(d.release());  // flushes and closes; failures are reported through CPLGetLastErrorType
  if (CPLGetLastErrorType() == CE_Failure) throw std::runtime_error("cannot write " + path);
  commit_file(temporary, path);
}

std::string tile_name(double south, double west) {
  const int lat = static_cast<int>(std::floor(south));
  const int lon = static_cast<int>(std::floor(west));
  char text[32];
  std::snprintf(text, sizeof text, "%c%02d%c%03d.tif", lat < 0 ? 'S' : 'N', std::abs(lat),
                lon < 0 ? 'W' : 'E', std::abs(lon));
  return text;
}

// Geographic bounds (lon/lat degrees) of a projected box, from points along its edges.
void geographic_bounds(const GroundBox& box, OGRCoordinateTransformation& to_geographic,
                       double* west, double* south, double* east, double* north) {
  std::vector<double> x, y;
  const int n = 16;
  for (int i = 0; i <= n; ++i) {
    const double f = double(i) / n;
    const double e = box.min_east + f * box.width(), nn = box.min_north + f * box.depth();
    x.insert(x.end(), {e, e, box.min_east, box.max_east});
    y.insert(y.end(), {box.min_north, box.max_north, nn, nn});
  }
  if (!to_geographic.Transform(static_cast<int>(x.size()), x.data(), y.data()))
    throw std::runtime_error("cannot transform the block to geographic coordinates");
  *west = *std::min_element(x.begin(), x.end());
  *east = *std::max_element(x.begin(), x.end());
  *south = *std::min_element(y.begin(), y.end());
  *north = *std::max_element(y.begin(), y.end());
}

}  // namespace

std::string projected_system_problem(int epsg) {
  OGRSpatialReference srs;
  if (srs.importFromEPSG(epsg) != OGRERR_NONE)
    return "--epsg " + std::to_string(epsg) + " is not a known EPSG coordinate system";
  if (!srs.IsProjected())
    return "--epsg " + std::to_string(epsg) + " is not a projected coordinate system";
  if (std::abs(srs.GetLinearUnits() - 1.0) > 1e-12)
    return "--epsg " + std::to_string(epsg) + " does not use metres";
  return "";
}

void write_dem(const Terrain& terrain, int epsg, const std::string& path) {
  const std::string temporary = temporary_path(path);
  Dataset d = create_tiff(temporary, terrain.cols(), terrain.rows(), GDT_Float32);
  const double transform[6] = {terrain.west(), terrain.cell(), 0, terrain.north(), 0,
                               -terrain.cell()};
  set_georeference(*d, reference_system(epsg), transform);
  std::vector<float> heights = terrain.heights();
  write_band(*d, GDT_Float32, heights.data(), path);
  close_and_commit(std::move(d), temporary, path);
}

SrtmTile write_srtm_tile(const Terrain& terrain, int epsg, const GroundBox& cover,
                         const std::string& folder) {
  const OGRSpatialReference projected = reference_system(epsg);
  const OGRSpatialReference geographic = reference_system(4326);
  std::unique_ptr<OGRCoordinateTransformation> to_geographic(
      OGRCreateCoordinateTransformation(&projected, &geographic));
  std::unique_ptr<OGRCoordinateTransformation> to_projected(
      OGRCreateCoordinateTransformation(&geographic, &projected));
  if (!to_geographic || !to_projected)
    throw std::runtime_error("cannot transform between EPSG:" + std::to_string(epsg) +
                             " and EPSG:4326");
  double west, south, east, north;
  geographic_bounds(cover, *to_geographic, &west, &south, &east, &north);
  SrtmTile tile;
  tile.west = std::floor(west * 3600.0) / 3600.0;
  tile.north = std::ceil(north * 3600.0) / 3600.0;
  tile.cols = static_cast<int>(std::ceil((east - tile.west) * 3600.0));
  tile.rows = static_cast<int>(std::ceil((tile.north - south) * 3600.0));
  tile.file_name = tile_name(tile.north - tile.rows * tile.cell_deg, tile.west);

  std::vector<int16_t> cells(static_cast<size_t>(tile.cols) * tile.rows);
  std::vector<double> x(tile.cols), y(tile.cols);
  for (int r = 0; r < tile.rows; ++r) {
    for (int c = 0; c < tile.cols; ++c) {
      x[c] = tile.west + (c + 0.5) * tile.cell_deg;
      y[c] = tile.north - (r + 0.5) * tile.cell_deg;
    }
    if (!to_projected->Transform(tile.cols, x.data(), y.data()))
      throw std::runtime_error("cannot transform the SRTM grid to EPSG:" + std::to_string(epsg));
    for (int c = 0; c < tile.cols; ++c)
      cells[static_cast<size_t>(r) * tile.cols + c] =
          static_cast<int16_t>(std::lround(terrain.height(x[c], y[c])));
  }
  // Voids as in real SRTM tiles, at the corners, away from the block.
  const int voids[][2] = {{1, 1}, {2, 1}, {1, 2}, {tile.cols - 2, tile.rows - 2}};
  for (const auto& v : voids)
    if (v[0] >= 0 && v[1] >= 0 && v[0] < tile.cols && v[1] < tile.rows)
      cells[static_cast<size_t>(v[1]) * tile.cols + v[0]] = kSrtmNoData;

  const std::string path = folder + "/" + tile.file_name;
  const std::string temporary = temporary_path(path);
  Dataset d = create_tiff(temporary, tile.cols, tile.rows, GDT_Int16);
  const double transform[6] = {tile.west, tile.cell_deg, 0, tile.north, 0, -tile.cell_deg};
  set_georeference(*d, geographic, transform);
  d->GetRasterBand(1)->SetNoDataValue(kSrtmNoData);
  write_band(*d, GDT_Int16, cells.data(), path);
  close_and_commit(std::move(d), temporary, path);
  return tile;
}

std::string image_extension(ImageFormat format) {
  return format == ImageFormat::kJpeg ? ".jpg" : ".tif";
}

void write_image(const Image8& image, ImageFormat format, const std::string& path) {
  if (format == ImageFormat::kJpeg) {
    cv::Mat mat(image.height, image.width, image.channels == 3 ? CV_8UC3 : CV_8UC1,
                const_cast<uint8_t*>(image.pixels.data()));
    cv::Mat bgr;
    if (image.channels == 3) cv::cvtColor(mat, bgr, cv::COLOR_RGB2BGR);
    std::vector<uchar> bytes;
    if (!cv::imencode(".jpg", image.channels == 3 ? bgr : mat, bytes,
                      {cv::IMWRITE_JPEG_QUALITY, 95}))
      throw std::runtime_error("cannot encode " + path);
    write_file_atomically(path, std::string(bytes.begin(), bytes.end()));
    return;
  }
  const std::string temporary = temporary_path(path);
  Dataset d = create_tiff(temporary, image.width, image.height, GDT_Byte, image.channels);
  std::vector<uint8_t> pixels = image.pixels;
  const int n = image.channels;
  if (d->RasterIO(GF_Write, 0, 0, image.width, image.height, pixels.data(), image.width,
                  image.height, GDT_Byte, n, nullptr, n, static_cast<GSpacing>(n) * image.width, 1,
                  nullptr) != CE_None)
    throw std::runtime_error("cannot write " + path);
  if (n == 3) {
    d->GetRasterBand(1)->SetColorInterpretation(GCI_RedBand);
    d->GetRasterBand(2)->SetColorInterpretation(GCI_GreenBand);
    d->GetRasterBand(3)->SetColorInterpretation(GCI_BlueBand);
  }
  close_and_commit(std::move(d), temporary, path);
}

}  // namespace blockgen
