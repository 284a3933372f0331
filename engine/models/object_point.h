#ifndef BRAVIK_MODELS_OBJECT_POINT_H
#define BRAVIK_MODELS_OBJECT_POINT_H

#include <array>
#include <cstdint>
#include <string>

#include "lsq/adj_object.h"
#include "models/vec3.h"

namespace bravik {

// Object point types and their report codes "nu", "co", "in", "ch".
enum ObjectPointType : std::int32_t {
  kPointNone = 0,
  kPointControl = 1,
  kPointIntersection = 2,
  kPointCheck = 3,
};

const char* objectPointTypeCode(std::int32_t type);

// A point in object space (object units, metres) with three parameters X, Y, Z.
class ObjectPoint : public AdjObject {
 public:
  // Coordinates 0; std. devs. the "free" value smaxu of the settings `ls`.
  ObjectPoint(std::string id, const LSParams& ls);

  std::string typeName() const override { return "object point"; }
  std::string keyword() const override { return "obj-point"; }
  std::string paramName(int k) const override;
  int setupParamSlots(const LSParams& ls) override;
  void printIterationTable(std::ostream& out, const Vector& x) const override;
  int convergenceTest(const Vector& x, const LSParams& ls) const override;

  Vec3 xyz{0.0, 0.0, 0.0};
  Vec3 sdev;
  std::int32_t type = kPointIntersection;
  bool coordinatesGiven = false;
  std::array<bool, 3> checkComponents{false, false, false};
  std::int32_t rays = 0;
};

}  // namespace bravik

#endif  // BRAVIK_MODELS_OBJECT_POINT_H
