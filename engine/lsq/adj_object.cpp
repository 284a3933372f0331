#include "lsq/adj_object.h"

#include <cmath>
#include <iomanip>
#include <iostream>
#include <new>
#include <ostream>

#include "lsq/ls_params.h"
#include "lsq/normal_system.h"
#include "util/diagnostics.h"

namespace bravik {
namespace {

void printScientific(std::ostream& out, double value, int decimals, int width) {
  out << std::scientific << std::setprecision(decimals) << std::setw(width) << value
      << std::defaultfloat;
}

void printFixed(std::ostream& out, double value, int decimals, int width) {
  out << std::fixed << std::setprecision(decimals) << std::setw(width) << value
      << std::defaultfloat;
}

}  // namespace

const char* stateAbbreviation(ParamState state) {
  switch (state) {
    case ParamState::kUnknown:
      return "unk";
    case ParamState::kObserved:
      return "obs";
    case ParamState::kEliminated:
      return "eli";
  }
  return "";
}

ParamState classifyStdDev(double s, const LSParams& ls) {
  if (ls.isObserved(s)) return ParamState::kObserved;
  if (s > ls.smax) return ParamState::kUnknown;
  return ParamState::kEliminated;
}

std::string stateName(double s, const LSParams& ls) {
  if (std::isnan(s)) {
    messages() << "ERROR: Invalid standard deviation: " << s << "\n";
    return "";
  }
  return stateAbbreviation(classifyStdDev(s, ls));
}

AdjObject::AdjObject(std::string id, int paramCount, AdjKind kind)
    : id_(std::move(id)), paramCount_(paramCount), kind_(kind) {}

AdjObject::~AdjObject() = default;

int AdjObject::constraintCount() const { return 0; }
void AdjObject::addConstraints(NormalSystem&, const LSParams&) const {}
std::string AdjObject::typeName() const { return "undefined"; }
std::string AdjObject::keyword() const { return "undef"; }
std::string AdjObject::paramName(int k) const { return "x[" + std::to_string(k) + "]"; }
int AdjObject::setupParamSlots(const LSParams&) { return 1; }

int AdjObject::setupSlotsFrom(double* values, double* sdevs, const LSParams& ls) {
  try {
    slots_.assign(static_cast<std::size_t>(paramCount_), ParamSlot{});
  } catch (const std::bad_alloc&) {
    return -2;
  }
  for (int k = 0; k < paramCount_; ++k) {
    ParamSlot& slot = slots_[k];
    slot.value = &values[k];
    slot.sdev = &sdevs[k];
    slot.initial = values[k];
    slot.state = classifyStdDev(sdevs[k], ls);
    switch (slot.state) {
      case ParamState::kObserved:
        slot.weight = (ls.sigma0 / sdevs[k]) * (ls.sigma0 / sdevs[k]);
        break;
      case ParamState::kUnknown:
        slot.weight = 0.0;
        break;
      case ParamState::kEliminated:
        slot.weight = ls.weightSuppression;
        break;
    }
  }
  return 1;
}

void AdjObject::printSlotRows(std::ostream& out, const Vector& x, bool fixedForEO) const {
  for (int k = 0; k < static_cast<int>(slots_.size()); ++k) {
    const ParamSlot& slot = slots_[k];
    const double dx = x[firstUnknown_ + k];
    out << "  " << std::left << std::setw(8) << paramName(k) << "   " << std::setw(4)
        << stateAbbreviation(slot.state) << std::right;
    const double values[3] = {*slot.value, dx, *slot.value + dx};
    for (double v : values) {
      out << "   ";
      if (!fixedForEO) {
        printScientific(out, v, 3, 12);
      } else {
        printFixed(out, v, k < 3 ? 3 : 6, 12);
      }
    }
    out << "\n";
  }
}

void AdjObject::printIterationTable(std::ostream& out, const Vector& x) const {
  out << "ID    :  " << id_ << "\n"
      << "Type  :  " << typeName() << "\n"
      << "Index :  " << firstUnknown_ << "\n\n"
      << "  Name       State       Approx.         Change       Adjusted\n\n";
  printSlotRows(out, x, false);
  out << "\n";
}

int AdjObject::convergenceTest(const Vector&, const LSParams&) const { return -1; }

void AdjObject::sumChanges(const Vector& x, double& sum, int& count) const {
  for (int k = 0; k < static_cast<int>(slots_.size()); ++k) {
    if (slots_[k].state == ParamState::kEliminated) continue;
    sum += std::fabs(x[firstUnknown_ + k]);
    ++count;
  }
}

int AdjObjectList::add(AdjObject& object, const LSParams& ls) {
  const int result = object.setupParamSlots(ls);
  object.setFirstUnknown(unknowns_);
  objects_.push_back(&object);
  unknowns_ += object.paramCount();
  return result;
}

void AdjObjectList::clear() {
  objects_.clear();
  unknowns_ = 0;
}

int AdjObjectList::countWithState(ParamState state) const {
  int count = 0;
  for (const AdjObject* object : objects_) {
    for (const ParamSlot& slot : object->slots()) {
      if (slot.state == state) ++count;
    }
  }
  return count;
}

int AdjObjectList::constraintCount() const {
  int count = 0;
  for (const AdjObject* object : objects_) count += object->constraintCount();
  return count;
}

void AdjObjectList::addConstraints(NormalSystem& normals, const LSParams& ls) const {
  for (const AdjObject* object : objects_) object->addConstraints(normals, ls);
}

void AdjObjectList::addParameterObservations(NormalSystem& normals) const {
  for (const AdjObject* object : objects_) {
    const auto& slots = object->slots();
    for (int k = 0; k < static_cast<int>(slots.size()); ++k) {
      const ParamSlot& slot = slots[k];
      if (slot.state == ParamState::kUnknown) continue;
      normals.addParameterObservation(object->firstUnknown() + k, slot.weight,
                                      slot.initial - *slot.value);
    }
  }
}

int AdjObjectList::update(const Vector& x) const {
  int updated = 0;
  for (const AdjObject* object : objects_) {
    const auto& slots = object->slots();
    for (int k = 0; k < static_cast<int>(slots.size()); ++k) {
      if (slots[k].state == ParamState::kEliminated) continue;
      *slots[k].value += x[object->firstUnknown() + k];
      ++updated;
    }
  }
  return updated;
}

bool AdjObjectList::checkConvergence(const Vector& x, const LSParams& ls, std::ostream& out) const {
  for (const AdjObject* object : objects_) {
    const int failed = object->convergenceTest(x, ls);
    if (failed < 0) continue;
    out << "Convergence check failed at\n"
        << "  ID        : " << object->id() << "\n"
        << "  Type      : " << object->typeName() << "\n"
        << "  Parameter : " << object->paramName(failed) << "\n\n";
    return false;
  }
  return true;
}

bool AdjObjectList::checkConvergence(const Vector& x, const LSParams& ls) const {
  return checkConvergence(x, ls, messages());
}

double AdjObjectList::averageChange(ChangeGroup group, const Vector& x) const {
  double sum = 0.0;
  int count = 0;
  auto addRange = [&](const AdjObject& object, int begin, int end) {
    const auto& slots = object.slots();
    for (int k = begin; k < end && k < static_cast<int>(slots.size()); ++k) {
      if (slots[k].state == ParamState::kEliminated) continue;
      sum += std::fabs(x[object.firstUnknown() + k]);
      ++count;
    }
  };
  for (const AdjObject* object : objects_) {
    const AdjKind kind = object->kind();
    const int n = static_cast<int>(object->slots().size());
    switch (group) {
      case ChangeGroup::kObjectPoints:
        if (kind == AdjKind::kObjectPoint) addRange(*object, 0, n);
        break;
      case ChangeGroup::kProjectionCentres:
        if (kind == AdjKind::kExtOrientation) addRange(*object, 0, 3);
        break;
      case ChangeGroup::kRotations:
        if (kind == AdjKind::kExtOrientation) addRange(*object, 3, n);
        break;
      case ChangeGroup::kGeometry:
        if (kind == AdjKind::kExtOrientation || kind == AdjKind::kImageGeometry) {
          object->sumChanges(x, sum, count);
        }
        break;
    }
  }
  return count == 0 ? -1.0 : sum / count;
}

void AdjObjectList::printUnknownsTable(std::ostream& out, const LSParams& ls) const {
  auto sci = [&out](double v) { printScientific(out, v, 2, 8); };
  out << "Unknown parameters\n"
      << "==================\n"
      << "Std. dev. of unit weight             :  ";
  sci(ls.sigma0);
  out << "\nLimit of std. dev. to indicate that\n"
      << "  unknown should be eliminated       :  ";
  sci(ls.smin);
  out << "\n  value is an unknown                :  ";
  sci(ls.smax);
  out << "\nWeight for suppression of unknowns   :  ";
  sci(ls.weightSuppression);
  out << "\n\nState: unk=unknown, obs=observed, eli=eliminated\n\n"
      << "  Index   Name               ID   State      Weight\n\n";
  for (const AdjObject* object : objects_) {
    const auto& slots = object->slots();
    for (int k = 0; k < static_cast<int>(slots.size()); ++k) {
      out << "  " << std::setw(5) << object->firstUnknown() + k << "   " << std::left
          << std::setw(8) << object->paramName(k) << std::right << "   " << std::setw(10)
          << object->id() << "   " << std::left << std::setw(5) << stateAbbreviation(slots[k].state)
          << std::right << "   ";
      printScientific(out, slots[k].weight, 2, 9);
      out << "\n";
    }
    out << "\n";
  }
}

}  // namespace bravik
