#ifndef BRAVIK_INPUT_RUN_H
#define BRAVIK_INPUT_RUN_H

#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "lsq/ls_params.h"
#include "models/block.h"
#include "util/diagnostics.h"

namespace bravik {

// What a run takes from its caller and hands back. `settings` are the least-squares settings
// the run starts with; the run replaces them with those of an "ls-params" file it read
// completely, whatever the run's outcome (a file that fails half-way changes nothing).
// `diagnostics` receives the run's messages (standard output / standard error by default).
struct RunContext {
  LSParams settings;
  Diagnostics diagnostics;
};

// The output files of one run, named by the input file's base name, in the input
// file's folder (the current directory while the run is under way). Each stream writes
// to "<name>.tmp"; finish() closes them and renames each over its final name, so that a
// run that crashes leaves the files of an earlier run intact. The cam file is written by
// the adjustment itself, after the iteration, and only on request.
class RunFiles {
 public:
  explicit RunFiles(std::string baseName) : baseName_(std::move(baseName)) {}
  ~RunFiles();
  RunFiles(const RunFiles&) = delete;
  RunFiles& operator=(const RunFiles&) = delete;

  // Name of the file with this extension ("out", "cam", ...).
  std::string name(const char* extension) const { return baseName_ + "." + extension; }
  // Opens the report; false after "ERROR: Cannot open output file: " and the name.
  bool openReport();
  // Opens the six result files (ext, ocs, res, apset, gcpres, chp), same message.
  bool openResults();
  // Opens the files of the quality analysis (sdv, rel), same message.
  bool openQuality();
  // Closes every open stream and renames it over its final name; false after
  // "ERROR: Cannot write output file: " and the name when one could not be written.
  bool finish();

  std::ofstream report;  // .out
  std::ofstream ext;
  std::ofstream ocs;
  std::ofstream res;
  std::ofstream apset;
  std::ofstream gcpres;
  std::ofstream chp;
  std::ofstream sdv;  // only with the quality analysis
  std::ofstream rel;

 private:
  bool open(std::ofstream& stream, const char* extension);

  std::string baseName_;
  std::vector<std::pair<std::ofstream*, std::string>> opened_;
};

// Runs one adjustment described by the main input file at `inputPath`; writes the
// camera file only when `writeCameraFile` is true. Returns 1 when the run finished and
// every result file was written, 0 otherwise. Changes the current directory to the
// input file's folder while it runs and restores the caller's directory before return;
// its messages go to context.diagnostics. Not re-entrant (see bravik.h).
int runBravik(const std::string& inputPath, bool writeCameraFile, RunContext& context);

// Steps after the echo of the parameters: initialisation, iteration and the results.
// 1 on success, -1 on failure.
int adjustBlock(Block& block, RunFiles& files, bool writeCameraFile);

}  // namespace bravik

#endif  // BRAVIK_INPUT_RUN_H
