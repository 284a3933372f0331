#pragma once

// Imported control-point records into a point-collection file (GCP.col or CP.col) of the project
// folder, as the control-point manager takes them after the import window's OK.

#include <string>
#include <vector>

#include "import/point_import.h"

namespace vantri::import {

// Every record whose name (case-insensitive) is not yet in the file becomes a new point with the
// next identifier (largest identifier + 1, the largest taken as at least 100000), its name,
// X, Y, Z and, when positive, its variances; names already present are skipped. A missing file starts empty. The file is written only when
// a point was added. Returns 1 on success (also when nothing was new), 0 when the existing file
// cannot be read or the new one cannot be written; `added` receives the number of new points.
int addImportedPoints(const std::string& collection_path,
                      const std::vector<SFIO_ControlPoint>& records, int* added);

}  // namespace vantri::import
