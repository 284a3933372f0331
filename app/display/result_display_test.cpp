#include "display/result_display.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <numbers>

#include "testing/scripted_ui.h"
#include "testing/temp_folder.h"

namespace vantri::display {
namespace {

using report::AdjustedOrientation;
using report::ImageResidualRow;
using report::ImageResiduals;
using report::ObjectPointRow;
using report::PointResidual;

constexpr Rgb kHigh{0, 0xBE, 0};
constexpr Rgb kMiddle{0xDC, 0xDC, 0};
constexpr Rgb kLow{0xBE, 0, 0};

std::string Format4(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.4f", value);
  return text;
}

// A project with two images 1000 m above ground and a 4000 x 3000 camera (focal length 40 mm,
// pixel 0.01 mm: 0.25 m per pixel on the ground), a control point G1 and a check point C1.
class ResultDisplayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    project_.folder = folder_.path() + "/";
    project_.name = "block";
    auto passport = std::make_unique<CBCCCameraPassport>();
    passport->focal_mm = 40;
    passport->pixel_mm = 0.01;
    passport->width = 4000;
    passport->height = 3000;
    project_.passport = std::move(passport);
    AddImage("IMG_1", 1000, 2000, 0.01, -0.02, 0.1);
    AddImage("IMG_2", 1600, 2000, 0, 0, 0);
    CGCPCollEx g1;
    g1.name = "G1";
    g1.x = 1000, g1.y = 2000, g1.z = 0;
    g1.measurements = {{0, 10, -20}};
    project_.gcps["G1"] = g1;
    CGCPCollEx c1;
    c1.name = "C1";
    c1.x = 1300, c1.y = 2100, c1.z = 5;
    project_.check_points["C1"] = c1;
  }

  void AddImage(const std::string& name, double x, double y, double omega, double phi,
                double kappa) {
    CABAImage& image = project_.AppendImage(folder_.path() + "/" + name + ".tif");
    image.x = x, image.y = y, image.z = 1000;
    image.omega = omega, image.phi = phi, image.kappa = kappa;
  }

  // Tie point `id` at (x, y, 10) with one image residual row per (vx, vy).
  void AddTiePoint(int id, double x, double y, std::vector<std::array<double, 2>> residuals) {
    results_.object_points.push_back({std::to_string(id), x, y, 10, "in"});
    for (size_t i = 0; i < residuals.size(); ++i) {
      if (results_.image_residuals.size() <= i)
        results_.image_residuals.push_back({"IMG_" + std::to_string(i + 1), {}});
      const double vx = residuals[i][0], vy = residuals[i][1];
      results_.image_residuals[i].rows.push_back(
          {std::to_string(id), vx, vy, std::hypot(vx, vy), "in"});
    }
  }

  DisplayModel Build(const DisplaySettings& settings = {}) {
    return BuildDisplayModel(project_, results_, project::QualityThresholds{}, settings);
  }

  test_support::TempFolder folder_;
  CVantriProject project_;
  DisplayResults results_;
};

TEST_F(ResultDisplayTest, TiePointsShowTheirMeanResidualInTheQualityColours) {
  // Residuals in micrometres; the camera's pixel is 10 um and the thresholds 2 and 4 pixels.
  AddTiePoint(1, 10, 20, {{1, 0}, {0, 1}, {-1, -1}});  // mean (0, 0)
  AddTiePoint(2, 11, 20, {{20.0, 0}});
  AddTiePoint(3, 12, 20, {{0, 20.1}});
  AddTiePoint(4, 13, 20, {{40.1, 0}});
  AddTiePoint(5, 14, 20, {{40.0, 0}, {20.0, 0}});  // mean 30 um = 3 px
  const DisplayModel model = Build();

  ASSERT_EQ(model.tie_points.size(), 5u);
  const CEntTP& first = model.tie_points.at("1");
  EXPECT_DOUBLE_EQ(first.res_x, 0.0);
  EXPECT_DOUBLE_EQ(first.res_y, 0.0);
  EXPECT_EQ(first.rays, 3);
  EXPECT_EQ(first.color, kHigh);
  EXPECT_EQ(model.tie_points.at("2").color, kHigh);  // 2.0 px is still high quality
  EXPECT_EQ(model.tie_points.at("3").color, kMiddle);
  EXPECT_EQ(model.tie_points.at("4").color, kLow);
  EXPECT_DOUBLE_EQ(model.tie_points.at("5").magnitude, 30.0);  // kept in micrometres
  EXPECT_EQ(model.tie_points.at("5").color, kMiddle);

  const Layer* tp = model.FindLayer("TP");
  ASSERT_EQ(tp->entities.size(), 5u);
  EXPECT_EQ(tp->entities[0].point_id, "1");
  EXPECT_TRUE(tp->entities[0].label.empty());  // not drawn
  EXPECT_EQ(tp->entities[0].centre, (std::array<double, 2>{10, 20}));
}

