#ifndef BRAVIK_INPUT_PARAMS_IO_H
#define BRAVIK_INPUT_PARAMS_IO_H

#include <iosfwd>

#include "lsq/ls_params.h"
#include "models/block.h"

namespace bravik {

// Largest number of AP-grid points per axis that the run options accept.
inline constexpr int kMaxApGridPoints = 100;

// Reads the 18 run-option fields; tests the stream after each group and prints the
// group's message to the diagnostics sink on failure. Grid counts above kMaxApGridPoints are
// refused. 1 or -1; fields read stay set.
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
