#include "point_import.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "parse_it.h"
#include "project/aba_image.h"
#include "system/files.h"
#include "system/nvtools.h"
#include "system/text.h"
#include "ui_interface/ui.h"

namespace vantri::import {
namespace {

constexpr const char* kProfileSection = "PointFile";
constexpr const char* kDefaultComments = "#%@+";
constexpr const char* kDefaultSeparators = ", ;";
constexpr std::size_t kMaxTypedSeparators = CParseIt::kMaxSeparators - 1;  // + TAB

std::vector<std::string> ColumnsOf(ImportMode mode) {
  switch (mode) {
    case ImportMode::kGpsImu:
      return {"ID", "X", "Y", "Z", "Omega", "Phi", "Kappa", "Var XY", "Var Z", "Var OP", "Var K"};
    case ImportMode::kGcp:
      return {"ID", "X", "Y", "Z", "Var XY", "Var Z"};
    case ImportMode::kCheckPoints:
      break;
  }
  return {"ID", "X", "Y", "Z"};
}

std::string Format(const char* pattern, double value) {
  char buffer[512];
  std::snprintf(buffer, sizeof buffer, pattern, value);
  return buffer;
}

std::string ProgressiveId(int counter) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "ptc_%03d", counter);
  return buffer;
}

bool ToDouble(const std::string& text, double* value) {
  return !text.empty() && NVT_StringToDouble(text, value) != 0;
}

bool IsPlausibleCoordinate(double value) { return std::fabs(value) <= kMaxImportCoordinate; }

bool IsUndefinedText(const std::string& text) { return text.empty() || text == "-"; }

bool IsVarColumn(const std::string& title) { return title.rfind("Var ", 0) == 0; }
bool IsAngularVarColumn(const std::string& title) { return title == "Var OP" || title == "Var K"; }
bool IsAngleColumn(const std::string& title) {
  return title == "Omega" || title == "Phi" || title == "Kappa";
}
bool IsCoordinateColumn(const std::string& title) {
  return title == "X" || title == "Y" || title == "Z";
}

}  // namespace

void SetRecordId(char (&field)[1024], const std::string& id) {
  const std::size_t n = std::min(id.size(), sizeof field - 1);
  std::memcpy(field, id.data(), n);
  field[n] = '\0';
}

PointImportModel::PointImportModel(ImportMode mode, UserInterface& ui)
    : mode_(mode), ui_(ui), target_columns_(ColumnsOf(mode)) {
  comments_ = NVT_GetUserProfileString(kProfileSection, "Comments", kDefaultComments);
  separators_ = NVT_GetUserProfileString(kProfileSection, "Separators", kDefaultSeparators)
                    .substr(0, kMaxTypedSeparators);
  for (int k = 0; k < static_cast<int>(target_columns_.size()); ++k) assignment_.push_back(k);
}

const char* PointImportModel::Title() const {
  switch (mode_) {
    case ImportMode::kGpsImu:
      return "Import GPS/IMU data";
    case ImportMode::kGcp:
      return "Import GCPs";
    case ImportMode::kCheckPoints:
      break;
  }
  return "Import Check Points";
}

int PointImportModel::TargetColumn(const std::string& title) const {
  const auto it = std::find(target_columns_.begin(), target_columns_.end(), title);
  return it == target_columns_.end() ? -1 : static_cast<int>(it - target_columns_.begin());
}

// --- File, comments and separators -----------------------------------------------------------

bool PointImportModel::Browse() {
  std::string path;
  if (!ui_.PickOpenFile("Browse...", {{"Text files", "*.txt;*.csv"}, {"All files", "*"}},
                        NVT_GetLastBrowsedPath(), "txt", &path))
    return false;
  const auto slash = path.find_last_of("/\\");
  if (slash != std::string::npos) NVT_SetLastBrowsedPath(path.substr(0, slash));
  return OpenFile(path);
}

bool PointImportModel::OpenFile(const std::string& path) {
  file_path_ = path;
  return ReadFile();
}

void PointImportModel::SetComments(const std::string& comments) {
  comments_ = comments;
  NVT_WriteUserProfileString(kProfileSection, "Comments", comments_);
  if (!file_path_.empty()) ReadFile();
}

void PointImportModel::SetSeparators(const std::string& separators) {
  separators_ = separators.substr(0, kMaxTypedSeparators);
  NVT_WriteUserProfileString(kProfileSection, "Separators", separators_);
  if (!file_path_.empty()) ReadFile();
}

void PointImportModel::SetParsingOptions(const std::string& comments,
                                         const std::string& separators) {
  comments_ = comments;
  separators_ = separators.substr(0, kMaxTypedSeparators);
  if (!file_path_.empty()) ReadFile();
}

