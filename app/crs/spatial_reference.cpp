#include "crs/spatial_reference.h"

#include <cpl_conv.h>
#include <cpl_error.h>

#include <cstdlib>

namespace vantri::crs {

QuietGdalErrors::QuietGdalErrors() { CPLPushErrorHandler(CPLQuietErrorHandler); }

QuietGdalErrors::~QuietGdalErrors() { CPLPopErrorHandler(); }

bool SetMeters(OGRSpatialReference& srs) {
  return srs.SetLinearUnits(SRS_UL_METER, 1.0) == OGRERR_NONE;
}

namespace {

// Names the projected system "<geographic name> / <suffix>", as EPSG names its systems.
bool NameProjected(OGRSpatialReference& srs, const std::string& suffix) {
  const char* geographic = srs.GetAttrValue("GEOGCS");
  const std::string name = std::string(geographic ? geographic : "unnamed") + " / " + suffix;
  return srs.SetProjCS(name.c_str()) == OGRERR_NONE;
}

}  // namespace

bool SetUtm(OGRSpatialReference& srs, int32_t fuse) {
  const int zone = std::abs(fuse);
  if (zone < 1 || zone > 60) return false;
  const std::string suffix = "UTM zone " + std::to_string(zone) + (fuse > 0 ? "N" : "S");
  return srs.SetUTM(zone, fuse > 0 ? TRUE : FALSE) == OGRERR_NONE && SetMeters(srs) &&
         NameProjected(srs, suffix);
}

bool SetTransverseMercator(OGRSpatialReference& srs, double central_meridian,
                           double false_easting) {
  return srs.SetTM(0.0, central_meridian, 0.9996, false_easting, 0.0) == OGRERR_NONE &&
         SetMeters(srs);
}

bool SetMonteMarioZone(OGRSpatialReference& srs, int32_t fuse) {
  if (fuse == 361) {
    return SetTransverseMercator(srs, 9.0, 1500000.0) && NameProjected(srs, "Italy zone 1");
  }
  if (fuse == 362) {
    return SetTransverseMercator(srs, 15.0, 2520000.0) && NameProjected(srs, "Italy zone 2");
  }
  return false;
}

bool SetMonteMarioShift(OGRSpatialReference& srs) {
  return srs.SetTOWGS84(-104.1, -49.1, -9.9, 0.971, -2.917, 0.714, -11.68) == OGRERR_NONE;
}

std::string ExportWkt(const OGRSpatialReference& srs) {
  char* text = nullptr;
  std::string wkt;
  if (srs.exportToWkt(&text) == OGRERR_NONE && text != nullptr) wkt = text;
  CPLFree(text);
  return wkt;
}

}  // namespace vantri::crs
