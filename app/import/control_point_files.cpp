#include "import/control_point_files.h"

#include <algorithm>
#include <filesystem>

#include "photogrammetry/point_collection.h"

namespace vantri::import {

int AddImportedPoints(const std::vector<SFIO_ControlPoint>& records, CGCPCollMap* points) {
  // New identifiers follow the largest in use, taken as at least 100000.
  int next_id = 100001;
  for (const auto& [name, point] : *points) next_id = std::max(next_id, point.id + 1);
  int added = 0;
  for (const SFIO_ControlPoint& record : records) {
    const std::string name = record.id;
    if (points->count(name) > 0) continue;
    CGCPCollEx point;
    point.id = next_id++;
    point.name = name;
    point.x = record.x;
    point.y = record.y;
    point.z = record.z;
    if (record.var_xy > 0.0) point.xy_var = record.var_xy;
    if (record.var_z > 0.0) point.z_var = record.var_z;
    points->emplace(name, point);
    ++added;
  }
  return added;
}

int AddImportedPointsToFile(const std::string& collection_path,
                            const std::vector<SFIO_ControlPoint>& records, int* added) {
  *added = 0;
  CGCPCollMap points;
  std::error_code error;
  if (std::filesystem::exists(collection_path, error) && !ReadPTCollFile(collection_path, &points))
    return 0;
  *added = AddImportedPoints(records, &points);
  if (*added == 0) return 1;
  return WritePTCollFile(collection_path, points);
}

}  // namespace vantri::import
