// The result display of the sample survey drawn on the main window's drawing view: every model
// layer becomes a group with its entities and visibility; a screenshot of the graphic report is
// written to the build folder (graphic-report.png).
#include "ui/display_drawing.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QGraphicsEllipseItem>
#include <QGraphicsSimpleTextItem>
#include <filesystem>

#include "display/result_display.h"
#include "project/footprints.h"
#include "project/project.h"
#include "project/project_flows.h"
#include "report/sample_results.h"
#include "testing/scripted_ui.h"
#include "testing/temp_folder.h"
#include "ui/drawing_view.h"

namespace vantri::ui {
namespace {

QApplication& App() {
  static int argc = 1;
  static char name[] = "display_drawing_test";
  static char* argv[] = {name, nullptr};
  if (getenv("DISPLAY") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 0);
  static QApplication app(argc, argv);
  return app;
}

int CountOf(const QGraphicsItemGroup* group, int type) {
  int count = 0;
  for (const QGraphicsItem* item : group->childItems()) count += item->type() == type;
  return count;
}

TEST(DisplayDrawing, TheSampleSurveysResultsAreDrawnLayerByLayer) {
  App();
  test_support::ScopedVantriHome home;
  test_support::TempFolder folder;
  std::string error;
  ASSERT_TRUE(test_support::WriteSampleProject(test_support::SampleBlockDir(), folder / "job",
                                               "job", {}, &error))
      << error;
  CVantriProject project;
  ScriptedUi ui;
  ASSERT_EQ(project::OpenProjectPath(project, ui, folder / "job/job.bun"), 1);
  const display::DisplayResults results = display::ReadDisplayResults(project, &ui);
  display::DisplaySettings settings;
  settings.image_xy_ellipse = {true, true, display::kCyanColorRef};
  settings.image_xy_scale = 400;
  settings.image_xy_vector = true;
  settings.control_xy_ellipse = {true, false, 0xC000C0};
  settings.control_xy_scale = 4000;
  settings.check_xy_vector = true;
  settings.check_xy_scale = 4000;
  const display::DisplayModel model =
      display::BuildDisplayModel(project, results, project::QualityThresholds{}, settings);

  // Footprints on the mean ground height of the survey.
  project::UpdateImageBounds(
      project, ui,
      [](const Eigen::Vector3d&, const Eigen::Vector3d&, Eigen::Vector3d*) { return false; },
      [](double, double) { return 420.0; });

  DrawingView view;
  view.resize(1200, 800);
  view.ShowProject(project);
  // The results replace the view's own point layers.
  for (DrawingLayer layer :
       {DrawingLayer::kTiePoints, DrawingLayer::kGcps, DrawingLayer::kCheckPoints})
    view.SetLayerVisible(layer, false);
  std::vector<DrawnLayer> drawn = DrawDisplayModel(model, *view.scene());
  ASSERT_EQ(drawn.size(), model.layers.size());
  for (size_t i = 0; i < drawn.size(); ++i) {
    const display::Layer& layer = model.layers[i];
    EXPECT_EQ(drawn[i].name, layer.name);
    EXPECT_EQ(drawn[i].group->isVisible(), layer.visible) << layer.name;
    EXPECT_EQ(drawn[i].group->data(0).toString().toStdString(), layer.name);
  }
  const QGraphicsItemGroup* gcp = drawn[2].group;
  ASSERT_EQ(drawn[2].name, "GCP");
  EXPECT_EQ(CountOf(gcp, QGraphicsEllipseItem::Type), 6);
  EXPECT_EQ(CountOf(gcp, QGraphicsSimpleTextItem::Type), 6);  // labels
  EXPECT_EQ(CountOf(drawn[0].group, QGraphicsEllipseItem::Type),
            static_cast<int>(model.tie_points.size()));
  EXPECT_GT(model.tie_points.size(), 0u);

  view.show();
  QApplication::processEvents();
  view.ResetView();
  QApplication::processEvents();

  const char* out_dir = getenv("VANTRI_SCREENSHOT_DIR");
  EXPECT_TRUE(view.grab().save(
      QString::fromStdString(out_dir != nullptr ? std::string(out_dir) + "/graphic-report.png"
                                                : folder / "graphic-report.png")));

  RemoveDrawnLayers(drawn, *view.scene());
  EXPECT_TRUE(drawn.empty());
}

}  // namespace
}  // namespace vantri::ui
