#ifndef BRAVIK_INPUT_RUN_H
#define BRAVIK_INPUT_RUN_H

#include <fstream>
#include <string>

#include "input/block.h"

namespace bravik {

// The output files of one run, named by the input file's base name, in the input
// file's folder (the current directory while the run is under way).
struct RunFiles {
  std::string baseName;
  std::ofstream report;  // .out
  std::ofstream ext;
  std::ofstream ocs;
  std::ofstream res;
  std::ofstream apset;
  std::ofstream gcpres;
  std::ofstream chp;

  // Name of the file with this extension ("out", "cam", ...).
  std::string name(const char* extension) const { return baseName + "." + extension; }
};

// Runs one adjustment described by the main input file at `inputPath`; writes the
// camera file only when `writeCameraFile` is true. Returns 1 when the run finished and
// every result file was written, 0 otherwise. Changes the current directory to the
// input file's folder while it runs and restores the caller's directory before return.
int runBravik(const std::string& inputPath, bool writeCameraFile);

// Steps after the echo of the parameters: initialisation, iteration and the results.
// 1 on success, -1 on failure. Not available yet: prints an "ERROR: " line to standard
// output and the report and fails.
int adjustBlock(Block& block, RunFiles& files, bool writeCameraFile);

}  // namespace bravik

#endif  // BRAVIK_INPUT_RUN_H
