#include "geometry/vtp_writer.h"

#include <vtkCellArray.h>
#include <vtkDoubleArray.h>
#include <vtkFieldData.h>
#include <vtkNew.h>
#include <vtkPointData.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>
#include <vtkSmartPointer.h>
#include <vtkUnsignedCharArray.h>
#include <vtkXMLPolyDataWriter.h>

#include "system/files.h"

int WriteVtpPolyData(vtkPolyData* poly_data, const std::string& path,
                     const Eigen::Vector3d& local_origin) {
  if (poly_data == nullptr || path.empty()) return 0;
  vtkNew<vtkPolyData> copy;
  copy->ShallowCopy(poly_data);
  vtkSmartPointer<vtkFieldData> fields = vtkSmartPointer<vtkFieldData>::New();
  if (poly_data->GetFieldData() != nullptr) fields->DeepCopy(poly_data->GetFieldData());
  vtkNew<vtkDoubleArray> origin;
  origin->SetName("LocalOrigin");
  origin->SetNumberOfComponents(3);
  origin->InsertNextTuple3(local_origin.x(), local_origin.y(), local_origin.z());
  fields->RemoveArray("LocalOrigin");
  fields->AddArray(origin);
  copy->SetFieldData(fields);

  const bool written =
      vantri::system::WriteFileAtomicallyWith(path, [&](const std::string& temporary) {
        vtkNew<vtkXMLPolyDataWriter> writer;
        writer->SetFileName(temporary.c_str());
        writer->SetInputData(copy);
        writer->SetDataModeToBinary();
        return writer->Write() == 1;
      });
  return written ? 1 : 0;
}

int WriteVtpPolyData(const std::vector<Eigen::Vector3d>& points, const std::string& path,
                     const Eigen::Vector3d& local_origin,
                     const std::vector<std::array<std::uint8_t, 3>>* rgb) {
  if (rgb != nullptr && rgb->size() != points.size()) return 0;
  vtkNew<vtkPoints> vtk_points;
  vtk_points->SetDataTypeToDouble();
  vtkNew<vtkCellArray> vertices;
  for (const Eigen::Vector3d& point : points) {
    const vtkIdType id = vtk_points->InsertNextPoint(point.x(), point.y(), point.z());
    vertices->InsertNextCell(1, &id);
  }
  vtkNew<vtkPolyData> poly_data;
  poly_data->SetPoints(vtk_points);
  poly_data->SetVerts(vertices);
  if (rgb != nullptr) {
    vtkNew<vtkUnsignedCharArray> colours;
    colours->SetName("RGB");
    colours->SetNumberOfComponents(3);
    for (const auto& colour : *rgb) colours->InsertNextTuple3(colour[0], colour[1], colour[2]);
    poly_data->GetPointData()->AddArray(colours);
    poly_data->GetPointData()->SetScalars(colours);
  }
  return WriteVtpPolyData(poly_data, path, local_origin);
}
