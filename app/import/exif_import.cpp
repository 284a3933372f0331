#include "import/exif_import.h"

#include <cpl_minixml.h>
#include <cpl_string.h>
#include <gdal_priv.h>

#include <Eigen/Geometry>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <map>
#include <ostream>

#include "crs/coordinate_system.h"
#include "geometry/vtp_writer.h"
#include "import/point_import.h"
#include "photogrammetry/orientation.h"
#include "project/project.h"
#include "project/project_flows.h"
#include "ui_interface/ui.h"

namespace vantri::import {
namespace {

constexpr double kDegree = 3.14159265358979323846 / 180.0;
// Half the meridian arc used for the grid convergence: about 1 m on the ground.
constexpr double kArcDegrees = 1e-5;

std::optional<double> ParseNumber(std::string text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
  const char* begin = text.c_str();
  char* end = nullptr;
  const double value = std::strtod(begin, &end);
  if (end == begin || *end != '\0' || !std::isfinite(value)) return std::nullopt;
  return value;
}

// "(41) (2) (4.81488)" -> {41, 2, 4.81488}; plain numbers separated by spaces are accepted too.
std::optional<std::vector<double>> ParseRationals(const std::string& text) {
  std::vector<double> values;
  std::string current;
  auto flush = [&]() -> bool {
    if (current.empty()) return true;
    const std::optional<double> value = ParseNumber(current);
    current.clear();
    if (!value) return false;
    values.push_back(*value);
    return true;
  };
  for (char c : text) {
    if (c == '(' || c == ')' || std::isspace(static_cast<unsigned char>(c))) {
      if (!flush()) return std::nullopt;
    } else {
      current += c;
    }
  }
  if (!flush()) return std::nullopt;
  return values;
}

const char* Item(const char* const* metadata, const char* name) {
  return CSLFetchNameValue(const_cast<char**>(metadata), name);
}

// EXIF GPSAltitudeRef: a byte, shown by GDAL as "0x01" (or "(1)", "1"); 1 means below sea level.
bool BelowSeaLevel(const char* reference) {
  if (reference == nullptr) return false;
  std::string text(reference);
  std::erase_if(text, [](char c) { return c == '(' || c == ')' || std::isspace(c); });
  return std::strtol(text.c_str(), nullptr, 0) == 1;
}

// Local name of a qualified XML name: "drone-dji:GimbalYawDegree" -> "GimbalYawDegree".
std::string LocalName(const char* name) {
  const char* colon = std::strrchr(name, ':');
  return colon != nullptr ? colon + 1 : name;
}

const char* TextOf(const CPLXMLNode* node) {
  for (const CPLXMLNode* child = node->psChild; child != nullptr; child = child->psNext)
    if (child->eType == CXT_Text) return child->pszValue;
  return nullptr;
}

// Every attribute and simple element value of the tree by local name; the first one wins.
void CollectValues(const CPLXMLNode* node, std::map<std::string, std::string>* values) {
  for (; node != nullptr; node = node->psNext) {
    if (node->eType == CXT_Attribute || node->eType == CXT_Element) {
      if (const char* text = TextOf(node)) values->emplace(LocalName(node->pszValue), text);
    }
    if (node->eType == CXT_Element) CollectValues(node->psChild, values);
  }
}

Eigen::Matrix3d Rx(double a) { return Eigen::AngleAxisd(a, Eigen::Vector3d::UnitX()).matrix(); }
Eigen::Matrix3d Ry(double a) { return Eigen::AngleAxisd(a, Eigen::Vector3d::UnitY()).matrix(); }
Eigen::Matrix3d Rz(double a) { return Eigen::AngleAxisd(a, Eigen::Vector3d::UnitZ()).matrix(); }

// Columns: the camera's x (right), y (up in the image) and z (backwards) axes in the frame the
// angles turn.
Eigen::Matrix3d CameraInRotatedFrame(AttitudeConvention convention) {
  Eigen::Matrix3d m;
  if (convention == AttitudeConvention::kAirframe)
    m << 0, 1, 0,  // forward-right-down airframe; the camera looks down (-z_camera = down),
        1, 0, 0,   // the top of the image towards the nose
        0, 0, -1;
  else
    m << 0, 0, -1,  // forward-right-down camera head: forward is the optical axis (-z_camera),
        1, 0, 0,    // right is the image's right, down is the image's down
        0, -1, 0;
  return m;
}

struct PendingUpdate {
  int image;
  Eigen::Vector3d position;
  std::optional<Eigen::Vector3d> angles;  // omega, phi, kappa (radians)
};

void LogUnchanged(UserInterface& ui, const std::string& name, const char* reason) {
  ui.Log("import-exif: " + name + " left unchanged (" + reason + ")");
}

}  // namespace

std::optional<double> ParseExifDegrees(const std::string& dms, const std::string& reference) {
  const std::optional<std::vector<double>> parts = ParseRationals(dms);
  if (!parts || parts->empty() || parts->size() > 3) return std::nullopt;
  const std::vector<double>& v = *parts;
  for (size_t i = 1; i < v.size(); ++i)
    if (v[i] < 0.0 || v[i] >= 60.0) return std::nullopt;
  if (v[0] < 0.0 || v[0] > 180.0) return std::nullopt;
  const double degrees =
      v[0] + (v.size() > 1 ? v[1] / 60.0 : 0.0) + (v.size() > 2 ? v[2] / 3600.0 : 0.0);
  std::string ref = reference;
  std::erase_if(ref, [](char c) { return std::isspace(static_cast<unsigned char>(c)); });
  if (ref == "N" || ref == "E") return degrees;
  if (ref == "S" || ref == "W") return -degrees;
  return std::nullopt;
}

std::optional<ExifPosition> ParseExifPosition(const char* const* metadata) {
  const char* lat = Item(metadata, "EXIF_GPSLatitude");
  const char* lat_ref = Item(metadata, "EXIF_GPSLatitudeRef");
  const char* lon = Item(metadata, "EXIF_GPSLongitude");
  const char* lon_ref = Item(metadata, "EXIF_GPSLongitudeRef");
  if (lat == nullptr || lat_ref == nullptr || lon == nullptr || lon_ref == nullptr)
    return std::nullopt;
  const std::optional<double> latitude = ParseExifDegrees(lat, lat_ref);
  const std::optional<double> longitude = ParseExifDegrees(lon, lon_ref);
  if (!latitude || !longitude || std::abs(*latitude) > 90.0) return std::nullopt;
  ExifPosition position{*longitude, *latitude, 0.0};
  if (const char* alt = Item(metadata, "EXIF_GPSAltitude")) {
    const std::optional<std::vector<double>> value = ParseRationals(alt);
    if (!value || value->size() != 1) return std::nullopt;
    position.altitude =
        BelowSeaLevel(Item(metadata, "EXIF_GPSAltitudeRef")) ? -value->front() : value->front();
  }
  return position;
}

std::optional<UavAttitude> ParseXmpAttitude(const std::string& xmp) {
  CPLXMLNode* root = CPLParseXMLString(xmp.c_str());
  if (root == nullptr) return std::nullopt;
  std::map<std::string, std::string> values;
  CollectValues(root, &values);
  CPLDestroyXMLNode(root);

  struct TagSet {
    const char *yaw, *pitch, *roll;
    AttitudeConvention convention;
    const char* source;
  };
  static const TagSet kSets[] = {
      {"GimbalYawDegree", "GimbalPitchDegree", "GimbalRollDegree", AttitudeConvention::kGimbal,
       "drone-dji gimbal"},
      {"Heading", "PitchAngle", "RollAngle", AttitudeConvention::kAirframe, "sensefly"},
      {"FlightYawDegree", "FlightPitchDegree", "FlightRollDegree", AttitudeConvention::kAirframe,
       "drone-dji flight"},
  };
  auto number = [&](const char* tag) -> std::optional<double> {
    const auto found = values.find(tag);
    return found == values.end() ? std::nullopt : ParseNumber(found->second);
  };
  for (const TagSet& set : kSets) {
    const auto yaw = number(set.yaw), pitch = number(set.pitch), roll = number(set.roll);
    if (yaw && pitch && roll) return UavAttitude{*yaw, *pitch, *roll, set.convention, set.source};
  }
  return std::nullopt;
}

// R = Rz(-c) * T * Rz(yaw) * Ry(pitch) * Rx(roll) * M: M puts the camera axes into the turned
// north-east-down frame, the z-y-x angles turn it, T swaps north-east-down into east-north-up and
// Rz(-c) turns true bearings into grid bearings (a bearing grows clockwise, Rz counter-clockwise).
Eigen::Matrix3d CameraToGrid(const UavAttitude& attitude, double convergence) {
  Eigen::Matrix3d enu_from_ned;
  enu_from_ned << 0, 1, 0, 1, 0, 0, 0, 0, -1;
  return Rz(-convergence) * enu_from_ned * Rz(attitude.yaw * kDegree) *
         Ry(attitude.pitch * kDegree) * Rx(attitude.roll * kDegree) *
         CameraInRotatedFrame(attitude.convention);
}

std::optional<double> GridConvergence(const crs::CoordinateSystem& system, double longitude,
                                      double latitude) {
  double south_x = longitude, south_y = latitude - kArcDegrees, south_z = 0.0;
  double north_x = longitude, north_y = latitude + kArcDegrees, north_z = 0.0;
  if (!system.Wgs84ToProject(south_x, south_y, south_z) ||
      !system.Wgs84ToProject(north_x, north_y, north_z))
    return std::nullopt;
  const double east = north_x - south_x, north = north_y - south_y;
  if (!std::isfinite(east) || !std::isfinite(north) || (east == 0.0 && north == 0.0))
    return std::nullopt;
  return std::atan2(east, north);
}

bool ImportExif(CVantriProject& project, AttitudeSource attitude, UserInterface& ui,
                ExifImportResult* result) {
  *result = ExifImportResult();
  const crs::CoordinateSystem& system = project.coordinate_system;
  if (!system.HasTransformations()) {
    ui.Log("Unable to set coordinate transformation");
    ui.ShowMessage("Unable to set coordinate transformation", MessageIcon::kExclamation);
    return false;
  }
  GDALAllRegister();
  std::vector<PendingUpdate> updates;
  for (int i = 0; i < project.ImageCount(); ++i) {
    const CABAImage& image = *project.images[i];
    GDALDatasetUniquePtr dataset(
        GDALDataset::Open(image.Path().c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY));
    if (!dataset) {
      result->unreadable.push_back(image.Name());
      LogUnchanged(ui, image.Name(), "unable to read the file");
      continue;
    }
    const std::optional<ExifPosition> gps = ParseExifPosition(dataset->GetMetadata());
    if (!gps) {
      result->without_gps.push_back(image.Name());
      LogUnchanged(ui, image.Name(), "no EXIF GPS tags");
      continue;
    }
    PendingUpdate update{i, {gps->longitude, gps->latitude, gps->altitude}, std::nullopt};
    if (!system.Wgs84ToProject(update.position.x(), update.position.y(), update.position.z())) {
      ui.ShowMessage("Unable to transform the GPS position of " + image.Name(),
                     MessageIcon::kExclamation);
      return false;
    }
    char** xmp = attitude == AttitudeSource::kXmp ? dataset->GetMetadata("xml:XMP") : nullptr;
    if (xmp != nullptr && xmp[0] != nullptr) {
      if (const std::optional<UavAttitude> angles = ParseXmpAttitude(xmp[0])) {
        const std::optional<double> convergence =
            GridConvergence(system, gps->longitude, gps->latitude);
        if (!convergence) {
          ui.ShowMessage("Unable to compute the grid convergence at " + image.Name(),
                         MessageIcon::kExclamation);
          return false;
        }
        update.angles = ToEulerAnglesXYZ(CameraToGrid(*angles, *convergence));
      }
    }
    updates.push_back(update);
  }
  if (updates.empty()) {
    ui.ShowMessage("No image has EXIF GPS tags", MessageIcon::kInformation);
    ui.Log("No image has EXIF GPS tags");
    return false;
  }

  double min_x = updates.front().position.x(), min_y = updates.front().position.y();
  for (const PendingUpdate& u : updates) {
    min_x = std::min(min_x, u.position.x());
    min_y = std::min(min_y, u.position.y());
  }
  const std::string off_path = project.folder + project.name + ".off";
  if (SetLocalOriginOnce(&project.local_origin, min_x, min_y, off_path) ==
      OriginUpdate::kWriteFailed) {
    ui.ShowMessage("Unable to write the local origin file " + off_path, MessageIcon::kExclamation);
    return false;
  }
  const Eigen::Vector3d origin(project.local_origin[0], project.local_origin[1],
                               project.local_origin[2]);
  std::vector<Eigen::Vector3d> cloud;
  for (const PendingUpdate& u : updates) cloud.push_back(u.position - origin);
  const std::string cloud_path = project.folder + "GPS_coordinates.vtp";
  if (!WriteVtpPolyData(cloud, cloud_path, origin)) ui.Log("Unable to write " + cloud_path);

  for (const PendingUpdate& u : updates) {
    CABAImage& image = *project.images[u.image];
    image.x = u.position.x(), image.y = u.position.y(), image.z = u.position.z();
    ++result->positioned;
    if (!u.angles) continue;
    image.omega = u.angles->x(), image.phi = u.angles->y(), image.kappa = u.angles->z();
    ++result->oriented;
  }
  const std::string summary = std::to_string(result->positioned) +
                              " images positioned from EXIF GPS tags, " +
                              std::to_string(result->oriented) + " with XMP attitude";
  ui.Log(summary);
  ui.ShowMessage(summary, MessageIcon::kInformation);
  return true;
}

bool ImportExifIntoProjectFile(const std::string& project_path, AttitudeSource attitude,
                               UserInterface& ui, std::ostream& out, std::ostream& err) {
  CVantriProject project;
  if (!project::OpenProjectPath(project, ui, project_path)) return false;
  ExifImportResult result;
  if (!ImportExif(project, attitude, ui, &result)) return false;
  for (const std::string& name : result.without_gps) out << "No GPS tags: " << name << "\n";
  for (const std::string& name : result.unreadable) out << "Unreadable: " << name << "\n";
  if (!project::SaveProject(project)) {
    err << "Unable to save the project " << project.file_path << "\n";
    return false;
  }
  return true;
}

}  // namespace vantri::import
