#pragma once
// The project coordinate reference system: projection, datum, zone ("fuse") and units, or a user
// WKT / EPSG code, and the two GDAL transformations WGS84 -> project and project -> WGS84.
//
// Axis order: every OGRSpatialReference built here uses the traditional GIS order, so geographic
// coordinates are X = longitude, Y = latitude (degrees) and projected ones X = easting,
// Y = northing (metres).

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class OGRCoordinateTransformation;

// One row of the datum table. Text fields are zero-terminated; longer texts are cut.
struct EPSGDatum {
  int32_t common = 0;  // 1 for the datums offered first to the operator
  int32_t code = -1;   // EPSG datum code (6xxx)
  char name[64] = {};
  char abbreviation[32] = {};
};

namespace vantri::crs {

// Projection indexes; the names (projection_name) are what the project file stores.
enum Projection : int32_t {
  kProjectionNotDefined = -1,
  kProjectionNone = 0,  // "None (Local Coordinate System)"
  kProjectionUtm = 1,
  kProjectionAlbers = 2,
  kProjectionLambert = 3,
  kProjectionTransverseMercator = 4,  // Monte Mario zones "W" / "E"
  kProjectionGeographic = 5,
  kProjectionStatePlane = 6,
  kProjectionBelge72 = 7,    // EPSG 31300
  kProjectionBelgian72 = 8,  // EPSG 31370
  kProjectionLambert93 = 9,  // EPSG 2154
  kProjectionUserWkt = 10,
  kProjectionUserEpsg = 11,
};
constexpr int kProjectionCount = 12;

// Fuse (zone) encoding: 1..60 northern UTM zones, -60..-1 southern, 0 not defined.
constexpr int32_t kFuseNotDefined = 0;
constexpr int32_t kFuseMonteMarioWest = 361;  // "W"
constexpr int32_t kFuseMonteMarioEast = 362;  // "E"

constexpr int32_t kUnitsMeters = 0;
constexpr int32_t kUnitsNotDefined = -1;

// ---- Tables and name encodings ------------------------------------------------------------------

// The 237-row datum table ordered by code (6120 .. 6904).
const std::vector<EPSGDatum>& DatumTable();

EPSGDatum MakeDatum(int32_t common, int32_t code, std::string_view name,
                    std::string_view abbreviation);
// Flag 0, code -1, name and abbreviation "Non Definito": the record of an unknown datum.
EPSGDatum DatumNotFound();
// Code -1, name and abbreviation "Not Defined": stored when the projection needs no datum.
EPSGDatum DatumNotDefined();
// Exact, case-sensitive search by name; the first match, else DatumNotFound().
EPSGDatum DatumByName(std::string_view name);

// "None (Local Coordinate System)", "UTM", ...; "Not Defined" outside 0..11.
std::string ProjectionName(int32_t index);
// Exact, case-sensitive; -1 for any other text.
int32_t ProjectionIndex(std::string_view name);

// "EPSG:<code - 2000>" for a code >= 24 (datum 6326 gives "EPSG:4326"), else "WGS84". The text is
// what OGRSpatialReference::SetWellKnownGeogCS accepts.
std::string GeographicSystemOfDatum(int32_t datum_code);

// "Not Defined", "%d N", "%d S", "W", "E".
std::string FuseName(int32_t fuse);
// Inverse of fuse_name; also accepts e.g. "32 North" / "5 South". Unreadable text gives 0.
int32_t FuseValue(std::string_view name);

std::string UnitsName(int32_t units);       // 0 -> "Meters", else "Not Defined"
int32_t UnitsValue(std::string_view name);  // "Meters" -> 0, else -1

// ---- Spatial references -------------------------------------------------------------------------

struct TransformDeleter {
  void operator()(OGRCoordinateTransformation* transform) const;
};
using TransformPtr = std::unique_ptr<OGRCoordinateTransformation, TransformDeleter>;

// Applies a transformation to one point in place (traditional GIS order). 1 on success, 0 when the
// transformation is null or fails; the point is unchanged on failure.
int TransformPoint(const OGRCoordinateTransformation* transform, double& x, double& y, double& z);

// Normalises any WKT text (WKT1, WKT2 or ESRI) or "EPSG:n" user input through GDAL; returns the
// WKT1 export, empty when GDAL cannot import it. Handles text of any length.
std::string WktFromUserText(const std::string& text);
// True when GDAL imports the text as WKT (WKT1, WKT2 or ESRI); handles text of any length.
bool IsValidWkt(const std::string& text);
// EPSG code -> WKT, empty when GDAL cannot import the code.
std::string WktFromEpsg(int32_t code);

// Creates WGS84 -> system and system -> WGS84 from a WKT. Returns 1 when both exist; otherwise 0
// and both are null.
int MakeTransformations(const std::string& wkt, TransformPtr& wgs84_to_system,
                        TransformPtr& system_to_wgs84);

// The project coordinate system. Copyable: a copy clones the two transformations (so a copy
// behaves exactly as the original, even when the transformations were built from an imported WKT
// that is not yet stored). Moves transfer them.
class CoordinateSystem {
 public:
  // Not defined: projection -1, datum "Non Definito", fuse 0, metres, no user WKT/EPSG, no
  // transformations (the state of a closed project).
  CoordinateSystem();
  CoordinateSystem(const CoordinateSystem& other);
  CoordinateSystem& operator=(const CoordinateSystem& other);
  CoordinateSystem(CoordinateSystem&&) noexcept;
  CoordinateSystem& operator=(CoordinateSystem&&) noexcept;
  ~CoordinateSystem();

