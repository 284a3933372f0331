#include "block_generator.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>

namespace bench {
namespace {

// Portable uniform and normal draws on top of the standard 64-bit Mersenne twister, so the block
// does not depend on the standard library's distribution algorithms.
class Random {
 public:
  explicit Random(std::uint64_t seed) : engine_(seed) {}
  double uniform() { return (engine_() >> 11) * 0x1.0p-53; }
  double uniform(double low, double high) { return low + (high - low) * uniform(); }
  double normal(double sigma) {
    const double u1 = 1.0 - uniform();
    const double u2 = uniform();
    return sigma * std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * std::numbers::pi * u2);
  }

 private:
  std::mt19937_64 engine_;
};

struct StripLayout {
  int strips = 1;
  int per_strip = 1;
  double base = 0.0;     // distance between exposures, m
  double spacing = 0.0;  // distance between strips, m
};

StripLayout layoutStrips(const BlockSettings& s, const FrameCamera& camera) {
  StripLayout layout;
  const double scale = s.flying_height / camera.focal;
  layout.base = (1.0 - s.forward_overlap) * camera.width * scale;
  layout.spacing = (1.0 - s.side_overlap) * camera.height * scale;
  // Roughly square blocks: strips * spacing ~ per_strip * base.
  const double strips = std::sqrt(s.images * layout.base / layout.spacing);
  layout.strips = std::clamp(static_cast<int>(std::lround(strips)), 1, s.images);
  if (s.images >= 2) layout.strips = std::min(layout.strips, s.images / 2);
  layout.per_strip = (s.images + layout.strips - 1) / layout.strips;
  return layout;
}

std::vector<Pose> truePoses(const BlockSettings& s, const StripLayout& layout, Random& random) {
  std::vector<Pose> poses;
  poses.reserve(s.images);
  for (int i = 0; i < s.images; ++i) {
    const int strip = i / layout.per_strip;
    const int k = i % layout.per_strip;
    const bool reverse = strip % 2 == 1;
    const int along = reverse ? layout.per_strip - 1 - k : k;
    Pose pose;
    pose[0] = along * layout.base + random.normal(5.0);
    pose[1] = strip * layout.spacing + random.normal(5.0);
    pose[2] = s.flying_height + random.normal(10.0);
    pose[3] = random.normal(0.01);
    pose[4] = random.normal(0.01);
    pose[5] = (reverse ? std::numbers::pi : 0.0) + random.normal(0.02);
    poses.push_back(pose);
  }
  return poses;
}

bool insideFrame(const FrameCamera& camera, double margin, const double image[2]) {
  const double half_x = 0.5 * camera.width * (1.0 - 2.0 * margin);
  const double half_y = 0.5 * camera.height * (1.0 - 2.0 * margin);
  return std::abs(image[0] - camera.xp) <= half_x && std::abs(image[1] - camera.yp) <= half_y;
}

// Images whose frame contains `point`, with their exact image coordinates.
std::vector<ImageObservation> viewsOf(const SyntheticBlock& block, const BlockSettings& s,
                                      const Point3& point, double reach) {
  std::vector<ImageObservation> views;
  for (int i = 0; i < static_cast<int>(block.true_poses.size()); ++i) {
    const Pose& pose = block.true_poses[i];
    if (std::abs(point[0] - pose[0]) > reach || std::abs(point[1] - pose[1]) > reach) continue;
    double image[2];
    if (!projectOpk(block.camera, pose.data(), point.data(), image)) continue;
    if (!insideFrame(block.camera, s.frame_margin, image)) continue;
    views.push_back({i, 0, image[0], image[1]});
  }
  return views;
}

void addPoints(SyntheticBlock& block, const BlockSettings& s, const StripLayout& layout,
               Random& random) {
  const double scale = s.flying_height / block.camera.focal;
  const double reach = 0.6 * scale * std::max(block.camera.width, block.camera.height) + 100.0;
  const double x_max = (layout.per_strip - 1) * layout.base;
  const double y_max = (layout.strips - 1) * layout.spacing;
  const double half_x = 0.45 * block.camera.width * scale;
  const double half_y = 0.45 * block.camera.height * scale;
  block.true_points.reserve(s.points);
  while (static_cast<int>(block.true_points.size()) < s.points) {
    const double x = random.uniform(-half_x, x_max + half_x);
    const double y = random.uniform(-half_y, y_max + half_y);
    const Point3 point{x, y, terrainHeight(x, y, s.terrain_relief)};
    std::vector<ImageObservation> views = viewsOf(block, s, point, reach);
    if (views.size() < 2) continue;
    const int index = static_cast<int>(block.true_points.size());
    block.true_points.push_back(point);
    for (ImageObservation& view : views) {
      view.point = index;
      if (s.noise) {
        view.x += random.normal(s.image_sigma);
        view.y += random.normal(s.image_sigma);
      }
      block.observations.push_back(view);
    }
  }
  std::stable_sort(
      block.observations.begin(), block.observations.end(),
      [](const ImageObservation& a, const ImageObservation& b) { return a.image < b.image; });
}

// Control at the points nearest to a 3 x 3 grid over the block (fewer when points are scarce).
void addControl(SyntheticBlock& block, const BlockSettings& s, Random& random) {
  double low[2] = {1e300, 1e300}, high[2] = {-1e300, -1e300};
  for (const Point3& p : block.true_points) {
    for (int k = 0; k < 2; ++k) {
      low[k] = std::min(low[k], p[k]);
      high[k] = std::max(high[k], p[k]);
    }
  }
  std::vector<int> chosen;
  for (int gy = 0; gy < 3; ++gy) {
    for (int gx = 0; gx < 3; ++gx) {
      const double tx = low[0] + (0.1 + 0.4 * gx) * (high[0] - low[0]);
      const double ty = low[1] + (0.1 + 0.4 * gy) * (high[1] - low[1]);
      int best = -1;
      double best_d = 1e300;
      for (int i = 0; i < static_cast<int>(block.true_points.size()); ++i) {
        const double d = std::hypot(block.true_points[i][0] - tx, block.true_points[i][1] - ty);
        if (d < best_d) best_d = d, best = i;
      }
      if (best >= 0 && std::find(chosen.begin(), chosen.end(), best) == chosen.end())
        chosen.push_back(best);
    }
  }
  std::sort(chosen.begin(), chosen.end());
  for (int index : chosen) {
    ControlObservation control{index, block.true_points[index]};
    if (s.noise)
      for (double& c : control.measured) c += random.normal(s.control_sigma);
    block.control.push_back(control);
  }
}

void perturbApproximations(SyntheticBlock& block, const BlockSettings& s, Random& random) {
  block.approximate_poses = block.true_poses;
  for (Pose& pose : block.approximate_poses) {
    for (int k = 0; k < 3; ++k) pose[k] += random.normal(s.position_error);
    for (int k = 3; k < 6; ++k) pose[k] += random.normal(s.angle_error);
  }
  block.approximate_points = block.true_points;
  for (Point3& point : block.approximate_points) {
    for (double& c : point) c += random.normal(s.point_error);
  }
  // An observed coordinate starts at its observation, as in the engine.
  for (const ControlObservation& control : block.control)
    block.approximate_points[control.point] = control.measured;
}

}  // namespace

double terrainHeight(double x, double y, double relief) {
  return relief * (0.6 * std::sin(x / 700.0) * std::cos(y / 900.0) +
                   0.4 * std::sin((x + 2.0 * y) / 260.0 + 1.0));
}

SyntheticBlock generateBlock(const BlockSettings& settings) {
  SyntheticBlock block;
  block.image_sigma = settings.image_sigma;
  block.control_sigma = settings.control_sigma;
  Random random(settings.seed);
  const StripLayout layout = layoutStrips(settings, block.camera);
  block.true_poses = truePoses(settings, layout, random);
  addPoints(block, settings, layout, random);
  addControl(block, settings, random);
  perturbApproximations(block, settings, random);
  return block;
}

}  // namespace bench
