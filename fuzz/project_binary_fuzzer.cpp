// The binary project file (.bun) as the project reader takes it.
#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"
#include "project/project.h"
#include "testing/scripted_ui.h"
#include "ui_interface/ui.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > fuzzing::kMaxFuzzInput) return 0;
  fuzzing::ScratchFolder();
  vantri::ScriptedUi ui;
  CVantriProject project;
  vantri::project::ReadBinaryProject(project, fuzzing::AsText(data, size), ui);
  return 0;
}
