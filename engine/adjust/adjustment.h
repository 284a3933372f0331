#ifndef BRAVIK_ADJUST_ADJUSTMENT_H
#define BRAVIK_ADJUST_ADJUSTMENT_H

#include <iosfwd>
#include <string>

#include "adjust/iteration.h"
#include "models/block.h"
#include "report/quality_sections.h"

namespace bravik {

// The streams of one run's report and result files, opened by the run sequence, and the
// path of the camera file, which is created only when it is requested.
struct OutputFiles {
  std::ostream& report;
  std::ostream& ext;
  std::ostream& ocs;
  std::ostream& res;
  std::ostream& apset;
  std::ostream& gcpres;
  std::ostream& chp;
  std::string camPath;
  // With the quality analysis on: the standard deviations of the unknowns (sdv) and the
  // per-observation reliability (rel); null otherwise.
  std::ostream* sdv = nullptr;
  std::ostream* rel = nullptr;
};

// One adjustment of a block that was read completely: initialisation, iteration and the
// result files, in the run's fixed order. The block must outlive the adjustment.
class Adjustment {
 public:
  explicit Adjustment(Block& block) : block_(block) {}

  // Binds image geometries, AP sets and corrections; checks the block, approximates the
  // object points by spatial intersection and cleans up; sets the reference time of the
  // corrections; numbers the unknowns and creates the normal system. Everything is printed
  // into `report` (optional sections by the run options). 1, or -1 after an "ERROR: " line
  // in the report (failed attachment, unknown adjustment interface).
  int initialize(std::ostream& report);

  // Iterates to convergence or to the maximum number of iterations, writes the
  // normal-equation files and prints the A'Pv check. 1, or -1 on a fatal error.
  int iterate(std::ostream& report);

  // Writes the final report sections and result files in the run's order; the cam file
  // (records, then the "Cameras" section) only with `writeCameraFile`. Written through a
  // temporary file and renamed, so an interrupted run never leaves a partial cam file. False
  // after "ERROR: Cannot open output file: " or "ERROR: Cannot write output file: " and the
  // cam file's name when it could not be written (the other sections are written still).
  bool writeResults(const OutputFiles& files, bool writeCameraFile) const;

  // The quality analysis (run option "quality-analysis"): after iterate(), before
  // writeResults(), which then appends its sections to the report and writes the sdv file.
  // The per-observation records go to `reliability` (may be null).
  void analyseQuality(std::ostream* reliability);

  const AdjustmentState& state() const { return state_; }
  const QualityResults& quality() const { return quality_; }

 private:
  int attachObjects(std::ostream& report);

  Block& block_;
  AdjustmentState state_;
  QualityResults quality_;
  bool analysed_ = false;
};

// Initialisation, iteration and results of a block that was read and whose parameters were
// echoed: the part of a run after reading. 1 on success, -1 when the initialisation or the
// iteration failed (the result files then stay as they are) or the cam file was not written.
int runAdjustment(Block& block, const OutputFiles& files, bool writeCameraFile);

}  // namespace bravik

#endif  // BRAVIK_ADJUST_ADJUSTMENT_H
