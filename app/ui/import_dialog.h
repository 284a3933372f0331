#pragma once
// The delimited-text import window over PointImportModel: file, comment
// characters and separators, the parsed grid with the assignment of its
// columns, the target grid with its column commands, selection and the
// coordinate conversion. `import` runs the import of the window's mode (1:
// close with OK, 0: stay open).

#include <QWidget>
#include <functional>

#include "import/point_import.h"

namespace vantri::ui {

bool RunImportDialog(QWidget* parent, import::PointImportModel& model,
                     const std::function<int()>& import);

}  // namespace vantri::ui
