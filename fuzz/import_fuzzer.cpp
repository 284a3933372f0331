// Delimited-text import of GPS/IMU data, control and check points. The first byte chooses the
// mode and the separators; the rest is the file.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz_support.h"
#include "import/point_import.h"
#include "testing/scripted_ui.h"
#include "ui_interface/ui.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > fuzzing::kMaxFuzzInput) return 0;
  using vantri::import::ImportMode;
  const std::string path =
      fuzzing::WriteScratchFile("points.txt", fuzzing::AsText(data + 1, size - 1));
  static const char* const kSeparators[] = {",", " ", ";", ", ;"};
  const auto mode = static_cast<ImportMode>(data[0] % 3);
  vantri::ScriptedUi ui;
  vantri::import::PointImportModel model(mode, ui);
  model.setParsingOptions("#", kSeparators[(data[0] >> 2) % 4]);
  if (!model.openFile(path)) return 0;
  model.selectAll();
  if (mode == ImportMode::kGpsImu) {
    // The angle conversions run over every cell, as the degree and grad menu entries do.
    model.runColumnCommand(model.targetColumn("Omega"), model.columnMenu(4).at(0));
    vantri::import::GpsImuRecords records;
    model.readGpsImuRecords(&records);
  } else {
    model.runColumnCommand(model.targetColumn("X"), model.columnMenu(1).at(0));
    std::vector<vantri::import::SFIO_ControlPoint> records;
    double min_x = 0.0, min_y = 0.0;
    model.importControlPoints(&records, &min_x, &min_y);
  }
  return 0;
}
