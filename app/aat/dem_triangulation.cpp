#include "aat/dem_triangulation.h"

#include <ogr_spatialref.h>
#include <vtkCellArray.h>
#include <vtkDelaunay2D.h>
#include <vtkNew.h>
#include <vtkPoints.h>

#include <cmath>

namespace vantri::aat {

DemCellLookup::DemCellLookup(GDALDataset *dataset, OGRCoordinateTransformation *project_to_dem)
    : project_to_dem_(project_to_dem) {
  if (dataset == nullptr || dataset->GetRasterCount() < 1) return;
  if (dataset->GetGeoTransform(geo_transform_.data()) != CE_None) return;
  if (geo_transform_[1] == 0.0 || geo_transform_[5] == 0.0) return;
  band_ = dataset->GetRasterBand(1);
  data_type_ = band_->GetRasterDataType();
  int has_no_data = 0;
  const double no_data = band_->GetNoDataValue(&has_no_data);
  if (has_no_data) no_data_ = no_data;
  width_ = dataset->GetRasterXSize();
  height_ = dataset->GetRasterYSize();
}

bool DemCellLookup::Height(double x, double y, double *height) const {
  if (band_ == nullptr) return false;
  if (project_to_dem_ != nullptr && !project_to_dem_->Transform(1, &x, &y)) return false;
  const double column = std::round((x - geo_transform_[0]) / geo_transform_[1]);
  const double row = std::round((y - geo_transform_[3]) / geo_transform_[5]);
  if (!(column >= 0 && column < width_ && row >= 0 && row < height_)) return false;
  const int c = static_cast<int>(column), r = static_cast<int>(row);
  if (data_type_ == GDT_Float32) {
    float value = 0;
    if (band_->RasterIO(GF_Read, c, r, 1, 1, &value, 1, 1, GDT_Float32, 0, 0) != CE_None)
      return false;
    *height = value;
    return true;
  }
  if (data_type_ == GDT_Int16) {
    int16_t value = 0;
    if (band_->RasterIO(GF_Read, c, r, 1, 1, &value, 1, 1, GDT_Int16, 0, 0) != CE_None)
      return false;
    *height = value;
    return true;
  }
  return false;
}

std::array<double, 4> DemCellLookup::Extent() const {
  const double x0 = geo_transform_[0], y0 = geo_transform_[3];
  return {x0, height_ * geo_transform_[5] + y0, width_ * geo_transform_[1] + x0, y0};
}

bool SampleDem(const DemCellLookup &dem, const std::array<double, 4> &box, double step,
               const Eigen::Vector3d &local_origin, const std::function<bool()> &row_done,
               std::vector<Eigen::Vector3d> *samples) {
  samples->clear();
  if (!(step > 0)) return true;
  // Counted steps instead of accumulated sums, so the last row and column are
  // not lost to rounding.
  const long long columns = static_cast<long long>(std::floor((box[2] - box[0]) / step + 1e-9));
  const long long rows = static_cast<long long>(std::floor((box[3] - box[1]) / step + 1e-9));
  for (long long j = 0; j <= rows; ++j) {
    const double y = box[1] + j * step;
    for (long long i = 0; i <= columns; ++i) {
      const double x = box[0] + i * step;
      double height = 0;
      if (!dem.Height(x, y, &height) || height == dem.NoDataValue()) continue;
      samples->push_back(Eigen::Vector3d(x, y, height) - local_origin);
    }
    if (row_done && !row_done()) return false;
  }
  return true;
}

bool DemTriangulation::Build(const std::vector<Eigen::Vector3d> &samples) {
  Clear();
  if (samples.size() < 3) return false;
  vtkNew<vtkPoints> points;
  points->SetDataTypeToDouble();
  for (const Eigen::Vector3d &sample : samples) points->InsertNextPoint(sample.data());
  vtkNew<vtkPolyData> input;
  input->SetPoints(points);
  vtkNew<vtkDelaunay2D> delaunay;
  delaunay->SetInputData(input);
  // The default offset loses triangles at the hull; a large one keeps the whole
  // convex hull.
  delaunay->SetOffset(100.0);
  delaunay->Update();
  vtkPolyData *output = delaunay->GetOutput();
  if (output == nullptr || output->GetNumberOfPolys() == 0) return false;
  surface_ = vtkSmartPointer<vtkPolyData>::New();
  surface_->DeepCopy(output);
  locator_ = vtkSmartPointer<vtkCellLocator>::New();
  locator_->SetDataSet(surface_);
  locator_->BuildLocator();
  return true;
}

void DemTriangulation::Clear() {
  locator_ = nullptr;
  surface_ = nullptr;
}

int DemTriangulation::TriangleCount() const {
  return surface_ == nullptr ? 0 : static_cast<int>(surface_->GetNumberOfPolys());
}

bool DemTriangulation::IntersectSegment(const Eigen::Vector3d &from, const Eigen::Vector3d &to,
                                        Eigen::Vector3d *hit) const {
  if (locator_ == nullptr || !from.allFinite() || !to.allFinite()) return false;
  double p1[3] = {from.x(), from.y(), from.z()};
  double p2[3] = {to.x(), to.y(), to.z()};
  double t = 0, x[3] = {0, 0, 0}, pcoords[3] = {0, 0, 0};
  int sub_id = 0;
  if (locator_->IntersectWithLine(p1, p2, 0.001, t, x, pcoords, sub_id) == 0) return false;
  *hit = {x[0], x[1], x[2]};
  return true;
}

}  // namespace vantri::aat
