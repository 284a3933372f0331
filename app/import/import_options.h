#pragma once

// Options of a delimited-text import given without the window (vantri-cli's import-gps, import-gcp
// and import-cp): parsing options, the target of each source column and the unit of the angles,
// applied to an open import model.

#include <string>
#include <vector>

#include "import/point_import.h"

namespace vantri::import {

struct ImportOptions {
  std::string separators;  // used when has_separators; a TAB is always added
  std::string comments;    // used when has_comments
  bool has_separators = false, has_comments = false;
  // Target of each source column in order ("id", "x", "varxy", ...; "skip", "-" or "" leave a
  // source column out); empty: the model's default assignment.
  std::vector<std::string> columns;
  std::string angles = "rad";  // deg, grad or rad: unit of omega, phi, kappa in the file
  bool geographic = false;     // X, Y are longitude, latitude in degrees
};

// Splits a comma-separated list; "a,,b" gives "a", "", "b".
std::vector<std::string> SplitColumnList(const std::string& list);

// The problem with options that do not fit the mode, empty when they fit.
std::string CheckImportOptions(ImportMode mode, const ImportOptions& options);

// Applies the options to an open model: parsing options, column assignment, angle conversion.
// Returns the failure message (an unknown column), empty on success.
std::string ApplyImportOptions(const ImportOptions& options, PointImportModel* model);

// The target titles of the mode, comma separated, for messages.
std::string TargetTitlesText(ImportMode mode, UserInterface& ui);

}  // namespace vantri::import
