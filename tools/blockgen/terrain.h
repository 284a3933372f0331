#pragma once
// The terrain of a block: a regular grid of heights in the projected system, interpolated
// bilinearly between cell centres. This interpolated surface is the ground truth: images are
// rendered on it and every true point height is taken from it, and the DEM file stores the grid.
#include <Eigen/Core>
#include <cstdint>
#include <optional>
#include <vector>

namespace blockgen {

struct GroundBox {
  double min_east = 0, min_north = 0, max_east = 0, max_north = 0;
  double width() const { return max_east - min_east; }
  double depth() const { return max_north - min_north; }
  GroundBox grown(double by) const {
    return {min_east - by, min_north - by, max_east + by, max_north + by};
  }
};

class Terrain {
 public:
  // Grid whose top-left corner is (west, north); row 0 is the northern row.
  Terrain(double west, double north, double cell, int cols, int rows, std::vector<float> heights);

  double height(double east, double north) const;
  // First intersection of the ray origin + t * direction (t > 0) with the surface, to 0.1 mm.
  // guess_height: where the search starts (e.g. the neighbouring pixel's ground height);
  // it changes the work, not the result beyond that tolerance.
  std::optional<Eigen::Vector3d> intersect(const Eigen::Vector3d& origin,
                                           const Eigen::Vector3d& direction,
                                           double guess_height) const;
  std::optional<Eigen::Vector3d> intersect(const Eigen::Vector3d& origin,
                                           const Eigen::Vector3d& direction) const {
    return intersect(origin, direction, mean_height_);
  }

  double west() const { return west_; }
  double north() const { return north_; }
  double cell() const { return cell_; }
  int cols() const { return cols_; }
  int rows() const { return rows_; }
  const std::vector<float>& heights() const { return heights_; }
  double min_height() const { return min_height_; }
  double max_height() const { return max_height_; }
  double mean_height() const { return mean_height_; }
  GroundBox box() const { return {west_, north_ - rows_ * cell_, west_ + cols_ * cell_, north_}; }

 private:
  float at(int col, int row) const;
  std::optional<Eigen::Vector3d> march(const Eigen::Vector3d& origin,
                                       const Eigen::Vector3d& direction) const;

  double west_, north_, cell_;
  int cols_, rows_;
  std::vector<float> heights_;
  double min_height_ = 0, max_height_ = 0, mean_height_ = 0;
};

// Hills and valleys: a base height plus smooth undulations of about relief metres peak to
// peak over wavelengths of a few hundred metres to a few km, fixed by the seed.
Terrain make_terrain(const GroundBox& box, double cell, double base_height, double relief,
                     uint64_t seed);

}  // namespace blockgen