bool PointImportModel::ReadFile() {
  parsed_rows_.clear();
  parsed_columns_ = 0;
  CParseIt file;
  if (!file.LoadFile(file_path_)) {
    RefillTargetGrid();
    ui_.ShowMessage("Unable to open the selected file!", MessageIcon::kExclamation);
    return false;
  }
  file.SetSeparators("\n\r");  // a CR-LF ending yields an empty line, skipped below
  file.Parse();
  const auto& lines = file.fields();
  ui_.SetProgressRange(0, static_cast<int>(lines.size()));
  const std::string field_separators = separators_ + '\t';
  for (std::size_t i = 0; i < lines.size(); ++i) {
    ui_.SetProgressPosition(static_cast<int>(i + 1));
    const std::string& line = lines[i].text();
    if (line.empty() || comments_.find(line[0]) != std::string::npos) continue;
    CParseIt fields;
    fields.Parse(line, field_separators);
    std::vector<std::string> row;
    for (const auto& f : fields.fields()) row.push_back(f.text());
    parsed_columns_ = std::max(parsed_columns_, static_cast<int>(row.size()));
    parsed_rows_.push_back(std::move(row));
  }
  ui_.SetProgressPosition(0);
  RefillTargetGrid();
  return true;
}

// --- Grids and assignment --------------------------------------------------------------------

void PointImportModel::RefillTargetGrid() {
  target_rows_.assign(parsed_rows_.size(), std::vector<std::string>(target_columns_.size()));
  for (std::size_t r = 0; r < parsed_rows_.size(); ++r) {
    for (std::size_t k = 0; k < target_columns_.size(); ++k) {
      const int source = assignment_[k];
      if (source >= 0 && source < static_cast<int>(parsed_rows_[r].size()))
        target_rows_[r][k] = system::ToLower(parsed_rows_[r][source]);
    }
  }
  selected_.assign(target_rows_.size(), false);
}

const std::string& PointImportModel::Cell(int row, int target_column) const {
  return target_rows_[row][target_column];
}

void PointImportModel::SetCell(int row, int target_column, const std::string& text) {
  target_rows_[row][target_column] = text;
}

std::vector<std::string> PointImportModel::AssignmentMenu() const {
  switch (mode_) {
    case ImportMode::kCheckPoints:
      return {"-> ID", "", "-> X", "-> Y", "-> Z"};
    case ImportMode::kGcp:
      return {"-> ID", "", "-> X", "-> Y", "-> Z", "-> Var XY", "-> Var Z"};
    case ImportMode::kGpsImu:
      break;
  }
  return {"-> ID",    "", "-> X",      "-> Y",     "-> Z", "-> Omega",  "-> Phi",
          "-> Kappa", "", "-> Var XY", "-> Var Z", "",     "-> Var OP", "-> Var K"};
}

bool PointImportModel::ChooseAssignment(int source_column, const std::string& entry) {
  if (entry.rfind("-> ", 0) != 0) return false;
  const int target = TargetColumn(entry.substr(3));
  if (target < 0 || source_column < 0) return false;
  Assign(target, source_column);
  return true;
}

void PointImportModel::Assign(int target_column, int source_column) {
  assignment_[target_column] = source_column;
  RefillTargetGrid();
}

void PointImportModel::ResetAssignments() {
  for (int k = 0; k < 4; ++k) assignment_[k] = k;
  RefillTargetGrid();
}

// --- Column operations -----------------------------------------------------------------------

std::vector<std::string> PointImportModel::ColumnMenu(int target_column) const {
  const std::string& title = target_columns_[target_column];
  if (title == "ID") return {kAssignProgressiveId};
  if (IsCoordinateColumn(title)) return {kChangeSign};
  if (IsAngleColumn(title)) return {kDegToRad, kGradToRad, "", kResetContent};
  if (IsVarColumn(title)) return {kSetValueToAll, kClearAll};
  return {};
}

bool PointImportModel::RunColumnCommand(int target_column, const std::string& entry) {
  const auto menu = ColumnMenu(target_column);
  if (entry.empty() || std::find(menu.begin(), menu.end(), entry) == menu.end()) return false;
  if (entry == kAssignProgressiveId) {
    AssignProgressiveIds(target_column);
  } else if (entry == kChangeSign) {
    ChangeSign(target_column);
  } else if (entry == kDegToRad) {
    ConvertAngles(target_column, 180.0);
  } else if (entry == kGradToRad) {
    ConvertAngles(target_column, 200.0);
  } else if (entry == kResetContent || entry == kClearAll) {
    ClearColumn(target_column);
  } else {
    return SetValueToAll(target_column);
  }
  return true;
}

void PointImportModel::AssignProgressiveIds(int column) {
  for (std::size_t r = 0; r < target_rows_.size(); ++r)
    target_rows_[r][column] = ProgressiveId(static_cast<int>(r));
}

