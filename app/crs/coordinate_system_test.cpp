#include "crs/coordinate_system.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>
#include <string>

namespace vantri::crs {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

CoordinateSystem MakeSystem(const char* projection, const char* datum, const char* fuse) {
  CoordinateSystem system;
  system.SetFromNames(projection, datum, fuse, "Meters");
  return system;
}

// A valid WKT whose projected-system name pads it beyond `length` bytes.
std::string LongUtmWkt(size_t length) {
  const std::string wkt = WktFromEpsg(32632);
  const std::string name = "WGS 84 / UTM zone 32N";
  std::string padded = wkt;
  padded.replace(padded.find(name), name.size(), name + std::string(length, 'x'));
  return padded;
}

TEST(DatumTable, HasTheFixedRowsFlagsAndAbbreviations) {
  const auto& table = DatumTable();
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
  EXPECT_STREQ(DatumByName("World Geodetic System 1984").abbreviation, "WGS84");
  EXPECT_EQ(DatumByName("World Geodetic System 1984").common, 1);
  EXPECT_EQ(DatumByName("Monte Mario").common, 0);
}

TEST(DatumTable, LookupIsExactAndFindsTheFirstMatch) {
  EXPECT_EQ(DatumByName("Garoua").code, 6197);
  EXPECT_EQ(DatumByName("Monte Mario (Rome)").code, 6806);
  for (const char* unknown : {"garoua", "Garoua ", "", "WGS84"}) {
    const EPSGDatum datum = DatumByName(unknown);
    EXPECT_EQ(datum.code, -1) << unknown;
    EXPECT_STREQ(datum.name, "Non Definito");
    EXPECT_STREQ(datum.abbreviation, "Non Definito");
  }
  EXPECT_STREQ(DatumNotDefined().name, "Not Defined");
}

TEST(DatumTable, LongNamesAreCutToTheRecordSize) {
  const EPSGDatum datum = MakeDatum(0, 1, std::string(100, 'a'), std::string(100, 'b'));
  EXPECT_EQ(std::string(datum.name), std::string(63, 'a'));
  EXPECT_EQ(std::string(datum.abbreviation), std::string(31, 'b'));
}

TEST(Names, GeographicSystemOfDatumCode) {
  EXPECT_EQ(GeographicSystemOfDatum(6326), "EPSG:4326");
  EXPECT_EQ(GeographicSystemOfDatum(6265), "EPSG:4265");
  EXPECT_EQ(GeographicSystemOfDatum(-1), "WGS84");
  EXPECT_EQ(GeographicSystemOfDatum(23), "WGS84");
}

TEST(Names, ProjectionsRoundTripAndUnknownsAreMinusOne) {
  for (int32_t i = 0; i < kProjectionCount; ++i) EXPECT_EQ(ProjectionIndex(ProjectionName(i)), i);
  EXPECT_EQ(ProjectionName(12), "Not Defined");
  EXPECT_EQ(ProjectionName(-1), "Not Defined");
  EXPECT_EQ(ProjectionIndex("utm"), -1);
  EXPECT_EQ(ProjectionIndex("Not Defined"), -1);
  EXPECT_EQ(ProjectionIndex("Transverse Mercator"), -1);
}

TEST(Names, EveryFuseRoundTrips) {
  for (int32_t fuse = -60; fuse <= 60; ++fuse) EXPECT_EQ(FuseValue(FuseName(fuse)), fuse);
  for (int32_t fuse : {361, 362}) EXPECT_EQ(FuseValue(FuseName(fuse)), fuse);
  EXPECT_EQ(FuseName(0), "Not Defined");
  EXPECT_EQ(FuseName(32), "32 N");
  EXPECT_EQ(FuseName(-5), "5 S");
  EXPECT_EQ(FuseName(361), "W");
  EXPECT_EQ(FuseName(362), "E");
  for (int32_t outside : {61, -61, 360, 363, 1000}) EXPECT_EQ(FuseName(outside), "Not Defined");
}

TEST(Names, FuseTextsThatAreNotZones) {
  EXPECT_EQ(FuseValue("32 North"), 32);
  EXPECT_EQ(FuseValue("5 South"), -5);
  EXPECT_EQ(FuseValue("61 N"), 0);
  EXPECT_EQ(FuseValue("32"), 0);    // no space
  EXPECT_EQ(FuseValue("x N"), 0);   // no integer
  EXPECT_EQ(FuseValue("12 ?"), 0);  // no hemisphere
  EXPECT_EQ(FuseValue("garbage"), 0);
}

TEST(Names, UnitsAndUnknownProjectFileNames) {
  EXPECT_EQ(UnitsValue(UnitsName(0)), 0);
  EXPECT_EQ(UnitsName(3), "Not Defined");
  CoordinateSystem system;
  system.SetFromNames("Mercator", "Nowhere", "Somewhere", "Feet");
  EXPECT_EQ(system.projection, -1);
  EXPECT_STREQ(system.datum.name, "Non Definito");
  EXPECT_EQ(system.fuse, 0);
  EXPECT_EQ(system.units, -1);
  EXPECT_EQ(system.BuildWkt(), "");
  EXPECT_EQ(system.RebuildTransformations(), 0);
  EXPECT_FALSE(system.HasTransformations());
}

TEST(BuildWkt, Utm32NorthOnWgs84TransformsBothWays) {
  CoordinateSystem system = MakeSystem("UTM", "World Geodetic System 1984", "32 N");
  EXPECT_THAT(system.BuildWkt(), HasSubstr("UTM zone 32N"));
  ASSERT_EQ(system.RebuildTransformations(), 1);
  double x = 9.0, y = 45.0, z = 0.0;
  ASSERT_EQ(system.Wgs84ToProject(x, y, z), 1);
  EXPECT_NEAR(x, 500000.0, 0.1);
  EXPECT_NEAR(y, 4982950.4, 0.1);
  ASSERT_EQ(system.ProjectToWgs84(x, y, z), 1);
  EXPECT_NEAR(x, 9.0, 1e-9);
  EXPECT_NEAR(y, 45.0, 1e-9);
}

TEST(BuildWkt, SouthernZoneHasTheFalseNorthing) {
  CoordinateSystem system = MakeSystem("UTM", "World Geodetic System 1984", "33 S");
  const std::string wkt = system.BuildWkt();
  EXPECT_THAT(wkt, HasSubstr("UTM zone 33S"));
  ASSERT_EQ(system.RebuildTransformations(), 1);
  double x = 15.0, y = -10.0, z = 0.0;
  ASSERT_EQ(system.Wgs84ToProject(x, y, z), 1);
  EXPECT_NEAR(x, 500000.0, 0.1);
  EXPECT_GT(y, 8'000'000.0);
}

TEST(BuildWkt, MonteMarioZonesCarryTheSevenParameterShift) {
  CoordinateSystem west = MakeSystem("Transvers Mercator", "Monte Mario", "W");
  const std::string wkt = west.BuildWkt();
  EXPECT_THAT(wkt, HasSubstr("TOWGS84[-104.1,-49.1,-9.9,0.971,-2.917,0.714,-11.68]"));
  EXPECT_THAT(wkt, HasSubstr("PARAMETER[\"central_meridian\",9]"));
  EXPECT_THAT(wkt, HasSubstr("PARAMETER[\"false_easting\",1500000]"));
  EXPECT_THAT(wkt, HasSubstr("PARAMETER[\"scale_factor\",0.9996]"));

  CoordinateSystem east = MakeSystem("Transvers Mercator", "Monte Mario", "E");
  EXPECT_THAT(east.BuildWkt(), HasSubstr("PARAMETER[\"false_easting\",2520000]"));
  ASSERT_EQ(east.RebuildTransformations(), 1);
  // Rome, a few tens of metres of datum shift away from a plain WGS84 computation.
  double x = 12.5, y = 41.9, z = 0.0;
  ASSERT_EQ(east.Wgs84ToProject(x, y, z), 1);
  EXPECT_NEAR(x, 2520000.0 - 208000.0, 2000.0);
  ASSERT_EQ(east.ProjectToWgs84(x, y, z), 1);
  EXPECT_NEAR(x, 12.5, 1e-8);
  EXPECT_NEAR(y, 41.9, 1e-8);
}

TEST(BuildWkt, CombinationsThatBuildNothing) {
  EXPECT_EQ(MakeSystem("Transvers Mercator", "Monte Mario", "12 N").BuildWkt(), "");
  EXPECT_EQ(MakeSystem("Albers Equivalent", "World Geodetic System 1984", "32 N").BuildWkt(), "");
  EXPECT_EQ(MakeSystem("Lambert Conical Conformal", "Monte Mario", "W").BuildWkt(), "");
  EXPECT_EQ(MakeSystem("None (Local Coordinate System)", "Monte Mario", "W").BuildWkt(), "");
  // A UTM system without a zone is not a system (GDAL would accept a "zone 0").
  EXPECT_EQ(MakeSystem("UTM", "World Geodetic System 1984", "Not Defined").BuildWkt(), "");
  EXPECT_EQ(MakeSystem("UTM", "World Geodetic System 1984", "W").BuildWkt(), "");
  EXPECT_EQ(BuildWkt(12, 6326, 32, "", 0), "");
  EXPECT_EQ(BuildWkt(kProjectionUserWkt, -1, 0, "", 0), "");
  EXPECT_EQ(BuildWkt(kProjectionUserEpsg, -1, 0, "", 0), "");
}

TEST(BuildWkt, FixedCodesGeographicAndStatePlane) {
  EXPECT_THAT(MakeSystem("Belge Lambert 72", "x", "x").BuildWkt(), HasSubstr("31300"));
  EXPECT_THAT(MakeSystem("Belgian Lambert 72", "x", "x").BuildWkt(), HasSubstr("31370"));
  EXPECT_THAT(MakeSystem("French Lambert 93", "x", "x").BuildWkt(), HasSubstr("2154"));
  const std::string geographic =
      MakeSystem("Geographic", "European Datum 1950", "Not Defined").BuildWkt();
  EXPECT_THAT(geographic, HasSubstr("GEOGCS[\"ED50\""));
  EXPECT_THAT(geographic, Not(HasSubstr("PROJCS")));
  EXPECT_THAT(MakeSystem("Geographic", "Monte Mario", "W").BuildWkt(), HasSubstr("TOWGS84"));

  // Alabama East (USGS zone 101): NAD83 on the NAD83 datum, NAD27 on any other.
  CoordinateSystem nad83 = MakeSystem("State Plane", "North American Datum 1983", "x");
  nad83.fuse = 101;
  CoordinateSystem nad27 = MakeSystem("State Plane", "World Geodetic System 1984", "x");
  nad27.fuse = 101;
  EXPECT_THAT(nad83.BuildWkt(), HasSubstr("NAD83 / Alabama East"));
  EXPECT_THAT(nad27.BuildWkt(), HasSubstr("NAD27 / Alabama East"));
}

TEST(UserSystems, SettersReplaceTheChoice) {
  CoordinateSystem system = MakeSystem("UTM", "World Geodetic System 1984", "32 N");
  system.SetUserWkt("");
  EXPECT_EQ(system.projection, kProjectionUtm);  // an empty text changes nothing else
  system.SetUserWkt(WktFromEpsg(32633));
  EXPECT_EQ(system.projection, kProjectionUserWkt);
  EXPECT_EQ(system.fuse, 0);
  EXPECT_STREQ(system.datum.name, "Non Definito");
  EXPECT_THAT(system.BuildWkt(), HasSubstr("UTM zone 33N"));

  system.SetUserEpsg(2154);
  EXPECT_EQ(system.projection, kProjectionUserEpsg);
  EXPECT_THAT(system.BuildWkt(), HasSubstr("RGF93"));
  system.SetUserEpsg(999999);
  EXPECT_EQ(system.BuildWkt(), "");
}

TEST(UserSystems, WktLongerThanFourKilobytesImports) {
  const std::string wkt = LongUtmWkt(6000);
  ASSERT_GT(wkt.size(), 4096u);
  EXPECT_NE(WktFromUserText(wkt), "");
  CoordinateSystem system;
  system.SetUserWkt(wkt);
  EXPECT_THAT(system.BuildWkt(), HasSubstr(std::string(5000, 'x')));
  ASSERT_EQ(system.RebuildTransformations(), 1);
  double x = 9.0, y = 45.0, z = 0.0;
  ASSERT_EQ(system.Wgs84ToProject(x, y, z), 1);
  EXPECT_NEAR(x, 500000.0, 0.1);
}

TEST(UserSystems, UserTextInAnyNotationOrNone) {
  EXPECT_THAT(WktFromUserText("EPSG:32632"), HasSubstr("UTM zone 32N"));
  EXPECT_EQ(WktFromUserText("PROJCS[broken"), "");
  EXPECT_EQ(WktFromUserText(""), "");
  EXPECT_EQ(WktFromEpsg(0), "");
  EXPECT_EQ(WktFromEpsg(-4326), "");
}

TEST(CoordinateSystemValue, CopiesKeepWorkingTransformationsAndMovesTransferThem) {
  auto original =
      std::make_unique<CoordinateSystem>(MakeSystem("UTM", "World Geodetic System 1984", "32 N"));
  ASSERT_EQ(original->RebuildTransformations(), 1);
  CoordinateSystem copy = *original;
  original.reset();
  double x = 9.0, y = 45.0, z = 0.0;
  ASSERT_EQ(copy.Wgs84ToProject(x, y, z), 1);
  EXPECT_NEAR(y, 4982950.4, 0.1);

  CoordinateSystem moved = std::move(copy);
  EXPECT_TRUE(moved.HasTransformations());
  CoordinateSystem assigned;
  assigned = moved;
  EXPECT_TRUE(assigned.HasTransformations());
  EXPECT_TRUE(assigned.SameChoice(moved));

  assigned.Reset();
  EXPECT_FALSE(assigned.HasTransformations());
  EXPECT_EQ(assigned.projection, -1);
  EXPECT_EQ(assigned.units, 0);
  EXPECT_EQ(assigned.Wgs84ToProject(x, y, z), 0);
}

TEST(CoordinateSystemValue, DescribeListsNamesAndWkt) {
  const std::string text = Describe(MakeSystem("UTM", "World Geodetic System 1984", "32 N"));
  EXPECT_THAT(text, HasSubstr("Projection: UTM\n"));
  EXPECT_THAT(text, HasSubstr("Datum: World Geodetic System 1984 (EPSG 6326)\n"));
  EXPECT_THAT(text, HasSubstr("Fuse: 32 N\n"));
  EXPECT_THAT(text, HasSubstr("Units: Meters\n"));
  EXPECT_THAT(text, HasSubstr("UTM zone 32N"));
  EXPECT_THAT(Describe(CoordinateSystem()), HasSubstr("WKT: (none)"));
}

}  // namespace
}  // namespace vantri::crs
