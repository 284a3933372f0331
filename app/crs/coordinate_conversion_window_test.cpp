#include "crs/coordinate_conversion_window.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "testing/scripted_ui.h"
#include "ui_interface/ui.h"

namespace vantri::crs {
namespace {

using ::testing::ElementsAre;

TEST(UtmZoneOfLongitude, SixDegreeZonesWrapAroundTheAntimeridian) {
  EXPECT_EQ(utm_zone_of_longitude(9.0), 32);
  EXPECT_EQ(utm_zone_of_longitude(6.0), 32);
  EXPECT_EQ(utm_zone_of_longitude(5.999), 31);
  EXPECT_EQ(utm_zone_of_longitude(0.0), 31);
  EXPECT_EQ(utm_zone_of_longitude(-0.1), 30);
  EXPECT_EQ(utm_zone_of_longitude(-180.0), 1);
  EXPECT_EQ(utm_zone_of_longitude(179.9), 60);
  EXPECT_EQ(utm_zone_of_longitude(180.0), 1);
  EXPECT_EQ(utm_zone_of_longitude(369.0), 32);
}

TEST(CoordinateConversionWindow, OpensOnWgs84UtmWithTheEstimatedZone) {
  vantri::ScriptedUi ui;
  CoordinateConversionWindow window(-10.0, 15.0, ui);
  EXPECT_EQ(window.source_datums().items.size(), datum_table().size());
  EXPECT_EQ(window.target_datums().items.size(), datum_table().size());
  EXPECT_THAT(window.target_projections().items,
              ElementsAre("Universal Transverse Mercator", "Transverse Mercator", "StatePlane"));
  ASSERT_EQ(window.fuses().items.size(), 120u);
  EXPECT_EQ(window.fuses().items.front(), "60 South");
  EXPECT_EQ(window.fuses().items.back(), "60 North");
  EXPECT_EQ(window.source_datums().selected(), "World Geodetic System 1984");
  EXPECT_EQ(window.target_datums().selected(), "World Geodetic System 1984");
  EXPECT_EQ(window.target_projections().selected(), "Universal Transverse Mercator");
  EXPECT_EQ(window.fuses().selected(), "33 South");
  EXPECT_EQ(window.transformation(), nullptr);
}

TEST(CoordinateConversionWindow, UtmConversionMatchesTheKnownPoint) {
  vantri::ScriptedUi ui;
  CoordinateConversionWindow window(45.0, 9.0, ui);
  EXPECT_EQ(window.fuses().selected(), "32 North");
  ASSERT_TRUE(window.ok());
  EXPECT_EQ(window.outcome(), CoordinateConversionWindow::Outcome::kOk);
  double x = 9.0, y = 45.0;
  ASSERT_EQ(window.convert(x, y), 1);
  EXPECT_NEAR(x, 500000.0, 0.1);
  EXPECT_NEAR(y, 4982950.4, 0.1);
  EXPECT_TRUE(ui.shown.empty());
}

TEST(CoordinateConversionWindow, MonteMarioZonesAgreeWithTheProjectSystem) {
  vantri::ScriptedUi ui;
  CoordinateConversionWindow window(41.9, 12.5, ui);
  window.select_target_projection("Transverse Mercator");
  EXPECT_THAT(window.target_datums().items, ElementsAre("Monte Mario"));
  EXPECT_EQ(window.target_datums().selected(), "Monte Mario");
  EXPECT_THAT(window.fuses().items, ElementsAre("OVEST", "EST"));
  EXPECT_FALSE(window.ok());
  EXPECT_THAT(ui.Texts(), ElementsAre("Select Target Fuse!"));
  EXPECT_EQ(window.outcome(), CoordinateConversionWindow::Outcome::kOpen);

  CoordinateSystem project;
  for (const char* fuse : {"OVEST", "EST"}) {
    window.select_fuse(fuse);
    ASSERT_TRUE(window.ok()) << fuse;
    project.set_from_names("Transvers Mercator", "Monte Mario", fuse[0] == 'O' ? "W" : "E",
                           "Meters");
    ASSERT_EQ(project.rebuild_transformations(), 1);
    double x = 12.5, y = 41.9, z = 0.0;
    double px = x, py = y;
    ASSERT_EQ(window.convert(x, y), 1);
    ASSERT_EQ(project.wgs84_to_project(px, py, z), 1);
    EXPECT_NEAR(x, px, 1e-6) << fuse;
    EXPECT_NEAR(y, py, 1e-6) << fuse;
  }

  window.select_target_projection("Universal Transverse Mercator");
  EXPECT_EQ(window.target_datums().items.size(), datum_table().size());
  EXPECT_EQ(window.target_datums().selected(), "Monte Mario");
  EXPECT_EQ(window.fuses().selected(), "33 North");
}

TEST(CoordinateConversionWindow, OkMessagesComeInOrder) {
  vantri::ScriptedUi ui;
  CoordinateConversionWindow window(45.0, 9.0, ui);
  window.clear_source_datum();
  window.clear_target_projection();
  window.clear_target_datum();
  window.clear_fuse();
  EXPECT_FALSE(window.ok());
  window.select_source_datum("European Datum 1950");
  EXPECT_FALSE(window.ok());
  window.select_target_projection("Universal Transverse Mercator");
  window.clear_target_datum();
  window.clear_fuse();
  EXPECT_FALSE(window.ok());
  window.select_target_datum("World Geodetic System 1984");
  EXPECT_FALSE(window.ok());
  EXPECT_THAT(ui.Texts(), ElementsAre("Select Source Datum!", "Select Target _Projection!",
                                      "Select Target Datum!", "Select Target Fuse!"));
  for (const auto& shown : ui.shown) EXPECT_EQ(shown.icon, vantri::MessageIcon::kExclamation);
  EXPECT_EQ(window.transformation(), nullptr);

  window.estimate_automatically();
  ASSERT_TRUE(window.ok());
  // ED50 -> WGS84: a datum shift of the order of 100 m, not zero, not kilometres.
  double x = 9.0, y = 45.0;
  ASSERT_EQ(window.convert(x, y), 1);
  EXPECT_GT(std::hypot(x - 500000.0, y - 4982950.4), 10.0);
  EXPECT_LT(std::hypot(x - 500000.0, y - 4982950.4), 500.0);
}

TEST(CoordinateConversionWindow, SystemsThatCannotBeBuiltAreReported) {
  vantri::ScriptedUi ui;
  CoordinateConversionWindow window(45.0, 9.0, ui);
  window.select_target_projection("StatePlane");
  window.select_target_datum("North American Datum 1983");
  window.select_fuse("1 North");  // not a state-plane zone
  EXPECT_FALSE(window.ok());
  EXPECT_THAT(ui.Texts(), ElementsAre("Unable to set Target Coordinate System!"));
  EXPECT_EQ(window.transformation(), nullptr);

  window.select_fuse("3601 North");  // not in the list: nothing changes
  EXPECT_EQ(window.fuses().selected(), "1 North");
}

}  // namespace
}  // namespace vantri::crs
