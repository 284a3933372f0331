#ifndef BRAVIK_REPORT_QUALITY_SECTIONS_H
#define BRAVIK_REPORT_QUALITY_SECTIONS_H

#include <iosfwd>
#include <string>
#include <vector>

#include "models/block.h"

namespace bravik {

// One correlation coefficient above the output limit. `other` is empty within one object;
// otherwise the unknown of another object of the same camera (an AP set or an image geometry).
struct Correlation {
  std::string parameter;
  std::string otherObject;  // "<type> <ID>", empty within the object
  std::string otherParameter;
  double rho = 0.0;
};

// Correlations of one object (and, for AP sets, with the other unknowns of their camera).
struct ObjectCorrelations {
  std::string type;
  std::string id;
  std::vector<Correlation> entries;
};

// Significance test of one adjusted AP-set parameter: t = |a| / s_a against the single-test
// limit.
struct APSignificance {
  std::string set;
  std::string parameter;
  double value = 0.0;
  double sdev = 0.0;
  double t = 0.0;
  bool significant = false;
};

// Data snooping of one observation: an image coordinate (`image`, `point`, `component` "x" or
// "y"), an observed unknown (`image` empty, `point` its object ID, `component` its parameter name)
// or a constraint equation. Residual v and the minimal detectable blunder in the observation's
// unit (metres of the image plane for image coordinates).
struct SnoopedObservation {
  enum class Kind { kImage, kParameter, kConstraint };
  Kind kind = Kind::kImage;
  std::string image;
  std::string point;
  std::string component;
  double v = 0.0;
  double redundancy = 0.0;  // r_i = (Q_vv P)_ii
  double w = 0.0;           // |v| / (sigma_0 sqrt(q_vv)), a-priori sigma_0
  double mdb = 0.0;         // delta_0 sigma_0 / sqrt((P Q_vv P)_ii)
  bool flagged = false;
  bool uncontrolled = false;  // r_i below kUncontrolledRedundancy: a blunder would not show
};

// Below this redundancy number an observation is not controlled by the others.
inline constexpr double kUncontrolledRedundancy = 0.01;
// Non-centrality delta_0 = limit + 0.84 (test power 80 % at the normalised-residual limit).
inline constexpr double kPowerQuantile = 0.8416;

// Everything the quality analysis reports.
struct QualityResults {
  bool available = false;
  std::string failure;  // why the analysis is not available
  double sigma0 = 0.0;  // a posteriori sigma 0 used for the standard deviations (m)
  bool aPosteriori = true;
  double sigma0Apriori = 0.0;
  double correlationLimit = 0.0;
  double significanceLimit = 0.0;
  double snoopingLimit = 0.0;
  double delta0 = 0.0;
  // Per unknown, in numbering order: std. dev. s0 sqrt(q_ii) (0 where not computed).
  std::vector<double> sdev;
  std::vector<ObjectCorrelations> correlations;
  std::vector<APSignificance> significance;
  // Data snooping.
  int redundancy = 0;
  double redundancySum = 0.0;
  int imageObservations = 0;
  int parameterObservations = 0;
  int constraintEquations = 0;
  // Suspected blunders, largest w first: the observations that Baarda's iteration took out one by
  // one (each with its w when it was the largest) in `snoopingPasses` passes; for large blocks
  // (one pass) those left after separating the suspects of one point.
  std::vector<SnoopedObservation> suspected;
  int snoopingPasses = 1;
  std::vector<SnoopedObservation> uncontrolled;  // at most kMaxListedUncontrolled
  int uncontrolledCount = 0;
  // Largest w of the observations not suspected, in the last pass (after the suspects were out).
  double largestUnflaggedW = 0.0;
  std::string largestUnflagged;  // which observation
};

inline constexpr int kMaxListedUncontrolled = 100;

// Report sections "Precision of unknowns", "Correlations above the output limit",
// "Significance of additional parameters" and "Data snooping" (or one line saying why the analysis
// is not available).
void writeQualitySections(const Block& block, const QualityResults& results, std::ostream& out);

// Result file "sdv": one line per unknown in numbering order (index, object type, ID, parameter
// name, state, adjusted value, standard deviation), then "stop-dep".
void writePrecisionRecords(const Block& block, const QualityResults& results, std::ostream& out);

// Result file "rel": one line per observation (kind, IDs, component, v, r, w, MDB, flag); image
// coordinates in micrometres, observed unknowns in their own units. The header and the end line
// are written by the two functions around the records.
void writeReliabilityHeader(std::ostream& out);
void writeReliabilityRecord(const SnoopedObservation& observation, std::ostream& out);
void writeReliabilityEnd(std::ostream& out);

}  // namespace bravik

#endif  // BRAVIK_REPORT_QUALITY_SECTIONS_H
