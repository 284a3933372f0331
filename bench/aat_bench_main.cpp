// aat_bench: the AAT's tie-point search against an OpenCV SIFT matcher on a generated survey.
// Usage: aat_bench [--size WxH] [--cache DIR] [--threads 1,2] [--no-baseline] ... (--help)
#include <iostream>

#include "aat_bench.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  for (const std::string& arg : args)
    if (arg == "--help" || arg == "-h") {
      std::cout << aatbench::Usage();
      return 0;
    }
  const auto options = aatbench::ParseOptions(args, std::cerr);
  if (!options) return 2;
  return aatbench::RunAatBench(*options, std::cout, std::cerr);
}
