// The graphic report on the drawing view (fit, view toggles, clicks on control and check points)
// and the Graphic Report options window writing the .grs file (offscreen platform).
#include "ui/result_windows.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "display/display_model.h"
#include "testing/scripted_ui.h"
#include "testing/temp_folder.h"
#include "ui/drawing_view.h"

namespace vantri::ui {
namespace {

QApplication& App() {
  static int argc = 1;
  static char name[] = "result_windows_test";
  static char* argv[] = {name, nullptr};
  if (getenv("DISPLAY") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 0);
  static QApplication app(argc, argv);
  return app;
}

display::Entity PointAt(double x, double y, display::PointKind kind, const std::string& id) {
  display::Entity entity;
  entity.centre = {x, y};
  entity.point_kind = kind;
  entity.point_id = id;
  entity.label = kind == display::PointKind::kTie ? "" : id;
  return entity;
}

// Only point markers: a tie point, a control point and a check point 1 km apart.
display::DisplayModel PointsOnly() {
  display::DisplayModel model;
  for (const std::string& name : display::BaseLayerNames()) {
    display::Layer layer;
    layer.name = name;
    model.layers.push_back(layer);
  }
  model.FindLayer("TP")->entities.push_back(PointAt(1000, 2000, display::PointKind::kTie, "7"));
  model.FindLayer("GCP")->entities.push_back(
      PointAt(2000, 2000, display::PointKind::kControl, "g1"));
  model.FindLayer("CP")->entities.push_back(PointAt(1500, 2800, display::PointKind::kCheck, "c1"));
  display::CEntGCP control;
  control.label = control.point_name = "g1";
  control.x = 2000;
  control.y = 2000;
  model.control_points["g1"] = control;
  display::CEntCP check;
  check.label = check.point_name = "c1";
  check.x = 1500;
  check.y = 2800;
  model.check_points["c1"] = check;
  return model;
}

bool InView(const DrawingView& view, double x, double y) {
  return view.viewport()->rect().contains(view.mapFromScene(QPointF(x, y)));
}

TEST(ResultDrawing, PointMarkersAloneAreFittedAndClickedThroughTheModel) {
  App();
  EXPECT_FALSE(ExtentsOf({}).has_value());
  const QRectF two_points = *ExtentsOf({QRectF(1, 5, 0, 0), QRectF(4, 2, 0, 0)});
  EXPECT_EQ(two_points, QRectF(QPointF(1, 2), QPointF(4, 5)));

  DrawingView view;
  view.resize(800, 600);
  view.show();
  QApplication::processEvents();
  view.ShowResults(PointsOnly());
  QApplication::processEvents();
  EXPECT_TRUE(InView(view, 1000, 2000));
  EXPECT_TRUE(InView(view, 2000, 2000));
  EXPECT_TRUE(InView(view, 1500, 2800));
  // Zoomed to the points, not left at the scene's default scale.
  const QPoint left = view.mapFromScene(QPointF(1000, 2000));
  const QPoint right = view.mapFromScene(QPointF(2000, 2000));
  EXPECT_GT(right.x() - left.x(), 300);

  std::vector<std::pair<DrawingLayer, std::string>> clicks;
  view.on_point_clicked = [&clicks](DrawingLayer layer, const std::string& name) {
    clicks.emplace_back(layer, name);
  };
  QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, view.mapFromScene(QPointF(2000, 2000)));
  QTest::mouseClick(view.viewport(), Qt::LeftButton, {},
                    view.mapFromScene(QPointF(1500, 2800)) + QPoint(2, -1));
  QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, view.mapFromScene(QPointF(1000, 2000)));
  ASSERT_EQ(clicks.size(), 2u);  // the tie point opens nothing
  EXPECT_EQ(clicks[0], std::make_pair(DrawingLayer::kGcps, std::string("g1")));
  EXPECT_EQ(clicks[1], std::make_pair(DrawingLayer::kCheckPoints, std::string("c1")));

  // A hidden layer is not clicked.
  view.SetLayerVisible(DrawingLayer::kGcps, false);
  QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, view.mapFromScene(QPointF(2000, 2000)));
  EXPECT_EQ(clicks.size(), 2u);
}

