// The step file (.abai) that records the last image added by the tie-point search.
#include <cstddef>
#include <cstdint>
#include <string>

#include "aat/exchange_files.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > fuzzing::kMaxFuzzInput) return 0;
  const std::string path = fuzzing::WriteScratchFile("block_3.abai", fuzzing::AsText(data, size));
  const int last = vantri::aat::ReadStepFile(path);
  if (last >= 0) vantri::aat::WriteStepFile(fuzzing::ScratchFolder() + "/copy.abai", last);
  return 0;
}
