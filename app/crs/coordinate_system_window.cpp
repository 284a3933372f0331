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

bool needs_datum_and_fuse(int32_t projection) {
  return projection == kProjectionUtm || projection == kProjectionTransverseMercator;
}

int datum_row_of_name(std::string_view name) {
  const auto& table = datum_table();
  for (size_t row = 0; row < table.size(); ++row) {
    if (name == table[row].name) return static_cast<int>(row);
  }
  return -1;
}

// The row holding exactly this record (the two "Garoua" rows differ by code).
int datum_row_of(const EPSGDatum& datum) {
  const auto& table = datum_table();
  for (size_t row = 0; row < table.size(); ++row) {
    if (table[row].code == datum.code && std::strcmp(table[row].name, datum.name) == 0) {
      return static_cast<int>(row);
    }
  }
  return -1;
}

bool is_monte_mario_datum(std::string_view name) {
  return name == kMonteMario || name == "Monte Mario (Rome)";
}

// Leading and trailing blanks, line ends, NULs and a UTF-8 byte-order mark are not part of a WKT.
std::string trimmed_wkt(std::string text) {
  if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
  const char* blanks = " \t\r\n\v\f";
  const size_t first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return {};
  size_t last = text.find_last_not_of(std::string(blanks) + '\0');
  return text.substr(first, last - first + 1);
}

// NVT_StringToInt, else the leading integer of the text (0 when there is none), clamped to int.
int32_t epsg_code_of_text(const std::string& text) {
  int value = 0;
  if (NVT_StringToInt(text, &value)) return value;
  errno = 0;
  const long code = std::strtol(text.c_str(), nullptr, 10);
  if (code > INT_MAX) return INT_MAX;
  if (code < INT_MIN) return INT_MIN;
  return static_cast<int32_t>(code);
}

std::vector<std::string> datum_names() {
  std::vector<std::string> names;
  for (const EPSGDatum& datum : datum_table()) names.emplace_back(datum.name);
  return names;
}

}  // namespace

std::vector<std::string> fuse_names_for_datum(std::string_view datum_name) {
  if (is_monte_mario_datum(datum_name)) return {"W", "E"};
  std::vector<std::string> names;
  for (int32_t fuse = -60; fuse <= 60; ++fuse) {
    if (fuse != 0) names.push_back(fuse_name(fuse));
  }
  return names;
}

CoordinateSystemWindow::CoordinateSystemWindow(CoordinateSystem& project, vantri::UserInterface& ui)
    : project_(project), ui_(ui) {
  projections_.fill({kNoneName, "UTM", "Transvers Mercator", "User WKT String", "User EPSG Code"});
  units_.fill({"Meters"});
  units_.select(units_name(project_.units));
  datums_.fill(datum_names());
  current_datum_row_ = datum_row_of(project_.datum);
  current_fuse_ = project_.fuse;
  if (project_.projection == kProjectionUserWkt) user_wkt_ = project_.user_wkt;
  if (project_.projection == kProjectionUserEpsg) user_epsg_ = project_.user_epsg;
  projections_.select(projection_name(project_.projection));
  on_projection_changed();
}

// ---- Operator actions ---------------------------------------------------------------------------

void CoordinateSystemWindow::select_projection(std::string_view name) {
  if (!projections_.select(name)) return;
  on_projection_changed();
}

void CoordinateSystemWindow::select_datum(std::string_view name) {
  select_datum_row(datum_row_of_name(name));
}

void CoordinateSystemWindow::select_datum_row(int row) {
  if (!datums_.enabled || row < 0 || row >= static_cast<int>(datums_.items.size())) return;
  datums_.select_index(row);
  on_datum_changed();
}

void CoordinateSystemWindow::select_fuse(std::string_view name) {
  if (!fuses_.enabled || !fuses_.select(name)) return;
  current_fuse_ = fuse_value(name);
}

void CoordinateSystemWindow::select_units(std::string_view name) {
  if (!units_.enabled) return;
  units_.select(name);
}

std::string CoordinateSystemWindow::show_wkt() {
  std::string wkt;
  if (projections_.has_selection()) {
    wkt = build_wkt(selected_projection(), selected_datum_code(), selected_fuse(), user_wkt_,
                    user_epsg_);
  }
  ui_.ShowMessage(wkt, MessageIcon::kInformation);
  return wkt;
}

void CoordinateSystemWindow::import_from_wkt() {
  std::string path;
  const std::vector<vantri::FileFilter> filters = {{"PRJ File", "*.prj"}, {"All Files", "*.*"}};
  if (!ui_.PickOpenFile("Import From WKT", filters, "", "prj", &path)) return;
  std::string text;
  if (!read_whole_file(path, &text)) {
    ui_.ShowMessage("Unable to read selected file!", MessageIcon::kExclamation);
    return;
  }
  text = trimmed_wkt(std::move(text));
  if (!is_valid_wkt(text)) {
    ui_.ShowMessage("Invalid WKT string!", MessageIcon::kExclamation);
    return;
  }
  if (!project_.rebuild_transformations_from(text)) {
    import_failed();
    return;
  }
  project_.set_user_wkt(text);
  user_wkt_ = text;
  select_projection_index(kProjectionUserWkt);
}