// A cell that does not hold a number stays as it is: negating it would invent a coordinate.
void PointImportModel::ChangeSign(int column) {
  for (auto& row : target_rows_) {
    double value;
    if (!ToDouble(row[column], &value)) continue;
    row[column] = Format("%.3lf", value == 0.0 ? 0.0 : -value);
  }
}

void PointImportModel::ConvertAngles(int column, double half_turn) {
  for (auto& row : target_rows_) {
    double value;
    if (ToDouble(row[column], &value)) row[column] = Format("%lf", value / half_turn * kPi);
  }
}

void PointImportModel::ClearColumn(int column) {
  for (auto& row : target_rows_) row[column].clear();
}

bool PointImportModel::SetValueToAll(int column) {
  const std::string& title = target_columns_[column];
  const std::string prompt = "Type new " + title + " (\"-\" for undef value)";
  const bool angular = mode_ == ImportMode::kGpsImu && IsAngularVarColumn(title);
  std::string text;
  for (;;) {
    if (!ui_.PromptValue(prompt, "", &text)) return false;
    if (IsUndefinedText(text)) {
      text = "-";
      break;
    }
    double value;
    if (!NVT_StringToDouble(text, &value) || !(value >= 0.0)) {
      ui_.ShowMessage("Invalid value!", MessageIcon::kInformation);
    } else if (angular && value > kPi) {
      ui_.ShowMessage("Angular variance must be lower than 180 deg!", MessageIcon::kInformation);
    } else {
      break;
    }
  }
  for (auto& row : target_rows_) row[column] = text;
  return true;
}

// --- Selection, Save As, conversion ----------------------------------------------------------

void PointImportModel::SelectRow(int row, bool selected) { selected_[row] = selected; }
void PointImportModel::SelectAll() { selected_.assign(target_rows_.size(), true); }
void PointImportModel::UnselectAll() { selected_.assign(target_rows_.size(), false); }

std::vector<int> PointImportModel::SelectedRows() const {
  std::vector<int> rows;
  for (std::size_t r = 0; r < selected_.size(); ++r)
    if (selected_[r]) rows.push_back(static_cast<int>(r));
  return rows;
}

bool PointImportModel::NeedSelection() {
  if (!SelectedRows().empty()) return true;
  ui_.ShowMessage("Make a selection", MessageIcon::kInformation);
  return false;
}

void PointImportModel::SetOutputSeparator(const std::string& text) {
  output_separator_ = text.empty() ? ',' : text[0];
}

bool PointImportModel::SaveAs() {
  if (!NeedSelection()) return false;
  std::string path;
  if (!ui_.PickSaveFile("Save As..", {{"Text files", "*.txt"}, {"All files", "*"}},
                        NVT_GetLastBrowsedPath(), "txt", &path))
    return false;
  std::string content;
  for (int r : SelectedRows()) {
    const auto& row = target_rows_[r];
    for (std::size_t k = 0; k < row.size(); ++k) {
      if (k > 0) content += output_separator_;
      content += row[k];
    }
    content += '\n';
  }
  if (system::WriteFileAtomically(path, content)) return true;
  ui_.ShowMessage("Unable to write the file " + path, MessageIcon::kExclamation);
  return false;
}

bool PointImportModel::ConvertCoordinates(CoordinateConversion& conversion) {
  if (!NeedSelection()) return false;
  const int x_col = TargetColumn("X"), y_col = TargetColumn("Y");
  std::vector<std::pair<int, std::array<double, 2>>> kept;
  double sum_lon = 0.0, sum_lat = 0.0;
  for (int r : SelectedRows()) {
    double lon, lat;
    if (!ToDouble(target_rows_[r][x_col], &lon) || !ToDouble(target_rows_[r][y_col], &lat))
      continue;
    kept.push_back({r, {lon, lat}});
    sum_lon += lon;
    sum_lat += lat;
  }
  if (kept.empty()) {
    ui_.ShowMessage("No valid points found!", MessageIcon::kExclamation);
    return false;
  }
  const double n = static_cast<double>(kept.size());
  if (!conversion.Run(sum_lat / n, sum_lon / n)) return false;
  for (auto& [r, lon_lat] : kept) {
    double x = lon_lat[0], y = lon_lat[1];
    if (!conversion.Transform(&x, &y)) {
      ui_.Log("Row " + std::to_string(r + 1) + " not converted");
      continue;
    }
    target_rows_[r][x_col] = Format("%lf", x);
    target_rows_[r][y_col] = Format("%lf", y);
  }
  return true;
}

// --- Import ----------------------------------------------------------------------------------

