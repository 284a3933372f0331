#include "models/object_point.h"

#include <cmath>
#include <iomanip>
#include <ostream>

#include "lsq/ls_params.h"

namespace bravik {

const char* objectPointTypeCode(std::int32_t type) {
  switch (type) {
    case kPointControl:
      return "co";
    case kPointIntersection:
      return "in";
    case kPointCheck:
      return "ch";
    default:
      return "nu";
  }
}

ObjectPoint::ObjectPoint(std::string id, const LSParams& ls)
    : AdjObject(std::move(id), 3, AdjKind::kObjectPoint) {
  const double free = ls.smaxu;
  sdev = {free, free, free};
}

std::string ObjectPoint::paramName(int k) const {
  static const char* const kNames[] = {"objc-X", "objc-Y", "objc-Z"};
  return kNames[k];
}

int ObjectPoint::setupParamSlots(const LSParams& ls) {
  return setupSlotsFrom(xyz.data(), sdev.data(), ls);
}

void ObjectPoint::printIterationTable(std::ostream& out, const Vector& x) const {
  out << "Point ID : " << id() << "\n"
      << "Index    : " << firstUnknown() << "\n\n"
      << "  Name       State       Approx.         Change       Adjusted\n\n";
  for (int k = 0; k < static_cast<int>(slots().size()); ++k) {
    const double value = *slots()[k].value;
    const double dx = x[firstUnknown() + k];
    out << "  " << std::left << std::setw(8) << paramName(k) << "   " << std::setw(4)
        << stateAbbreviation(slots()[k].state) << std::right << std::fixed << std::setprecision(3)
        << "   " << std::setw(12) << value << "   " << std::setw(12) << dx << "   " << std::setw(12)
        << value + dx << std::defaultfloat << "\n";
  }
  out << "\n";
}

int ObjectPoint::convergenceTest(const Vector& x, const LSParams& ls) const {
  if (!ls.critObjectPoints) return -1;
  for (int k = 0; k < 3; ++k) {
    if (std::fabs(x[firstUnknown() + k]) > ls.limitObjectPoints) return k;
  }
  return -1;
}

}  // namespace bravik
