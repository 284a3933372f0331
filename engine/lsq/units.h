#ifndef BRAVIK_LSQ_UNITS_H
#define BRAVIK_LSQ_UNITS_H

#include <string>

namespace bravik {

// One row of a unit table. A value in the unit is the value in internal units
// (metres, radians) converted by `factor`: lengths multiply by it to get metres,
// angles multiply radians by it to get the unit.
struct UnitEntry {
  const char* abbreviation;
  const char* name;
  double factor;
};

// Length unit: `factor()` is metres per unit. Default "m".
class UnitLength {
 public:
  // Finds `word` by exact, case-sensitive comparison of the abbreviations; entry 0
  // ("unk") and unknown words are not found (result false, unit unchanged).
  bool lookup(const std::string& word);
  int number() const { return number_; }
  double factor() const;
  const char* abbreviation() const;
  const char* name() const;

 private:
  int number_ = 2;
};

// Angle unit: a value in the unit is the value in radians times `factor()`, so
// reading divides by it and printing multiplies by it. Default "rad".
class UnitAngle {
 public:
  bool lookup(const std::string& word);
  int number() const { return number_; }
  double factor() const;
  const char* abbreviation() const;
  const char* name() const;

 private:
  int number_ = 2;
};

}  // namespace bravik

#endif  // BRAVIK_LSQ_UNITS_H
