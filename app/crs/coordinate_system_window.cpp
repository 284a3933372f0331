#include "crs/coordinate_system_window.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "system/nvtools.h"
#include "ui_interface/ui.h"

namespace vantri::crs {
namespace {

using vantri::MessageIcon;

constexpr const char* kNoneName = "None (Local Coordinate System)";
constexpr const char* kMonteMario = "Monte Mario";
constexpr const char* kWgs84Datum = "World Geodetic System 1984";

bool NeedsDatumAndFuse(int32_t projection) {
  return projection == kProjectionUtm || projection == kProjectionTransverseMercator;
}

int DatumRowOfName(std::string_view name) {
  const auto& table = DatumTable();
  for (size_t row = 0; row < table.size(); ++row) {
    if (name == table[row].name) return static_cast<int>(row);
  }
  return -1;
}

// The row holding exactly this record (the two "Garoua" rows differ by code).
int DatumRowOf(const EPSGDatum& datum) {
  const auto& table = DatumTable();
  for (size_t row = 0; row < table.size(); ++row) {
    if (table[row].code == datum.code && std::strcmp(table[row].name, datum.name) == 0) {
      return static_cast<int>(row);
    }
  }
  return -1;
}

bool IsMonteMarioDatum(std::string_view name) {
  return name == kMonteMario || name == "Monte Mario (Rome)";
}

// Leading and trailing blanks, line ends, NULs and a UTF-8 byte-order mark are not part of a WKT.
std::string TrimmedWkt(std::string text) {
  if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
  const char* blanks = " \t\r\n\v\f";
  const size_t first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return {};
  size_t last = text.find_last_not_of(std::string(blanks) + '\0');
  return text.substr(first, last - first + 1);
}

// NVT_StringToInt, else the leading integer of the text (0 when there is none), clamped to int.
int32_t EpsgCodeOfText(const std::string& text) {
  int value = 0;
  if (NVT_StringToInt(text, &value)) return value;
  errno = 0;
  const long code = std::strtol(text.c_str(), nullptr, 10);
  if (code > INT_MAX) return INT_MAX;
  if (code < INT_MIN) return INT_MIN;
  return static_cast<int32_t>(code);
}

std::vector<std::string> DatumNames() {
  std::vector<std::string> names;
  for (const EPSGDatum& datum : DatumTable()) names.emplace_back(datum.name);
  return names;
}

}  // namespace

std::vector<std::string> FuseNamesForDatum(std::string_view datum_name) {
  if (IsMonteMarioDatum(datum_name)) return {"W", "E"};
  std::vector<std::string> names;
  for (int32_t fuse = -60; fuse <= 60; ++fuse) {
    if (fuse != 0) names.push_back(FuseName(fuse));
  }
  return names;
}

CoordinateSystemWindow::CoordinateSystemWindow(CoordinateSystem& project, vantri::UserInterface& ui)
    : project_(project), ui_(ui) {
  projections_.Fill({kNoneName, "UTM", "Transvers Mercator", "User WKT String", "User EPSG Code"});
  units_.Fill({"Meters"});
  units_.Select(UnitsName(project_.units));
  datums_.Fill(DatumNames());
  current_datum_row_ = DatumRowOf(project_.datum);
  current_fuse_ = project_.fuse;
  if (project_.projection == kProjectionUserWkt) user_wkt_ = project_.user_wkt;
  if (project_.projection == kProjectionUserEpsg) user_epsg_ = project_.user_epsg;
  projections_.Select(ProjectionName(project_.projection));
  OnProjectionChanged();
}

// ---- Operator actions ---------------------------------------------------------------------------

void CoordinateSystemWindow::SelectProjection(std::string_view name) {
  if (!projections_.Select(name)) return;
  OnProjectionChanged();
}

void CoordinateSystemWindow::SelectDatum(std::string_view name) {
  SelectDatumRow(DatumRowOfName(name));
}

void CoordinateSystemWindow::SelectDatumRow(int row) {
  if (!datums_.enabled || row < 0 || row >= static_cast<int>(datums_.items.size())) return;
  datums_.SelectIndex(row);
  OnDatumChanged();
}

void CoordinateSystemWindow::SelectFuse(std::string_view name) {
  if (!fuses_.enabled || !fuses_.Select(name)) return;
  current_fuse_ = FuseValue(name);
}

void CoordinateSystemWindow::SelectUnits(std::string_view name) {
  if (!units_.enabled) return;
  units_.Select(name);
}

std::string CoordinateSystemWindow::ShowWkt() {
  std::string wkt;
  if (projections_.HasSelection()) {
    wkt =
        BuildWkt(SelectedProjection(), SelectedDatumCode(), SelectedFuse(), user_wkt_, user_epsg_);
  }
  ui_.ShowMessage(wkt, MessageIcon::kInformation);
  return wkt;
}

void CoordinateSystemWindow::ImportFromWkt() {
  std::string path;
  const std::vector<vantri::FileFilter> filters = {{"PRJ File", "*.prj"}, {"All Files", "*.*"}};
  if (!ui_.PickOpenFile("Import From WKT", filters, "", "prj", &path)) return;
  std::string text;
  if (!ReadWholeFile(path, &text)) {
    ui_.ShowMessage("Unable to read selected file!", MessageIcon::kExclamation);
    return;
  }
  text = TrimmedWkt(std::move(text));
  if (!IsValidWkt(text)) {
    ui_.ShowMessage("Invalid WKT string!", MessageIcon::kExclamation);
    return;
  }
  if (!project_.RebuildTransformationsFrom(text)) {
    ImportFailed();
    return;
  }
  project_.SetUserWkt(text);
  user_wkt_ = text;
  SelectProjectionIndex(kProjectionUserWkt);
}

void CoordinateSystemWindow::ImportFromEpsg() {
  std::string value;
  if (!ui_.PromptValue("Insert EPSG code", std::to_string(project_.user_epsg), &value)) return;
  const int32_t code = EpsgCodeOfText(value);
  const std::string wkt = WktFromEpsg(code);
  if (wkt.empty()) {
    ui_.ShowMessage("Invalid EPSG code!", MessageIcon::kExclamation);
    return;
  }
  if (!project_.RebuildTransformationsFrom(wkt)) {
    ImportFailed();
    return;
  }
  project_.SetUserEpsg(code);
  user_epsg_ = code;
  SelectProjectionIndex(kProjectionUserEpsg);
}

bool CoordinateSystemWindow::Ok() {
  const std::string message = ValidationMessage();
  if (!message.empty()) {
    ui_.ShowMessage(message, MessageIcon::kExclamation);
    return false;
  }
  Store();
  outcome_ = Outcome::kOk;
  return true;
}

// ---- List rules ---------------------------------------------------------------------------------

void CoordinateSystemWindow::OnProjectionChanged() {
  const int32_t projection = SelectedProjection();
  if (NeedsDatumAndFuse(projection)) {
    ShowDatumAndFuse();
    return;
  }
  DisableDatumAndFuse();
  if (projection == kProjectionUserWkt && user_wkt_.empty()) {
    ImportFromWkt();
    if (user_wkt_.empty()) SelectProjectionIndex(kProjectionNone);
  } else if (projection == kProjectionUserEpsg && user_epsg_ <= 0) {
    ImportFromEpsg();
    if (user_epsg_ <= 0) SelectProjectionIndex(kProjectionNone);
  }
}

// UTM and Transvers Mercator: Transvers Mercator is defined on "Monte Mario" only. UTM keeps the
// current datum unless there is none or it is a Monte Mario datum (which has no UTM zones); then
// it takes "World Geodetic System 1984".
void CoordinateSystemWindow::ShowDatumAndFuse() {
  int row = current_datum_row_;
  const std::string current = row >= 0 ? DatumTable()[row].name : std::string();
  if (SelectedProjection() == kProjectionTransverseMercator && current != kMonteMario) {
    row = DatumRowOfName(kMonteMario);
  } else if (SelectedProjection() == kProjectionUtm && (row < 0 || IsMonteMarioDatum(current))) {
    row = DatumRowOfName(kWgs84Datum);
  }
  datums_.enabled = true;
  datums_.SelectIndex(row);
  current_datum_row_ = row;
  RefillFuses();
  fuses_.enabled = true;
}

void CoordinateSystemWindow::OnDatumChanged() {
  current_datum_row_ = datums_.selection;
  RefillFuses();
}

void CoordinateSystemWindow::RefillFuses() {
  fuses_.Fill(FuseNamesForDatum(datums_.Selected()));
  fuses_.Select(FuseName(current_fuse_));
}

void CoordinateSystemWindow::DisableDatumAndFuse() {
  datums_.ClearSelection();
  datums_.enabled = false;
  fuses_.Clear();
  fuses_.enabled = false;
}

void CoordinateSystemWindow::SelectProjectionIndex(int32_t projection) {
  projections_.Select(ProjectionName(projection));
  OnProjectionChanged();
}

void CoordinateSystemWindow::ImportFailed() {
  // The stored choice is unchanged: give the project back the transformations that match it.
  project_.RebuildTransformations();
  SelectProjectionIndex(kProjectionNone);
  ui_.ShowMessage("Unable to set coordinate conversion!", MessageIcon::kExclamation);
}

// ---- Selections and storing ---------------------------------------------------------------------

int32_t CoordinateSystemWindow::SelectedProjection() const {
  return projections_.HasSelection() ? ProjectionIndex(projections_.Selected())
                                     : kProjectionNotDefined;
}

EPSGDatum CoordinateSystemWindow::SelectedDatum() const {
  return datums_.HasSelection() ? DatumTable()[datums_.selection] : DatumNotDefined();
}

int32_t CoordinateSystemWindow::SelectedDatumCode() const { return SelectedDatum().code; }

int32_t CoordinateSystemWindow::SelectedFuse() const {
  return fuses_.HasSelection() ? FuseValue(fuses_.Selected()) : kFuseNotDefined;
}

std::string CoordinateSystemWindow::ValidationMessage() const {
  const int32_t projection = SelectedProjection();
  if (projection == kProjectionNotDefined) return "Select a valid projection";
  if (NeedsDatumAndFuse(projection)) {
    if (!datums_.HasSelection()) return "Select Datum!";
    if (!fuses_.HasSelection()) return "Select Fuse!";
  }
  if (!units_.HasSelection()) return "Select Units!";
  return {};
}

void CoordinateSystemWindow::Store() {
  const int32_t projection = SelectedProjection();
  project_.projection = projection;
  project_.datum = NeedsDatumAndFuse(projection) ? SelectedDatum() : DatumNotDefined();
  project_.fuse = NeedsDatumAndFuse(projection) ? SelectedFuse() : kFuseNotDefined;
  project_.units = UnitsValue(units_.Selected());
  if (projection == kProjectionUserWkt) project_.user_wkt = user_wkt_;
  if (projection == kProjectionUserEpsg) project_.user_epsg = user_epsg_;
  project_.RebuildTransformations();
}

bool CoordinateSystemWindow::ReadWholeFile(const std::string& path, std::string* text) {
  const std::int64_t size = NVT_GetFileSize(path);
  if (size <= 0) return false;
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  text->assign(static_cast<size_t>(size), '\0');
  file.read(text->data(), size);
  text->resize(static_cast<size_t>(file.gcount()));
  return !text->empty();
}

}  // namespace vantri::crs
