#include "report/quality_sections.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <ostream>
#include <string>
#include <utility>

#include "util/number_format.h"

namespace bravik {
namespace {

std::string left(const std::string& text, std::size_t width) {
  return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

std::string right(const std::string& text, std::size_t width) {
  return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

bool summarisedKind(const AdjObject& object) { return object.kind() != AdjKind::kOther; }

// RMS and largest std. dev. of one parameter over the objects of one type.
struct ParameterSummary {
  int count = 0;
  double sumSquares = 0.0;
  double largest = -1.0;
  std::string largestId;
};

void writePrecisionSection(const Block& block, const QualityResults& results, std::ostream& out) {
  out << "Precision of unknowns\n"
      << "=====================\n"
      << "Std. dev. of unit weight used      :  " << formatFixed(results.sigma0 * 1e6, 2) << " um "
      << (results.aPosteriori ? "(a posteriori)\n" : "(a priori, no redundancy)\n")
      << "Std. dev. = sigma 0 * sqrt(q_ii), Q = inverse of the normal matrix; every unknown in "
         "the sdv file\n\n";
  std::vector<std::pair<std::string, ParameterSummary>> summaries;
  std::map<std::string, std::size_t> where;
  for (const AdjObject* object : block.adjObjects.objects()) {
    if (!summarisedKind(*object)) continue;
    for (int k = 0; k < object->paramCount(); ++k) {
      if (object->slots()[k].state == ParamState::kEliminated) continue;
      const std::string key = left(object->typeName(), 30) + left(object->paramName(k), 8);
      auto [it, inserted] = where.emplace(key, summaries.size());
      if (inserted) summaries.emplace_back(key, ParameterSummary{});
      ParameterSummary& summary = summaries[it->second].second;
      const double s = results.sdev[object->firstUnknown() + k];
      ++summary.count;
      summary.sumSquares += s * s;
      if (s > summary.largest) summary.largest = s, summary.largestId = object->id();
    }
  }
  out << "  Type                          Param.    Count     RMS s     Max. s  at ID\n\n";
  for (const auto& [key, summary] : summaries) {
    out << "  " << key << right(std::to_string(summary.count), 7) << " "
        << formatScientific(std::sqrt(summary.sumSquares / summary.count), 3, 10) << " "
        << formatScientific(summary.largest, 3, 10) << "  " << summary.largestId << "\n";
  }
  bool header = false;
  for (const AdjObject* object : block.adjObjects.objects()) {
    if (summarisedKind(*object)) continue;
    if (!header) {
      out << "\n  Type                            ID  Param.  State          Value      Std. "
             "dev.\n\n";
      header = true;
    }
    for (int k = 0; k < object->paramCount(); ++k) {
      const ParamSlot& slot = object->slots()[k];
      out << "  " << left(object->typeName(), 30) << right(object->id(), 10) << "  "
          << left(object->paramName(k), 8) << left(stateAbbreviation(slot.state), 5)
          << formatScientific(*slot.value, 6, 14) << " "
          << formatScientific(results.sdev[object->firstUnknown() + k], 3, 14) << "\n";
    }
  }
  out << "\n";
}

void writeCorrelationSection(const QualityResults& results, std::ostream& out) {
  out << "Correlations above the output limit\n"
      << "===================================\n"
      << "Output limit of correlation coeffs :  " << formatFixed(results.correlationLimit, 2)
      << "\n\n";
  int count = 0;
  for (const ObjectCorrelations& object : results.correlations) {
    out << object.type << " " << object.id << "\n";
    for (const Correlation& c : object.entries) {
      out << "  " << left(c.parameter, 8) << " / ";
      if (!c.otherObject.empty()) out << c.otherObject << "  ";
      out << left(c.otherParameter, 8) << formatFixed(c.rho, 3, 8) << "\n";
      ++count;
    }
    out << "\n";
  }
  out << "Number of correlation coefficients above the limit :  " << count << "\n\n";
}

void writeSignificanceSection(const QualityResults& results, std::ostream& out) {
  out << "Significance of additional parameters\n"
      << "=====================================\n"
      << "Limit for single significance test :  " << formatFixed(results.significanceLimit, 2)
      << "\n"
      << "t = |value| / std. dev.\n\n"
      << "    AP set  Param.          Value      Std. dev.         t  Significant\n\n";
  for (const APSignificance& a : results.significance) {
    out << "  " << right(a.set, 8) << "  " << left(a.parameter, 8)
        << formatScientific(a.value, 4, 13) << "  " << formatScientific(a.sdev, 4, 13)
        << formatFixed(a.t, 2, 10) << "  " << (a.significant ? "yes" : "no") << "\n";
  }
  out << "\nParameters not significant (candidates to fix in the next run):\n";
  int count = 0;
  for (const APSignificance& a : results.significance) {
    if (a.significant) continue;
    out << "  AP set " << a.set << "  " << a.parameter << "\n";
    ++count;
  }
  if (count == 0) out << "  none\n";
  out << "\n";
}

std::string observationName(const SnoopedObservation& o) {
  switch (o.kind) {
    case SnoopedObservation::Kind::kImage:
      return "image " + o.image + " point " + o.point + " " + o.component;
    case SnoopedObservation::Kind::kParameter:
      return "unknown " + o.point + " " + o.component;
    default:
      return "constraint of " + o.point + " " + o.component;
  }
}

// Image coordinates in micrometres, other observations in their own units.
std::string observationValue(const SnoopedObservation& o, double value, int width) {
  if (o.kind == SnoopedObservation::Kind::kImage) return formatFixed(value * 1e6, 2, width);
  return formatScientific(value, 3, width);
}

void writeObservationLine(const SnoopedObservation& o, std::ostream& out) {
  const bool image = o.kind == SnoopedObservation::Kind::kImage;
  out << "  " << right(image ? o.image : "unknown", 12) << "  " << right(o.point, 10) << "  "
      << left(o.component, 6) << observationValue(o, o.v, 11) << formatFixed(o.redundancy, 3, 8)
      << formatFixed(o.w, 2, 9) << observationValue(o, o.mdb, 11) << "\n";
}

void writeSnoopingSection(const QualityResults& results, std::ostream& out) {
  out << "Data snooping\n"
      << "=============\n"
      << "Std. dev. of unit weight (a priori):  " << formatFixed(results.sigma0Apriori * 1e6, 2)
      << " um\n"
      << "Limit for normalised residuals w   :  " << formatFixed(results.snoopingLimit, 2) << "\n"
      << "Non-centrality for the MDB         :  " << formatFixed(results.delta0, 2) << "\n"
      << "w = |v| / (sigma 0 * sqrt(q_vv)), r = (Q_vv P)_ii, MDB = minimal detectable blunder\n\n"
      << "Observations tested\n"
      << "  - image coordinates              :  " << results.imageObservations << "\n"
      << "  - observed unknowns              :  " << results.parameterObservations << "\n"
      << "  - constraint equations           :  " << results.constraintEquations << "\n"
      << "Sum of redundancy numbers          :  " << formatFixed(results.redundancySum, 6) << "\n"
      << "Redundancy                         :  " << results.redundancy << "\n\n"
      << "Suspected blunders, largest w first\n"
      << (results.snoopingPasses > 1
              ? "(Baarda's iteration: the largest w above the limit taken out, the block adjusted\n"
                "and tested again, " +
                    std::to_string(results.snoopingPasses) + " passes)\n"
              : std::string("(one pass; the other rays of a suspect's point tested again after its "
                            "removal)\n"))
      << "  (v and MDB of image coordinates in um, of unknowns in their own units)\n\n"
      << "    BundleImage    Point ID  Crd.          v       r        w        MDB\n\n";
  for (const SnoopedObservation& o : results.suspected) writeObservationLine(o, out);
  out << "\nNumber of suspected blunders       :  " << results.suspected.size() << "\n"
      << "Largest w not suspected            :  " << formatFixed(results.largestUnflaggedW, 2);
  if (!results.largestUnflagged.empty()) out << "  (" << results.largestUnflagged << ")";
  out << "\n\n"
      << "Uncontrolled observations (r < " << formatFixed(kUncontrolledRedundancy, 2)
      << "; a blunder in them would not show in the residuals) :  " << results.uncontrolledCount
      << "\n";
  for (const SnoopedObservation& o : results.uncontrolled)
    out << "  " << observationName(o) << "  r = " << formatFixed(o.redundancy, 4) << "\n";
  if (results.uncontrolledCount > static_cast<int>(results.uncontrolled.size()))
    out << "  ... the others in the rel file\n";
  out << "\n";
}

}  // namespace

void writeQualitySections(const Block& block, const QualityResults& results, std::ostream& out) {
  if (!results.available) {
    out << "Quality analysis\n"
        << "================\n"
        << "*** WARNING: Quality analysis not available: " << results.failure << "\n\n";
    return;
  }
  writePrecisionSection(block, results, out);
  writeCorrelationSection(results, out);
  writeSignificanceSection(results, out);
  writeSnoopingSection(results, out);
}

void writePrecisionRecords(const Block& block, const QualityResults& results, std::ostream& out) {
  if (results.available) {
    for (const AdjObject* object : block.adjObjects.objects()) {
      for (int k = 0; k < object->paramCount(); ++k) {
        const int i = object->firstUnknown() + k;
        const ParamSlot& slot = object->slots()[k];
        out << right(std::to_string(i), 8) << "  " << left(object->keyword(), 12) << " "
            << right(object->id(), 10) << "  " << left(object->paramName(k), 8) << " "
            << left(stateAbbreviation(slot.state), 4) << formatScientific(*slot.value, 9, 18)
            << formatScientific(results.sdev[i], 4, 13) << "\n";
      }
    }
  }
  out << "stop-dep\n";
}

void writeReliabilityHeader(std::ostream& out) {
  out << "# kind  image  point/object  component  v  r  w  MDB  flag"
         " (image coordinates: v, MDB in um)\n";
}

void writeReliabilityRecord(const SnoopedObservation& o, std::ostream& out) {
  const char* kind = o.kind == SnoopedObservation::Kind::kImage       ? "img"
                     : o.kind == SnoopedObservation::Kind::kParameter ? "par"
                                                                      : "con";
  out << kind << " " << right(o.image.empty() ? "-" : o.image, 10) << " " << right(o.point, 10)
      << " " << left(o.component, 6) << observationValue(o, o.v, 12)
      << formatFixed(o.redundancy, 4, 8) << formatFixed(o.w, 2, 9) << observationValue(o, o.mdb, 12)
      << (o.flagged        ? "  *"
          : o.uncontrolled ? "  u"
                           : "")
      << "\n";
}

void writeReliabilityEnd(std::ostream& out) { out << "stop-dep\n"; }

}  // namespace bravik
