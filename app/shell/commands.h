#pragma once
// The vantri-cli commands that open a project and run one operation of a lower layer on it, with
// their arguments already parsed by the command table (cli.cpp). Each prints why it fails before
// returning kExitFailure; kExitUsage only where an option does not fit the file or the mode.

#include <iosfwd>
#include <optional>
#include <string>

#include "import/import_options.h"
#include "shell/cli.h"

namespace vantri {
class UserInterface;
}

namespace vantri::shell {

// import-gps / import-gcp / import-cp: every row of `file_path` into the project (GPS/IMU: the
// images' data, saved; points: GCP.col or CP.col).
int RunImport(import::ImportMode mode, const std::string& project_path,
              const std::string& file_path, const import::ImportOptions& options, UserInterface& ui,
              std::ostream& out, std::ostream& err);

// dem: sets the project's external DEM to `external_dem`, or switches it off without one; saved.
int RunDem(const std::string& project_path, const std::optional<std::string>& external_dem,
           UserInterface& ui, std::ostream& out, std::ostream& err);

// srtm-folder: stores `folder` as the SRTM folder when it holds a valid elevation raster; with a
// project, prints the tile chosen for its image positions.
int RunSrtmFolder(const std::optional<std::string>& project_path, const std::string& folder,
                  UserInterface& ui, std::ostream& out, std::ostream& err);

}  // namespace vantri::shell
