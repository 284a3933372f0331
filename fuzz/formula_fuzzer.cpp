// The formula parser: compile any text against the distortion variables and evaluate it.
#include <cstddef>
#include <cstdint>

#include "formula/formula_parser.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  vantri::formula::FormulaParser parser;
  parser.DefineVariable("x", 0.25);
  parser.DefineVariable("y", -1.5);
  parser.DefineVariable("r", 3.0);
  if (parser.Compile(fuzzing::AsText(data, size))) {
    parser.Evaluate();
  } else {
    parser.ErrorText();
  }
  return 0;
}
