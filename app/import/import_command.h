#pragma once

// The import commands of vantri-cli:
//
//   import-gps PROJECT.bun FILE [options]   GPS/IMU rows into the project's images (saved)
//   import-gcp PROJECT.bun FILE [options]   control points into GCP.col
//   import-cp  PROJECT.bun FILE [options]   check points into CP.col
//   options: --separators TEXT   field separators (default: the profile's, ", ;"); a TAB is
//                                always added
//            --comments TEXT     comment characters at the start of a line (default "#%@+")
//            --columns LIST      target of each source column in order, e.g. "id,x,y,z" or
//                                "id,skip,x,y,z,omega,phi,kappa,varxy,varz,varop,vark";
//                                "skip" (or "-") leaves a source column out
//            --angles deg|grad|rad   unit of omega, phi, kappa in the file (GPS/IMU, default rad)
//            --geographic        X, Y are longitude, latitude in degrees: converted to UTM on
//                                WGS 84, zone from the mean longitude
// Every row of the file is imported. Exit codes as vantri-cli: 0 success, 1 failure, 2 usage.

#include <iosfwd>
#include <string>
#include <vector>

#include "import/point_import.h"

namespace vantri::import {

struct ImportOptions {
  std::string project_path;
  std::string file_path;
  std::string separators;  // empty: from the profile
  std::string comments;    // empty: from the profile
  bool has_separators = false, has_comments = false;
  std::vector<std::string> columns;  // target title per source column, "" to skip
  std::string angles = "rad";
  bool geographic = false;
};

// Parses the arguments after the command name; returns the usage message, empty when valid.
std::string parseImportOptions(ImportMode mode, const std::vector<std::string>& args,
                               ImportOptions* options);

// Applies the options to an open model: parsing options, column assignment, angle conversion.
// Returns the failure message, empty on success.
std::string applyImportOptions(const ImportOptions& options, PointImportModel* model);

// Runs one import command (arguments after the command name).
int runImportCommand(ImportMode mode, const std::vector<std::string>& args, UserInterface& ui,
                     std::ostream& out, std::ostream& err);

const char* importCommandUsage(ImportMode mode);

}  // namespace vantri::import