void CoordinateSystemWindow::import_from_epsg() {
  std::string value;
  if (!ui_.PromptValue("Insert EPSG code", std::to_string(project_.user_epsg), &value)) return;
  const int32_t code = epsg_code_of_text(value);
  const std::string wkt = wkt_from_epsg(code);
  if (wkt.empty()) {
    ui_.ShowMessage("Invalid EPSG code!", MessageIcon::kExclamation);
    return;
  }
  if (!project_.rebuild_transformations_from(wkt)) {
    import_failed();
    return;
  }
  project_.set_user_epsg(code);
  user_epsg_ = code;
  select_projection_index(kProjectionUserEpsg);
}

bool CoordinateSystemWindow::ok() {
  const std::string message = validation_message();
  if (!message.empty()) {
    ui_.ShowMessage(message, MessageIcon::kExclamation);
    return false;
  }
  store();
  outcome_ = Outcome::kOk;
  return true;
}

// ---- List rules ---------------------------------------------------------------------------------

void CoordinateSystemWindow::on_projection_changed() {
  const int32_t projection = selected_projection();
  if (needs_datum_and_fuse(projection)) {
    show_datum_and_fuse();
    return;
  }
  disable_datum_and_fuse();
  if (projection == kProjectionUserWkt && user_wkt_.empty()) {
    import_from_wkt();
    if (user_wkt_.empty()) select_projection_index(kProjectionNone);
  } else if (projection == kProjectionUserEpsg && user_epsg_ <= 0) {
    import_from_epsg();
    if (user_epsg_ <= 0) select_projection_index(kProjectionNone);
  }
}

// UTM and Transvers Mercator: Transvers Mercator is defined on "Monte Mario" only. UTM keeps the
// current datum unless there is none or it is a Monte Mario datum (which has no UTM zones); then
// it takes "World Geodetic System 1984".
void CoordinateSystemWindow::show_datum_and_fuse() {
  int row = current_datum_row_;
  const std::string current = row >= 0 ? datum_table()[row].name : std::string();
  if (selected_projection() == kProjectionTransverseMercator && current != kMonteMario) {
    row = datum_row_of_name(kMonteMario);
  } else if (selected_projection() == kProjectionUtm &&
             (row < 0 || is_monte_mario_datum(current))) {
    row = datum_row_of_name(kWgs84Datum);
  }
  datums_.enabled = true;
  datums_.select_index(row);
  current_datum_row_ = row;
  refill_fuses();
  fuses_.enabled = true;
}

void CoordinateSystemWindow::on_datum_changed() {
  current_datum_row_ = datums_.selection;
  refill_fuses();
}

void CoordinateSystemWindow::refill_fuses() {
  fuses_.fill(fuse_names_for_datum(datums_.selected()));
  fuses_.select(fuse_name(current_fuse_));
}

void CoordinateSystemWindow::disable_datum_and_fuse() {
  datums_.clear_selection();
  datums_.enabled = false;
  fuses_.clear();
  fuses_.enabled = false;
}

void CoordinateSystemWindow::select_projection_index(int32_t projection) {
  projections_.select(projection_name(projection));
  on_projection_changed();
}

void CoordinateSystemWindow::import_failed() {
  // The stored choice is unchanged: give the project back the transformations that match it.
  project_.rebuild_transformations();
  select_projection_index(kProjectionNone);
  ui_.ShowMessage("Unable to set coordinate conversion!", MessageIcon::kExclamation);
}

// ---- Selections and storing ---------------------------------------------------------------------

int32_t CoordinateSystemWindow::selected_projection() const {
  return projections_.has_selection() ? projection_index(projections_.selected())
                                      : kProjectionNotDefined;
}

EPSGDatum CoordinateSystemWindow::selected_datum() const {
  return datums_.has_selection() ? datum_table()[datums_.selection] : datum_not_defined();
}

int32_t CoordinateSystemWindow::selected_datum_code() const { return selected_datum().code; }

int32_t CoordinateSystemWindow::selected_fuse() const {
  return fuses_.has_selection() ? fuse_value(fuses_.selected()) : kFuseNotDefined;
}

std::string CoordinateSystemWindow::validation_message() const {
  const int32_t projection = selected_projection();
  if (projection == kProjectionNotDefined) return "Select a valid projection";
  if (needs_datum_and_fuse(projection)) {
    if (!datums_.has_selection()) return "Select Datum!";
    if (!fuses_.has_selection()) return "Select Fuse!";
  }
  if (!units_.has_selection()) return "Select Units!";
  return {};
}

void CoordinateSystemWindow::store() {
  const int32_t projection = selected_projection();
  project_.projection = projection;
  project_.datum = needs_datum_and_fuse(projection) ? selected_datum() : datum_not_defined();
  project_.fuse = needs_datum_and_fuse(projection) ? selected_fuse() : kFuseNotDefined;
  project_.units = units_value(units_.selected());
  if (projection == kProjectionUserWkt) project_.user_wkt = user_wkt_;
  if (projection == kProjectionUserEpsg) project_.user_epsg = user_epsg_;
  project_.rebuild_transformations();
}

bool CoordinateSystemWindow::read_whole_file(const std::string& path, std::string* text) {
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
