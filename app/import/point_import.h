#pragma once

// The import window of control points, check points and GPS/IMU data as plain code: it reads a
// delimited text file into the parsed grid, maps source columns to the target grid of its mode,
// edits target columns and produces records. The Qt window only draws this model and forwards
// the operator's clicks; messages, prompts, file dialogs, progress and log go through the
// UserInterface.

#include <array>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "photogrammetry/point_collection.h"

namespace vantri {
class UserInterface;
}

namespace vantri::import {

enum class ImportMode { kGpsImu = 0, kGcp = 1, kCheckPoints = 2 };

// A variance the operator left undefined ("-").
inline constexpr double kUndefinedVariance = photogrammetry::kUndefinedVariance;
inline constexpr double kPi = 3.141592653589793;
// Largest coordinate magnitude taken from an import file (project units): beyond any map or
// geocentric coordinate; larger values come from damaged files and would poison every later step.
inline constexpr double kMaxImportCoordinate = 1e9;

struct SFIO_ControlPoint {
  char id[1024];
  double x, y, z;
  double var_xy, var_z;
  std::int32_t valid;      // 1
  std::int32_t dimension;  // 3: X, Y and Z given
  char reserved[8];
};

struct SFIO_GPSPoint {
  char id[1024];
  double x, y, z;      // position X, Y, Z or attitude omega, phi, kappa (radians)
  std::int32_t valid;  // 1
  char reserved[4];
};

// Copies at most 1023 characters of `id` into the record's ID field, terminated.
void SetRecordId(char (&field)[1024], const std::string& id);

// Rows of a GPS/IMU import, row for row: positions, attitudes and the variances
// (XY, Z, omega-phi, kappa; kUndefinedVariance when not given).
struct GpsImuRecords {
  std::vector<SFIO_GPSPoint> positions;
  std::vector<SFIO_GPSPoint> attitudes;
  std::vector<std::array<double, 4>> variances;
};

// The Coordinate Conversion window as the import sees it (wired to the coordinate-system logic
// by the caller).
class CoordinateConversion {
 public:
  virtual ~CoordinateConversion() = default;
  // Shows the window for points around (latitude, longitude), degrees; false when cancelled.
  virtual bool Run(double mean_latitude, double mean_longitude) = 0;
  // Longitude x, latitude y (degrees) to the chosen system, in place; false when it fails.
  virtual bool Transform(double* x, double* y) = 0;
};

// Target-column commands of the column menu; an empty entry is a menu separator.
inline constexpr const char* kAssignProgressiveId = "Assign progressive ID";
inline constexpr const char* kChangeSign = "Change sign to column";
inline constexpr const char* kDegToRad = "DEG to RAD";
inline constexpr const char* kGradToRad = "GRAD to RAD";
inline constexpr const char* kResetContent = "Reset Content";
inline constexpr const char* kSetValueToAll = "Set value to all";
inline constexpr const char* kClearAll = "Clear all";

class PointImportModel {
 public:
  // Reads the comment characters and separators from the user profile (section "PointFile").
  PointImportModel(ImportMode mode, UserInterface& ui);

  ImportMode mode() const { return mode_; }
  UserInterface& ui() const { return ui_; }
  const char* Title() const;
  const std::vector<std::string>& target_columns() const { return target_columns_; }
  // Index of a target column by title ("ID", "X", ...), -1 when the mode has none.
  int TargetColumn(const std::string& title) const;

  // --- File, comments and separators ---
  // "Browse...": asks for the file and reads it; false when cancelled or unreadable.
  bool Browse();
  // Takes the path and reads it into the grids.
  bool OpenFile(const std::string& path);
  const std::string& file_path() const { return file_path_; }
  const std::string& comments() const { return comments_; }
  const std::string& separators() const { return separators_; }
  // Edits of "Comments:" and "Separators:": stored in the profile at once, then the file is read
  // again. Typed separators are cut to 7 characters so the TAB the import adds always fits.
  void SetComments(const std::string& comments);
  void SetSeparators(const std::string& separators);
  // Comment characters and separators for this window only (the profile is not written), as a
  // batch caller passes them; the file is read again when one is open.
  void SetParsingOptions(const std::string& comments, const std::string& separators);
  // Reads the file into the parsed grid and refills the target grid; an unreadable or empty
  // file shows "Unable to open the selected file!" and leaves both grids empty.
  bool ReadFile();

