// Planar polygons (image footprints) with union and area, through OGR geometry.
#pragma once

#include <Eigen/Core>
#include <memory>
#include <vector>

class OGRGeometry;

class CPgon {
 public:
  CPgon();
  // A simple polygon from its outline (closed or not; at least three distinct vertices).
  // `reserved` is unused. A self-intersecting outline is repaired (OGR MakeValid / buffer 0).
  CPgon(const Eigen::Vector2d* vertices, int count, int reserved = 0);
  explicit CPgon(const std::vector<Eigen::Vector2d>& vertices);
  CPgon(const CPgon& other);
  CPgon& operator=(const CPgon& other);
  CPgon(CPgon&&) noexcept;
  CPgon& operator=(CPgon&&) noexcept;
  ~CPgon();

  // The union of both areas; an empty polygon is neutral.
  CPgon operator|(const CPgon& other) const;
  CPgon& operator|=(const CPgon& other);
  // Area in square coordinate units; 0 for an empty polygon.
  double GetArea() const;
  bool IsEmpty() const;
  // Number of separate parts of the area (a union of disjoint polygons has several).
  int PartCount() const;

 private:
  explicit CPgon(std::unique_ptr<OGRGeometry> geometry);
  std::unique_ptr<OGRGeometry> geometry_;
};
