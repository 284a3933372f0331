#include "terrain.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "random.h"

namespace blockgen {

Terrain::Terrain(double west, double north, double cell, int cols, int rows,
                 std::vector<float> heights)
    : west_(west),
      north_(north),
      cell_(cell),
      cols_(cols),
      rows_(rows),
      heights_(std::move(heights)) {
  const auto [lo, hi] = std::minmax_element(heights_.begin(), heights_.end());
  min_height_ = *lo;
  max_height_ = *hi;
  double sum = 0;
  for (float h : heights_) sum += h;
  mean_height_ = sum / static_cast<double>(heights_.size());
}

float Terrain::at(int col, int row) const {
  col = std::clamp(col, 0, cols_ - 1);
  row = std::clamp(row, 0, rows_ - 1);
  return heights_[static_cast<size_t>(row) * cols_ + col];
}

double Terrain::height(double east, double north) const {
  // Cell centres sit at west + (i + 0.5) * cell, north - (j + 0.5) * cell.
  const double fc = (east - west_) / cell_ - 0.5;
  const double fr = (north_ - north) / cell_ - 0.5;
  const double c0 = std::floor(fc), r0 = std::floor(fr);
  const double tc = fc - c0, tr = fr - r0;
  const int c = static_cast<int>(c0), r = static_cast<int>(r0);
  const double top = at(c, r) * (1 - tc) + at(c + 1, r) * tc;
  const double bottom = at(c, r + 1) * (1 - tc) + at(c + 1, r + 1) * tc;
  return top * (1 - tr) + bottom * tr;
}

std::optional<Eigen::Vector3d> Terrain::intersect(const Eigen::Vector3d& origin,
                                                  const Eigen::Vector3d& direction,
                                                  double guess_height) const {
  if (direction.z() >= 0 || origin.z() <= max_height_) return march(origin, direction);
  // Fixed-point iteration on the height: converges when the terrain slope along the ray is
  // small against the ray's steepness, which holds for aerial views of rolling terrain.
  double t = (guess_height - origin.z()) / direction.z();
  for (int i = 0; i < 40; ++i) {
    const Eigen::Vector3d p = origin + t * direction;
    const double misclosure = p.z() - height(p.x(), p.y());
    if (std::abs(misclosure) < 1e-4) return p;
    t -= misclosure / direction.z();
  }
  return march(origin, direction);
}

std::optional<Eigen::Vector3d> Terrain::march(const Eigen::Vector3d& origin,
                                              const Eigen::Vector3d& direction) const {
  // Steps of half a cell until the ray passes below the surface, then bisection.
  const Eigen::Vector3d d = direction.normalized();
  auto below = [&](double t) {
    const Eigen::Vector3d p = origin + t * d;
    return p.z() - height(p.x(), p.y());
  };
  const double step = 0.5 * cell_;
  const double limit = 4.0 * (box().width() + box().depth() + (max_height_ - min_height_)) +
                       std::abs(origin.z() - min_height_);
  double t0 = 0, f0 = below(0);
  if (f0 <= 0) return std::nullopt;
  for (double t1 = step; t1 < limit; t1 += step) {
    const double f1 = below(t1);
    if (f1 <= 0) {
      for (int i = 0; i < 60; ++i) {
        const double tm = 0.5 * (t0 + t1);
        (below(tm) > 0 ? t0 : t1) = tm;
      }
      const Eigen::Vector3d p = origin + 0.5 * (t0 + t1) * d;
      return Eigen::Vector3d(p.x(), p.y(), height(p.x(), p.y()));
    }
    t0 = t1;
    f0 = f1;
  }
  return std::nullopt;
}

namespace {

struct Wave {
  double kx, ky, phase, amplitude;
};

std::vector<Wave> make_waves(uint64_t seed) {
  Rng rng(seed, "terrain");
  std::vector<Wave> waves;
  const double wavelengths[] = {4200, 2600, 1700, 1100, 700, 450, 300, 210};
  for (double wavelength : wavelengths) {
    for (int k = 0; k < 2; ++k) {
      const double angle = rng.uniform(0, std::numbers::pi);
      const double wavenumber = 2 * std::numbers::pi / wavelength;
      // Amplitude falls with the wavelength: large hills, small bumps.
      const double amplitude = std::pow(wavelength / 4200.0, 0.8) * rng.uniform(0.6, 1.0);
      waves.push_back({wavenumber * std::cos(angle), wavenumber * std::sin(angle),
                       rng.uniform(0, 2 * std::numbers::pi), amplitude});
    }
  }
  return waves;
}

}  // namespace

Terrain make_terrain(const GroundBox& box, double cell, double base_height, double relief,
                     uint64_t seed) {
  const int cols = static_cast<int>(std::ceil(box.width() / cell));
  const int rows = static_cast<int>(std::ceil(box.depth() / cell));
  const std::vector<Wave> waves = make_waves(seed);
  std::vector<double> raw(static_cast<size_t>(cols) * rows);
  for (int r = 0; r < rows; ++r) {
    const double n = box.max_north - (r + 0.5) * cell;
    for (int c = 0; c < cols; ++c) {
      const double e = box.min_east + (c + 0.5) * cell;
      double h = 0;
      for (const Wave& w : waves) h += w.amplitude * std::sin(w.kx * e + w.ky * n + w.phase);
      raw[static_cast<size_t>(r) * cols + c] = h;
    }
  }
  const auto [lo, hi] = std::minmax_element(raw.begin(), raw.end());
  const double scale = *hi > *lo ? relief / (*hi - *lo) : 0.0;
  const double middle = 0.5 * (*hi + *lo);
  std::vector<float> heights(raw.size());
  for (size_t i = 0; i < raw.size(); ++i)
    heights[i] = static_cast<float>(base_height + (raw[i] - middle) * scale);
  return Terrain(box.min_east, box.max_north, cell, cols, rows, std::move(heights));
}

}  // namespace blockgen
