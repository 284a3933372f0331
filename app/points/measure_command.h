#pragma once
// The measure command of vantri-cli: image measurements of control or check points from a
// delimited text file, stored as the collimation session's OK stores them.
//
//   measure PROJECT.bun --gcp FILE | --cp FILE [--separators S] [--comments C]
//           [--columns point,image,col,row]
//
// Each data line holds a point name, an image (its file title, or a path or file name reduced to
// it) and the pixel position (col, row) from the top-left corner of the image raster. --columns
// names the meaning of each field in order ("skip" or "-" leaves one out); the default
// "point,image,col,row" reads the generator's gcp_image.txt and cp_image.txt. Separators and
// comment characters default to the import's ones from the user profile; a TAB always
// separates. Lines with unknown points or images, or a position outside the raster, are listed
// and skipped. Exit codes as vantri-cli: 0 success, 1 failure, 2 usage.

#include <iosfwd>
#include <string>
#include <vector>

#include "points/collimation_session.h"
#include "points/point_maps.h"

class CVantriProject;

namespace vantri {
class UserInterface;
}

namespace vantri::points {

struct MeasureFormat {
  std::string separators = ", ;";
  std::string comments = "#%@+";
  // Field index of each value.
  int point = 0, image = 1, col = 2, row = 3;
};

struct MeasureReport {
  int stored = 0;                    // measurements stored
  int points = 0;                    // points that received at least one
  std::vector<std::string> skipped;  // "line %d: ..." for every line left out
};

// Reads the file and stores its measurements into the project's map of `kind` (the map only;
// the caller saves it). False when the file cannot be read.
bool StoreMeasurementsFromFile(CVantriProject& project, PointKind kind, const std::string& path,
                               const MeasureFormat& format, const RasterOpener& open_raster,
                               MeasureReport* report);

// "point,image,col,row" in any order with "skip" / "-" for fields to leave out. Returns the
// usage message, empty when valid.
std::string ParseMeasureColumns(const std::string& list, MeasureFormat* format);

// The separators and comment characters of the profile's [PointFile], default columns.
MeasureFormat ProfileMeasureFormat();

// vantri-cli measure: opens the project file, stores the file's measurements of `kind` and writes
// GCP.col or CP.col; the skipped lines go to `err`, the count to `out`. False (the reason printed)
// when the project, the file or the collection fails or nothing was stored.
bool MeasureIntoProjectFile(const std::string& project_path, PointKind kind,
                            const std::string& file, const MeasureFormat& format, UserInterface& ui,
                            std::ostream& out, std::ostream& err);

}  // namespace vantri::points
