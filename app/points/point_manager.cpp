#include "points/point_manager.h"

#include <cmath>
#include <cstdio>

#include "import/control_point_files.h"
#include "project/project.h"
#include "system/nvtools.h"
#include "ui_interface/ui.h"

namespace vantri::points {
namespace {

constexpr const char* kSetValueToAll = "Set value to all";
constexpr const char* kClearAll = "Clear all";
constexpr int kLastGcpColumnNarrowing = 18;

std::string Formatted(const char* format, double value) {
  char text[512];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

const char* VariancePrompt(PointManager::VarianceColumn column) {
  return column == PointManager::VarianceColumn::kXY ? "Type new Var XY (\"-\" for undef value)"
                                                     : "Type new Var Z (\"-\" for undef value)";
}

double& VarianceOf(CGCPCollEx& point, PointManager::VarianceColumn column) {
  return column == PointManager::VarianceColumn::kXY ? point.xy_var : point.z_var;
}

// "-" (or nothing) is undefined; otherwise a finite number >= 0. False for anything else.
bool ParseVariance(const std::string& text, double* variance) {
  std::string trimmed = text;
  trimmed.erase(0, trimmed.find_first_not_of(" \t"));
  trimmed.erase(trimmed.find_last_not_of(" \t") + 1);
  if (trimmed.empty() || trimmed == kUndefinedText) {
    *variance = photogrammetry::kUndefinedVariance;
    return true;
  }
  double value = 0.0;
  if (!NVT_StringToDouble(trimmed, &value) || !std::isfinite(value) || value < 0.0) return false;
  *variance = value;
  return true;
}

}  // namespace

int32_t RowColour(const CGCPCollEx& point, const PointResults& results,
                  const project::QualityClass& quality) {
  if (!point.use || point.measurements.size() <= 1) return kNotAdjustedColour;
  const auto result = results.find(point.id);
  if (result == results.end()) return kNoResultColour;
  return quality.ColorFor(result->second.Magnitude());
}

std::string VarianceText(double variance) {
  if (variance == photogrammetry::kUndefinedVariance) return kUndefinedText;
  return Formatted("%lf", variance);
}

PointManager::PointManager(PointKind kind, CVantriProject& project, UserInterface& ui,
                           PointResults* results, project::QualityClass quality, DrawingHooks hooks)
    : kind_(kind),
      project_(project),
      ui_(ui),
      results_(results),
      quality_(quality),
      hooks_(std::move(hooks)) {}

bool PointManager::CanOpen() const { return project_.IsOpen(); }

const char* PointManager::Title() const {
  return kind_ == PointKind::kGcp ? "GCPs Manager" : "Check-Points Manager";
}

std::vector<std::string> PointManager::Columns() const {
  std::vector<std::string> columns = {"ID", "Measuremets", "ResX", "ResY", "ResZ"};
  if (kind_ == PointKind::kGcp) {
    columns.push_back("XY var");
    columns.push_back("Z var");
  }
  return columns;
}

std::vector<int> PointManager::ColumnWidths(int list_width) const {
  const int count = static_cast<int>(Columns().size());
  std::vector<int> widths(count, list_width / count);
  if (kind_ == PointKind::kGcp) widths.back() -= kLastGcpColumnNarrowing;
  return widths;
}

std::vector<PointRow> PointManager::Rows() const {
  static const PointResults kNoResults;
  const PointResults& results = results_ != nullptr ? *results_ : kNoResults;
  std::vector<PointRow> rows;
  for (const auto& [name, point] : Points()) {
    PointRow row;
    row.name = point.name;
    row.cells = {point.name, std::to_string(point.measurements.size()),
                 Formatted("%lf", point.res_x), Formatted("%lf", point.res_y),
                 Formatted("%lf", point.res_z)};
    if (kind_ == PointKind::kGcp) {
      row.cells.push_back(VarianceText(point.xy_var));
      row.cells.push_back(VarianceText(point.z_var));
    }
    row.use = point.use;
    row.colour = RowColour(point, results, quality_);
    rows.push_back(std::move(row));
  }
  return rows;
}

std::string PointManager::CountLabel() const {
  return std::to_string(Points().size()) + " points added";
}

bool PointManager::CanRemove() const { return !Points().empty(); }

bool PointManager::Import(const ImportWindow& window) {
  std::vector<import::SFIO_ControlPoint> records;
  const import::ImportMode mode =
      kind_ == PointKind::kGcp ? import::ImportMode::kGcp : import::ImportMode::kCheckPoints;
  if (!window || !window(mode, &records)) return false;
  return AddImported(records) > 0;
}

int PointManager::AddImported(const std::vector<import::SFIO_ControlPoint>& records) {
  const int added = import::AddImportedPoints(records, &Points());
  if (added == 0) {
    ui_.ShowMessage("No valid point to import or points already imported!", MessageIcon::kWarning);
    return 0;
  }
  ui_.ShowMessage(std::to_string(added) + " control points imported", MessageIcon::kInformation);
  Changed();
  return added;
}

bool PointManager::RemoveSelected(const std::vector<std::string>& names) {
  if (names.empty() || !ui_.AskYesNo("Remove selected points?", MessageIcon::kQuestion))
    return false;
  return Remove(names);
}

bool PointManager::RemoveAll() {
  if (Points().empty() || !ui_.AskYesNo("Remove all points?", MessageIcon::kQuestion)) return false;
  std::vector<std::string> names;
  for (const auto& [name, point] : Points()) names.push_back(name);
  return Remove(names);
}

bool PointManager::Remove(const std::vector<std::string>& names) {
  bool removed = false;
  for (const std::string& name : names) {
    const auto point = Points().find(name);
    if (point == Points().end()) continue;
    const int id = point->second.id;
    Points().erase(point);
    if (results_ != nullptr) results_->erase(id);
    if (hooks_.remove_entity) hooks_.remove_entity(id);
    removed = true;
  }
  if (removed) Changed();
  return removed;
}

bool PointManager::SetUse(const std::string& name, bool use) {
  const auto point = Points().find(name);
  if (point == Points().end()) return false;
  point->second.use = use;
  Changed();
  return true;
}

std::vector<std::string> PointManager::VarianceMenu() const {
  if (kind_ != PointKind::kGcp) return {};
  return {kSetValueToAll, kClearAll};
}

bool PointManager::SetVarianceToAll(VarianceColumn column) {
  if (kind_ != PointKind::kGcp) return false;
  double variance = photogrammetry::kUndefinedVariance;
  std::string preset = kUndefinedText;
  while (true) {
    std::string text;
    if (!ui_.PromptValue(VariancePrompt(column), preset, &text)) return false;
    preset = text;
    if (ParseVariance(text, &variance)) break;
    ui_.ShowMessage("Invalid value!", MessageIcon::kInformation);
  }
  for (auto& [name, point] : Points()) VarianceOf(point, column) = variance;
  Changed();
  return true;
}

bool PointManager::ClearVariance(VarianceColumn column) {
  if (kind_ != PointKind::kGcp) return false;
  for (auto& [name, point] : Points())
    VarianceOf(point, column) = photogrammetry::kUndefinedVariance;
  Changed();
  return true;
}

bool PointManager::Save() {
  const std::string path = CollectionPath(project_, kind_);
  if (WritePTCollFile(path, Points())) return true;
  ui_.ShowMessage("Unable to write '" + path + "'!", MessageIcon::kExclamation);
  return false;
}

CGCPCollMap& PointManager::Points() const { return PointMap(project_, kind_); }

void PointManager::Changed() {
  Save();
  if (hooks_.redraw_symbols) hooks_.redraw_symbols();
}

}  // namespace vantri::points
