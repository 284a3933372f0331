#pragma once
// Readers of the result files a bundle run leaves in the `Bundle` folder of a project:
// <name>.atout (report), .gcpres, .cpres (control and check point residuals), .ptres (image
// residuals), .ptics (image coordinates), .ptocs (object points), .extor (exterior orientations),
// and our own <name>.runstats (the statistics of the adjustment that the .atout does not carry).
//
// Readers never throw. A file that is absent is recorded as missing; one that cannot be read,
// lacks the "# Vantri - v" header or holds lines that do not parse is recorded as damaged with
// the first problem found; the rows that did parse are kept either way.
//
// Units as in the files: coordinates and point residuals in project units (metres), image
// residuals in micrometres, image coordinates in pixels, angles in radians.

#include <map>
#include <string>
#include <vector>

namespace vantri::report {

enum class FileState { kRead, kMissing, kDamaged };

struct FileStatus {
  std::string label;  // extension, e.g. "gcpres"
  std::string path;
  FileState state = FileState::kMissing;
  std::string problem;  // first problem of a damaged file, e.g. "line 12: expected 6 numbers"
  int bad_lines = 0;    // lines that did not parse
  bool stale = false;   // written well before the .atout: probably left by an earlier run
};

// A row of .gcpres / .cpres: adjusted minus surveyed coordinate.
struct PointResidual {
  std::string id;
  double x = 0, y = 0, z = 0;
  double vx = 0, vy = 0, vz = 0;
};

// A row of .ptres; type "in" (tie point), "co" (control) or "ch" (check).
struct ImageResidualRow {
  std::string point_id;
  double vx_um = 0, vy_um = 0, v_um = 0;
  std::string type;
};

struct ImageResiduals {
  std::string image;
  std::vector<ImageResidualRow> rows;
};

// A row of .ptics.
struct ImageCoordinateRow {
  std::string point_id;
  double x_px = 0, y_px = 0;
  std::string type;
};

struct ImageCoordinates {
  std::string image;
  std::vector<ImageCoordinateRow> rows;
};

// A row of .ptocs.
struct ObjectPointRow {
  std::string id;
  double x = 0, y = 0, z = 0;
  std::string type;
};

// A row of .extor: adjusted projection centre and omega, phi, kappa in radians.
struct AdjustedOrientation {
  std::string image;
  double x = 0, y = 0, z = 0;
  double omega = 0, phi = 0, kappa = 0;
};

struct CoordinateSystemNames {
  std::string projection, datum, fuse, units;
  bool Empty() const {
    return projection.empty() && datum.empty() && fuse.empty() && units.empty();
  }
};

// What the report takes from the .atout: every "label : value" line (the last of equal labels
// wins, so the summary of all image points overrides the per-image lines).
struct AtoutReport {
  std::string program_version;
  std::map<std::string, std::string> values;
  // The value of a label, trimmed; empty when absent.
  std::string Value(const std::string& label) const;
  // The first integer / the numbers of a value; false when absent or not numeric.
  bool Int(const std::string& label, int* value) const;
  std::vector<double> Numbers(const std::string& label) const;
};

// Statistics of the adjustment handed over by the bundle run (our own file, docs/formats.md).
struct BundleRunStatistics {
  bool recorded = false;  // false: no statistics were handed over or the file is absent
  bool run_succeeded = false;
  double sigma0_px = 0;  // a-posteriori standard deviation of unit weight, pixels
  int iterations = 0;
  bool converged = false;
};

struct ResultFiles {
  std::string folder;        // the Bundle folder, with a trailing '/'
  std::string project_name;  // file title of the project
  AtoutReport atout;
  std::vector<PointResidual> control_points;
  std::vector<PointResidual> check_points;
  std::vector<ImageResiduals> image_residuals;
  std::vector<ImageCoordinates> image_coordinates;
  std::vector<ObjectPointRow> object_points;
  std::vector<AdjustedOrientation> orientations;
  CoordinateSystemNames extor_crs;
  BundleRunStatistics run;
  // One entry per file in the order atout, gcpres, cpres, ptres, ptics, ptocs, extor, runstats.
  std::vector<FileStatus> files;

  const FileStatus* Status(const std::string& label) const;
  bool Has(const std::string& label) const;  // read, possibly with bad lines
};

// Reads every result file of `project_name` in `bundle_folder` (a trailing separator optional).
// A result file whose modification time is more than kStaleSeconds before the .atout is flagged
// stale.
inline constexpr long long kStaleSeconds = 600;
ResultFiles ReadResultFiles(const std::string& bundle_folder, const std::string& project_name);

// The single-file readers, over text, for the tests and for callers with the text at hand. Each
// fills `status` (state kRead or kDamaged; the caller sets kMissing).
void ParseAtout(const std::string& text, AtoutReport& out, FileStatus& status);
void ParsePointResiduals(const std::string& text, std::vector<PointResidual>& out,
                         FileStatus& status);
void ParseImageResiduals(const std::string& text, std::vector<ImageResiduals>& out,
                         FileStatus& status);
void ParseImageCoordinates(const std::string& text, std::vector<ImageCoordinates>& out,
                           FileStatus& status);
void ParseObjectPoints(const std::string& text, std::vector<ObjectPointRow>& out,
                       FileStatus& status);
void ParseExtor(const std::string& text, std::vector<AdjustedOrientation>& out,
                CoordinateSystemNames& crs, FileStatus& status);
void ParseRunStatistics(const std::string& text, BundleRunStatistics& out, FileStatus& status);

// "VANTRI-BUNDLE-RUN 1" key=value text of the statistics; the writer of the bundle run's hook.
std::string FormatRunStatistics(const BundleRunStatistics& run);

}  // namespace vantri::report
