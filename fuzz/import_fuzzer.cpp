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
  model.SetParsingOptions("#", kSeparators[(data[0] >> 2) % 4]);
  if (!model.OpenFile(path)) return 0;
  model.SelectAll();
  if (mode == ImportMode::kGpsImu) {
    // The angle conversions run over every cell, as the degree and grad menu entries do.
    model.RunColumnCommand(model.TargetColumn("Omega"), model.ColumnMenu(4).at(0));
    vantri::import::GpsImuRecords records;
    model.ReadGpsImuRecords(&records);
  } else {
    model.RunColumnCommand(model.TargetColumn("X"), model.ColumnMenu(1).at(0));
    std::vector<vantri::import::SFIO_ControlPoint> records;
    double min_x = 0.0, min_y = 0.0;
    model.ImportControlPoints(&records, &min_x, &min_y);
  }
  return 0;
}
