// settings.ini through the process settings (load, typed values, validation) and the INI reader.
#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"
#include "project/process_settings.h"
#include "system/nvtools.h"
#include "testing/scripted_ui.h"
#include "ui_interface/ui.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > fuzzing::kMaxFuzzInput) return 0;
  const std::string path = fuzzing::WriteScratchFile("settings.ini", fuzzing::AsText(data, size));
  vantri::ScriptedUi ui;
  ui.yes_no_answers = {true};  // load a file of another version too
  CVantriSettings settings;
  settings.SetUi(&ui);
  if (settings.Load(path) == 1) settings.Validate();
  vantri::system::IniFile ini;
  if (ini.Load(path) == 1) {
    for (const std::string& section : ini.Sections()) ini.Keys(section);
  }
  return 0;
}
