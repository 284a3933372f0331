#pragma once
// vantri-cli commands on the results of a bundle run: the graphic display (its settings and what
// it would draw) and the export to the stereo plotter.
//
//   export PROJECT.bun [--launch]
//   display-settings PROJECT.bun [--set "Section.Key=VALUE"]...
//   display PROJECT.bun

#include <iosfwd>
#include <string>
#include <vector>

namespace vantri {
class UserInterface;
}

namespace vantri::shell {

// Writes Stereo/<name>.sti and the .int / .est files of the exported images from the adjusted
// orientations of the last bundle run (Bundle/<name>.extor) and the footprints on the project's
// terrain; with `launch` then starts Plotara on it (refused while Plotara runs or when it is not
// found). The overwrite question is answered by the command line's --yes / --no.
int RunExport(const std::string& project_path, bool launch, UserInterface& ui, std::ostream& out,
              std::ostream& err);

// Prints every display setting of <name>.grs as "Section.Key=VALUE" (the defaults where the file
// has none); each --set changes one value and the file is written (crash-safe) when all convert.
// A value that does not convert changes nothing and fails the command.
int RunDisplaySettings(const std::string& project_path, const std::vector<std::string>& sets,
                       UserInterface& ui, std::ostream& out, std::ostream& err);

// Builds the display of the last bundle run with the project's display settings and the user's
// quality settings and prints it: the layers with their entity counts and visibility, the tie
// points per quality class, every control and check point with its residual and class.
int RunDisplay(const std::string& project_path, UserInterface& ui, std::ostream& out,
               std::ostream& err);

}  // namespace vantri::shell