TEST_F(ResultDisplayTest, OnlyIntersectionRowsWithAPositionMakeTiePoints) {
  AddTiePoint(7, 10, 20, {{1, 1}});
  results_.image_residuals[0].rows.push_back({"7", 100, 100, 0, "co"});  // control row, same ID
  results_.image_residuals[0].rows.push_back({"T8", 1, 1, 0, "in"});     // no position
  results_.object_points.push_back({"9", 1, 2, 3, "in"});                // no residual rows
  results_.object_points.push_back({"T10", 1, 2, 3, "in"});
  results_.image_residuals[0].rows.push_back({"T10", 3, 4, 5, "in"});
  const DisplayModel model = Build();
  ASSERT_EQ(model.tie_points.size(), 2u);
  EXPECT_DOUBLE_EQ(model.tie_points.at("7").res_x, 1.0);
  EXPECT_DOUBLE_EQ(model.tie_points.at("T10").magnitude, 5.0);
  EXPECT_EQ(MeanTieResiduals(results_.image_residuals).size(), 3u);
}

TEST(QualityRule, NotANumberIsLowQuality) {
  EXPECT_EQ(QualityColor(project::QualityClass{}, std::nan("")), kLow);
  project::QualityClass custom;
  custom.high_threshold = 0.05;
  custom.middle_threshold = 0.1;
  custom.high_color = 0x010203;
  EXPECT_EQ(QualityColor(custom, 0.05), (Rgb{3, 2, 1}));
}

TEST(AngleRule, DifferencesAreWrappedIntoTheHalfOpenTurn) {
  EXPECT_EQ(Format4(WrapAngle(6.2)), "-0.0832");
  EXPECT_EQ(Format4(WrapAngle(-6.2)), "0.0832");
  EXPECT_DOUBLE_EQ(WrapAngle(std::numbers::pi), std::numbers::pi);
  EXPECT_DOUBLE_EQ(WrapAngle(-std::numbers::pi), std::numbers::pi);
  EXPECT_NEAR(WrapAngle(13.0), 13.0 - 4 * std::numbers::pi, 1e-12);  // more than one turn
  EXPECT_DOUBLE_EQ(WrapAngle(0.5), 0.5);
  EXPECT_EQ(ZeroBelowTolerance(9e-7), 0.0);
  EXPECT_EQ(ZeroBelowTolerance(-2e-6), -2e-6);
}

