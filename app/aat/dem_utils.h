#pragma once

// Terrain heights from an elevation raster (an SRTM tile or the project's DEM) and the
// intersection of an image ray with the terrain.

#include <Eigen/Core>
#include <array>
#include <string>

class CVantriProject;
class GDALDataset;
class GDALRasterBand;
class OGRCoordinateTransformation;

namespace vantri {
class UserInterface;
}

namespace vantri::aat {

// The height of every failed lookup.
inline constexpr double kNoHeight = -9999.0;

// A raster is a valid elevation model when it has a geotransform and exactly one band of
// UInt16, Int16 or Float32 (Byte rasters, e.g. hill-shades, never are).
bool IsValidElevationRaster(GDALDataset* dataset);

// An external DEM of a project has a geotransform and exactly one band of Float32 or Int16.
bool IsValidExternalDem(GDALDataset* dataset);

// Checks the file as an external DEM and, when valid, switches the project's "Use External DEM"
// on with this path. Failures: "Unable to open selected file!" (GDAL cannot open it) and
// "Invalid DEM file!", both with the exclamation icon; the project is then unchanged. 1 / 0.
int SetExternalDem(CVantriProject& project, const std::string& path, UserInterface& ui);
// The "Use External DEM" command: when the switch is on it goes off; otherwise a file window
// ("DEM File (*.gtif;*.tif)") and SetExternalDem. 1 when the switch changed.
int UseExternalDemCommand(CVantriProject& project, UserInterface& ui);

// Bilinear height sampler over a 5 x 5 window of cells.
//
// The raster's geotransform maps a cell-corner position (c, r) (origin at the top-left corner of
// the top-left cell) to the raster's system; each cell value is the height at the cell's centre
// (c + 0.5, r + 0.5). Heights between centres are interpolated bilinearly, so a planar terrain is
// reproduced exactly.
class CDemUtils {
 public:
  static constexpr int kWindow = 5;

  // `dataset` (not owned, may be null) must outlive this object. `project_to_raster` (not owned,
  // may be null: same system) converts project X, Y into the raster's system before sampling.
  CDemUtils(GDALDataset* dataset, OGRCoordinateTransformation* project_to_raster);

  // Height at project (X, Y), or kNoHeight when there is no dataset, the transformation fails,
  // the point lies closer than 5 cells to the border, or any cell of the 5 x 5 window around it
  // is no-data.
  double HeightAt(double x, double y) const;
  // Fills point.z() from its X, Y; false (Z untouched) when there is no height.
  bool PointHeight(Eigen::Vector3d* point) const;

  bool HasDataset() const { return band_ != nullptr; }
  double NoDataValue() const { return no_data_; }
  int width() const { return width_; }
  int height() const { return height_; }

 private:
  bool ReadWindow(int corner_col, int corner_row, float* cells) const;
  bool IsNoData(float value) const;

  GDALDataset* dataset_ = nullptr;
  GDALRasterBand* band_ = nullptr;
  OGRCoordinateTransformation* project_to_raster_ = nullptr;
  int data_type_ = 0;  // GDALDataType
  double no_data_ = kNoHeight;
  bool has_no_data_ = false;
  int width_ = 0, height_ = 0;
  std::array<double, 6> geo_transform_{};
};

// Intersects the ray origin + t * direction (t > 0, world frame of the project) with the
// terrain. Starts on the plane Z = start_height, or, when that is kNoHeight, on the height under
// the origin. Each round intersects the plane, samples the height at the ground point and stops
// when it differs from the plane's height by less than 0.001; otherwise the next round uses the
// sampled height. Fails after 50 rounds, on a missing height, or when the ray does not reach the
// plane (parallel or pointing away). `rounds` (optional) receives the rounds used.
bool IntersectTerrain(const Eigen::Vector3d& origin, const Eigen::Vector3d& direction,
                      double start_height, const CDemUtils& dem, Eigen::Vector3d* ground,
                      int* rounds = nullptr);

}  // namespace vantri::aat
