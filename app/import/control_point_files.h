#pragma once

// Imported control-point records into a point-collection file (GCP.col or CP.col) of the project
// folder, as the control-point manager takes them after the import window's OK.

#include <string>
#include <vector>

#include "import/point_import.h"

namespace vantri::import {

// Every record whose name (without regard to case) is not in the map yet becomes a new point
// with the next identifier (largest identifier + 1, the largest taken as at least 100000), its
// name, X, Y, Z and, when positive, its variances (anything else leaves them undefined); names
// already present are skipped. Returns the number of points added.
int AddImportedPoints(const std::vector<SFIO_ControlPoint>& records, CGCPCollMap* points);

// The same on a point-collection file: a missing file starts empty, and the file is written only
// when a point was added. Returns 1 on success (also when nothing was new), 0 when the existing
// file cannot be read or the new one cannot be written; `added` receives the number of new
// points.
int AddImportedPointsToFile(const std::string& collection_path,
                            const std::vector<SFIO_ControlPoint>& records, int* added);

}  // namespace vantri::import
