#include "crs/coordinate_conversion_window.h"

#include <cmath>
#include <cstdio>

#include "crs/spatial_reference.h"
#include "ui_interface/ui.h"

namespace vantri::crs {
namespace {

using vantri::MessageIcon;

constexpr const char* kUtmName = "Universal Transverse Mercator";
constexpr const char* kTransverseMercatorName = "Transverse Mercator";
constexpr const char* kStatePlaneName = "StatePlane";
constexpr const char* kWgs84Datum = "World Geodetic System 1984";
constexpr const char* kWest = "OVEST";
constexpr const char* kEast = "EST";

std::string zone_text(int32_t zone, bool north) {
  return std::to_string(zone) + (north ? " North" : " South");
}

std::vector<std::string> utm_zone_texts() {
  std::vector<std::string> texts;
  for (int32_t zone = 60; zone >= 1; --zone) texts.push_back(zone_text(zone, false));
  for (int32_t zone = 1; zone <= 60; ++zone) texts.push_back(zone_text(zone, true));
  return texts;
}

std::vector<std::string> all_datum_names() {
  std::vector<std::string> names;
  for (const EPSGDatum& datum : datum_table()) names.emplace_back(datum.name);
  return names;
}

// The zone number at the start of a fuse text ("%d "), 0 when there is none.
int32_t leading_number(const std::string& text) {
  int32_t zone = 0;
  if (std::sscanf(text.c_str(), "%d ", &zone) != 1) return 0;
  return zone;
}

// Sets the geographic system of a datum, with the Monte Mario shift where it applies.
bool set_datum_geographic(OGRSpatialReference& srs, const EPSGDatum& datum) {
  const std::string geographic = geographic_system_of_datum(datum.code);
  if (srs.SetWellKnownGeogCS(geographic.c_str()) != OGRERR_NONE) return false;
  return geographic != kMonteMarioGeographic || set_monte_mario_shift(srs);
}

}  // namespace

int utm_zone_of_longitude(double longitude) {
  if (!std::isfinite(longitude)) longitude = 0.0;
  longitude = std::fmod(longitude, 360.0);
  const int zone = static_cast<int>(std::floor(longitude / 6.0)) + 31;
  return ((zone - 1) % 60 + 60) % 60 + 1;
}

CoordinateConversionWindow::CoordinateConversionWindow(double latitude, double longitude,
                                                       vantri::UserInterface& ui)
    : ui_(ui), latitude_(latitude), longitude_(longitude) {
  source_datums_.fill(all_datum_names());
  target_projections_.fill({kUtmName, kTransverseMercatorName, kStatePlaneName});
  source_datums_.select(kWgs84Datum);
  target_projections_.select(kUtmName);
  refill_for_projection();
  fuses_.select("32 North");
  estimate_automatically();
}

void CoordinateConversionWindow::select_source_datum(std::string_view name) {
  source_datums_.select(name);
}

void CoordinateConversionWindow::select_target_projection(std::string_view name) {
  if (target_projections_.select(name)) refill_for_projection();
}

void CoordinateConversionWindow::select_target_datum(std::string_view name) {
  target_datums_.select(name);
}

void CoordinateConversionWindow::select_fuse(std::string_view name) { fuses_.select(name); }

void CoordinateConversionWindow::estimate_automatically() {
  fuses_.select(zone_text(utm_zone_of_longitude(longitude_), latitude_ >= 0.0));
}

// The target lists follow the projection; selections that still exist are kept. Otherwise the
// datum falls back to the only Monte Mario entry or to WGS 84, and the zone is estimated again.
void CoordinateConversionWindow::refill_for_projection() {
  const std::string previous_datum = target_datums_.selected();
  const std::string previous_fuse = fuses_.selected();
  const bool monte_mario_zones = target_projections_.selected() == kTransverseMercatorName;
  const auto& table = datum_table();
  target_datum_rows_.clear();
  std::vector<std::string> names;
  for (size_t row = 0; row < table.size(); ++row) {
    if (monte_mario_zones && std::string_view(table[row].name) != "Monte Mario") continue;
    target_datum_rows_.push_back(static_cast<int>(row));
    names.emplace_back(table[row].name);
  }
  target_datums_.fill(std::move(names));
  fuses_.fill(monte_mario_zones ? std::vector<std::string>{kWest, kEast} : utm_zone_texts());

  if (!target_datums_.select(previous_datum)) {
    if (monte_mario_zones) {
      target_datums_.select_index(0);
    } else {
      target_datums_.select(kWgs84Datum);
    }
  }
  if (!fuses_.select(previous_fuse) && !monte_mario_zones) estimate_automatically();
}

bool CoordinateConversionWindow::ok() {
  std::string message = validation_message();
  if (message.empty()) message = build_transformation();
  if (!message.empty()) {
    ui_.ShowMessage(message, MessageIcon::kExclamation);
    return false;
  }
  outcome_ = Outcome::kOk;
  return true;
}

int CoordinateConversionWindow::convert(double& x, double& y) const {
  double z = 0.0;
  return transform_point(transformation_.get(), x, y, z);
}

std::string CoordinateConversionWindow::validation_message() const {
  if (!source_datums_.has_selection()) return "Select Source Datum!";
  if (!target_projections_.has_selection()) return "Select Target _Projection!";
  if (!target_datums_.has_selection()) return "Select Target Datum!";
  if (!fuses_.has_selection()) return "Select Target Fuse!";
  return {};
}

const EPSGDatum& CoordinateConversionWindow::source_datum() const {
  return datum_table()[source_datums_.selection];
}

const EPSGDatum& CoordinateConversionWindow::target_datum() const {
  return datum_table()[target_datum_rows_[target_datums_.selection]];
}

std::string CoordinateConversionWindow::build_transformation() {
  transformation_.reset();
  QuietGdalErrors quiet;
  OGRSpatialReference source;
  source.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
  if (!set_datum_geographic(source, source_datum())) {
    return "Unable to set Source Coordinate System!";
  }
  OGRSpatialReference target;
  target.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
  if (!set_datum_geographic(target, target_datum()) || !set_target_projection(target) ||
      !set_meters(target)) {
    return "Unable to set Target Coordinate System!";
  }
  transformation_.reset(OGRCreateCoordinateTransformation(&source, &target));
  if (!transformation_) return "Unable to set Coordinate Transformation!";
  return {};
}

bool CoordinateConversionWindow::set_target_projection(OGRSpatialReference& target) const {
  const std::string projection = target_projections_.selected();
  const std::string fuse = fuses_.selected();
  if (projection == kTransverseMercatorName) {
    if (fuse == kWest) return set_transverse_mercator(target, 9.0, 1500000.0);
    if (fuse == kEast) return set_transverse_mercator(target, 15.0, 2520000.0);
    return false;
  }
  const int32_t zone = leading_number(fuse);
  if (projection == kUtmName) {
    const bool north = fuse.find("North") != std::string::npos;
    return set_utm(target, north ? zone : -zone);
  }
  if (projection == kStatePlaneName) {
    const bool nad83 = geographic_system_of_datum(target_datum().code) == "EPSG:4269";
    return target.SetStatePlane(zone, nad83) == OGRERR_NONE;
  }
  return false;
}

}  // namespace vantri::crs
