#pragma once
// Procedural ground texture: the grey value (0..255) seen at a ground position, a pure
// function of (easting, northing) and the seed. Rich enough for area-based matching at every
// scale from about 1 m: fields with furrows, roads, hedges, forest crowns, building-like
// blocks with shadows, and value noise at several scales. Survey targets (a white disc on a
// black square, centred on each control and check point) lie on top.
#include <Eigen/Core>
#include <cstdint>
#include <vector>

namespace blockgen {

struct Target {
  double east = 0, north = 0;
  double disc_radius = 1.0;  // m
  double square_half = 2.0;  // m
  double edge_width = 0.25;  // m over which the disc edge blends (anti-aliasing)
};

class GroundTexture {
 public:
  GroundTexture(uint64_t seed, double origin_east, double origin_north,
                std::vector<Target> targets);

  double value(double east, double north) const;
  // Colour (r, g, b in 0..255) whose luma 0.299 r + 0.587 g + 0.114 b equals value() wherever
  // no channel clips: the grey texture tinted by land cover.
  Eigen::Vector3d colour(double east, double north) const;
  const std::vector<Target>& targets() const { return targets_; }

 private:
  double landscape(double a, double b, Eigen::Vector3d* tint) const;
  double field(double a, double b, uint64_t parcel) const;
  double forest(double a, double b) const;
  double buildings(double a, double b, Eigen::Vector3d* tint) const;
  double noise(double x, double y, double scale, uint64_t octave) const;
  bool target_value(double east, double north, double* value) const;
  double grey_and_tint(double east, double north, Eigen::Vector3d* tint) const;

  uint64_t seed_;
  double origin_east_, origin_north_;
  double cos_, sin_;
  std::vector<Target> targets_;
};

}  // namespace blockgen
