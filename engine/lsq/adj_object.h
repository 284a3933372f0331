#ifndef BRAVIK_LSQ_ADJ_OBJECT_H
#define BRAVIK_LSQ_ADJ_OBJECT_H

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "lsq/dense.h"

namespace bravik {

class NormalSystem;
struct LSParams;

// How a parameter takes part in the adjustment, decided by its a-priori std. dev.
enum class ParamState : std::int32_t {
  kUnknown = 0,     // "unk": free unknown, weight 0
  kObserved = 1,    // "obs": direct observation of its initial value, weight (sigma_0 / s)^2
  kEliminated = 2,  // "eli": held at its initial value by the suppression weight, never updated
};

// "unk", "obs" or "eli".
const char* stateAbbreviation(ParamState state);

// State of a std. dev. s under the settings `ls` (smin <= s <= smax observed).
ParamState classifyStdDev(double s, const LSParams& ls);

// State name of a std. dev. for the report blocks; a NaN prints
// "ERROR: Invalid standard deviation: " to the diagnostics sink and gives "".
std::string stateName(double s, const LSParams& ls);

// One parameter of an adjustable object. `value` and `sdev` point into the owning
// object's own arrays and stay valid for the object's life.
struct ParamSlot {
  double initial = 0.0;
  double* value = nullptr;
  double* sdev = nullptr;
  ParamState state = ParamState::kUnknown;
  double weight = 0.0;
};

// Which average-change group an object's parameters belong to.
enum class AdjKind {
  kOther,
  kObjectPoint,
  kImageGeometry,   // image geometry that is not an exterior orientation
  kExtOrientation,  // first three parameters: projection centre, the rest: rotation
};

// Base of everything that owns unknowns. Parameter k of the object is unknown number
// firstUnknown() + k once the object was added to an AdjObjectList.
class AdjObject {
 public:
  AdjObject(std::string id, int paramCount, AdjKind kind = AdjKind::kOther);
  virtual ~AdjObject();
  AdjObject(const AdjObject&) = delete;
  AdjObject& operator=(const AdjObject&) = delete;

  // Number of constraint equations contributed; base 0.
  virtual int constraintCount() const;
  // Adds the constraint equations to the normal equations; base nothing.
  virtual void addConstraints(NormalSystem& normals, const LSParams& ls) const;
  virtual std::string typeName() const;  // base "undefined"
  virtual std::string keyword() const;   // base "undef"
  // Name of parameter k; base "x[k]".
  virtual std::string paramName(int k) const;
  // Sets up the parameter slots (classification by std. dev.); base nothing.
  // 1 on success, -2 when the slots cannot be allocated.
  virtual int setupParamSlots(const LSParams& ls);
  // Per-iteration table: value before the update, increment x[i], value after.
  virtual void printIterationTable(std::ostream& out, const Vector& x) const;
  // -1 when converged, otherwise the index (within the object) of the first failing
  // parameter; base -1.
  virtual int convergenceTest(const Vector& x, const LSParams& ls) const;
  // Adds |x[i]| of every parameter that is not eliminated to sum and counts it.
  virtual void sumChanges(const Vector& x, double& sum, int& count) const;

  const std::string& id() const { return id_; }
  void setId(std::string id) { id_ = std::move(id); }
  int firstUnknown() const { return firstUnknown_; }
  void setFirstUnknown(int index) { firstUnknown_ = index; }
  int paramCount() const { return paramCount_; }
  AdjKind kind() const { return kind_; }
  const std::vector<ParamSlot>& slots() const { return slots_; }
  std::vector<ParamSlot>& slots() { return slots_; }

 protected:
  // For objects whose parameter count is known only after reading their record;
  // must not change once the object was added to a list.
  void setParamCount(int count) { paramCount_ = count; }
  // Builds one slot per parameter from the parallel arrays values[0..n-1] and
  // sdevs[0..n-1] (n = paramCount()), classified by the current settings.
  int setupSlotsFrom(double* values, double* sdevs, const LSParams& ls);
  // Rows of the per-iteration table: scientific (3 decimals, field 12), or for the
  // exterior orientations fixed with 3 decimals for the centre and 6 for the rotation.
  void printSlotRows(std::ostream& out, const Vector& x, bool fixedForEO) const;

 private:
  std::string id_;
  int firstUnknown_ = -1;
  int paramCount_ = 0;
  AdjKind kind_ = AdjKind::kOther;
  std::vector<ParamSlot> slots_;
};

// Average-change groups of the iteration summary.
enum class ChangeGroup { kObjectPoints, kProjectionCentres, kRotations, kGeometry };

// The ordered, non-owning list of adjustable objects; numbers the unknowns.
class AdjObjectList {
 public:
  // Sets up the object's slots, gives it the next unknown numbers and appends it.
  // Returns the set-up result (1, or -2 when slots could not be allocated).
  int add(AdjObject& object, const LSParams& ls);
  void clear();

  int unknownCount() const { return unknowns_; }
  int countWithState(ParamState state) const;
  int constraintCount() const;
  const std::vector<AdjObject*>& objects() const { return objects_; }

  void addConstraints(NormalSystem& normals, const LSParams& ls) const;
  // For every parameter in state obs or eli: N[i][i] += w, n[i] += w l, vtpv += w l^2
  // with l = initial value - current value.
  void addParameterObservations(NormalSystem& normals) const;
  // value += x[i] for every parameter that is not eliminated; returns how many.
  int update(const Vector& x) const;
  // True when every object passes; otherwise prints the first failing object and
  // parameter to `out` (the diagnostics sink by default) and returns false.
  bool checkConvergence(const Vector& x, const LSParams& ls, std::ostream& out) const;
  bool checkConvergence(const Vector& x, const LSParams& ls) const;
  // Mean |x[i]| over the group's non-eliminated parameters, -1 when there are none.
  double averageChange(ChangeGroup group, const Vector& x) const;
  void printUnknownsTable(std::ostream& out, const LSParams& ls) const;

 private:
  std::vector<AdjObject*> objects_;
  int unknowns_ = 0;
};

}  // namespace bravik

#endif  // BRAVIK_LSQ_ADJ_OBJECT_H
