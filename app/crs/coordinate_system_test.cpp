#include "crs/coordinate_system.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>
#include <string>

namespace vantri::crs {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

CoordinateSystem make_system(const char* projection, const char* datum, const char* fuse) {
  CoordinateSystem system;
  system.set_from_names(projection, datum, fuse, "Meters");
  return system;
}

// A valid WKT whose projected-system name pads it beyond `length` bytes.
std::string long_utm_wkt(size_t length) {
  const std::string wkt = wkt_from_epsg(32632);
  const std::string name = "WGS 84 / UTM zone 32N";
  std::string padded = wkt;
  padded.replace(padded.find(name), name.size(), name + std::string(length, 'x'));
  return padded;
}

TEST(DatumTable, HasTheFixedRowsFlagsAndAbbreviations) {
  const auto& table = datum_table();
  ASSERT_EQ(table.size(), 237u);
  EXPECT_EQ(table.front().code, 6120);
  EXPECT_EQ(table.back().code, 6904);
  int common = 0;
  std::multiset<std::string> abbreviations;
  for (size_t i = 0; i < table.size(); ++i) {
    if (i > 0) {
      EXPECT_LT(table[i - 1].code, table[i].code) << table[i].name;
    }
    EXPECT_GT(std::string(table[i].name).size(), 0u);
    common += table[i].common;
    if (table[i].abbreviation[0] != '\0') abbreviations.insert(table[i].abbreviation);
  }
  EXPECT_EQ(common, 19);
  EXPECT_EQ(abbreviations.size(), 26u);
  EXPECT_EQ(abbreviations.count("RT38"), 2u);
  EXPECT_STREQ(datum_by_name("World Geodetic System 1984").abbreviation, "WGS84");
  EXPECT_EQ(datum_by_name("World Geodetic System 1984").common, 1);
  EXPECT_EQ(datum_by_name("Monte Mario").common, 0);
}

TEST(DatumTable, LookupIsExactAndFindsTheFirstMatch) {
  EXPECT_EQ(datum_by_name("Garoua").code, 6197);
  EXPECT_EQ(datum_by_name("Monte Mario (Rome)").code, 6806);
  for (const char* unknown : {"garoua", "Garoua ", "", "WGS84"}) {
    const EPSGDatum datum = datum_by_name(unknown);
    EXPECT_EQ(datum.code, -1) << unknown;
    EXPECT_STREQ(datum.name, "Non Definito");
    EXPECT_STREQ(datum.abbreviation, "Non Definito");
  }
  EXPECT_STREQ(datum_not_defined().name, "Not Defined");
}

TEST(DatumTable, LongNamesAreCutToTheRecordSize) {
  const EPSGDatum datum = make_datum(0, 1, std::string(100, 'a'), std::string(100, 'b'));
  EXPECT_EQ(std::string(datum.name), std::string(63, 'a'));
  EXPECT_EQ(std::string(datum.abbreviation), std::string(31, 'b'));
}

TEST(Names, GeographicSystemOfDatumCode) {
  EXPECT_EQ(geographic_system_of_datum(6326), "EPSG:4326");
  EXPECT_EQ(geographic_system_of_datum(6265), "EPSG:4265");
  EXPECT_EQ(geographic_system_of_datum(-1), "WGS84");
  EXPECT_EQ(geographic_system_of_datum(23), "WGS84");
}

TEST(Names, ProjectionsRoundTripAndUnknownsAreMinusOne) {
  for (int32_t i = 0; i < kProjectionCount; ++i) EXPECT_EQ(projection_index(projection_name(i)), i);
  EXPECT_EQ(projection_name(12), "Not Defined");
  EXPECT_EQ(projection_name(-1), "Not Defined");
  EXPECT_EQ(projection_index("utm"), -1);
  EXPECT_EQ(projection_index("Not Defined"), -1);
  EXPECT_EQ(projection_index("Transverse Mercator"), -1);
}

TEST(Names, EveryFuseRoundTrips) {
  for (int32_t fuse = -60; fuse <= 60; ++fuse) EXPECT_EQ(fuse_value(fuse_name(fuse)), fuse);
  for (int32_t fuse : {361, 362}) EXPECT_EQ(fuse_value(fuse_name(fuse)), fuse);
  EXPECT_EQ(fuse_name(0), "Not Defined");
  EXPECT_EQ(fuse_name(32), "32 N");
  EXPECT_EQ(fuse_name(-5), "5 S");
  EXPECT_EQ(fuse_name(361), "W");
  EXPECT_EQ(fuse_name(362), "E");
  for (int32_t outside : {61, -61, 360, 363, 1000}) EXPECT_EQ(fuse_name(outside), "Not Defined");
}

TEST(Names, FuseTextsThatAreNotZones) {
  EXPECT_EQ(fuse_value("32 North"), 32);
  EXPECT_EQ(fuse_value("5 South"), -5);
  EXPECT_EQ(fuse_value("61 N"), 0);
  EXPECT_EQ(fuse_value("32"), 0);    // no space
  EXPECT_EQ(fuse_value("x N"), 0);   // no integer
  EXPECT_EQ(fuse_value("12 ?"), 0);  // no hemisphere
  EXPECT_EQ(fuse_value("garbage"), 0);
}

TEST(Names, UnitsAndUnknownProjectFileNames) {
  EXPECT_EQ(units_value(units_name(0)), 0);
  EXPECT_EQ(units_name(3), "Not Defined");
  CoordinateSystem system;
  system.set_from_names("Mercator", "Nowhere", "Somewhere", "Feet");
  EXPECT_EQ(system.projection, -1);
  EXPECT_STREQ(system.datum.name, "Non Definito");
  EXPECT_EQ(system.fuse, 0);
  EXPECT_EQ(system.units, -1);
  EXPECT_EQ(system.build_wkt(), "");
  EXPECT_EQ(system.rebuild_transformations(), 0);
  EXPECT_FALSE(system.has_transformations());
}

TEST(BuildWkt, Utm32NorthOnWgs84TransformsBothWays) {
  CoordinateSystem system = make_system("UTM", "World Geodetic System 1984", "32 N");
  EXPECT_THAT(system.build_wkt(), HasSubstr("UTM zone 32N"));
  ASSERT_EQ(system.rebuild_transformations(), 1);
  double x = 9.0, y = 45.0, z = 0.0;
  ASSERT_EQ(system.wgs84_to_project(x, y, z), 1);
  EXPECT_NEAR(x, 500000.0, 0.1);
  EXPECT_NEAR(y, 4982950.4, 0.1);
  ASSERT_EQ(system.project_to_wgs84(x, y, z), 1);
  EXPECT_NEAR(x, 9.0, 1e-9);
  EXPECT_NEAR(y, 45.0, 1e-9);
}

TEST(BuildWkt, SouthernZoneHasTheFalseNorthing) {
  CoordinateSystem system = make_system("UTM", "World Geodetic System 1984", "33 S");
  const std::string wkt = system.build_wkt();
  EXPECT_THAT(wkt, HasSubstr("UTM zone 33S"));
  ASSERT_EQ(system.rebuild_transformations(), 1);
  double x = 15.0, y = -10.0, z = 0.0;
  ASSERT_EQ(system.wgs84_to_project(x, y, z), 1);
  EXPECT_NEAR(x, 500000.0, 0.1);
  EXPECT_GT(y, 8'000'000.0);
}

TEST(BuildWkt, MonteMarioZonesCarryTheSevenParameterShift) {
  CoordinateSystem west = make_system("Transvers Mercator", "Monte Mario", "W");
  const std::string wkt = west.build_wkt();
  EXPECT_THAT(wkt, HasSubstr("TOWGS84[-104.1,-49.1,-9.9,0.971,-2.917,0.714,-11.68]"));
  EXPECT_THAT(wkt, HasSubstr("PARAMETER[\"central_meridian\",9]"));
  EXPECT_THAT(wkt, HasSubstr("PARAMETER[\"false_easting\",1500000]"));
  EXPECT_THAT(wkt, HasSubstr("PARAMETER[\"scale_factor\",0.9996]"));

  CoordinateSystem east = make_system("Transvers Mercator", "Monte Mario", "E");
  EXPECT_THAT(east.build_wkt(), HasSubstr("PARAMETER[\"false_easting\",2520000]"));
  ASSERT_EQ(east.rebuild_transformations(), 1);
  // Rome, a few tens of metres of datum shift away from a plain WGS84 computation.
  double x = 12.5, y = 41.9, z = 0.0;
  ASSERT_EQ(east.wgs84_to_project(x, y, z), 1);
  EXPECT_NEAR(x, 2520000.0 - 208000.0, 2000.0);
  ASSERT_EQ(east.project_to_wgs84(x, y, z), 1);
  EXPECT_NEAR(x, 12.5, 1e-8);
  EXPECT_NEAR(y, 41.9, 1e-8);
}

TEST(BuildWkt, CombinationsThatBuildNothing) {
  EXPECT_EQ(make_system("Transvers Mercator", "Monte Mario", "12 N").build_wkt(), "");
  EXPECT_EQ(make_system("Albers Equivalent", "World Geodetic System 1984", "32 N").build_wkt(), "");
  EXPECT_EQ(make_system("Lambert Conical Conformal", "Monte Mario", "W").build_wkt(), "");
  EXPECT_EQ(make_system("None (Local Coordinate System)", "Monte Mario", "W").build_wkt(), "");
  // A UTM system without a zone is not a system (GDAL would accept a "zone 0").
  EXPECT_EQ(make_system("UTM", "World Geodetic System 1984", "Not Defined").build_wkt(), "");
  EXPECT_EQ(make_system("UTM", "World Geodetic System 1984", "W").build_wkt(), "");
  EXPECT_EQ(build_wkt(12, 6326, 32, "", 0), "");
  EXPECT_EQ(build_wkt(kProjectionUserWkt, -1, 0, "", 0), "");
  EXPECT_EQ(build_wkt(kProjectionUserEpsg, -1, 0, "", 0), "");
}

TEST(BuildWkt, FixedCodesGeographicAndStatePlane) {
  EXPECT_THAT(make_system("Belge Lambert 72", "x", "x").build_wkt(), HasSubstr("31300"));
  EXPECT_THAT(make_system("Belgian Lambert 72", "x", "x").build_wkt(), HasSubstr("31370"));
  EXPECT_THAT(make_system("French Lambert 93", "x", "x").build_wkt(), HasSubstr("2154"));
  const std::string geographic =
      make_system("Geographic", "European Datum 1950", "Not Defined").build_wkt();
  EXPECT_THAT(geographic, HasSubstr("GEOGCS[\"ED50\""));
  EXPECT_THAT(geographic, Not(HasSubstr("PROJCS")));
  EXPECT_THAT(make_system("Geographic", "Monte Mario", "W").build_wkt(), HasSubstr("TOWGS84"));

  // Alabama East (USGS zone 101): NAD83 on the NAD83 datum, NAD27 on any other.
  CoordinateSystem nad83 = make_system("State Plane", "North American Datum 1983", "x");
  nad83.fuse = 101;
  CoordinateSystem nad27 = make_system("State Plane", "World Geodetic System 1984", "x");
  nad27.fuse = 101;
  EXPECT_THAT(nad83.build_wkt(), HasSubstr("NAD83 / Alabama East"));
  EXPECT_THAT(nad27.build_wkt(), HasSubstr("NAD27 / Alabama East"));
}

TEST(UserSystems, SettersReplaceTheChoice) {
  CoordinateSystem system = make_system("UTM", "World Geodetic System 1984", "32 N");
  system.set_user_wkt("");
  EXPECT_EQ(system.projection, kProjectionUtm);  // an empty text changes nothing else
  system.set_user_wkt(wkt_from_epsg(32633));
  EXPECT_EQ(system.projection, kProjectionUserWkt);
  EXPECT_EQ(system.fuse, 0);
  EXPECT_STREQ(system.datum.name, "Non Definito");
  EXPECT_THAT(system.build_wkt(), HasSubstr("UTM zone 33N"));

  system.set_user_epsg(2154);
  EXPECT_EQ(system.projection, kProjectionUserEpsg);
  EXPECT_THAT(system.build_wkt(), HasSubstr("RGF93"));
  system.set_user_epsg(999999);
  EXPECT_EQ(system.build_wkt(), "");
}

TEST(UserSystems, WktLongerThanFourKilobytesImports) {
  const std::string wkt = long_utm_wkt(6000);
  ASSERT_GT(wkt.size(), 4096u);
  EXPECT_NE(wkt_from_user_text(wkt), "");
  CoordinateSystem system;
  system.set_user_wkt(wkt);
  EXPECT_THAT(system.build_wkt(), HasSubstr(std::string(5000, 'x')));
  ASSERT_EQ(system.rebuild_transformations(), 1);
  double x = 9.0, y = 45.0, z = 0.0;
  ASSERT_EQ(system.wgs84_to_project(x, y, z), 1);
  EXPECT_NEAR(x, 500000.0, 0.1);
}

TEST(UserSystems, UserTextInAnyNotationOrNone) {
  EXPECT_THAT(wkt_from_user_text("EPSG:32632"), HasSubstr("UTM zone 32N"));
  EXPECT_EQ(wkt_from_user_text("PROJCS[broken"), "");
  EXPECT_EQ(wkt_from_user_text(""), "");
  EXPECT_EQ(wkt_from_epsg(0), "");
  EXPECT_EQ(wkt_from_epsg(-4326), "");
}

TEST(CoordinateSystemValue, CopiesKeepWorkingTransformationsAndMovesTransferThem) {
  auto original =
      std::make_unique<CoordinateSystem>(make_system("UTM", "World Geodetic System 1984", "32 N"));
  ASSERT_EQ(original->rebuild_transformations(), 1);
  CoordinateSystem copy = *original;
  original.reset();
  double x = 9.0, y = 45.0, z = 0.0;
  ASSERT_EQ(copy.wgs84_to_project(x, y, z), 1);
  EXPECT_NEAR(y, 4982950.4, 0.1);

  CoordinateSystem moved = std::move(copy);
  EXPECT_TRUE(moved.has_transformations());
  CoordinateSystem assigned;
  assigned = moved;
  EXPECT_TRUE(assigned.has_transformations());
  EXPECT_TRUE(assigned.same_choice(moved));

  assigned.reset();
  EXPECT_FALSE(assigned.has_transformations());
  EXPECT_EQ(assigned.projection, -1);
  EXPECT_EQ(assigned.units, 0);
  EXPECT_EQ(assigned.wgs84_to_project(x, y, z), 0);
}

TEST(CoordinateSystemValue, DescribeListsNamesAndWkt) {
  const std::string text = describe(make_system("UTM", "World Geodetic System 1984", "32 N"));
  EXPECT_THAT(text, HasSubstr("Projection: UTM\n"));
  EXPECT_THAT(text, HasSubstr("Datum: World Geodetic System 1984 (EPSG 6326)\n"));
  EXPECT_THAT(text, HasSubstr("Fuse: 32 N\n"));
  EXPECT_THAT(text, HasSubstr("Units: Meters\n"));
  EXPECT_THAT(text, HasSubstr("UTM zone 32N"));
  EXPECT_THAT(describe(CoordinateSystem()), HasSubstr("WKT: (none)"));
}

}  // namespace
}  // namespace vantri::crs
