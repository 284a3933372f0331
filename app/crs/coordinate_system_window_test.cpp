#include "crs/coordinate_system_window.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <string>

#include "testing/scripted_ui.h"
#include "testing/temp_folder.h"
#include "ui_interface/ui.h"

namespace vantri::crs {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using Kind = vantri::ScriptedUi::Kind;

class CoordinateSystemWindowTest : public ::testing::Test {
 protected:
  void SetUp() override { folder_ = temp_.path() + "/"; }

  std::string WriteFile(const std::string& name, const std::string& text) {
    const std::string path = folder_ + name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }

  static CoordinateSystem Utm32North() {
    CoordinateSystem system;
    system.SetFromNames("UTM", "World Geodetic System 1984", "32 N", "Meters");
    system.RebuildTransformations();
    return system;
  }

  int DialogsShown(Kind kind) const {
    int count = 0;
    for (const auto& shown : ui_.shown) count += shown.kind == kind;
    return count;
  }

  vantri::test_support::TempFolder temp_;
  std::string folder_;
  vantri::ScriptedUi ui_;
};

TEST_F(CoordinateSystemWindowTest, OpeningOffersTheFixedListsAndTheProjectChoice) {
  CoordinateSystem project = Utm32North();
  CoordinateSystemWindow window(project, ui_);
  EXPECT_THAT(window.projections().items,
              ElementsAre("None (Local Coordinate System)", "UTM", "Transvers Mercator",
                          "User WKT String", "User EPSG Code"));
  EXPECT_THAT(window.units().items, ElementsAre("Meters"));
  ASSERT_EQ(window.datums().items.size(), DatumTable().size());
  EXPECT_EQ(window.datums().items[77], DatumTable()[77].name);

  EXPECT_EQ(window.projections().Selected(), "UTM");
  EXPECT_EQ(window.datums().Selected(), "World Geodetic System 1984");
  EXPECT_EQ(window.fuses().Selected(), "32 N");
  EXPECT_EQ(window.units().Selected(), "Meters");
  EXPECT_TRUE(window.datums().enabled);
  EXPECT_TRUE(window.fuses().enabled);
  ASSERT_EQ(window.fuses().items.size(), 120u);
  EXPECT_EQ(window.fuses().items.front(), "60 S");
  EXPECT_EQ(window.fuses().items[59], "1 S");
  EXPECT_EQ(window.fuses().items[60], "1 N");
  EXPECT_EQ(window.fuses().items.back(), "60 N");
  EXPECT_TRUE(ui_.shown.empty());
}

TEST_F(CoordinateSystemWindowTest, DatumChangesRefillTheFuses) {
  CoordinateSystem project = Utm32North();
  CoordinateSystemWindow window(project, ui_);
  window.SelectDatum("Monte Mario (Rome)");
  EXPECT_THAT(window.fuses().items, ElementsAre("W", "E"));
  EXPECT_FALSE(window.fuses().HasSelection());
  window.SelectDatum("European Datum 1950");
  EXPECT_EQ(window.fuses().items.size(), 120u);
  EXPECT_EQ(window.fuses().Selected(), "32 N");  // the operator's zone comes back

  int second_garoua = 0;
  while (DatumTable()[second_garoua].code != 6234) ++second_garoua;
  window.SelectDatum("Garoua");
  EXPECT_LT(window.datums().selection, second_garoua);
  window.SelectDatumRow(second_garoua);
  window.SelectFuse("31 N");
  ASSERT_TRUE(window.Ok());
  EXPECT_EQ(project.datum.code, 6234);
  EXPECT_EQ(project.fuse, 31);
}

TEST_F(CoordinateSystemWindowTest, ProjectionChangesSelectDefaultDatumsAndDisableLists) {
  CoordinateSystem project = Utm32North();
  CoordinateSystemWindow window(project, ui_);
  window.SelectProjection("Transvers Mercator");
  EXPECT_EQ(window.datums().Selected(), "Monte Mario");
  EXPECT_THAT(window.fuses().items, ElementsAre("W", "E"));

  window.SelectProjection("None (Local Coordinate System)");
  EXPECT_FALSE(window.datums().enabled);
  EXPECT_FALSE(window.datums().HasSelection());
  EXPECT_FALSE(window.fuses().enabled);
  EXPECT_TRUE(window.fuses().items.empty());

  window.SelectProjection("UTM");  // from Monte Mario, which has no UTM zones
  EXPECT_EQ(window.datums().Selected(), "World Geodetic System 1984");
  EXPECT_TRUE(window.fuses().enabled);
  EXPECT_EQ(window.fuses().Selected(), "32 N");
}

TEST_F(CoordinateSystemWindowTest, OpeningKeepsAUtmDatumOtherThanWgs84) {
  CoordinateSystem project;
  project.SetFromNames("UTM", "European Datum 1950", "33 N", "Meters");
  CoordinateSystemWindow window(project, ui_);
  EXPECT_EQ(window.datums().Selected(), "European Datum 1950");
  ASSERT_TRUE(window.Ok());
  EXPECT_EQ(project.datum.code, 6230);
}

TEST_F(CoordinateSystemWindowTest, OkMessagesComeInOrderAndStoreNothing) {
  CoordinateSystem project;
  project.units = kUnitsNotDefined;
  CoordinateSystemWindow window(project, ui_);
  EXPECT_FALSE(window.Ok());
  window.SelectProjection("UTM");  // WGS 84 is selected, the fuse 0 is not a zone
  EXPECT_FALSE(window.Ok());
  window.SelectFuse("5 S");
  EXPECT_FALSE(window.Ok());
  EXPECT_THAT(ui_.Texts(),
              ElementsAre("Select a valid projection", "Select Fuse!", "Select Units!"));
  for (const auto& shown : ui_.shown) EXPECT_EQ(shown.icon, vantri::MessageIcon::kExclamation);
  EXPECT_EQ(window.outcome(), CoordinateSystemWindow::Outcome::kOpen);
  EXPECT_EQ(project.projection, kProjectionNotDefined);
  EXPECT_EQ(project.units, kUnitsNotDefined);

  window.SelectUnits("Meters");
  ASSERT_TRUE(window.Ok());
  EXPECT_EQ(window.outcome(), CoordinateSystemWindow::Outcome::kOk);
  EXPECT_EQ(project.projection, kProjectionUtm);
  EXPECT_EQ(project.fuse, -5);
  EXPECT_EQ(project.units, kUnitsMeters);
  EXPECT_TRUE(project.HasTransformations());
}

TEST_F(CoordinateSystemWindowTest, OkOnMonteMarioAndOnNoneStoresTheMatchingRecords) {
  CoordinateSystem project = Utm32North();
  {
    CoordinateSystemWindow window(project, ui_);
    window.SelectProjection("Transvers Mercator");
    window.SelectFuse("E");
    ASSERT_TRUE(window.Ok());
  }
  EXPECT_EQ(project.ProjectionName(), "Transvers Mercator");
  EXPECT_EQ(project.DatumName(), "Monte Mario");
  EXPECT_EQ(project.fuse, kFuseMonteMarioEast);
  EXPECT_THAT(project.BuildWkt(), HasSubstr("TOWGS84"));
  EXPECT_TRUE(project.HasTransformations());
  {
    CoordinateSystemWindow window(project, ui_);
    window.SelectProjection("None (Local Coordinate System)");
    ASSERT_TRUE(window.Ok());
  }
  EXPECT_EQ(project.projection, kProjectionNone);
  EXPECT_EQ(project.DatumName(), "Not Defined");
  EXPECT_EQ(project.fuse, 0);
  EXPECT_FALSE(project.HasTransformations());
}

TEST_F(CoordinateSystemWindowTest, ShowWktUsesTheCurrentSelections) {
  CoordinateSystem project = Utm32North();
  CoordinateSystemWindow window(project, ui_);
  window.SelectFuse("33 N");
  EXPECT_THAT(window.ShowWkt(), HasSubstr("UTM zone 33N"));
  window.SelectProjection("None (Local Coordinate System)");
  EXPECT_EQ(window.ShowWkt(), "");
  ASSERT_EQ(ui_.shown.size(), 2u);
  EXPECT_EQ(ui_.shown[1].text, "");
  EXPECT_EQ(project.fuse, 32);  // showing stores nothing
}

TEST_F(CoordinateSystemWindowTest, ImportFromLongWktFileSetsTheUserSystemAtOnce) {
  std::string wkt = WktFromEpsg(32633);
  const std::string name = "WGS 84 / UTM zone 33N";
  wkt.replace(wkt.find(name), name.size(), name + std::string(5000, '_'));
  ui_.file_answers.push_back(WriteFile("long.prj", "\xEF\xBB\xBF" + wkt + "\r\n"));

  CoordinateSystem project = Utm32North();
  CoordinateSystemWindow window(project, ui_);
  window.ImportFromWkt();
  EXPECT_TRUE(ui_.Texts().empty());
  EXPECT_EQ(window.projections().Selected(), "User WKT String");
  EXPECT_FALSE(window.datums().enabled);
  EXPECT_EQ(project.projection, kProjectionUserWkt);
  EXPECT_EQ(project.user_wkt, wkt);
  EXPECT_STREQ(project.datum.name, "Non Definito");
  double x = 15.0, y = 45.0, z = 0.0;
  ASSERT_EQ(project.Wgs84ToProject(x, y, z), 1);
  EXPECT_NEAR(x, 500000.0, 0.1);

  window.Cancel();  // imports are not undone
  EXPECT_EQ(project.projection, kProjectionUserWkt);
}

TEST_F(CoordinateSystemWindowTest, EsriPrjFileImports) {
  ui_.file_answers.push_back(
      WriteFile("esri.prj",
                "PROJCS[\"WGS_1984_UTM_Zone_32N\",GEOGCS[\"GCS_WGS_1984\",DATUM[\"D_WGS_1984\","
                "SPHEROID[\"WGS_1984\",6378137.0,298.257223563]],PRIMEM[\"Greenwich\",0.0],"
                "UNIT[\"Degree\",0.0174532925199433]],PROJECTION[\"Transverse_Mercator\"],"
                "PARAMETER[\"False_Easting\",500000.0],PARAMETER[\"False_Northing\",0.0],"
                "PARAMETER[\"Central_Meridian\",9.0],PARAMETER[\"Scale_Factor\",0.9996],"
                "PARAMETER[\"Latitude_Of_Origin\",0.0],UNIT[\"Meter\",1.0]]"));
  CoordinateSystem project;
  CoordinateSystemWindow window(project, ui_);
  window.SelectProjection("User WKT String");
  EXPECT_TRUE(ui_.Texts().empty());
  EXPECT_EQ(window.projections().Selected(), "User WKT String");
  double x = 9.0, y = 45.0, z = 0.0;
  ASSERT_EQ(project.Wgs84ToProject(x, y, z), 1);
  EXPECT_NEAR(y, 4982950.4, 0.1);
}

TEST_F(CoordinateSystemWindowTest, FailedWktImportsLeaveNoneSelected) {
  ui_.file_answers.push_back(WriteFile("bad.prj", "PROJCS[\"broken\""));
  ui_.file_answers.push_back(WriteFile("empty.prj", ""));
  ui_.file_answers.push_back(folder_ + "missing.prj");
  ui_.file_answers.push_back(std::nullopt);

  CoordinateSystem project = Utm32North();
  CoordinateSystemWindow window(project, ui_);
  for (int attempt = 0; attempt < 4; ++attempt) {
    window.SelectProjection("UTM");
    window.SelectProjection("User WKT String");
    EXPECT_EQ(window.projections().Selected(), "None (Local Coordinate System)") << attempt;
    EXPECT_FALSE(window.datums().enabled);
  }
  EXPECT_THAT(ui_.Texts(), ElementsAre("Invalid WKT string!", "Unable to read selected file!",
                                       "Unable to read selected file!"));
  EXPECT_EQ(DialogsShown(Kind::kOpenFile), 4);
  EXPECT_EQ(project.projection, kProjectionUtm);
  EXPECT_TRUE(project.HasTransformations());
}

TEST_F(CoordinateSystemWindowTest, WktWithoutTransformationKeepsTheProjectWorking) {
  ui_.file_answers.push_back(WriteFile("local.prj", "LOCAL_CS[\"site grid\",UNIT[\"metre\",1]]"));
  CoordinateSystem project = Utm32North();
  CoordinateSystemWindow window(project, ui_);
  window.ImportFromWkt();
  EXPECT_THAT(ui_.Texts(), ElementsAre("Unable to set coordinate conversion!"));
  EXPECT_EQ(window.projections().Selected(), "None (Local Coordinate System)");
  EXPECT_EQ(project.projection, kProjectionUtm);
  EXPECT_TRUE(project.HasTransformations());
}

TEST_F(CoordinateSystemWindowTest, ImportFromEpsg) {
  CoordinateSystem project = Utm32North();
  project.user_epsg = 4326;
  ui_.value_answers = {"abc", "999999", " 2154 "};
  CoordinateSystemWindow window(project, ui_);
  window.ImportFromEpsg();
  window.ImportFromEpsg();
  EXPECT_EQ(window.projections().Selected(), "UTM");
  window.ImportFromEpsg();
  EXPECT_THAT(ui_.Texts(), ElementsAre("Invalid EPSG code!", "Invalid EPSG code!"));
  ASSERT_GE(ui_.shown.size(), 1u);
  EXPECT_EQ(ui_.shown[0].kind, Kind::kPrompt);
  EXPECT_EQ(ui_.shown[0].text, "Insert EPSG code");
  EXPECT_EQ(window.projections().Selected(), "User EPSG Code");
  EXPECT_EQ(project.projection, kProjectionUserEpsg);
  EXPECT_EQ(project.user_epsg, 2154);
  EXPECT_TRUE(project.HasTransformations());

  // Re-opened on the user code: no question is asked again.
  const size_t shown_before = ui_.shown.size();
  CoordinateSystemWindow reopened(project, ui_);
  EXPECT_EQ(reopened.projections().Selected(), "User EPSG Code");
  EXPECT_EQ(ui_.shown.size(), shown_before);
  ASSERT_TRUE(reopened.Ok());
  EXPECT_EQ(project.user_epsg, 2154);
  EXPECT_EQ(project.DatumName(), "Not Defined");
}

TEST_F(CoordinateSystemWindowTest, ChoosingUserEpsgWithoutACodeAsksAndFallsBackToNone) {
  CoordinateSystem project = Utm32North();
  CoordinateSystemWindow window(project, ui_);
  window.SelectProjection("User EPSG Code");  // the prompt is cancelled
  EXPECT_EQ(DialogsShown(Kind::kPrompt), 1);
  EXPECT_EQ(window.projections().Selected(), "None (Local Coordinate System)");
}

}  // namespace
}  // namespace vantri::crs
