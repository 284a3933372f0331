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

std::string ZoneText(int32_t zone, bool north) {
  return std::to_string(zone) + (north ? " North" : " South");
}

std::vector<std::string> UtmZoneTexts() {
  std::vector<std::string> texts;
  for (int32_t zone = 60; zone >= 1; --zone) texts.push_back(ZoneText(zone, false));
  for (int32_t zone = 1; zone <= 60; ++zone) texts.push_back(ZoneText(zone, true));
  return texts;
}

std::vector<std::string> AllDatumNames() {
  std::vector<std::string> names;
  for (const EPSGDatum& datum : DatumTable()) names.emplace_back(datum.name);
  return names;
}

// The zone number at the start of a fuse text ("%d "), 0 when there is none.
int32_t LeadingNumber(const std::string& text) {
  int32_t zone = 0;
  if (std::sscanf(text.c_str(), "%d ", &zone) != 1) return 0;
  return zone;
}

// Sets the geographic system of a datum, with the Monte Mario shift where it applies.
bool SetDatumGeographic(OGRSpatialReference& srs, const EPSGDatum& datum) {
  const std::string geographic = GeographicSystemOfDatum(datum.code);
  if (srs.SetWellKnownGeogCS(geographic.c_str()) != OGRERR_NONE) return false;
  return geographic != kMonteMarioGeographic || SetMonteMarioShift(srs);
}

}  // namespace

int UtmZoneOfLongitude(double longitude) {
  if (!std::isfinite(longitude)) longitude = 0.0;
  longitude = std::fmod(longitude, 360.0);
  const int zone = static_cast<int>(std::floor(longitude / 6.0)) + 31;
  return ((zone - 1) % 60 + 60) % 60 + 1;
}

CoordinateConversionWindow::CoordinateConversionWindow(double latitude, double longitude,
                                                       vantri::UserInterface& ui)
    : ui_(ui), latitude_(latitude), longitude_(longitude) {
  source_datums_.Fill(AllDatumNames());
  target_projections_.Fill({kUtmName, kTransverseMercatorName, kStatePlaneName});
  source_datums_.Select(kWgs84Datum);
  target_projections_.Select(kUtmName);
  RefillForProjection();
  fuses_.Select("32 North");
  EstimateAutomatically();
}

void CoordinateConversionWindow::SelectSourceDatum(std::string_view name) {
  source_datums_.Select(name);
}

void CoordinateConversionWindow::SelectTargetProjection(std::string_view name) {
  if (target_projections_.Select(name)) RefillForProjection();
}

void CoordinateConversionWindow::SelectTargetDatum(std::string_view name) {
  target_datums_.Select(name);
}

void CoordinateConversionWindow::SelectFuse(std::string_view name) { fuses_.Select(name); }

void CoordinateConversionWindow::EstimateAutomatically() {
  fuses_.Select(ZoneText(UtmZoneOfLongitude(longitude_), latitude_ >= 0.0));
}

// The target lists follow the projection; selections that still exist are kept. Otherwise the
// datum falls back to the only Monte Mario entry or to WGS 84, and the zone is estimated again.
void CoordinateConversionWindow::RefillForProjection() {
  const std::string previous_datum = target_datums_.Selected();
  const std::string previous_fuse = fuses_.Selected();
  const bool monte_mario_zones = target_projections_.Selected() == kTransverseMercatorName;
  const auto& table = DatumTable();
  target_datum_rows_.clear();
  std::vector<std::string> names;
  for (size_t row = 0; row < table.size(); ++row) {
    if (monte_mario_zones && std::string_view(table[row].name) != "Monte Mario") continue;
    target_datum_rows_.push_back(static_cast<int>(row));
    names.emplace_back(table[row].name);
  }
  target_datums_.Fill(std::move(names));
  fuses_.Fill(monte_mario_zones ? std::vector<std::string>{kWest, kEast} : UtmZoneTexts());

  if (!target_datums_.Select(previous_datum)) {
    if (monte_mario_zones) {
      target_datums_.SelectIndex(0);
    } else {
      target_datums_.Select(kWgs84Datum);
    }
  }
  if (!fuses_.Select(previous_fuse) && !monte_mario_zones) EstimateAutomatically();
}

bool CoordinateConversionWindow::Ok() {
  std::string message = ValidationMessage();
  if (message.empty()) message = BuildTransformation();
  if (!message.empty()) {
    ui_.ShowMessage(message, MessageIcon::kExclamation);
    return false;
  }
  outcome_ = Outcome::kOk;
  return true;
}

int CoordinateConversionWindow::Convert(double& x, double& y) const {
  double z = 0.0;
  return TransformPoint(transformation_.get(), x, y, z);
}

std::string CoordinateConversionWindow::ValidationMessage() const {
  if (!source_datums_.HasSelection()) return "Select Source Datum!";
  if (!target_projections_.HasSelection()) return "Select Target _Projection!";
  if (!target_datums_.HasSelection()) return "Select Target Datum!";
  if (!fuses_.HasSelection()) return "Select Target Fuse!";
  return {};
}

const EPSGDatum& CoordinateConversionWindow::SourceDatum() const {
  return DatumTable()[source_datums_.selection];
}

const EPSGDatum& CoordinateConversionWindow::TargetDatum() const {
  return DatumTable()[target_datum_rows_[target_datums_.selection]];
}

std::string CoordinateConversionWindow::BuildTransformation() {
  transformation_.reset();
  QuietGdalErrors quiet;
  OGRSpatialReference source;
  source.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
  if (!SetDatumGeographic(source, SourceDatum())) {
    return "Unable to set Source Coordinate System!";
  }
  OGRSpatialReference target;
  target.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
  if (!SetDatumGeographic(target, TargetDatum()) || !SetTargetProjection(target) ||
      !SetMeters(target)) {
    return "Unable to set Target Coordinate System!";
  }
  transformation_.reset(OGRCreateCoordinateTransformation(&source, &target));
  if (!transformation_) return "Unable to set Coordinate Transformation!";
  return {};
}

bool CoordinateConversionWindow::SetTargetProjection(OGRSpatialReference& target) const {
  const std::string projection = target_projections_.Selected();
  const std::string fuse = fuses_.Selected();
  if (projection == kTransverseMercatorName) {
    if (fuse == kWest) return SetTransverseMercator(target, 9.0, 1500000.0);
    if (fuse == kEast) return SetTransverseMercator(target, 15.0, 2520000.0);
    return false;
  }
  const int32_t zone = LeadingNumber(fuse);
  if (projection == kUtmName) {
    const bool north = fuse.find("North") != std::string::npos;
    return SetUtm(target, north ? zone : -zone);
  }
  if (projection == kStatePlaneName) {
    const bool nad83 = GeographicSystemOfDatum(TargetDatum().code) == "EPSG:4269";
    return target.SetStatePlane(zone, nad83) == OGRERR_NONE;
  }
  return false;
}

}  // namespace vantri::crs
