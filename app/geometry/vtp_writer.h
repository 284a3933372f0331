// Point clouds as VTK binary XML poly data (.vtp).
#pragma once

#include <Eigen/Core>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

class vtkPolyData;

// Writes the poly data as binary XML (.vtp), adding the field-data array "LocalOrigin" (three
// doubles): world coordinates = point + local origin. The poly data's points should be stored as
// doubles (vtkPoints::SetDataTypeToDouble). Through a temporary file and a rename; non-zero on
// success.
int WriteVtpPolyData(vtkPolyData* poly_data, const std::string& path,
                     const Eigen::Vector3d& local_origin);
// Builds vertices from points (already reduced by the local origin) with double coordinates and,
// when `rgb` is given (one colour per point), the unsigned-char three-component array "RGB".
int WriteVtpPolyData(const std::vector<Eigen::Vector3d>& points, const std::string& path,
                     const Eigen::Vector3d& local_origin,
                     const std::vector<std::array<std::uint8_t, 3>>* rgb = nullptr);