TEST(ResultDrawing, TogglesActOnTheResultLayersAndTheViewsOwnPointLayersStepAside) {
  App();
  DrawingView view;
  view.ShowResults(PointsOnly());
  for (const char* name : {"TP", "GCP", "CP", "GCP_Images", "CP_Images"})
    EXPECT_TRUE(view.ResultLayer(name)->isVisible()) << name;
  // The view's own point layers are hidden under the results (their labels would double).
  const auto own_visible = [&view](DrawingLayer layer) {
    for (QGraphicsItem* item : view.scene()->items()) {
      if (item->type() == QGraphicsItemGroup::Type && item->zValue() == static_cast<int>(layer))
        return item->isVisible();
    }
    return false;
  };
  EXPECT_FALSE(own_visible(DrawingLayer::kTiePoints));
  EXPECT_FALSE(own_visible(DrawingLayer::kGcps));
  EXPECT_TRUE(own_visible(DrawingLayer::kFootprints));

  view.SetLayerVisible(DrawingLayer::kGcps, false);
  EXPECT_FALSE(view.ResultLayer("GCP")->isVisible());
  EXPECT_FALSE(view.ResultLayer("GCP_Images")->isVisible());
  EXPECT_TRUE(view.ResultLayer("CP")->isVisible());
  view.SetLayerVisible(DrawingLayer::kCheckPoints, false);
  EXPECT_FALSE(view.ResultLayer("CP_Images")->isVisible());
  view.SetLayerVisible(DrawingLayer::kGcps, true);
  EXPECT_TRUE(view.ResultLayer("GCP")->isVisible());
  // A layer the settings hide stays hidden when its toggle comes back on.
  display::DisplayModel hidden_chips = PointsOnly();
  hidden_chips.FindLayer("GCP_Images")->visible = false;
  view.ShowResults(hidden_chips);
  EXPECT_FALSE(view.ResultLayer("GCP_Images")->isVisible());
  EXPECT_FALSE(view.ResultLayer("CP")->isVisible());  // the toggle is still off

  view.ClearResults();
  EXPECT_EQ(view.ResultLayer("TP"), nullptr);
  EXPECT_TRUE(own_visible(DrawingLayer::kTiePoints));
  EXPECT_TRUE(own_visible(DrawingLayer::kGcps));
  EXPECT_FALSE(own_visible(DrawingLayer::kCheckPoints));  // toggled off above
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(DisplaySettingsWindow, SavesTheFieldsThroughTheCoreAndRefusesATextThatDoesNotConvert) {
  App();
  test_support::TempFolder folder;
  const std::string grs = folder / "job.grs";
  std::ofstream(grs) << "[CPResZ]\nScale=-40.0\n[GCPResZCircle]\nColor=green\n";
  ScriptedUi ui;
  DisplaySettingsWindow window(grs, ui);
  auto* scale = window.findChild<QLineEdit*>("CPResZ.Scale");
  ASSERT_NE(scale, nullptr);
  EXPECT_EQ(scale->text(), "40.000000");  // kept as an absolute value
  ASSERT_EQ(ui.log_lines.size(), 1u);     // the colour that does not convert
  EXPECT_NE(ui.log_lines[0].find("GCPResZCircle"), std::string::npos);
  int saved = 0;
  window.on_saved = [&saved](const display::DisplaySettings&) { ++saved; };

  const std::string before = ReadAll(grs);
  scale->setText("large");
  EXPECT_FALSE(window.Save());
  EXPECT_EQ(ui.shown.size(), 1u);
  EXPECT_NE(ui.LastText().find("CPResZ"), std::string::npos) << ui.LastText();
  EXPECT_EQ(ReadAll(grs), before);
  EXPECT_EQ(saved, 0);

  scale->setText("-12.5");
  window.findChild<QCheckBox*>("TPResXYEllipse.Visible")->setChecked(true);
  window.SetColor("TPResXYEllipse.Color", 255);
  ASSERT_TRUE(window.Save());
  EXPECT_EQ(saved, 1);
  std::vector<std::string> problems;
  const display::DisplaySettings stored = display::ReadDisplaySettings(grs, &problems);
  EXPECT_TRUE(problems.empty());
  EXPECT_EQ(stored.check_z_scale, 12.5);
  EXPECT_TRUE(stored.tie_xy_ellipse.visible);
  EXPECT_EQ(stored.tie_xy_ellipse.color, 255);
  EXPECT_EQ(stored.control_z_circle.color, display::kMagentaColorRef);  // the default again
  EXPECT_EQ(scale->text(), "12.500000");
}

}  // namespace
}  // namespace vantri::ui
