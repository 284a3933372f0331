#include "import/exif_import.h"

#include <gdal_priv.h>
#include <gtest/gtest.h>
#include <ogr_spatialref.h>
#include <proj.h>
#include <stdlib.h>

#include <Eigen/Geometry>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "photogrammetry/orientation.h"
#include "project/project.h"
#include "testing/scripted_ui.h"
#include "testing/temp_folder.h"
#include "ui_interface/ui.h"

namespace vantri::import {
namespace {

namespace fs = std::filesystem;
constexpr double kDeg = 3.14159265358979323846 / 180.0;

// ---- test images: EXIF through GDAL's JPEG driver, XMP as an APP1 segment added by hand -------

// Degrees, minutes and seconds with four decimals: GDAL reads rationals back with six
// significant digits, so the seconds are kept representable.
struct DmsParts {
  int d, m;
  double s;
};
DmsParts Split(double degrees) {
  const long long tenths_of_milliseconds = std::llround(std::abs(degrees) * 3600.0 * 1e4);
  const long long whole_seconds = tenths_of_milliseconds / 10000;
  return {static_cast<int>(whole_seconds / 3600), static_cast<int>(whole_seconds / 60 % 60),
          static_cast<double>(whole_seconds % 60) + (tenths_of_milliseconds % 10000) / 1e4};
}

std::string Dms(double degrees) {
  const DmsParts p = Split(degrees);
  char text[64];
  std::snprintf(text, sizeof(text), "(%d) (%d) (%.4f)", p.d, p.m, p.s);
  return text;
}

// The value GDAL will give back for Dms(degrees): what a direct transformation must start from.
double DmsValue(double degrees) {
  const DmsParts p = Split(degrees);
  return std::copysign(p.d + p.m / 60.0 + p.s / 3600.0, degrees);
}

// Inserts an XMP packet as an APP1 segment after the JPEG's existing APPn segments.
void AddXmp(const std::string& path, const std::string& packet) {
  std::ifstream in(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  in.close();
  size_t at = 2;  // after SOI
  while (at + 4 <= bytes.size() && static_cast<unsigned char>(bytes[at]) == 0xFF &&
         (static_cast<unsigned char>(bytes[at + 1]) & 0xF0) == 0xE0) {
    at += 2 + (static_cast<unsigned char>(bytes[at + 2]) << 8 |
               static_cast<unsigned char>(bytes[at + 3]));
  }
  const std::string payload = std::string("http://ns.adobe.com/xap/1.0/") + '\0' + packet;
  const size_t length = payload.size() + 2;
  std::string segment = "\xFF\xE1";
  segment += static_cast<char>(length >> 8);
  segment += static_cast<char>(length & 0xFF);
  bytes.insert(at, segment + payload);
  std::ofstream(path, std::ios::binary) << bytes;
}

struct TestImage {
  std::optional<std::array<double, 3>> lon_lat_alt;
  std::string xmp_attributes;  // e.g. drone-dji:GimbalYawDegree="12.5" ...
  bool xmp_as_elements = false;
};

void WriteJpeg(const std::string& path, const TestImage& image) {
  GDALAllRegister();
  GDALDriver* mem = GetGDALDriverManager()->GetDriverByName("MEM");
  GDALDatasetUniquePtr source(mem->Create("", 32, 24, 3, GDT_Byte, nullptr));
  if (image.lon_lat_alt) {
    const auto [lon, lat, alt] = *image.lon_lat_alt;
    source->SetMetadataItem("EXIF_GPSLatitude", Dms(lat).c_str());
    source->SetMetadataItem("EXIF_GPSLatitudeRef", lat < 0 ? "S" : "N");
    source->SetMetadataItem("EXIF_GPSLongitude", Dms(lon).c_str());
    source->SetMetadataItem("EXIF_GPSLongitudeRef", lon < 0 ? "W" : "E");
    source->SetMetadataItem("EXIF_GPSAltitude",
                            ("(" + std::to_string(std::abs(alt)) + ")").c_str());
    source->SetMetadataItem("EXIF_GPSAltitudeRef", alt < 0 ? "0x01" : "0x00");
  }
  GDALDriver* jpeg = GetGDALDriverManager()->GetDriverByName("JPEG");
  GDALDatasetUniquePtr(
      jpeg->CreateCopy(path.c_str(), source.get(), FALSE, nullptr, nullptr, nullptr));
  if (image.xmp_attributes.empty()) return;
  std::string description;
  if (image.xmp_as_elements) {
    // name="value" pairs become <name>value</name> children.
    description = "<rdf:Description>";
    std::istringstream pairs(image.xmp_attributes);
    std::string pair;
    while (pairs >> pair) {
      const size_t eq = pair.find('=');
      const std::string name = pair.substr(0, eq);
      description +=
          "<" + name + ">" + pair.substr(eq + 2, pair.size() - eq - 3) + "</" + name + ">";
    }
    description += "</rdf:Description>";
  } else {
    description = "<rdf:Description rdf:about=\"\" " + image.xmp_attributes + "/>";
  }
  AddXmp(path,
         "<?xpacket begin=\"\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>"
         "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF "
         "xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\" "
         "xmlns:drone-dji=\"http://www.dji.com/drone-dji/1.0/\" "
         "xmlns:sensefly=\"http://www.sensefly.com/xmp/1.0/\">" +
             description + "</rdf:RDF></x:xmpmeta><?xpacket end=\"w\"?>");
}

// ---- independent references ---------------------------------------------------------------------

// Direct WGS 84 -> UTM 32N through GDAL/PROJ.
std::array<double, 3> DirectUtm32(double lon, double lat, double alt) {
  OGRSpatialReference wgs84, utm;
  wgs84.importFromEPSG(4326);
  utm.importFromEPSG(32632);
  wgs84.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
  utm.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
  std::unique_ptr<OGRCoordinateTransformation> t(OGRCreateCoordinateTransformation(&wgs84, &utm));
  double x = lon, y = lat, z = alt;
  EXPECT_TRUE(t->Transform(1, &x, &y, &z));
  return {x, y, z};
}

// Meridian convergence of UTM 32N from PROJ's analytic factors: the angle from true north to grid
// north, positive east of the central meridian in the northern hemisphere.
double ProjConvergence(double lon, double lat) {
  PJ* utm = proj_create(PJ_DEFAULT_CTX, "+proj=utm +zone=32 +ellps=WGS84");
  const PJ_FACTORS f = proj_factors(utm, proj_coord(lon * kDeg, lat * kDeg, 0, 0));
  proj_destroy(utm);
  return f.meridian_convergence;
}

// Yaw, pitch, roll (degrees) of a north-east-down z-y-x rotation.
std::array<double, 3> ZyxAngles(const Eigen::Matrix3d& ned) {
  return {std::atan2(ned(1, 0), ned(0, 0)) / kDeg, -std::asin(ned(2, 0)) / kDeg,
          std::atan2(ned(2, 1), ned(2, 2)) / kDeg};
}

// ---- fixture -----------------------------------------------------------------------------------

class ExifImportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = temp_.path();
    setenv("VANTRI_HOME", folder_.c_str(), 1);
    project_.folder = folder_ + "/";
    project_.name = "uav";
    project_.coordinate_system.SetUserEpsg(32632);
    ASSERT_NE(project_.coordinate_system.RebuildTransformations(), 0);
  }

