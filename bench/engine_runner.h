#pragma once
// Runs the engine through its exported entry point on files written by writeEngineInput and
// reads its adjusted object points back from the result file (.ocs).
#include <string>
#include <vector>

#include "block_generator.h"

namespace bench {

struct EngineRun {
  bool ok = false;
  double wall_seconds = 0.0;
  std::string failure;  // first "ERROR: " line of the engine's output when !ok
};

// Calls BravikScan on `main_file`; the engine's standard output goes to `log_file`.
// Changes the current directory (the engine does): run it in a child process.
EngineRun runEngine(const std::string& main_file, const std::string& log_file);

// Adjusted coordinates by point index, read from an object-point result file written for a
// block of `point_count` points named by pointId(). Missing points are NaN.
std::vector<Point3> readEnginePoints(const std::string& ocs_file, int point_count);

}  // namespace bench
