#pragma once
// vantri-cli report PROJECT.bun: writes Bundle/<project name>.html again from the project and the
// result files of its last bundle run (footprints on the project's terrain when one loads).

#include <iosfwd>
#include <string>

namespace vantri {
class UserInterface;
}

namespace vantri::shell {

// True when the report was written (also when result files are missing or damaged: the report
// and `err` name them); false when the project cannot be opened or the file cannot be written.
bool WriteReportOfProjectFile(const std::string& project_path, UserInterface& ui, std::ostream& out,
                              std::ostream& err);

}  // namespace vantri::shell
