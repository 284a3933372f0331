#include "input/params_io.h"

#include <cmath>
#include <iomanip>
#include <iostream>
#include <sstream>
#include <string>

#include "util/diagnostics.h"
#include "util/tokens.h"

namespace bravik {
namespace {

bool failGroup(std::istream& in, const char* message) {
  if (in) return false;
  messages() << message;
  return true;
}

const char* onOff(bool value) { return value ? "on" : "off"; }

// E: scientific, 2 digits after the point, field 8.
std::string sci(double value) {
  std::ostringstream out;
  out << std::scientific << std::setprecision(2) << std::setw(8) << value;
  return out.str();
}

// F<decimals>: fixed, field 8.
std::string fix(double value, int decimals) {
  std::ostringstream out;
  out << std::fixed << std::setprecision(decimals) << std::setw(8) << value;
  return out.str();
}

// The optional entry after field 18. Older files end there; words that are not the keyword were
// never read, so they still change nothing.
int readQualityAnalysisEntry(RunOptions& o, std::istream& in) {
  std::string word;
  if (!(in >> word)) return 1;
  if (word != kQualityAnalysisKeyword) {
    messages() << "ATTENTION: Ignored after the run options: " << word << "\n";
    return 1;
  }
  if (!readSwitch(in, o.qualityAnalysis)) {
    messages() << "Reading quality analysis switch failed.\n";
    return -1;
  }
  double limit = 0.0;
  if (readOptionalDouble(in, limit)) {
    if (!(limit > 0.0 && std::isfinite(limit))) {
      messages() << "ERROR: Limit for normalised residuals must be greater than zero.\n";
      return -1;
    }
    o.snoopingLimit = limit;
  }
  return 1;
}

}  // namespace

int readRunOptions(RunOptions& o, std::istream& in) {
  readSwitch(in, o.singleRay);
  if (failGroup(in, "Reading single-ray option failed.\n")) return -1;
  for (bool* field : {&o.printCheckApproximations, &o.printCheckRays, &o.printIntersection,
                      &o.printImageCoords}) {
    readSwitch(in, *field);
  }
  if (failGroup(in, "Reading output flags failed.\n")) return -1;
  for (bool* field : {&o.printObjectCoords, &o.printExtOrientations, &o.printAPSets,
                      &o.printPosCorrections, &o.printAttCorrections}) {
    readSwitch(in, *field);
  }
  if (failGroup(in, "Reading output flags for unknown parameters failed.\n")) return -1;
  readSwitch(in, o.debugUnknownsTable);
  readSwitch(in, o.debugIntersection);
  if (failGroup(in, "Reading debug flags failed.\n")) return -1;
  readInt(in, o.apGridX);
  readInt(in, o.apGridY);
  if (failGroup(in, "Reading output flags of AP corrections failed.\n")) return -1;
  // The report prints every grid point of every AP set: a damaged count (2^31 - 1 squared) would
  // write for ever.
  if (o.apGridX > kMaxApGridPoints || o.apGridY > kMaxApGridPoints) {
    messages() << "ERROR: Number of AP grid points exceeds " << kMaxApGridPoints << ".\n";
    return -1;
  }
  const std::pair<std::string*, const char*> files[] = {
      {&o.normalStructureFile, "Reading filename of normal matrix structure failed.\n"},
      {&o.normalMatrixFile, "Reading filename of normal matrix failed.\n"},
      {&o.rhsFile, "Reading filename of right hand side vector failed.\n"},
      {&o.solutionFile, "Reading filename of solution vector failed.\n"},
  };
  for (const auto& [field, message] : files) {
    readWord(in, *field);
    if (failGroup(in, message)) return -1;
  }
  return readQualityAnalysisEntry(o, in);
}

int readLSParams(LSParams& ls, std::istream& in) {
  readDouble(in, ls.sigma0);
  readInt(in, ls.maxIterations);
  for (bool* field :
       {&ls.critObjectPoints, &ls.critProjectionCentres, &ls.critRotations, &ls.critGeometry}) {
    readSwitch(in, *field);
  }
  for (double* field : {&ls.limitObjectPoints, &ls.limitProjectionCentres, &ls.limitRotations,
                        &ls.limitGeometry, &ls.smin, &ls.smax, &ls.sminu, &ls.smaxu}) {
    readDouble(in, *field);
  }
  if (!(ls.smin >= 0.0 && ls.smax >= 0.0 && ls.sminu >= 0.0 && ls.smaxu >= 0.0)) {
    messages() << "ERROR: Limits of std. devs. must be >= than zero.\n";
    return -1;
  }
  if (ls.sminu >= ls.smin) {
    messages() << "ERROR: sminu must be less than smin.\n";
    return -1;
  }
  if (ls.smaxu <= ls.smax) {
    messages() << "ERROR: smaxu must be greater than smax.\n";
    return -1;
  }
  for (double* field :
       {&ls.weightSuppression, &ls.weightConstraints, &ls.correlationLimit,
        &ls.incrementObjectPoints, &ls.incrementRotations, &ls.significanceLimit, &ls.aptvLimit}) {
    readDouble(in, *field);
  }
  double residualLimitUm = 0.0;
  if (readDouble(in, residualLimitUm)) ls.residualPrintLimit = residualLimitUm / 1e6;

  std::string word;
  if (!readWord(in, word)) {
    messages() << "Reading unit of object coords. failed.\n";
    return -1;
  }
  if (!ls.lengthUnit.lookup(word)) {
    messages() << "Unknown unit of object coords.: " << word << "\n";
    return -1;
  }
  if (!readWord(in, word)) {
    messages() << "Reading unit of rotation angles failed.\n";
    return -1;
  }
  if (!ls.angleUnit.lookup(word)) {
    messages() << "Unknown unit of rot. angles: " << word << "\n";
    return -1;
  }
  word.clear();
  readWord(in, word);
  if (word == "native") {
    ls.adjustmentInterface = AdjustmentInterface::kNative;
  } else if (word == "lapack") {
    ls.adjustmentInterface = AdjustmentInterface::kLapack;
  } else if (word == "sparse") {
    ls.adjustmentInterface = AdjustmentInterface::kSparse;
  } else {
    messages() << "Unknown adjustment interface: " << word << "\n";
    return -1;
  }
  return 1;
}

namespace {

const char* adjustmentInterfaceName(AdjustmentInterface value) {
  switch (value) {
    case AdjustmentInterface::kLapack:
      return "lapack";
    case AdjustmentInterface::kSparse:
      return "sparse";
    default:
      return "native";
  }
}

}  // namespace

void printRunOptions(const RunOptions& o, std::ostream& out) {
  auto line = [&out](const char* label, bool value) { out << label << onOff(value) << "\n"; };
  out << "Parameters/Options\n"
      << "==================\n";
  line("Single ray option                    :  ", o.singleRay);
  line("Print check approximations           :  ", o.printCheckApproximations);
  line("Print check rays                     :  ", o.printCheckRays);
  line("Print intersection results           :  ", o.printIntersection);
  line("Print image coords.                  :  ", o.printImageCoords);
  out << "Print unknown parameters\n";
  line("  - object coords.                   :  ", o.printObjectCoords);
  line("  - exterior orientations            :  ", o.printExtOrientations);
  line("  - additional parameter sets        :  ", o.printAPSets);
  line("  - position corrections             :  ", o.printPosCorrections);
  line("  - attitude corrections             :  ", o.printAttCorrections);
  line("Debug UPARI table                    :  ", o.debugUnknownsTable);
  line("Debug intersection                   :  ", o.debugIntersection);
  out << "Print AP set corrections\n"
      << "  - number of grid points in x and y :  " << o.apGridX << " x " << o.apGridY << "\n"
      << "Output of normal equations. Filename of ...\n"
      << "  - normal matrix structure          :  " << o.normalStructureFile << "\n"
      << "  - normal matrix                    :  " << o.normalMatrixFile << "\n"
      << "  - right hand side vector           :  " << o.rhsFile << "\n"
      << "  - solution vector                  :  " << o.solutionFile << "\n";
  // Only when on: reports of runs without the analysis stay as they always were.
  if (o.qualityAnalysis) {
    out << "Quality analysis                     :  on\n"
        << "  - limit for normalised residuals   :  " << fix(o.snoopingLimit, 2) << "\n";
  }
  out << "\n";
}

void printLSParams(const LSParams& ls, std::ostream& out) {
  auto onOffLine = [&out](const char* label, bool value) { out << label << onOff(value) << "\n"; };
  out << "Least-squares parameters/options\n"
      << "================================\n"
      << "Standard deviation of unit weight  :  " << sci(ls.sigma0) << "\n"
      << "Maximum number of iterations       :  " << ls.maxIterations << "\n"
      << "\n"
      << "Unknowns used for iteration criterion\n";
  onOffLine("  - object point coords.           :  ", ls.critObjectPoints);
  onOffLine("  - perspective centre coords.     :  ", ls.critProjectionCentres);
  onOffLine("  - rotation parameters            :  ", ls.critRotations);
  onOffLine("  - image geometry parameters      :  ", ls.critGeometry);
  out << "Convergence limits\n"
      << "  - object point coords.           :  " << fix(ls.limitObjectPoints, 4) << " m\n"
      << "  - perspective centre coords.     :  " << fix(ls.limitProjectionCentres, 4) << " m\n"
      << "  - rotation parameters            :  " << sci(ls.limitRotations) << "\n"
      << "  - image geometry parameters      :  " << sci(ls.limitGeometry) << "\n"
      << "Limit of std. dev. to indicate that\n"
      << "  - unknown should be eliminated   :  " << sci(ls.smin) << "\n"
      << "  - value is an unknown            :  " << sci(ls.smax) << "\n"
      << "Value of std. dev. to indicate that\n"
      << "  - unknown is fixed               :  " << sci(ls.sminu) << "\n"
      << "  - unknown is free                :  " << sci(ls.smaxu) << "\n"
      << "Weight for suppression of unknowns :  " << sci(ls.weightSuppression) << "\n"
      << "Weight for constraints             :  " << sci(ls.weightConstraints) << "\n"
      << "Output limit of correlation coeffs :  " << fix(ls.correlationLimit, 2) << "\n"
      << "Increment for num. derivatives\n"
      << "  - object point coordinates       :  " << sci(ls.incrementObjectPoints) << " m\n"
      << "  - rotation angles                :  " << sci(ls.incrementRotations) << " rad\n"
      << "Limit for single significance test :  " << fix(ls.significanceLimit, 2) << "\n"
      << "Limit for A'Pv-check               :  " << sci(ls.aptvLimit) << "\n"
      << "Limit for printing residuals       :  " << fix(ls.residualPrintLimit * 1e6, 2) << " um\n"
      << "\n"
      << "Unit of object space coords.       :  " << ls.lengthUnit.abbreviation() << "\n"
      << "Unit of rotation angles            :  " << ls.angleUnit.abbreviation() << "\n"
      << "\n"
      << "Adjustment interface               :  " << adjustmentInterfaceName(ls.adjustmentInterface)
      << "\n\n";
}

}  // namespace bravik
