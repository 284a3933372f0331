// The formula parser: compile any text against the distortion variables and evaluate it.
#include <cstddef>
#include <cstdint>

#include "formula/formula_parser.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  vantri::formula::FormulaParser parser;
  parser.defineVariable("x", 0.25);
  parser.defineVariable("y", -1.5);
  parser.defineVariable("r", 3.0);
  if (parser.compile(fuzzing::AsText(data, size))) {
    parser.evaluate();
  } else {
    parser.errorText();
  }
  return 0;
}