  // Back to the not-defined state; releases the transformations.
  void Reset();

  // From the four names of a project file; unknown names give projection -1, datum
  // "Non Definito", fuse 0, units -1. Does not rebuild the transformations.
  void SetFromNames(std::string_view projection, std::string_view datum, std::string_view fuse,
                    std::string_view units);
  std::string ProjectionName() const { return crs::ProjectionName(projection); }
  std::string DatumName() const { return datum.name; }
  std::string FuseName() const { return crs::FuseName(fuse); }
  std::string UnitsName() const { return crs::UnitsName(units); }

  // Stores the text; when not empty the projection becomes "User WKT String", the datum
  // "Non Definito" and the fuse 0.
  void SetUserWkt(const std::string& wkt);
  // Stores the code; projection "User EPSG Code", datum "Non Definito", fuse 0.
  void SetUserEpsg(int32_t code);

  // The WKT of this system, empty when nothing can be built.
  std::string BuildWkt() const;

  // Releases both transformations and builds them from BuildWkt(). 1 when both exist.
  int RebuildTransformations();
  // Same, from the given WKT instead of the stored choice (used by the imports).
  int RebuildTransformationsFrom(const std::string& wkt);
  void ReleaseTransformations();

  // Non-owning; null when the system cannot be built.
  OGRCoordinateTransformation* wgs84_to_project() const { return wgs84_to_project_.get(); }
  OGRCoordinateTransformation* project_to_wgs84() const { return project_to_wgs84_.get(); }
  bool HasTransformations() const { return wgs84_to_project_ && project_to_wgs84_; }

  // lon/lat degrees (WGS84) <-> project coordinates, in place; 1 on success, 0 otherwise.
  int Wgs84ToProject(double& x, double& y, double& z) const;
  int ProjectToWgs84(double& x, double& y, double& z) const;

  // Same stored choice (transformations are not compared).
  bool SameChoice(const CoordinateSystem& other) const;

  int32_t projection = kProjectionNotDefined;
  EPSGDatum datum;
  int32_t fuse = kFuseNotDefined;
  int32_t units = kUnitsMeters;
  std::string user_wkt;
  int32_t user_epsg = 0;

 private:
  TransformPtr wgs84_to_project_;
  TransformPtr project_to_wgs84_;
};

// Build WKT from loose parts (the Coordinate System window builds from its current selections).
std::string BuildWkt(int32_t projection, int32_t datum_code, int32_t fuse,
                     const std::string& user_wkt, int32_t user_epsg);

// Text for the command line: the four names, the user WKT/EPSG when used, and the built WKT.
std::string Describe(const CoordinateSystem& system);

}  // namespace vantri::crs
