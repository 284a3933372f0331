// The text project file (.aba) as the project reader takes it.
#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"
#include "project/project.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > fuzzing::kMaxFuzzInput) return 0;
  fuzzing::ScratchFolder();
  CVantriProject project;
  vantri::project::ReadTextProject(project, fuzzing::AsText(data, size));
  return 0;
}
