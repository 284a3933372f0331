#pragma once
// Runs the engine's adjustment in this process (through bravik_core) on files written by
// writeEngineInput, timing the iterations apart from reading, approximations and results, and
// reads its adjusted object points back from the result file (.ocs).
#include <string>
#include <vector>

#include "block_generator.h"
#include "engine_input.h"

namespace bench {

struct EngineRun {
  bool ok = false;
  int iterations = 0;
  double iteration_seconds = 0.0;  // wall time of all iterations
  double analysis_seconds = 0.0;   // wall time of the quality analysis (when asked for)
  std::string failure;             // first "ERROR" line of the engine's output when !ok
  // The sparse interface's way of factoring the reduced system ("envelope" or "supernodal", empty
  // for the others) and the entries its factor stored.
  std::string reduced_factor;
  double reduced_factor_entries = 0.0;
  std::vector<Point3> points;      // adjusted, by index of pointId(); NaN where missing
};

// Reads `main_file` (whose settings select the adjustment interface, see writeEngineSettings),
// initialises, iterates and writes the result files next to the input. The engine's standard output
// goes to `log_file`. The adjusted points are taken from the engine's block at full precision (the
// result file holds millimetres). Changes the current directory and the process-wide settings: run
// it in a child process.
// With `quality` the quality analysis runs after the iterations (its report sections and the sdv
// and rel files are written too) and is timed apart.
EngineRun runEngine(const std::string& main_file, const std::string& log_file, int point_count,
                    bool quality = false);

}  // namespace bench