TEST_F(ResultDisplayTest, ImageSymbolsShowTheMovementFromGpsImuAtTheSettingsScales) {
  // IMG_1 moved by (0.2, -0.1, 0.04) m; kappa from 0.1 to 6.3 (a difference of 6.2 rad).
  results_.orientations.push_back({"img_1", 1000.2, 1999.9, 1000.04, 0.01 + 5e-7, -0.02, 6.3});
  results_.orientations.push_back({"IMG_9", 0, 0, 0, 0, 0, 0});  // not in the project
  DisplaySettings settings;
  settings.image_xy_ellipse = {true, true, 255};
  settings.image_z_vector = true;
  settings.image_xy_scale = 100;
  settings.image_k_scale = 10;
  const DisplayModel model = Build(settings);

  ASSERT_EQ(model.image_movements.size(), 1u);
  const ImageMovement& m = model.image_movements[0];
  EXPECT_EQ(m.image, "IMG_1");
  EXPECT_NEAR(m.dx, 0.2, 1e-9);
  EXPECT_NEAR(m.dy, -0.1, 1e-9);
  EXPECT_EQ(m.d_omega, 0.0);  // below 1e-6
  EXPECT_EQ(Format4(m.d_kappa), "-0.0832");

  const Layer* ellipse = model.FindLayer("IMG_1_ResXYEllipse");
  ASSERT_NE(ellipse, nullptr);
  EXPECT_TRUE(ellipse->visible);
  ASSERT_EQ(ellipse->entities.size(), 1u);
  const Entity& e = ellipse->entities[0];
  EXPECT_EQ(e.kind, EntityKind::kEllipse);
  EXPECT_NEAR(e.radius_x, 20.0, 1e-6);
  EXPECT_NEAR(e.radius_y, 10.0, 1e-6);
  EXPECT_TRUE(e.filled);
  EXPECT_EQ(e.color, (Rgb{255, 0, 0}));
  EXPECT_EQ(e.line_weight, kImageSymbolLineWeight);
  EXPECT_EQ(e.centre, (std::array<double, 2>{1000.2, 1999.9}));

  const Layer* k = model.FindLayer("IMG_1_ResKCircle");
  ASSERT_EQ(k->entities.size(), 1u);
  EXPECT_FALSE(k->visible);
  EXPECT_NEAR(k->entities[0].radius_x, 0.832, 1e-3);
  EXPECT_TRUE(model.FindLayer("IMG_1_ResZVector")->visible);
  EXPECT_EQ(model.FindLayer("IMG_1_ResZVector")->color, kZVectorMagenta);
  EXPECT_EQ(model.FindLayer("IMG_1_ResXYVector")->color, kXyVectorCyan);
  EXPECT_TRUE(model.FindLayer("IMG_1_ResOPEllipse")->entities.empty());  // omega, phi unchanged
  EXPECT_EQ(model.FindLayer("IMG_9_ResXYEllipse"), nullptr);
  EXPECT_EQ(model.layers.size(), BaseLayerNames().size() + 6);
}

TEST_F(ResultDisplayTest, ImagesWithoutAGpsPositionGetNoSymbols) {
  project_.Image(1)->x = project_.Image(1)->y = project_.Image(1)->z = 0;
  results_.orientations.push_back({"IMG_2", 1600, 2000, 1000, 0, 0, 0});
  EXPECT_TRUE(Build().image_movements.empty());
}

TEST_F(ResultDisplayTest, ControlAndCheckPointsWithoutResultsAreGrey) {
  const DisplayModel model = Build();
  const CEntGCP& g1 = model.control_points.at("G1");
  EXPECT_FALSE(g1.has_result);
  EXPECT_EQ(g1.color, kNoResultGrey);
  EXPECT_DOUBLE_EQ(g1.x, 1000.0);  // at its surveyed position
  EXPECT_EQ(model.check_points.at("C1").color, kNoResultGrey);
  EXPECT_EQ(model.FindLayer("GCP")->entities.at(0).label, "G1");
  EXPECT_TRUE(model.FindLayer("GCPResZCircle")->entities.empty());
}

