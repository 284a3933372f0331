#pragma once
// The benchmark run: options, the choice of solvers per block size, and the measurements.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace bench {

struct BenchOptions {
  std::vector<std::pair<int, int>> sizes;  // (images, points); the three standard sizes if empty
  int iterations = 5;
  int repeat = 1;  // runs per solver; the fastest time and the largest peak are reported
  std::vector<std::string> solvers;  // empty: the size rule below decides
  std::uint64_t seed = 1;
  std::string workdir;  // empty: a fresh folder under /tmp, removed afterwards
  // Forward and side overlap of the flight, percent of the footprint (--overlap F/S). 60/30 is a
  // classic aerial block (about 3 rays per point); 80/70 a UAV-like block (about 9).
  int forward_overlap = 60;
  int side_overlap = 30;
};

// Parses the command line; prints the problem to standard error and returns nothing on bad input.
std::optional<BenchOptions> parseOptions(int argc, char** argv);

// Solvers run for a size when none were named. "native" forms the dense normal matrix of all
// 3 points + 6 images unknowns: only up to 6,000 unknowns (288 MB, about 7e10 flops to factor).
// "ceres-dense" factors the dense reduced camera matrix of 6 images unknowns: up to 500 images.
std::vector<std::string> defaultSolvers(int images, int points);

// Runs every size and prints the measurement and ratio lines; returns the process exit code.
int runBenchmark(const BenchOptions& options);

}  // namespace bench
