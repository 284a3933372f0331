#pragma once

// Positions and attitudes of UAV images from the tags in their files: EXIF GPS latitude,
// longitude and altitude (read through GDAL) transformed into the project system, and the
// attitude that common UAV firmwares write into the XMP packet, turned into the project's
// omega, phi, kappa. The conversion is described in docs/formats.md ("Image positions and
// attitudes from EXIF and XMP").
//
//   vantri-cli import-exif PROJECT.bun [--attitude xmp|none]

#include <Eigen/Core>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

class CVantriProject;

namespace vantri::crs {
class CoordinateSystem;
}

namespace vantri {
class UserInterface;
}

namespace vantri::import {

// WGS 84 position of an EXIF GPS record: degrees (east and north positive) and metres above sea
// level as the camera wrote them.
struct ExifPosition {
  double longitude = 0.0;
  double latitude = 0.0;
  double altitude = 0.0;
};

// "(41) (2) (4.81488)" with "N"/"S"/"E"/"W" -> signed decimal degrees; nullopt for anything else
// (missing parts, non-numbers, minutes or seconds outside [0, 60), an unknown reference).
std::optional<double> ParseExifDegrees(const std::string& dms, const std::string& reference);

// From a GDAL metadata list (NAME=VALUE strings, null-terminated): EXIF_GPSLatitude(+Ref),
// EXIF_GPSLongitude(+Ref), EXIF_GPSAltitude (+Ref, 1 = below sea level; 0 m when absent).
// nullopt when latitude or longitude is missing or unreadable.
std::optional<ExifPosition> ParseExifPosition(const char* const* metadata);

// How the three XMP angles describe the camera (degrees).
enum class AttitudeConvention {
  // Aircraft yaw (clockwise from true north), pitch (nose up), roll (right wing down), applied
  // z-y-x to north-east-down axes; the camera is fixed to the airframe looking straight down with
  // the top of the image towards the nose (senseFly Heading/PitchAngle/RollAngle, DJI
  // FlightYawDegree/FlightPitchDegree/FlightRollDegree).
  kAirframe,
  // Gimbal yaw (clockwise from true north), pitch of the optical axis above the horizon (-90 looks
  // straight down), roll about the optical axis, applied z-y-x to north-east-down axes starting
  // from a camera that looks north with the top of the image up (DJI GimbalYawDegree,
  // GimbalPitchDegree, GimbalRollDegree).
  kGimbal,
};

struct UavAttitude {
  double yaw = 0.0, pitch = 0.0, roll = 0.0;  // degrees
  AttitudeConvention convention = AttitudeConvention::kAirframe;
  std::string source;  // "drone-dji gimbal", "sensefly", "drone-dji flight"
};

// The attitude of an XMP packet, tags matched by local name in attributes or elements, in this
// order of preference: DJI gimbal, senseFly, DJI flight (all three angles of a set needed).
std::optional<UavAttitude> ParseXmpAttitude(const std::string& xmp);

// Camera -> project-grid rotation (the orientation's R: camera x right, y up, looks along -z)
// for an attitude whose yaw is measured from true north; `convergence` is the clockwise angle
// (radians) from grid north to true north at the image.
Eigen::Matrix3d CameraToGrid(const UavAttitude& attitude, double convergence);

// Clockwise angle (radians) from grid north to true north at a WGS 84 position, from the
// project's transformation (the image of a short meridian arc); nullopt when it fails.
std::optional<double> GridConvergence(const crs::CoordinateSystem& system, double longitude,
                                      double latitude);

enum class AttitudeSource { kXmp, kNone };

struct ExifImportResult {
  int positioned = 0;                    // images whose position was set
  int oriented = 0;                      // ... and whose attitude was set
  std::vector<std::string> without_gps;  // image names left unchanged (no or unreadable tags)
  std::vector<std::string> unreadable;   // image files GDAL could not open (left unchanged)
};

// Sets the position (and with kXmp the attitude, where the XMP packet has one) of every image
// whose file carries EXIF GPS tags; the local origin is set once as by the GPS/IMU import and
// GPS_coordinates.vtp is written. Logs one line per image left unchanged and a summary.
// False (project unchanged) without the project's transformations, when no image has GPS tags or
// a transformation fails.
bool ImportExif(CVantriProject& project, AttitudeSource attitude, UserInterface& ui,
                ExifImportResult* result);

// vantri-cli import-exif: opens the project file, imports, lists on `out` the images left
// unchanged and saves the project. False (the reason shown or printed on `err`) on failure.
bool ImportExifIntoProjectFile(const std::string& project_path, AttitudeSource attitude,
                               UserInterface& ui, std::ostream& out, std::ostream& err);

}  // namespace vantri::import
