#include "lsq/units.h"

#include <iterator>
#include <numbers>

namespace bravik {
namespace {

constexpr double kPi = std::numbers::pi;

constexpr UnitEntry kLengthUnits[] = {
    {"unk", "unkown", 0.0},
    {"km", "kilometre", 1000.0},
    {"m", "metre", 1.0},
    {"cm", "centimetre", 0.01},
    {"mm", "millimetre", 0.001},
    {"um", "micrometre", 1e-6},
    {"mi", "intern. mile", 1609.344},
    {"miUS", "US state mile", 1609.32721869},
    {"in", "inch", 0.0254},
    {"ft", "feet", 0.3048},
    {"yd", "yard", 0.9144},
    {"n.m.", "nautical mile", 1852.0},
};

// "min" and "sec" are the arc minute and the arc second.
constexpr UnitEntry kAngleUnits[] = {
    {"unk", "unkown", 0.0},
    {"none", "none", 1.0},
    {"rad", "radian", 1.0},
    {"deg", "degree", 180.0 / kPi},
    {"hr", "hour", 12.0 / kPi},
    {"min", "minute", 10800.0 / kPi},
    {"sec", "second", 648000.0 / kPi},
    {"gon", "gon", 200.0 / kPi},
};

template <std::size_t N>
int findUnit(const UnitEntry (&table)[N], const std::string& word) {
  for (std::size_t i = 0; i < N; ++i) {
    if (word == table[i].abbreviation) return static_cast<int>(i);
  }
  return 0;
}

}  // namespace

bool UnitLength::lookup(const std::string& word) {
  const int found = findUnit(kLengthUnits, word);
  if (found == 0) return false;
  number_ = found;
  return true;
}
double UnitLength::factor() const { return kLengthUnits[number_].factor; }
const char* UnitLength::abbreviation() const { return kLengthUnits[number_].abbreviation; }
const char* UnitLength::name() const { return kLengthUnits[number_].name; }

bool UnitAngle::lookup(const std::string& word) {
  const int found = findUnit(kAngleUnits, word);
  if (found == 0) return false;
  number_ = found;
  return true;
}
double UnitAngle::factor() const { return kAngleUnits[number_].factor; }
const char* UnitAngle::abbreviation() const { return kAngleUnits[number_].abbreviation; }
const char* UnitAngle::name() const { return kAngleUnits[number_].name; }

}  // namespace bravik
