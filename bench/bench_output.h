#pragma once
// Text of the benchmark's measurement and ratio lines. Unavailable numbers print as "nan".
#include <string>

namespace bench {

struct Measurement {
  int images = 0;
  int points = 0;
  std::string solver;  // native, sparse, ceres-sparse or ceres-dense
  double sec_per_iter = 0.0;
  double peak_mb = 0.0;
  double max_diff_mm = 0.0;
};

// images=<n> points=<m> solver=<s> sec_per_iter=<t> peak_mb=<p> max_diff_mm=<d>
std::string measurementLine(const Measurement& m);

// images=<n> points=<m> ratio <engine>/<ceres>=<r>, r = engine time / Ceres time per iteration.
std::string ratioLine(const Measurement& engine, const Measurement& ceres);

// images=<n> points=<m> quality time_ratio=<t> memory_ratio=<p>: the run with the quality analysis
// against the same interface without it (total time of iterations and analysis, peak memory).
std::string qualityLine(const Measurement& with_analysis, const Measurement& without);

}  // namespace bench
