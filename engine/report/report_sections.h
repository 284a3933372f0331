#ifndef BRAVIK_REPORT_REPORT_SECTIONS_H
#define BRAVIK_REPORT_REPORT_SECTIONS_H

#include <iosfwd>

#include "models/block.h"

namespace bravik {

// Final report sections and result files of a run. Every writer walks the block's lists in
// order and skips empty entries; none can fail (a stream that failed to open swallows the
// output). Residuals are in micrometres of the image plane, object coordinates as stored.

void writeCamerasSection(const Block& block, std::ostream& out);
void writeAPSetsSection(const Block& block, std::ostream& out);
void writeExtOrientationsSection(const Block& block, std::ostream& out);
void writeObjectPointsSection(const Block& block, std::ostream& out);
// `redundancy` is the redundancy of the last iteration, for the sigma 0 contribution.
void writeImageResidualsSection(const Block& block, int redundancy, std::ostream& out);
// Residuals v = adjusted - given of the observed coordinates of the control points.
void writeControlPointResiduals(const Block& block, std::ostream& out);
// Differences D = given - adjusted of the marked coordinates of the check points.
void writeCheckPointAnalysis(const Block& block, std::ostream& out);

// Result files in the engine's input grammars.
void writeAPSetRecords(const Block& block, std::ostream& out);
void writeGeometryRecords(const Block& block, std::ostream& out);  // "indiv-type" form
void writeObjectPointRecords(const Block& block, std::ostream& out);
void writeImagePointRecords(const Block& block, std::ostream& out);
void writeCameraRecords(const Block& block, std::ostream& out);

// Residuals (projected minus measured image coordinates, metres) of one image point whose
// object point is `point`; false when the projection fails.
bool imagePointResidual(const BundleImage& image, const ImagePoint& measured,
                        const ObjectPoint& point, double& vx, double& vy);

}  // namespace bravik

#endif  // BRAVIK_REPORT_REPORT_SECTIONS_H