TEST_F(ResultDisplayTest, ControlAndCheckPointResultsGiveColoursSymbolsAndManagerResiduals) {
  results_.control_points.push_back({"g1", 1000.01, 2000.02, 0.5, 1.0, 2.0, 2.0});  // |v| = 3
  results_.check_points.push_back({"C1", 1300, 2100, 5, 0.0, 0.0, -1.5});
  results_.check_points.push_back({"C2", 1, 2, 3, 0.1, 0.0, 0.0});  // only in the result file
  DisplaySettings settings;
  settings.check_z_vector = true;
  settings.control_xy_scale = 2;
  const DisplayModel model = Build(settings);

  const CEntGCP& g1 = model.control_points.at("G1");
  EXPECT_TRUE(g1.has_result);
  EXPECT_DOUBLE_EQ(g1.magnitude, 3.0);
  EXPECT_EQ(g1.color, kMiddle);
  EXPECT_DOUBLE_EQ(g1.x, 1000.01);
  const Layer* ellipse = model.FindLayer("GCPResXYEllipse");
  ASSERT_EQ(ellipse->entities.size(), 1u);
  EXPECT_DOUBLE_EQ(ellipse->entities[0].radius_x, 2.0);
  EXPECT_DOUBLE_EQ(ellipse->entities[0].radius_y, 4.0);
  EXPECT_EQ(ellipse->entities[0].point_id, "G1");
  EXPECT_TRUE(model.FindLayer("GCPResZCircle")->entities[0].filled);  // default fill

  EXPECT_EQ(model.check_points.at("C1").color, kHigh);
  EXPECT_EQ(model.check_points.size(), 2u);
  const Layer* z_vector = model.FindLayer("CPResZVector");
  EXPECT_TRUE(z_vector->visible);
  ASSERT_EQ(z_vector->entities.size(), 1u);  // C2 has no height residual
  EXPECT_EQ(z_vector->entities[0].vertices[1], (std::array<double, 2>{1300, 2100 - 1.5 * 25}));

  ApplyPointResiduals(results_, project_);
  EXPECT_DOUBLE_EQ(project_.gcps.at("G1").res_y, 2.0);
  EXPECT_DOUBLE_EQ(project_.check_points.at("C1").res_z, -1.5);
}

TEST_F(ResultDisplayTest, ControlPointsShowTheChipOfTheirFirstMeasurement) {
  const DisplayModel model = Build();
  const CEntGCP& g1 = model.control_points.at("G1");
  ASSERT_TRUE(g1.has_chip);
  EXPECT_EQ(g1.chip.image_path, project_.Image(0)->Path());
  EXPECT_DOUBLE_EQ(g1.chip.col, 2010);  // measurements are relative to the centre, y up
  EXPECT_DOUBLE_EQ(g1.chip.row, 1520);
  const Layer* chips = model.FindLayer("GCP_Images");
  ASSERT_EQ(chips->entities.size(), 1u);
  EXPECT_NEAR(chips->entities[0].radius_x, 32 * 0.25, 1e-9);    // 1000 m away: 0.25 m per pixel
  EXPECT_TRUE(model.FindLayer("CP_Images")->entities.empty());  // C1 is not measured
}

TEST(Arrow, HeadStrokesAreAQuarterOfTheShaftAndSymmetric) {
  const auto arrow = ArrowPolyline(1, 1, 4, 0);
  ASSERT_EQ(arrow.size(), 5u);
  EXPECT_EQ(arrow[1], (std::array<double, 2>{5, 1}));
  EXPECT_EQ(arrow[3], arrow[1]);
  EXPECT_NEAR(std::hypot(arrow[2][0] - 5, arrow[2][1] - 1), 1.0, 1e-12);
  EXPECT_NEAR(arrow[2][1] - 1, -(arrow[4][1] - 1), 1e-12);
  EXPECT_LT(arrow[2][0], 5);  // pointing back along the shaft
  EXPECT_TRUE(ArrowPolyline(1, 1, 0, 0).empty());
  EXPECT_TRUE(ArrowPolyline(1, 1, 1e308 * 10, 0).empty());  // an overflowing scale
}

