#include "geometry/polygon.h"

#include <ogr_geometry.h>

namespace {

std::unique_ptr<OGRGeometry> MakePolygon(const Eigen::Vector2d* vertices, int count) {
  if (vertices == nullptr || count < 3) return nullptr;
  auto ring = std::make_unique<OGRLinearRing>();
  for (int i = 0; i < count; ++i) ring->addPoint(vertices[i].x(), vertices[i].y());
  ring->closeRings();
  auto polygon = std::make_unique<OGRPolygon>();
  polygon->addRingDirectly(ring.release());
  if (polygon->IsValid()) return polygon;
  std::unique_ptr<OGRGeometry> repaired(polygon->Buffer(0.0));
  return repaired;
}

double AreaOf(const OGRGeometry& geometry) {
  const OGRwkbGeometryType type = wkbFlatten(geometry.getGeometryType());
  if (type == wkbPolygon) return geometry.toPolygon()->get_Area();
  if (type == wkbMultiPolygon) return geometry.toMultiPolygon()->get_Area();
  if (type == wkbGeometryCollection) return geometry.toGeometryCollection()->get_Area();
  return 0.0;
}

}  // namespace

CPgon::CPgon() = default;

CPgon::CPgon(const Eigen::Vector2d* vertices, int count, int)
    : geometry_(MakePolygon(vertices, count)) {}

CPgon::CPgon(const std::vector<Eigen::Vector2d>& vertices)
    : CPgon(vertices.data(), static_cast<int>(vertices.size())) {}

CPgon::CPgon(std::unique_ptr<OGRGeometry> geometry) : geometry_(std::move(geometry)) {}

CPgon::CPgon(const CPgon& other)
    : geometry_(other.geometry_ ? other.geometry_->clone() : nullptr) {}

CPgon& CPgon::operator=(const CPgon& other) {
  if (this != &other) geometry_.reset(other.geometry_ ? other.geometry_->clone() : nullptr);
  return *this;
}

CPgon::CPgon(CPgon&&) noexcept = default;
CPgon& CPgon::operator=(CPgon&&) noexcept = default;
CPgon::~CPgon() = default;

bool CPgon::IsEmpty() const { return !geometry_ || geometry_->IsEmpty(); }

CPgon CPgon::operator|(const CPgon& other) const {
  if (other.IsEmpty()) return *this;
  if (IsEmpty()) return other;
  std::unique_ptr<OGRGeometry> merged(geometry_->Union(other.geometry_.get()));
  if (!merged) return *this;
  return CPgon(std::move(merged));
}

CPgon& CPgon::operator|=(const CPgon& other) {
  *this = *this | other;
  return *this;
}

double CPgon::GetArea() const { return IsEmpty() ? 0.0 : AreaOf(*geometry_); }

int CPgon::PartCount() const {
  if (IsEmpty()) return 0;
  const OGRwkbGeometryType type = wkbFlatten(geometry_->getGeometryType());
  if (type == wkbPolygon) return 1;
  if (OGR_GT_IsSubClassOf(type, wkbGeometryCollection))
    return geometry_->toGeometryCollection()->getNumGeometries();
  return 0;
}
