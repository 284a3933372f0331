// Point collections (GCP.col, CP.col).
#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"
#include "photogrammetry/point_collection.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > fuzzing::kMaxFuzzInput) return 0;
  const std::string path = fuzzing::WriteScratchFile("GCP.col", fuzzing::AsText(data, size));
  CGCPCollMap points;
  if (ReadPTCollFile(path, &points) == 1) {
    WritePTCollFile(fuzzing::ScratchFolder() + "/copy.col", points);
  }
  return 0;
}
