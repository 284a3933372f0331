// The engine's main input file with the files it names. The input is the main file followed by
// up to nine files, each after a line "====": they are written as "f1" ... "f9" into a scratch
// folder that is the current directory, so "camera f1" names the first of them.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <string>

#include "fuzz_support.h"
#include "input/readers.h"
#include "lsq/ls_params.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > fuzzing::kMaxFuzzInput) return 0;
  static const bool ready = [] {
    std::filesystem::current_path(fuzzing::ScratchFolder());
    std::cout.setstate(std::ios::failbit);
    return true;
  }();
  (void)ready;

  const std::string_view input = fuzzing::AsText(data, size);
  constexpr std::string_view kSeparator = "\n====\n";
  size_t end = input.find(kSeparator);
  const std::string main_file(input.substr(0, end));
  for (int k = 1; k <= 9; ++k) {
    std::string_view part;
    if (end != std::string_view::npos) {
      const size_t begin = end + kSeparator.size();
      end = input.find(kSeparator, begin);
      part = input.substr(begin, end == std::string_view::npos ? end : end - begin);
    }
    fuzzing::WriteScratchFile("f" + std::to_string(k), part);
  }
  bravik::Block block;  // default least-squares settings for every input
  std::istringstream in(main_file);
  bravik::readInput(block, in);
  return 0;
}
