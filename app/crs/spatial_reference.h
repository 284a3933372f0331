#pragma once
// GDAL building blocks shared by the project system and the Coordinate Conversion window.
// Every function returns true on success and leaves the reference unusable on failure.

#include <ogr_spatialref.h>

#include <cstdint>
#include <string>

namespace vantri::crs {

// The geographic system of the Monte Mario datum (6265), which carries the shift to WGS84.
inline constexpr const char* kMonteMarioGeographic = "EPSG:4265";

// Silences GDAL's error printing while expected failures (bad user input) happen.
class QuietGdalErrors {
 public:
  QuietGdalErrors();
  ~QuietGdalErrors();
  QuietGdalErrors(const QuietGdalErrors&) = delete;
  QuietGdalErrors& operator=(const QuietGdalErrors&) = delete;
};

// UTM zone |fuse|, north when fuse > 0; zones outside 1..60 fail. Linear units metres.
bool SetUtm(OGRSpatialReference& srs, int32_t fuse);
// Gauss-Boaga style transverse Mercator: origin latitude 0, scale 0.9996, false northing 0,
// the given central meridian (degrees) and false easting (metres). Linear units metres.
bool SetTransverseMercator(OGRSpatialReference& srs, double central_meridian, double false_easting);
// Fuse 361 ("W"): meridian 9, false easting 1500000; 362 ("E"): meridian 15, 2520000; others fail.
bool SetMonteMarioZone(OGRSpatialReference& srs, int32_t fuse);
// Seven-parameter (position-vector) shift Monte Mario -> WGS84: dx -104.1, dy -49.1, dz -9.9 m,
// rx 0.971, ry -2.917, rz 0.714 arc-seconds, scale -11.68 ppm.
bool SetMonteMarioShift(OGRSpatialReference& srs);
bool SetMeters(OGRSpatialReference& srs);

// WKT1 export; empty on failure.
std::string ExportWkt(const OGRSpatialReference& srs);

}  // namespace vantri::crs