  // --- Grids ---
  const std::vector<std::vector<std::string>>& parsed_rows() const { return parsed_rows_; }
  // Columns of the parsed grid, as many as the longest row has fields, each headed
  // kParsedColumnHeader (centred).
  static constexpr const char* kParsedColumnHeader = "Click..";
  int parsed_column_count() const { return parsed_columns_; }
  // Target grid: one row per parsed row, one cell per target column, lower case.
  const std::vector<std::vector<std::string>>& target_rows() const { return target_rows_; }
  const std::string& Cell(int row, int target_column) const;
  void SetCell(int row, int target_column, const std::string& text);

  // --- Assignment of source columns ---
  int AssignedSource(int target_column) const { return assignment_[target_column]; }
  // Entries of the menu of a parsed-grid column: "-> ID", "", "-> X", ... (empty: separator).
  std::vector<std::string> AssignmentMenu() const;
  // The menu entry chosen for a source column: assigns it and refills the target grid.
  bool ChooseAssignment(int source_column, const std::string& entry);
  void Assign(int target_column, int source_column);
  // ID <- 0, X <- 1, Y <- 2, Z <- 3; others unchanged.
  void ResetAssignments();

  // --- Column operations on the target grid ---
  std::vector<std::string> ColumnMenu(int target_column) const;
  // Runs a menu entry of columnMenu(target_column); false when the entry does not belong there or
  // the operator cancelled.
  bool RunColumnCommand(int target_column, const std::string& entry);

  // --- Selection, Save As, conversion ---
  void SelectRow(int row, bool selected);
  void SelectAll();
  void UnselectAll();
  bool IsSelected(int row) const { return selected_[row]; }
  // "Output": keeps the first character only; empty means ",".
  void SetOutputSeparator(const std::string& text);
  char output_separator() const { return output_separator_; }
  // "Save As..": the selected rows, cells joined by the output separator, one line each.
  bool SaveAs();
  // "Coordinate Conversion": columns X (longitude) and Y (latitude) of the selected rows, degrees,
  // to the system chosen in the conversion window; results "%lf".
  bool ConvertCoordinates(CoordinateConversion& conversion);

  // --- Import ---
  // Modes 1 and 2: the records of the selected rows (empty IDs get "ptc_%03d" from the running
  // counter of this window). Rows whose X, Y or Z does not convert are skipped with a log line.
  // False (window stays open) when no record was made or nothing is selected. `min_x`, `min_y`
  // receive the smallest X and Y of the records.
  bool ImportControlPoints(std::vector<SFIO_ControlPoint>* records, double* min_x, double* min_y);
  // Mode 0: the records of the selected rows. A row whose X, Y, Z, omega, phi or kappa does not
  // convert is skipped with a log line, so it never moves an image. False only when nothing is
  // selected ("Make a selection"); the records may be empty.
  bool ReadGpsImuRecords(GpsImuRecords* records);

  int id_counter() const { return id_counter_; }

 private:
  void RefillTargetGrid();
  bool NeedSelection();
  std::vector<int> SelectedRows() const;
  void AssignProgressiveIds(int column);
  void ChangeSign(int column);
  void ConvertAngles(int column, double full_half_turn);
  void ClearColumn(int column);
  bool SetValueToAll(int column);

  ImportMode mode_;
  UserInterface& ui_;
  std::vector<std::string> target_columns_;
  std::string file_path_;
  std::string comments_;
  std::string separators_;
  std::vector<std::vector<std::string>> parsed_rows_;
  int parsed_columns_ = 0;
  std::vector<std::vector<std::string>> target_rows_;
  std::vector<int> assignment_;
  std::vector<bool> selected_;
  int id_counter_ = 0;
  char output_separator_ = ',';
};

// Index of the first GPS/IMU row matching each image, -1 for none. A row matches an image when
// its ID reduced to the file title (no folder, '/' or '\', no extension) equals the image name
// without regard to case.
std::vector<int> MatchRowsToImages(const std::vector<SFIO_GPSPoint>& positions,
                                   const std::vector<std::string>& image_names);

enum class OriginUpdate { kKept, kSet, kWriteFailed };
// Sets the project's local origin to (min_x, min_y, 0) when its X is 0 and writes it to
// `off_path` as "%.20lf %.20lf %.20lf" (temporary file + rename). An origin already set is kept;
// when the file cannot be written the origin is left unchanged too.
OriginUpdate SetLocalOriginOnce(std::array<double, 3>* origin, double min_x, double min_y,
                                const std::string& off_path);

}  // namespace vantri::import
