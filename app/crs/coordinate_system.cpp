#include "crs/coordinate_system.h"

#include <cpl_conv.h>
#include <cpl_error.h>
#include <ogr_spatialref.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "crs/spatial_reference.h"

namespace vantri::crs {
namespace {

constexpr std::array<const char*, kProjectionCount> kProjectionNames = {
    "None (Local Coordinate System)",
    "UTM",
    "Albers Equivalent",
    "Lambert Conical Conformal",
    "Transvers Mercator",
    "Geographic",
    "State Plane",
    "Belge Lambert 72",
    "Belgian Lambert 72",
    "French Lambert 93",
    "User WKT String",
    "User EPSG Code",
};

constexpr const char* kNotDefined = "Not Defined";

void CopyText(char* destination, size_t capacity, std::string_view text) {
  const size_t length = std::min(text.size(), capacity - 1);
  std::memcpy(destination, text.data(), length);
  std::memset(destination + length, 0, capacity - length);
}

bool Contains(std::string_view text, char c) { return text.find(c) != std::string_view::npos; }

// Integer before the first space, 0 when there is no space or no integer.
int32_t LeadingZone(std::string_view name) {
  const size_t space = name.find(' ');
  if (space == std::string_view::npos) return 0;
  int32_t zone = 0;
  const char* begin = name.data();
  const auto [end, error] = std::from_chars(begin, begin + space, zone);
  if (error != std::errc() || end == begin) return 0;
  return zone;
}

int FuseSign(std::string_view name) {
  if (Contains(name, 'W') || Contains(name, 'S')) return -1;
  if (Contains(name, 'E') || Contains(name, 'N')) return 1;
  return 0;
}

// Step 3 of building a system: the projection row applied over the datum's geographic system.
bool ApplyProjection(OGRSpatialReference& srs, int32_t projection, int32_t fuse,
                     const std::string& user_wkt, int32_t user_epsg,
                     const std::string& geographic) {
  switch (projection) {
    case kProjectionUtm:
      return SetUtm(srs, fuse);
    case kProjectionTransverseMercator:
      return SetMonteMarioZone(srs, fuse);
    case kProjectionGeographic:
      return true;
    case kProjectionStatePlane:
      return srs.SetStatePlane(fuse, geographic == "EPSG:4269") == OGRERR_NONE;
    case kProjectionBelge72:
      return srs.importFromEPSG(31300) == OGRERR_NONE;
    case kProjectionBelgian72:
      return srs.importFromEPSG(31370) == OGRERR_NONE;
    case kProjectionLambert93:
      return srs.importFromEPSG(2154) == OGRERR_NONE;
    case kProjectionUserWkt:
      return !user_wkt.empty() && srs.importFromWkt(user_wkt.c_str()) == OGRERR_NONE;
    case kProjectionUserEpsg:
      return user_epsg > 0 && srs.importFromEPSG(user_epsg) == OGRERR_NONE;
    default:
      return false;
  }
}

bool NeedsGeographicBase(int32_t projection) {
  return projection >= kProjectionUtm && projection <= kProjectionStatePlane;
}

}  // namespace

// ---- Tables and names ---------------------------------------------------------------------------

EPSGDatum MakeDatum(int32_t common, int32_t code, std::string_view name,
                    std::string_view abbreviation) {
  EPSGDatum datum;
  datum.common = common;
  datum.code = code;
  CopyText(datum.name, sizeof datum.name, name);
  CopyText(datum.abbreviation, sizeof datum.abbreviation, abbreviation);
  return datum;
}

EPSGDatum DatumNotFound() { return MakeDatum(0, -1, "Non Definito", "Non Definito"); }

EPSGDatum DatumNotDefined() { return MakeDatum(0, -1, kNotDefined, kNotDefined); }

EPSGDatum DatumByName(std::string_view name) {
  for (const EPSGDatum& datum : DatumTable()) {
    if (name == datum.name) return datum;
  }
  return DatumNotFound();
}

std::string ProjectionName(int32_t index) {
  if (index < 0 || index >= kProjectionCount) return kNotDefined;
  return kProjectionNames[index];
}

int32_t ProjectionIndex(std::string_view name) {
  for (int32_t i = 0; i < kProjectionCount; ++i) {
    if (name == kProjectionNames[i]) return i;
  }
  return kProjectionNotDefined;
}

std::string GeographicSystemOfDatum(int32_t datum_code) {
  if (datum_code >= 24) return "EPSG:" + std::to_string(datum_code - 2000);
  return "WGS84";
}

std::string FuseName(int32_t fuse) {
  if (fuse == kFuseMonteMarioWest) return "W";
  if (fuse == kFuseMonteMarioEast) return "E";
  if (fuse >= 1 && fuse <= 60) return std::to_string(fuse) + " N";
  if (fuse >= -60 && fuse <= -1) return std::to_string(-fuse) + " S";
  return kNotDefined;
}

int32_t FuseValue(std::string_view name) {
  if (name == kNotDefined) return kFuseNotDefined;
  if (name == "W") return kFuseMonteMarioWest;
  if (name == "E") return kFuseMonteMarioEast;
  const int32_t zone = LeadingZone(name);
  if (zone < -60 || zone > 60) return kFuseNotDefined;
  return std::abs(zone) * FuseSign(name);
}

std::string UnitsName(int32_t units) { return units == kUnitsMeters ? "Meters" : kNotDefined; }

int32_t UnitsValue(std::string_view name) {
  return name == "Meters" ? kUnitsMeters : kUnitsNotDefined;
}

// ---- Building systems ---------------------------------------------------------------------------

std::string BuildWkt(int32_t projection, int32_t datum_code, int32_t fuse,
                     const std::string& user_wkt, int32_t user_epsg) {
  if (projection <= kProjectionNone || projection >= kProjectionCount ||
      projection == kProjectionAlbers || projection == kProjectionLambert) {
    return {};
  }
  QuietGdalErrors quiet;
  const std::string geographic = GeographicSystemOfDatum(datum_code);
  OGRSpatialReference srs;
  srs.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
  if (NeedsGeographicBase(projection) &&
      srs.SetWellKnownGeogCS(geographic.c_str()) != OGRERR_NONE) {
    return {};
  }
  if (!ApplyProjection(srs, projection, fuse, user_wkt, user_epsg, geographic)) return {};
  if (geographic == kMonteMarioGeographic && !SetMonteMarioShift(srs)) return {};
  return ExportWkt(srs);
}

std::string WktFromUserText(const std::string& text) {
  if (text.empty()) return {};
  QuietGdalErrors quiet;
  OGRSpatialReference srs;
  srs.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
  if (srs.SetFromUserInput(text.c_str()) != OGRERR_NONE) return {};
  return ExportWkt(srs);
}

bool IsValidWkt(const std::string& text) {
  if (text.empty()) return false;
  QuietGdalErrors quiet;
  OGRSpatialReference srs;
  return srs.importFromWkt(text.c_str()) == OGRERR_NONE;
}

std::string WktFromEpsg(int32_t code) {
  if (code <= 0) return {};
  QuietGdalErrors quiet;
  OGRSpatialReference srs;
  srs.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
  if (srs.importFromEPSG(code) != OGRERR_NONE) return {};
  return ExportWkt(srs);
}

void TransformDeleter::operator()(OGRCoordinateTransformation* transform) const {
  OGRCoordinateTransformation::DestroyCT(transform);
}

int TransformPoint(const OGRCoordinateTransformation* transform, double& x, double& y, double& z) {
  if (transform == nullptr) return 0;
  double tx = x, ty = y, tz = z;
  // Transform() is not const in GDAL's interface but does not change the transformation.
  auto* mutable_transform = const_cast<OGRCoordinateTransformation*>(transform);
  if (!mutable_transform->Transform(1, &tx, &ty, &tz)) return 0;
  x = tx;
  y = ty;
  z = tz;
  return 1;
}

int MakeTransformations(const std::string& wkt, TransformPtr& wgs84_to_system,
                        TransformPtr& system_to_wgs84) {
  wgs84_to_system.reset();
  system_to_wgs84.reset();
  if (wkt.empty()) return 0;
  QuietGdalErrors quiet;
  OGRSpatialReference wgs84;
  wgs84.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
  OGRSpatialReference system;
  system.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
  if (wgs84.SetWellKnownGeogCS("WGS84") != OGRERR_NONE) return 0;
  if (system.importFromWkt(wkt.c_str()) != OGRERR_NONE) return 0;
  wgs84_to_system.reset(OGRCreateCoordinateTransformation(&wgs84, &system));
  system_to_wgs84.reset(OGRCreateCoordinateTransformation(&system, &wgs84));
  if (wgs84_to_system && system_to_wgs84) return 1;
  wgs84_to_system.reset();
  system_to_wgs84.reset();
  return 0;
}

// ---- CoordinateSystem ---------------------------------------------------------------------------

CoordinateSystem::CoordinateSystem() : datum(DatumNotFound()) {}

CoordinateSystem::CoordinateSystem(const CoordinateSystem& other)
    : projection(other.projection),
      datum(other.datum),
      fuse(other.fuse),
      units(other.units),
      user_wkt(other.user_wkt),
      user_epsg(other.user_epsg) {
  if (other.wgs84_to_project_) wgs84_to_project_.reset(other.wgs84_to_project_->Clone());
  if (other.project_to_wgs84_) project_to_wgs84_.reset(other.project_to_wgs84_->Clone());
}

CoordinateSystem& CoordinateSystem::operator=(const CoordinateSystem& other) {
  if (this != &other) {
    CoordinateSystem copy(other);
    *this = std::move(copy);
  }
  return *this;
}

CoordinateSystem::CoordinateSystem(CoordinateSystem&&) noexcept = default;
CoordinateSystem& CoordinateSystem::operator=(CoordinateSystem&&) noexcept = default;
CoordinateSystem::~CoordinateSystem() = default;

void CoordinateSystem::Reset() { *this = CoordinateSystem(); }

void CoordinateSystem::SetFromNames(std::string_view projection_text, std::string_view datum_text,
                                    std::string_view fuse_text, std::string_view units_text) {
  projection = ProjectionIndex(projection_text);
  datum = DatumByName(datum_text);
  fuse = FuseValue(fuse_text);
  units = UnitsValue(units_text);
}

void CoordinateSystem::SetUserWkt(const std::string& wkt) {
  user_wkt = wkt;
  if (wkt.empty()) return;
  projection = kProjectionUserWkt;
  datum = DatumNotFound();
  fuse = kFuseNotDefined;
}

void CoordinateSystem::SetUserEpsg(int32_t code) {
  user_epsg = code;
  projection = kProjectionUserEpsg;
  datum = DatumNotFound();
  fuse = kFuseNotDefined;
}

std::string CoordinateSystem::BuildWkt() const {
  return crs::BuildWkt(projection, datum.code, fuse, user_wkt, user_epsg);
}

int CoordinateSystem::RebuildTransformations() { return RebuildTransformationsFrom(BuildWkt()); }

int CoordinateSystem::RebuildTransformationsFrom(const std::string& wkt) {
  return MakeTransformations(wkt, wgs84_to_project_, project_to_wgs84_);
}

void CoordinateSystem::ReleaseTransformations() {
  wgs84_to_project_.reset();
  project_to_wgs84_.reset();
}

int CoordinateSystem::Wgs84ToProject(double& x, double& y, double& z) const {
  return TransformPoint(wgs84_to_project_.get(), x, y, z);
}

int CoordinateSystem::ProjectToWgs84(double& x, double& y, double& z) const {
  return TransformPoint(project_to_wgs84_.get(), x, y, z);
}

bool CoordinateSystem::SameChoice(const CoordinateSystem& other) const {
  return projection == other.projection && datum.code == other.datum.code &&
         std::strcmp(datum.name, other.datum.name) == 0 && fuse == other.fuse &&
         units == other.units && user_wkt == other.user_wkt && user_epsg == other.user_epsg;
}

std::string Describe(const CoordinateSystem& system) {
  std::ostringstream text;
  text << "Projection: " << system.ProjectionName() << '\n';
  text << "Datum: " << system.DatumName();
  if (system.datum.code > 0) text << " (EPSG " << system.datum.code << ')';
  text << '\n';
  text << "Fuse: " << system.FuseName() << '\n';
  text << "Units: " << system.UnitsName() << '\n';
  if (system.projection == kProjectionUserEpsg) text << "User EPSG: " << system.user_epsg << '\n';
  const std::string wkt = system.BuildWkt();
  text << "WKT: " << (wkt.empty() ? std::string("(none)") : wkt) << '\n';
  return text.str();
}

}  // namespace vantri::crs
