#ifndef BRAVIK_ADJUST_QUALITY_ANALYSIS_H
#define BRAVIK_ADJUST_QUALITY_ANALYSIS_H

#include <iosfwd>

#include "adjust/iteration.h"
#include "models/block.h"
#include "report/quality_sections.h"

namespace bravik {

// The quality analysis after the last iteration. The normal equations are set up once more at
// the adjusted values and factored (no update, nothing printed for it); the cofactors Q = N^-1
// come from that factor (all of them for "native", the needed blocks by selected inversion for
// "sparse"). From them:
// - the standard deviation s0 sqrt(q_ii) of every unknown (s0 a posteriori, a priori when the
//   block has no redundancy);
// - the correlations above the output limit within each object, and between AP-set parameters
//   and the other AP sets and the image geometries of their camera;
// - the significance t = |a| / s_a of every adjusted AP-set parameter;
// - data snooping of every image coordinate, observed unknown and constraint: redundancy number,
//   normalised residual with the a-priori sigma 0, minimal detectable blunder; the records go to
//   `reliability` (may be null) as they are computed.
// results.available is false (with the reason) when the matrix cannot be factored or inverted
// again; the run itself is not failed by that.
void analyseQuality(Block& block, AdjustmentState& state, QualityResults& results,
                    std::ostream* reliability);

}  // namespace bravik

#endif  // BRAVIK_ADJUST_QUALITY_ANALYSIS_H
