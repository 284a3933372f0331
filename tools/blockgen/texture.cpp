#include "texture.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "random.h"

namespace blockgen {
namespace {

constexpr double kRowDepth = 90.0;      // m, parcel rows between roads
constexpr double kParcelWidth = 120.0;  // m
constexpr double kRoadHalfWidth = 3.5;  // m
constexpr double kHedgeHalfWidth = 0.8;
constexpr double kTreeSpacing = 5.0;
constexpr double kBlockSpacing = 30.0;
constexpr double kTwoPi = 2 * std::numbers::pi;

double smooth(double t) { return t * t * (3 - 2 * t); }

// Colour tints with unit luma (0.299 r + 0.587 g + 0.114 b = 1), so tinting keeps the grey.
Eigen::Vector3d unit_luma(double r, double g, double b) {
  return Eigen::Vector3d(r, g, b) / (0.299 * r + 0.587 * g + 0.114 * b);
}
const Eigen::Vector3d kNeutral(1.0, 1.0, 1.0);
const Eigen::Vector3d kAsphalt = unit_luma(0.97, 1.0, 1.08);
const Eigen::Vector3d kPavement = unit_luma(1.05, 1.0, 0.92);
const Eigen::Vector3d kTiles = unit_luma(1.45, 0.85, 0.7);
const Eigen::Vector3d kVegetation = unit_luma(0.75, 1.12, 0.62);
const Eigen::Vector3d kCrops[3] = {unit_luma(0.82, 1.1, 0.6), unit_luma(1.18, 1.05, 0.55),
                                   unit_luma(1.2, 0.97, 0.78)};

uint64_t cell_hash(uint64_t seed, int64_t i, int64_t j, uint64_t salt) {
  return hash_combine(hash_combine(seed ^ salt, static_cast<uint64_t>(i)),
                      static_cast<uint64_t>(j));
}

double cell_unit(uint64_t seed, int64_t i, int64_t j, uint64_t salt) {
  return unit_from_bits(cell_hash(seed, i, j, salt));
}

}  // namespace

GroundTexture::GroundTexture(uint64_t seed, double origin_east, double origin_north,
                             std::vector<Target> targets)
    : seed_(mix64(seed ^ 0x7e47u)),
      origin_east_(origin_east),
      origin_north_(origin_north),
      targets_(std::move(targets)) {
  // Field layout rotated against the grid so roads cross the image rows obliquely.
  const double angle = 0.25 + 0.5 * unit_from_bits(mix64(seed_ + 5));
  cos_ = std::cos(angle);
  sin_ = std::sin(angle);
}

double GroundTexture::value(double east, double north) const {
  Eigen::Vector3d tint;
  return grey_and_tint(east, north, &tint);
}

Eigen::Vector3d GroundTexture::colour(double east, double north) const {
  Eigen::Vector3d tint;
  const double grey = grey_and_tint(east, north, &tint);
  return (grey * tint).cwiseMax(0.0).cwiseMin(255.0);
}

double GroundTexture::grey_and_tint(double east, double north, Eigen::Vector3d* tint) const {
  double v = 0;
  *tint = kNeutral;
  if (target_value(east, north, &v)) return v;
  const double x = east - origin_east_, y = north - origin_north_;
  const double a = cos_ * x + sin_ * y;
  const double b = -sin_ * x + cos_ * y;
  v = landscape(a, b, tint);
  v += noise(x, y, 55.0, 1) * 16 + noise(x, y, 13.0, 2) * 12 + noise(x, y, 3.1, 3) * 10 +
       noise(x, y, 1.3, 4) * 8;
  return std::clamp(v, 0.0, 255.0);
}

double GroundTexture::landscape(double a, double b, Eigen::Vector3d* tint) const {
  const double row = std::floor(b / kRowDepth);
  const double lb = b - row * kRowDepth;
  const int64_t j = static_cast<int64_t>(row);
  if (lb < kRoadHalfWidth || lb > kRowDepth - kRoadHalfWidth) {
    *tint = kAsphalt;
    const double lane = std::abs(lb < kRoadHalfWidth ? lb : lb - kRowDepth);
    return lane < 0.12 && std::fmod(std::abs(a), 9.0) < 4.5 ? 215.0 : 72.0;
  }
  const double offset = cell_unit(seed_, j, 0, 11) * kParcelWidth;
  const double column = std::floor((a + offset) / kParcelWidth);
  const double la = a + offset - column * kParcelWidth;
  *tint = kVegetation;
  if (la < kHedgeHalfWidth || la > kParcelWidth - kHedgeHalfWidth) return 38.0;
  const uint64_t parcel = cell_hash(seed_, static_cast<int64_t>(column), j, 23);
  const double kind = unit_from_bits(parcel);
  if (kind < 0.14) return buildings(a, b, tint);
  if (kind < 0.32) return forest(a, b);
  *tint = kCrops[mix64(parcel + 5) % 3];
  return field(a, b, parcel);
}

double GroundTexture::field(double a, double b, uint64_t parcel) const {
  const double base = 85.0 + 115.0 * unit_from_bits(mix64(parcel + 1));
  const double period = 3.5 + 5.0 * unit_from_bits(mix64(parcel + 2));
  const double along = unit_from_bits(mix64(parcel + 3)) < 0.5 ? a : b;
  const double amplitude = 8.0 + 14.0 * unit_from_bits(mix64(parcel + 4));
  return base + amplitude * std::sin(kTwoPi * along / period);
}

double GroundTexture::forest(double a, double b) const {
  // Tree crowns on a jittered lattice: the nearest crown wins; bright tops, dark gaps.
  const int64_t ci = static_cast<int64_t>(std::floor(a / kTreeSpacing));
  const int64_t cj = static_cast<int64_t>(std::floor(b / kTreeSpacing));
  double best = 1e9;
  double radius = 1.0;
  for (int64_t i = ci - 1; i <= ci + 1; ++i) {
    for (int64_t j = cj - 1; j <= cj + 1; ++j) {
      const double tx = (i + 0.2 + 0.6 * cell_unit(seed_, i, j, 31)) * kTreeSpacing;
      const double ty = (j + 0.2 + 0.6 * cell_unit(seed_, i, j, 37)) * kTreeSpacing;
      const double r = 1.6 + 1.2 * cell_unit(seed_, i, j, 41);
      const double d = std::sqrt((a - tx) * (a - tx) + (b - ty) * (b - ty)) / r;
      if (d < best) {
        best = d;
        radius = r;
      }
    }
  }
  if (best > 1.0) return 28.0;
  return 48.0 + 70.0 * (1.0 - best * best) + 4.0 * radius;
}

double GroundTexture::buildings(double a, double b, Eigen::Vector3d* tint) const {
  const int64_t i = static_cast<int64_t>(std::floor(a / kBlockSpacing));
  const int64_t j = static_cast<int64_t>(std::floor(b / kBlockSpacing));
  const double la = a - i * kBlockSpacing, lb = b - j * kBlockSpacing;
  const double w = 9.0 + 12.0 * cell_unit(seed_, i, j, 51);
  const double d = 8.0 + 11.0 * cell_unit(seed_, i, j, 53);
  const double x0 = 2.0 + (kBlockSpacing - 4.0 - w) * cell_unit(seed_, i, j, 57);
  const double y0 = 2.0 + (kBlockSpacing - 4.0 - d) * cell_unit(seed_, i, j, 59);
  const double roof = 140.0 + 90.0 * cell_unit(seed_, i, j, 61);
  *tint = kPavement;
  if (la >= x0 && la < x0 + w && lb >= y0 && lb < y0 + d) {
    *tint = cell_unit(seed_, i, j, 63) < 0.6 ? kTiles : kNeutral;
    // Gable roof: the two halves differ in brightness.
    return lb < y0 + 0.5 * d ? roof : roof * 0.72;
  }
  if (la >= x0 + 1.5 && la < x0 + w + 1.5 && lb >= y0 - 2.0 && lb < y0) return 45.0;
  return 125.0 + 20.0 * std::sin(kTwoPi * la / 2.4) * std::sin(kTwoPi * lb / 2.4);
}

double GroundTexture::noise(double x, double y, double scale, uint64_t octave) const {
  const double fx = x / scale, fy = y / scale;
  const double ix = std::floor(fx), iy = std::floor(fy);
  const double tx = smooth(fx - ix), ty = smooth(fy - iy);
  const int64_t i = static_cast<int64_t>(ix), j = static_cast<int64_t>(iy);
  auto lattice = [&](int64_t di, int64_t dj) {
    return 2.0 * cell_unit(seed_, i + di, j + dj, 100 + octave) - 1.0;
  };
  const double top = lattice(0, 0) * (1 - tx) + lattice(1, 0) * tx;
  const double bottom = lattice(0, 1) * (1 - tx) + lattice(1, 1) * tx;
  return top * (1 - ty) + bottom * ty;
}

bool GroundTexture::target_value(double east, double north, double* value) const {
  for (const Target& t : targets_) {
    const double dx = east - t.east, dy = north - t.north;
    if (std::abs(dx) > t.square_half || std::abs(dy) > t.square_half) continue;
    const double d = std::sqrt(dx * dx + dy * dy);
    const double inside = std::clamp((t.disc_radius - d) / t.edge_width + 0.5, 0.0, 1.0);
    *value = 15.0 + 230.0 * inside;
    return true;
  }
  return false;
}

}  // namespace blockgen
