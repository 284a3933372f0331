#include "render.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>

#include "random.h"

namespace blockgen {

double Image8::sample(double col, double row, int channel) const {
  // Pixel (i, j) holds the value at its centre (i + 0.5, j + 0.5).
  const double fc = std::clamp(col - 0.5, 0.0, width - 1.0);
  const double fr = std::clamp(row - 0.5, 0.0, height - 1.0);
  const int c = std::min(static_cast<int>(fc), width - 2);
  const int r = std::min(static_cast<int>(fr), height - 2);
  const double tc = fc - c, tr = fr - r;
  const double top = at(c, r, channel) * (1 - tc) + at(c + 1, r, channel) * tc;
  const double bottom = at(c, r + 1, channel) * (1 - tc) + at(c + 1, r + 1, channel) * tc;
  return top * (1 - tr) + bottom * tr;
}

std::optional<Eigen::Vector3d> ground_seen(const Survey& survey, size_t image, Pixel position,
                                           double guess_height) {
  const ImageRecord& record = survey.images[image];
  const Eigen::Vector3d ray_in_camera =
      survey.camera().ray_from_image(survey.camera().centred_from_pixel(position));
  const Eigen::Vector3d ray = record.truth.world_from_camera() * ray_in_camera;
  return survey.terrain->intersect(record.truth.centre, ray, guess_height);
}

double radiance(const Survey& survey, size_t image, Pixel position, double* guess_height) {
  const std::optional<Eigen::Vector3d> ground = ground_seen(
      survey, image, position, guess_height ? *guess_height : survey.terrain->mean_height());
  if (!ground) return 0.0;
  if (guess_height) *guess_height = ground->z();
  const ImageRecord& record = survey.images[image];
  return record.gain * survey.texture->value(ground->x(), ground->y()) + record.offset;
}

Eigen::Vector3d colour_radiance(const Survey& survey, size_t image, Pixel position,
                                double* guess_height) {
  const std::optional<Eigen::Vector3d> ground = ground_seen(survey, image, position, *guess_height);
  if (!ground) return Eigen::Vector3d::Zero();
  *guess_height = ground->z();
  const ImageRecord& record = survey.images[image];
  return record.gain * survey.texture->colour(ground->x(), ground->y()) +
         Eigen::Vector3d::Constant(record.offset);
}

namespace {

// Zero-mean sensor grain from a hash of the pixel, roughly Gaussian (sum of four uniforms).
double grain(uint64_t seed, size_t image, int col, int row, int channel) {
  uint64_t h = hash_combine(hash_combine(seed ^ 0x9a11u, image * 4 + channel),
                            (uint64_t(row) << 32) | uint32_t(col));
  double sum = 0;
  for (int i = 0; i < 4; ++i) {
    sum += unit_from_bits(h);
    h = mix64(h);
  }
  return (sum - 2.0) * std::sqrt(3.0);
}

uint8_t quantise(double v) { return static_cast<uint8_t>(std::clamp(std::lround(v), 0L, 255L)); }

void render_row(const Survey& survey, size_t image, int row, uint8_t* out) {
  const FrameCamera& camera = survey.camera();
  const double grain_sigma = survey.options.pixel_grain;
  const uint64_t seed = survey.options.seed;
  // Each row starts its ray search afresh, so rows are independent of the thread schedule.
  double ground_height = survey.terrain->mean_height();
  for (int col = 0; col < camera.width; ++col) {
    const Pixel centre{col + 0.5, row + 0.5};
    if (!survey.options.rgb) {
      const double v = radiance(survey, image, centre, &ground_height);
      out[col] = quantise(v + grain_sigma * grain(seed, image, col, row, 0));
      continue;
    }
    const Eigen::Vector3d v = colour_radiance(survey, image, centre, &ground_height);
    for (int ch = 0; ch < 3; ++ch)
      out[3 * col + ch] = quantise(v[ch] + grain_sigma * grain(seed, image, col, row, ch));
  }
}

}  // namespace

Image8 render_image(const Survey& survey, size_t image, int threads) {
  Image8 result;
  result.width = survey.camera().width;
  result.height = survey.camera().height;
  result.channels = survey.options.rgb ? 3 : 1;
  const size_t row_size = static_cast<size_t>(result.width) * result.channels;
  result.pixels.assign(row_size * result.height, 0);
  if (threads <= 0) threads = std::max(1u, std::thread::hardware_concurrency());
  std::atomic<int> next_row{0};
  auto work = [&] {
    for (int row = next_row++; row < result.height; row = next_row++)
      render_row(survey, image, row, &result.pixels[row * row_size]);
  };
  std::vector<std::thread> pool;
  for (int t = 1; t < threads; ++t) pool.emplace_back(work);
  work();
  for (std::thread& t : pool) t.join();
  return result;
}

}  // namespace blockgen
