#pragma once
// vantri-cli report PROJECT.bun: writes Bundle/<project name>.html again from the project and the
// result files of its last bundle run (footprints on the project's terrain when one loads).

#include <iosfwd>
#include <string>
#include <vector>

namespace vantri {
class UserInterface;
}

namespace vantri::cli {

// Exit code 0 when the report was written (also when result files are missing or damaged: the
// report and the standard error name them), 1 when the project cannot be opened or the file cannot
// be written, 2 for a bad command line.
int RunReportCommand(const std::vector<std::string>& args, UserInterface& ui, std::ostream& out,
                     std::ostream& err);

}  // namespace vantri::cli