  CABAImage& Add(const std::string& name, const TestImage& image) {
    const std::string path = folder_ + "/" + name + ".jpg";
    WriteJpeg(path, image);
    return project_.AppendImage(path);
  }

  vantri::test_support::TempFolder temp_;
  std::string folder_;
  ScriptedUi ui_;
  CVantriProject project_;
};

TEST_F(ExifImportTest, PositionsMatchADirectTransformationAndImagesWithoutGpsStayUnchanged) {
  const std::array<double, 3> a{11.512345678, 46.0234567, 1523.25}, b{8.1, -0.5, -12.5};
  Add("DJI_0001", {a, ""});
  Add("DJI_0002", {b, ""});
  CABAImage& bare = Add("DJI_0003", {std::nullopt, ""});
  bare.x = 1.0, bare.y = 2.0, bare.z = 3.0, bare.omega = 0.1;
  project_.AppendImage(folder_ + "/missing.jpg");

  ExifImportResult result;
  ASSERT_TRUE(ImportExif(project_, AttitudeSource::kXmp, ui_, &result));
  EXPECT_EQ(result.positioned, 2);
  EXPECT_EQ(result.oriented, 0);
  EXPECT_EQ(result.without_gps, std::vector<std::string>{"DJI_0003"});
  EXPECT_EQ(result.unreadable, std::vector<std::string>{"missing"});

  int index = 0;
  for (const auto& lla : {a, b}) {
    const auto expected = DirectUtm32(DmsValue(lla[0]), DmsValue(lla[1]), lla[2]);
    const CABAImage& image = *project_.images[index++];
    EXPECT_NEAR(image.x, expected[0], 1e-3);
    EXPECT_NEAR(image.y, expected[1], 1e-3);
    EXPECT_NEAR(image.z, lla[2], 1e-3);  // below sea level written with reference 1
  }
  EXPECT_EQ(bare.x, 1.0);
  EXPECT_EQ(bare.omega, 0.1);
  // The origin is set once from the positioned images, as by the GPS/IMU import.
  EXPECT_EQ(project_.local_origin[0], std::min(project_.images[0]->x, project_.images[1]->x));
  EXPECT_TRUE(fs::exists(folder_ + "/uav.off"));
  EXPECT_TRUE(fs::exists(folder_ + "/GPS_coordinates.vtp"));
}

TEST_F(ExifImportTest, NothingChangesWithoutGpsTagsOrTransformations) {
  Add("plain", {std::nullopt, ""});
  ExifImportResult result;
  EXPECT_FALSE(ImportExif(project_, AttitudeSource::kXmp, ui_, &result));
  EXPECT_EQ(project_.local_origin[0], 0.0);
  EXPECT_FALSE(fs::exists(folder_ + "/uav.off"));

  Add("tagged", {std::array<double, 3>{11.0, 46.0, 500.0}, ""});
  project_.coordinate_system.ReleaseTransformations();
  EXPECT_FALSE(ImportExif(project_, AttitudeSource::kXmp, ui_, &result));
  EXPECT_EQ(project_.images[1]->x, 0.0);
}

// Geometry of the two conventions checked by hand, in true east-north-up axes (no convergence):
// the viewing direction is -z of the camera and the top of the image its +y.
TEST(CameraToGrid, ConventionsPointTheCameraWhereTheFirmwareMeans) {
  auto view = [](const UavAttitude& a) -> Eigen::Vector3d { return -CameraToGrid(a, 0.0).col(2); };
  auto top = [](const UavAttitude& a) -> Eigen::Vector3d { return CameraToGrid(a, 0.0).col(1); };
  const double c60 = std::cos(60 * kDeg), s60 = std::sin(60 * kDeg);

  // Level flight to the north, and a gimbal looking straight down with yaw 0: a vertical photo.
  EXPECT_TRUE(CameraToGrid({0, 0, 0, AttitudeConvention::kAirframe, ""}, 0).isIdentity(1e-15));
  EXPECT_TRUE(CameraToGrid({0, -90, 0, AttitudeConvention::kGimbal, ""}, 0).isIdentity(1e-15));
  // Heading east: the top of the image points east, kappa = -90 degrees.
  EXPECT_TRUE(
      top({90, 0, 0, AttitudeConvention::kAirframe, ""}).isApprox(Eigen::Vector3d(1, 0, 0)));
  EXPECT_NEAR(ToEulerAnglesXYZ(CameraToGrid({90, 0, 0, AttitudeConvention::kAirframe, ""}, 0))[2],
              -90 * kDeg, 1e-12);
  // Nose up 30 degrees flying north: the belly, and the camera, turn forward (north).
  EXPECT_TRUE(view({0, 30, 0, AttitudeConvention::kAirframe, ""})
                  .isApprox(Eigen::Vector3d(0, std::sin(30 * kDeg), -std::cos(30 * kDeg))));
  // Right wing down 30 degrees flying north: the belly, and the camera, turn to the west.
  EXPECT_TRUE(view({0, 0, 30, AttitudeConvention::kAirframe, ""})
                  .isApprox(Eigen::Vector3d(-std::sin(30 * kDeg), 0, -std::cos(30 * kDeg))));
  // Gimbal 60 degrees below the horizon towards the east, image top up-east.
  EXPECT_TRUE(
      view({90, -60, 0, AttitudeConvention::kGimbal, ""}).isApprox(Eigen::Vector3d(c60, 0, -s60)));
  EXPECT_TRUE(
      top({90, -60, 0, AttitudeConvention::kGimbal, ""}).isApprox(Eigen::Vector3d(s60, 0, c60)));
  // Convergence c: a true bearing b becomes the grid bearing b + c.
  const double c = 2 * kDeg;
  EXPECT_TRUE(CameraToGrid({0, 0, 0, AttitudeConvention::kAirframe, ""}, c)
                  .col(1)
                  .isApprox(Eigen::Vector3d(std::sin(c), std::cos(c), 0)));
}

TEST(ParseExif, DegreesAndReferences) {
  EXPECT_NEAR(*ParseExifDegrees("(41) (2) (4.81488)", "N"), 41 + 2 / 60.0 + 4.81488 / 3600, 1e-12);
  EXPECT_NEAR(*ParseExifDegrees("(8) (30) (0)", "W"), -8.5, 1e-12);
  EXPECT_NEAR(*ParseExifDegrees("(33.25)", "S"), -33.25, 1e-12);
  EXPECT_FALSE(ParseExifDegrees("(41) (61) (0)", "N"));
  EXPECT_FALSE(ParseExifDegrees("(41) (2) (x)", "N"));
  EXPECT_FALSE(ParseExifDegrees("(41) (2) (4)", "Q"));
  EXPECT_FALSE(ParseExifDegrees("", "N"));
}

TEST(ParseXmp, PrefersTheGimbalAndReadsAttributesOrElements) {
  const std::string both =
      "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF><rdf:Description "
      "drone-dji:FlightYawDegree=\"+10.0\" drone-dji:FlightPitchDegree=\"-2\" "
      "drone-dji:FlightRollDegree=\"1.5\" drone-dji:GimbalYawDegree=\"+12.5\" "
      "drone-dji:GimbalPitchDegree=\"-89.9\" drone-dji:GimbalRollDegree=\"0.0\"/>"
      "</rdf:RDF></x:xmpmeta>";
  const auto gimbal = ParseXmpAttitude(both);
  ASSERT_TRUE(gimbal);
  EXPECT_EQ(gimbal->convention, AttitudeConvention::kGimbal);
  EXPECT_DOUBLE_EQ(gimbal->yaw, 12.5);
  EXPECT_DOUBLE_EQ(gimbal->pitch, -89.9);

  const auto sensefly = ParseXmpAttitude(
      "<x:xmpmeta><rdf:RDF><rdf:Description><Camera:Heading>271.5</Camera:Heading>"
      "<Camera:PitchAngle>3</Camera:PitchAngle><Camera:RollAngle>-4</Camera:RollAngle>"
      "</rdf:Description></rdf:RDF></x:xmpmeta>");
  ASSERT_TRUE(sensefly);
  EXPECT_EQ(sensefly->convention, AttitudeConvention::kAirframe);
  EXPECT_DOUBLE_EQ(sensefly->yaw, 271.5);
  EXPECT_DOUBLE_EQ(sensefly->roll, -4.0);

  EXPECT_FALSE(
      ParseXmpAttitude("<x:xmpmeta><rdf:Description drone-dji:GimbalYawDegree=\"1\"/>"
                       "</x:xmpmeta>"));
  EXPECT_FALSE(ParseXmpAttitude("not xml"));
}

// Synthetic attitudes written into the files come back, through the imported omega, phi, kappa
// and the independent PROJ convergence, within 1e-6 degrees.
TEST_F(ExifImportTest, AttitudesRoundTripThroughTheFilesWithTheGridConvergence) {
  struct Case {
    const char* yaw_tag;
    const char* pitch_tag;
    const char* roll_tag;
    AttitudeConvention convention;
    double yaw, pitch, roll;
    bool elements;
  };
  const Case cases[] = {
      {"drone-dji:GimbalYawDegree", "drone-dji:GimbalPitchDegree", "drone-dji:GimbalRollDegree",
       AttitudeConvention::kGimbal, 37.123456789, -88.7654321, 0.4321, false},
      {"drone-dji:GimbalYawDegree", "drone-dji:GimbalPitchDegree", "drone-dji:GimbalRollDegree",
       AttitudeConvention::kGimbal, -145.5, -60.25, -1.75, false},
      {"sensefly:Heading", "sensefly:PitchAngle", "sensefly:RollAngle",
       AttitudeConvention::kAirframe, 271.987654, 4.5, -6.25, true},
      {"drone-dji:FlightYawDegree", "drone-dji:FlightPitchDegree", "drone-dji:FlightRollDegree",
       AttitudeConvention::kAirframe, 2.5, -3.125, 8.0, false},
  };
  // Far east of the central meridian (9 E): a convergence of about 2.3 degrees.
  const double lon = 12.3, lat = 44.7;
  int n = 0;
  for (const Case& c : cases) {
    char xmp[512];
    std::snprintf(xmp, sizeof(xmp), "%s=\"%+.9f\" %s=\"%+.9f\" %s=\"%+.9f\"", c.yaw_tag, c.yaw,
                  c.pitch_tag, c.pitch, c.roll_tag, c.roll);
    Add("IMG_" + std::to_string(n++), {std::array<double, 3>{lon, lat, 300.0}, xmp, c.elements});
  }
  ExifImportResult result;
  ASSERT_TRUE(ImportExif(project_, AttitudeSource::kXmp, ui_, &result));
  EXPECT_EQ(result.oriented, 4);

  const double convergence = ProjConvergence(DmsValue(lon), DmsValue(lat));
  ASSERT_GT(convergence, 2.0 * kDeg);
  Eigen::Matrix3d ned_from_enu;
  ned_from_enu << 0, 1, 0, 1, 0, 0, 0, 0, -1;
  n = 0;
  for (const Case& c : cases) {
    const CABAImage& image = *project_.images[n++];
    // Back from the grid to true east-north-up (grid bearings are true ones plus -convergence),
    // then into the turned north-east-down frame of the firmware's angles.
    const Eigen::Matrix3d camera_to_true_enu =
        Eigen::AngleAxisd(-convergence, Eigen::Vector3d::UnitZ()).matrix() *
        FromEulerAnglesXYZ(image.omega, image.phi, image.kappa);
    Eigen::Matrix3d camera_axes;  // the convention's camera axes in its turned frame
    if (c.convention == AttitudeConvention::kGimbal)
      camera_axes << 0, 0, -1, 1, 0, 0, 0, -1, 0;
    else
      camera_axes << 0, 1, 0, 1, 0, 0, 0, 0, -1;
    const auto angles = ZyxAngles(ned_from_enu * camera_to_true_enu * camera_axes.transpose());
    const double yaw = std::remainder(angles[0] - c.yaw, 360.0);
    EXPECT_NEAR(yaw, 0.0, 1e-6) << n;
    EXPECT_NEAR(angles[1], c.pitch, 1e-6) << n;
    EXPECT_NEAR(angles[2], c.roll, 1e-6) << n;
  }

  // --attitude none sets positions only.
  for (auto& image : project_.images) image->omega = image->phi = image->kappa = 0.0;
  ASSERT_TRUE(ImportExif(project_, AttitudeSource::kNone, ui_, &result));
  EXPECT_EQ(result.oriented, 0);
  EXPECT_EQ(project_.images[0]->kappa, 0.0);
}

}  // namespace
}  // namespace vantri::import