bool PointImportModel::ImportControlPoints(std::vector<SFIO_ControlPoint>* records, double* min_x,
                                           double* min_y) {
  if (!NeedSelection()) return false;
  records->clear();
  const std::vector<int> rows = SelectedRows();
  ui_.SetProgressRange(0, static_cast<int>(rows.size()));
  *min_x = *min_y = std::numeric_limits<double>::max();
  const int var_xy = TargetColumn("Var XY"), var_z = TargetColumn("Var Z");
  for (std::size_t i = 0; i < rows.size(); ++i) {
    ui_.SetProgressPosition(static_cast<int>(i + 1));
    auto& row = target_rows_[rows[i]];
    if (row[0].empty()) row[0] = ProgressiveId(id_counter_++);
    SFIO_ControlPoint point{};
    if (!ToDouble(row[1], &point.x) || !ToDouble(row[2], &point.y) || !ToDouble(row[3], &point.z)) {
      ui_.Log("Point " + row[0] + " skipped: X, Y or Z is not a number");
      continue;
    }
    if (!IsPlausibleCoordinate(point.x) || !IsPlausibleCoordinate(point.y) ||
        !IsPlausibleCoordinate(point.z)) {
      ui_.Log("Point " + row[0] + " (row " + std::to_string(rows[i] + 1) +
              ") refused: X, Y or Z is out of range");
      continue;
    }
    auto variance = [&](int column) {
      double value = 0.0;
      if (column < 0 || IsUndefinedText(row[column]) || !ToDouble(row[column], &value)) return 0.0;
      return value > 0.0 ? value : 0.0;
    };
    SetRecordId(point.id, row[0]);
    point.var_xy = variance(var_xy);
    point.var_z = variance(var_z);
    point.valid = 1;
    point.dimension = 3;
    records->push_back(point);
    *min_x = std::min(*min_x, point.x);
    *min_y = std::min(*min_y, point.y);
  }
  ui_.SetProgressPosition(0);
  if (!records->empty()) return true;
  if (mode_ == ImportMode::kGcp) ui_.Log("No valid data or already imported control points");
  return false;
}

bool PointImportModel::ReadGpsImuRecords(GpsImuRecords* records) {
  if (!NeedSelection()) return false;
  *records = {};
  for (int r : SelectedRows()) {
    const auto& row = target_rows_[r];
    double v[6];
    bool converts = true;
    for (int k = 0; k < 6; ++k) converts = converts && ToDouble(row[1 + k], &v[k]);
    if (!converts) {
      ui_.Log("GPS/IMU row " + row[0] + " skipped: position or angles are not numbers");
      continue;
    }
    if (!IsPlausibleCoordinate(v[0]) || !IsPlausibleCoordinate(v[1]) ||
        !IsPlausibleCoordinate(v[2])) {
      ui_.Log("GPS/IMU row " + row[0] + " (row " + std::to_string(r + 1) +
              ") refused: position out of range");
      continue;
    }
    SFIO_GPSPoint position{}, attitude{};
    SetRecordId(position.id, row[0]);
    SetRecordId(attitude.id, row[0]);
    position.x = v[0], position.y = v[1], position.z = v[2];
    attitude.x = v[3], attitude.y = v[4], attitude.z = v[5];
    position.valid = attitude.valid = 1;
    std::array<double, 4> variances;
    for (int k = 0; k < 4; ++k) {
      double value;
      const bool angular = k >= 2;
      if (IsUndefinedText(row[7 + k]) || !ToDouble(row[7 + k], &value) || value < 0.0 ||
          (angular && value > kPi))
        value = photogrammetry::kUndefinedVariance;
      variances[k] = value;
    }
    records->positions.push_back(position);
    records->attitudes.push_back(attitude);
    records->variances.push_back(variances);
  }
  return true;
}

// --- Matching and local origin ---------------------------------------------------------------

std::vector<int> MatchRowsToImages(const std::vector<SFIO_GPSPoint>& positions,
                                   const std::vector<std::string>& image_names) {
  std::vector<std::string> titles;
  for (const auto& p : positions) titles.push_back(system::ToLower(project::FileTitle(p.id)));
  std::vector<int> match(image_names.size(), -1);
  for (std::size_t i = 0; i < image_names.size(); ++i) {
    const auto it = std::find(titles.begin(), titles.end(), system::ToLower(image_names[i]));
    if (it != titles.end()) match[i] = static_cast<int>(it - titles.begin());
  }
  return match;
}

OriginUpdate SetLocalOriginOnce(std::array<double, 3>* origin, double min_x, double min_y,
                                const std::string& off_path) {
  if ((*origin)[0] != 0.0) return OriginUpdate::kKept;
  char text[256];
  std::snprintf(text, sizeof text, "%.20lf %.20lf %.20lf", min_x, min_y, 0.0);
  if (!system::WriteFileAtomically(off_path, text)) return OriginUpdate::kWriteFailed;
  *origin = {min_x, min_y, 0.0};
  return OriginUpdate::kSet;
}

}  // namespace vantri::import
