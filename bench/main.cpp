// engine_bench: the engine's "native" and "sparse" adjustment against Ceres Solver on synthetic
// aerial blocks. Usage:
//   engine_bench [--images N --points M] [--iterations K] [--solvers a,b,...] [--seed S]
//                [--repeat R] [--workdir DIR] [--overlap F/S]
#include "benchmark.h"

int main(int argc, char** argv) {
  const auto options = bench::parseOptions(argc, argv);
  if (!options) return 2;
  return bench::runBenchmark(*options);
}
