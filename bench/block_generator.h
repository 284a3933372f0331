#pragma once
// Deterministic synthetic aerial block: strips of nadir frame images over rolling terrain, tie
// points observed in every image whose frame contains them, a few control points observed in
// object space, and approximate orientations and coordinates perturbed from the truth.
// Object frame: local metric X east, Y north, Z up; flight lines run along X, alternating in
// direction (kappa 0 and pi), so image x lies along the flight line.
#include <array>
#include <cstdint>
#include <vector>

#include "collinearity.h"

namespace bench {

struct BlockSettings {
  int images = 24;
  int points = 500;
  std::uint64_t seed = 1;
  double flying_height = 1000.0;  // m above the mean terrain
  double forward_overlap = 0.6;   // fraction of the footprint along the strip
  double side_overlap = 0.3;      // fraction of the footprint across the strips
  double terrain_relief = 8.0;    // half range of the terrain heights, m
  double image_sigma = 3e-6;      // standard deviation of an image coordinate, m
  double control_sigma = 0.02;    // standard deviation of a control coordinate, m
  double position_error = 2.0;    // standard deviation of the approximate centres, m
  double angle_error = 0.003;     // standard deviation of the approximate angles, rad
  double point_error = 1.5;       // standard deviation of the approximate points, m
  double frame_margin = 0.05;     // fraction of the format kept free of points at each edge
  bool noise = true;              // false: exact observations (tests)
};

using Pose = std::array<double, 6>;  // Xo Yo Zo omega phi kappa (m, rad)
using Point3 = std::array<double, 3>;

struct ImageObservation {
  int image = 0;
  int point = 0;
  double x = 0.0;  // image coordinates, m
  double y = 0.0;
};

struct ControlObservation {
  int point = 0;
  Point3 measured{};  // observed object coordinates, m
};

struct SyntheticBlock {
  FrameCamera camera;
  double image_sigma = 0.0;
  double control_sigma = 0.0;
  std::vector<Pose> true_poses;
  std::vector<Pose> approximate_poses;
  std::vector<Point3> true_points;
  std::vector<Point3> approximate_points;
  std::vector<ImageObservation> observations;  // sorted by image, then point
  std::vector<ControlObservation> control;
};

// Builds the block; every point is seen by at least two images.
SyntheticBlock generateBlock(const BlockSettings& settings);

// Terrain height (m) at a horizontal position.
double terrainHeight(double x, double y, double relief);

}  // namespace bench