TEST_F(ResultDisplayTest, AClickNearAControlPointOrItsLabelFindsIt) {
  const DisplayModel model = Build();
  PointHit hit;
  ASSERT_TRUE(HitTestPoint(model, 1000.5, 2000, 1.0, 0.1, &hit));
  EXPECT_EQ(hit.kind, PointKind::kControl);
  EXPECT_EQ(hit.name, "G1");
  ASSERT_TRUE(HitTestPoint(model, 1300 + 2.2, 2100 + 1.5, 0.5, 0.1, &hit));  // on the label
  EXPECT_EQ(hit.kind, PointKind::kCheck);
  EXPECT_FALSE(HitTestPoint(model, 1100, 2000, 1.0, 0.1, &hit));

  // A check point under a control point's label: its marker wins; of two markers the nearest.
  DisplayModel crowded;
  CEntGCP control;
  control.label = control.point_name = "G1";
  control.x = 0;
  control.y = 0;
  crowded.control_points["G1"] = control;
  CEntCP check;
  check.label = check.point_name = "C1";
  check.x = 22;
  check.y = 15;
  crowded.check_points["C1"] = check;
  ASSERT_TRUE(HitTestPoint(crowded, 22, 15, 7, 1, &hit));
  EXPECT_EQ(hit.name, "C1");
  ASSERT_TRUE(HitTestPoint(crowded, 30, 16, 7, 1, &hit));  // on the label only
  EXPECT_EQ(hit.name, "G1");
  crowded.check_points["C1"].x = 5;
  crowded.check_points["C1"].y = 0;
  ASSERT_TRUE(HitTestPoint(crowded, 3, 0, 7, 1, &hit));
  EXPECT_EQ(hit.name, "C1");
  ASSERT_TRUE(HitTestPoint(crowded, 2, 0, 7, 1, &hit));
  EXPECT_EQ(hit.name, "G1");
}

// The files as the bundle run writes them.
TEST_F(ResultDisplayTest, ReadsTheResultFilesAndNamesTheMissingAndDamagedOnes) {
  const std::string bundle = project_.folder + "Bundle/";
  std::filesystem::create_directories(bundle);
  const std::string header =
      "# Vantri - v 0.1.0\n# Aerial Triangulation Reprojection Residuals\n#\n";
  char row[128];
  std::string ptres = header + "\nIMG_1\n";
  std::snprintf(row, sizeof row, "%16s %12.6lf %12.6lf %12.6lf %10s\n", "12", 1.0, 0.0, 1.0, "in");
  ptres += row;
  std::snprintf(row, sizeof row, "%16s %12.6lf %12.6lf %12.6lf %10s\n", "G1", 9.0, 9.0, 12.7, "co");
  ptres += row;
  test_support::WriteFile(bundle + "block.ptres", ptres);
  std::string ptocs = "# Vantri - v 0.1.0\n# Aerial Triangulation Object Point Coordinates\n#\n";
  std::snprintf(row, sizeof row, "%16s %16.6lf %16.6lf %16.6lf %10s\n", "12", 5.0, 6.0, 7.0, "in");
  test_support::WriteFile(bundle + "block.ptocs", ptocs + row);
  test_support::WriteFile(bundle + "block.gcpres", "no header\n");

  ScriptedUi ui;
  const DisplayResults results = ReadDisplayResults(project_, &ui);
  EXPECT_EQ(results.image_residuals.size(), 1u);
  ASSERT_EQ(results.object_points.size(), 1u);
  ASSERT_EQ(results.problems.size(), 3u);  // extor and cpres missing, gcpres damaged
  EXPECT_EQ(results.problems[0], bundle + "block.extor is missing");
  EXPECT_NE(results.problems[1].find("block.gcpres is damaged"), std::string::npos);
  EXPECT_EQ(ui.progress_upper, kLoadProgressSteps);
  EXPECT_EQ(ui.progress_position, 0);

  const DisplayModel model = BuildDisplayModel(project_, results, project::QualityThresholds{}, {});
  ASSERT_EQ(model.tie_points.size(), 1u);
  EXPECT_EQ(model.tie_points.at("12").color, kHigh);

  ui.SetAbort(true);
  const DisplayResults aborted = ReadDisplayResults(project_, &ui);
  EXPECT_TRUE(aborted.image_residuals.empty());
  EXPECT_EQ(aborted.problems.back(), "Loading of the bundle results aborted");
}

}  // namespace
}  // namespace vantri::display
