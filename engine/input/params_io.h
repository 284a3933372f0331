#ifndef BRAVIK_INPUT_PARAMS_IO_H
#define BRAVIK_INPUT_PARAMS_IO_H

#include <iosfwd>

#include "lsq/ls_params.h"
#include "models/block.h"

namespace bravik {

// Largest number of AP-grid points per axis that the run options accept.
inline constexpr int kMaxApGridPoints = 100;

// Keyword of the optional entry after the 18 run-option fields:
//   quality-analysis <switch> [limit for normalised residuals]
inline constexpr const char* kQualityAnalysisKeyword = "quality-analysis";

// Reads the 18 run-option fields; tests the stream after each group and prints the
// group's message to the diagnostics sink on failure. Grid counts above kMaxApGridPoints are
// refused. Then the optional quality-analysis entry: a file that ends after field 18 (every file
// written before the entry existed) leaves the analysis off; any other trailing word is ignored
// as before, with an "ATTENTION: " line. 1 or -1; fields read stay set.
int readRunOptions(RunOptions& options, std::istream& in);

// Reads the least-squares settings field by field into `settings` with validation;
// 1 or -1 after a message on the diagnostics sink. Fields read before a failure stay set in
// `settings`, so callers parse into a copy and keep it only on success.
int readLSParams(LSParams& settings, std::istream& in);

// The "Parameters/Options" and "Least-squares parameters/options" report sections.
void printRunOptions(const RunOptions& options, std::ostream& out);
void printLSParams(const LSParams& settings, std::ostream& out);

}  // namespace bravik

#endif  // BRAVIK_INPUT_PARAMS_IO_H
