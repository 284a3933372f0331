#include "crs/coordinate_conversion_window.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "testing/scripted_ui.h"
#include "ui_interface/ui.h"

namespace vantri::crs {
namespace {

using ::testing::ElementsAre;

TEST(UtmZoneOfLongitude, SixDegreeZonesWrapAroundTheAntimeridian) {
  EXPECT_EQ(UtmZoneOfLongitude(9.0), 32);
  EXPECT_EQ(UtmZoneOfLongitude(6.0), 32);
  EXPECT_EQ(UtmZoneOfLongitude(5.999), 31);
  EXPECT_EQ(UtmZoneOfLongitude(0.0), 31);
  EXPECT_EQ(UtmZoneOfLongitude(-0.1), 30);
  EXPECT_EQ(UtmZoneOfLongitude(-180.0), 1);
  EXPECT_EQ(UtmZoneOfLongitude(179.9), 60);
  EXPECT_EQ(UtmZoneOfLongitude(180.0), 1);
  EXPECT_EQ(UtmZoneOfLongitude(369.0), 32);
}

TEST(CoordinateConversionWindow, OpensOnWgs84UtmWithTheEstimatedZone) {
  vantri::ScriptedUi ui;
  CoordinateConversionWindow window(-10.0, 15.0, ui);
  EXPECT_EQ(window.source_datums().items.size(), DatumTable().size());
  EXPECT_EQ(window.target_datums().items.size(), DatumTable().size());
  EXPECT_THAT(window.target_projections().items,
              ElementsAre("Universal Transverse Mercator", "Transverse Mercator", "StatePlane"));
  ASSERT_EQ(window.fuses().items.size(), 120u);
  EXPECT_EQ(window.fuses().items.front(), "60 South");
  EXPECT_EQ(window.fuses().items.back(), "60 North");
  EXPECT_EQ(window.source_datums().Selected(), "World Geodetic System 1984");
  EXPECT_EQ(window.target_datums().Selected(), "World Geodetic System 1984");
  EXPECT_EQ(window.target_projections().Selected(), "Universal Transverse Mercator");
  EXPECT_EQ(window.fuses().Selected(), "33 South");
  EXPECT_EQ(window.transformation(), nullptr);
}

TEST(CoordinateConversionWindow, UtmConversionMatchesTheKnownPoint) {
  vantri::ScriptedUi ui;
  CoordinateConversionWindow window(45.0, 9.0, ui);
  EXPECT_EQ(window.fuses().Selected(), "32 North");
  ASSERT_TRUE(window.Ok());
  EXPECT_EQ(window.outcome(), CoordinateConversionWindow::Outcome::kOk);
  double x = 9.0, y = 45.0;
  ASSERT_EQ(window.Convert(x, y), 1);
  EXPECT_NEAR(x, 500000.0, 0.1);
  EXPECT_NEAR(y, 4982950.4, 0.1);
  EXPECT_TRUE(ui.shown.empty());
}

TEST(CoordinateConversionWindow, MonteMarioZonesAgreeWithTheProjectSystem) {
  vantri::ScriptedUi ui;
  CoordinateConversionWindow window(41.9, 12.5, ui);
  window.SelectTargetProjection("Transverse Mercator");
  EXPECT_THAT(window.target_datums().items, ElementsAre("Monte Mario"));
  EXPECT_EQ(window.target_datums().Selected(), "Monte Mario");
  EXPECT_THAT(window.fuses().items, ElementsAre("OVEST", "EST"));
  EXPECT_FALSE(window.Ok());
  EXPECT_THAT(ui.Texts(), ElementsAre("Select Target Fuse!"));
  EXPECT_EQ(window.outcome(), CoordinateConversionWindow::Outcome::kOpen);

  CoordinateSystem project;
  for (const char* fuse : {"OVEST", "EST"}) {
    window.SelectFuse(fuse);
    ASSERT_TRUE(window.Ok()) << fuse;
    project.SetFromNames("Transvers Mercator", "Monte Mario", fuse[0] == 'O' ? "W" : "E", "Meters");
    ASSERT_EQ(project.RebuildTransformations(), 1);
    double x = 12.5, y = 41.9, z = 0.0;
    double px = x, py = y;
    ASSERT_EQ(window.Convert(x, y), 1);
    ASSERT_EQ(project.Wgs84ToProject(px, py, z), 1);
    EXPECT_NEAR(x, px, 1e-6) << fuse;
    EXPECT_NEAR(y, py, 1e-6) << fuse;
  }

  window.SelectTargetProjection("Universal Transverse Mercator");
  EXPECT_EQ(window.target_datums().items.size(), DatumTable().size());
  EXPECT_EQ(window.target_datums().Selected(), "Monte Mario");
  EXPECT_EQ(window.fuses().Selected(), "33 North");
}

TEST(CoordinateConversionWindow, OkMessagesComeInOrder) {
  vantri::ScriptedUi ui;
  CoordinateConversionWindow window(45.0, 9.0, ui);
  window.ClearSourceDatum();
  window.ClearTargetProjection();
  window.ClearTargetDatum();
  window.ClearFuse();
  EXPECT_FALSE(window.Ok());
  window.SelectSourceDatum("European Datum 1950");
  EXPECT_FALSE(window.Ok());
  window.SelectTargetProjection("Universal Transverse Mercator");
  window.ClearTargetDatum();
  window.ClearFuse();
  EXPECT_FALSE(window.Ok());
  window.SelectTargetDatum("World Geodetic System 1984");
  EXPECT_FALSE(window.Ok());
  EXPECT_THAT(ui.Texts(), ElementsAre("Select Source Datum!", "Select Target _Projection!",
                                      "Select Target Datum!", "Select Target Fuse!"));
  for (const auto& shown : ui.shown) EXPECT_EQ(shown.icon, vantri::MessageIcon::kExclamation);
  EXPECT_EQ(window.transformation(), nullptr);

  window.EstimateAutomatically();
  ASSERT_TRUE(window.Ok());
  // ED50 -> WGS84: a datum shift of the order of 100 m, not zero, not kilometres.
  double x = 9.0, y = 45.0;
  ASSERT_EQ(window.Convert(x, y), 1);
  EXPECT_GT(std::hypot(x - 500000.0, y - 4982950.4), 10.0);
  EXPECT_LT(std::hypot(x - 500000.0, y - 4982950.4), 500.0);
}

TEST(CoordinateConversionWindow, SystemsThatCannotBeBuiltAreReported) {
  vantri::ScriptedUi ui;
  CoordinateConversionWindow window(45.0, 9.0, ui);
  window.SelectTargetProjection("StatePlane");
  window.SelectTargetDatum("North American Datum 1983");
  window.SelectFuse("1 North");  // not a state-plane zone
  EXPECT_FALSE(window.Ok());
  EXPECT_THAT(ui.Texts(), ElementsAre("Unable to set Target Coordinate System!"));
  EXPECT_EQ(window.transformation(), nullptr);

  window.SelectFuse("3601 North");  // not in the list: nothing changes
  EXPECT_EQ(window.fuses().Selected(), "1 North");
}

}  // namespace
}  // namespace vantri::crs
