#pragma once
// The terrain of an AAT run as a triangulated surface, so that every ray-ground
// intersection is one cell-locator query, and the single-cell height lookup
// that samples the DEM for it.

#include <gdal_priv.h>
#include <vtkCellLocator.h>
#include <vtkPolyData.h>
#include <vtkSmartPointer.h>

#include <Eigen/Core>
#include <array>
#include <functional>
#include <vector>

class OGRCoordinateTransformation;

namespace vantri::aat {

// Single-cell lookup of band 1 of a DEM raster (Int16 or Float32 only): the
// cell whose rounded geotransform position holds (X, Y). Not owned: the dataset
// and the transformation must outlive the lookup.
class DemCellLookup {
 public:
  // `project_to_dem` (may be null) converts project X, Y into the raster's
  // system.
  DemCellLookup(GDALDataset *dataset, OGRCoordinateTransformation *project_to_dem);

  bool IsUsable() const { return band_ != nullptr; }
  // The cell value at project (X, Y); false when the transformation fails, the
  // cell lies outside the raster, the band type is neither Int16 nor Float32,
  // or the read fails. The caller compares the value with NoDataValue().
  bool Height(double x, double y, double *height) const;
  double NoDataValue() const { return no_data_; }
  // Extent in the raster's system (minimum X, minimum Y, maximum X, maximum Y).
  std::array<double, 4> Extent() const;

 private:
  GDALRasterBand *band_ = nullptr;
  OGRCoordinateTransformation *project_to_dem_ = nullptr;
  GDALDataType data_type_ = GDT_Unknown;
  double no_data_ = -9999.0;
  int width_ = 0, height_ = 0;
  std::array<double, 6> geo_transform_{};
};

// Heights sampled every `step` units over the box (minimum X, minimum Y,
// maximum X, maximum Y): rows from the minimum Y, columns from the minimum X,
// both up to and including the maximum. Samples without a height or with the
// no-data value are skipped; the others are returned minus the local origin.
// `row_done` is called after each row and returns false to abort; the function
// then returns false.
bool SampleDem(const DemCellLookup &dem, const std::array<double, 4> &box, double step,
               const Eigen::Vector3d &local_origin, const std::function<bool()> &row_done,
               std::vector<Eigen::Vector3d> *samples);

// A 2-D Delaunay triangulation of terrain samples (local coordinates, double
// precision) with a cell locator. Queries are read-only once built, but VTK's
// locator keeps scratch state: callers query from one thread at a time.
class DemTriangulation {
 public:
  // False (and empty) with fewer than 3 samples or when the triangulation has
  // no triangle.
  bool Build(const std::vector<Eigen::Vector3d> &samples);
  void Clear();
  bool IsEmpty() const { return locator_ == nullptr; }
  int TriangleCount() const;

  // First intersection of the segment from -> to with the surface (tolerance
  // 0.001).
  bool IntersectSegment(const Eigen::Vector3d &from, const Eigen::Vector3d &to,
                        Eigen::Vector3d *hit) const;
  // The ray origin + direction * 1,000,000.
  bool IntersectRay(const Eigen::Vector3d &origin, const Eigen::Vector3d &direction,
                    Eigen::Vector3d *hit) const {
    return IntersectSegment(origin, origin + direction * 1.0e6, hit);
  }

 private:
  vtkSmartPointer<vtkPolyData> surface_;
  vtkSmartPointer<vtkCellLocator> locator_;
};

}  // namespace vantri::aat
