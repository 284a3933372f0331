#include "bench_output.h"

#include <cmath>
#include <cstdio>

namespace bench {
namespace {

std::string number(const char* pattern, double value) {
  if (!std::isfinite(value)) return "nan";
  char text[64];
  std::snprintf(text, sizeof text, pattern, value);
  return text;
}

std::string sizePrefix(int images, int points) {
  return "images=" + std::to_string(images) + " points=" + std::to_string(points);
}

}  // namespace

std::string measurementLine(const Measurement& m) {
  return sizePrefix(m.images, m.points) + " solver=" + m.solver +
         " sec_per_iter=" + number("%.4f", m.sec_per_iter) +
         " peak_mb=" + number("%.1f", m.peak_mb) + " max_diff_mm=" + number("%.3f", m.max_diff_mm);
}

std::string ratioLine(const Measurement& engine, const Measurement& ceres) {
  const double ratio = ceres.sec_per_iter > 0.0 ? engine.sec_per_iter / ceres.sec_per_iter : NAN;
  return sizePrefix(engine.images, engine.points) + " ratio " + engine.solver + "/" + ceres.solver +
         "=" + number("%.3f", ratio);
}

std::string qualityLine(const Measurement& with_analysis, const Measurement& without) {
  const double time =
      without.sec_per_iter > 0.0 ? with_analysis.sec_per_iter / without.sec_per_iter : NAN;
  const double memory = without.peak_mb > 0.0 ? with_analysis.peak_mb / without.peak_mb : NAN;
  return sizePrefix(with_analysis.images, with_analysis.points) +
         " quality time_ratio=" + number("%.3f", time) + " memory_ratio=" + number("%.3f", memory);
}

}  // namespace bench
