#include "points/point_manager.h"

#include <gtest/gtest.h>

#include "import/project_import.h"
#include "points/test_project.h"
#include "testing/scripted_ui.h"

namespace vantri::points {
namespace {

using import::SFIO_ControlPoint;

SFIO_ControlPoint Record(const std::string& id, double x, double y, double z, double var_xy = 0,
                         double var_z = 0) {
  SFIO_ControlPoint record{};
  import::SetRecordId(record.id, id);
  record.x = x;
  record.y = y;
  record.z = z;
  record.var_xy = var_xy;
  record.var_z = var_z;
  record.valid = 1;
  record.dimension = 3;
  return record;
}

class PointManagerTest : public test_support::ProjectTest {
 protected:
  PointManager Manager(PointKind kind = PointKind::kGcp) {
    PointManager::DrawingHooks hooks;
    hooks.redraw_symbols = [this] { ++redraws_; };
    hooks.remove_entity = [this](int id) { removed_entities_.push_back(id); };
    return PointManager(kind, project_, ui_, &results_, quality_, hooks);
  }
  CGCPCollMap Saved(PointKind kind = PointKind::kGcp) {
    CGCPCollMap saved;
    EXPECT_EQ(ReadPTCollFile(CollectionPath(project_, kind), &saved), 1);
    return saved;
  }
  // The import window on a file: every row selected, then its Import.
  PointManager::ImportWindow ImportFile(const std::string& path) {
    return [this, path](import::ImportMode mode, std::vector<SFIO_ControlPoint>* records) {
      import::PointImportModel model(mode, ui_);
      if (!model.OpenFile(path)) return false;
      model.SelectAll();
      return import::ImportControlPointsIntoProject(model, project_, records) == 1;
    };
  }

  PointResults results_;
  project::QualityClass quality_;
  int redraws_ = 0;
  std::vector<int> removed_entities_;
};

TEST_F(PointManagerTest, ImportingTheSameFileTwiceAddsNothingTheSecondTime) {
  const std::string file = WriteFile("gcp.txt",
                                     "# id,x,y,z\nA1,500100,4200100,310\n"
                                     "a2,500200,4200200,320\n");
  PointManager manager = Manager();
  EXPECT_TRUE(manager.Import(ImportFile(file)));
  EXPECT_EQ(ui_.LastText(), "2 control points imported");
  EXPECT_EQ(redraws_, 1);
  EXPECT_EQ(Saved().size(), 2u);

  EXPECT_FALSE(manager.Import(ImportFile(file)));
  EXPECT_EQ(ui_.LastText(), "No valid point to import or points already imported!");
  EXPECT_EQ(ui_.shown.back().icon, MessageIcon::kWarning);
  EXPECT_EQ(project_.gcps.size(), 2u);
  EXPECT_EQ(redraws_, 1);
}

TEST_F(PointManagerTest, NewPointsGetIdentifiersAboveTheLargestInUse) {
  PointManager manager = Manager(PointKind::kCheckPoint);
  EXPECT_EQ(manager.AddImported({Record("CP1", 1, 2, 3), Record("cp1", 4, 5, 6)}), 1);
  EXPECT_EQ(project_.check_points.at("Cp1").id, 100001);
  EXPECT_EQ(project_.check_points.at("cp1").x, 1);  // the later duplicate name is skipped

  project_.check_points.at("CP1").id = 100050;
  EXPECT_EQ(manager.AddImported({Record("CP2", 1, 2, 3)}), 1);
  EXPECT_EQ(project_.check_points.at("CP2").id, 100051);
  EXPECT_EQ(Saved(PointKind::kCheckPoint), project_.check_points);
}

TEST_F(PointManagerTest, ImportedPointsStartUnusedWithTheirPositiveVariances) {
  PointManager manager = Manager();
  manager.AddImported({Record("G1", 1, 2, 3, 0.04, 0), Record("G2", 1, 2, 3, -1, 0.09)});
  const CGCPCollEx& g1 = project_.gcps.at("G1");
  EXPECT_FALSE(g1.use);
  EXPECT_EQ(g1.xy_var, 0.04);
  EXPECT_EQ(g1.z_var, photogrammetry::kUndefinedVariance);
  EXPECT_EQ(project_.gcps.at("G2").xy_var, photogrammetry::kUndefinedVariance);
  EXPECT_EQ(project_.gcps.at("G2").z_var, 0.09);
}

TEST_F(PointManagerTest, ColumnsRowsAndLabel) {
  PointManager gcps = Manager();
  EXPECT_EQ(gcps.Title(), std::string("GCPs Manager"));
  EXPECT_EQ(gcps.Columns(), (std::vector<std::string>{"ID", "Measuremets", "ResX", "ResY", "ResZ",
                                                      "XY var", "Z var"}));
  EXPECT_EQ(gcps.ColumnWidths(700), (std::vector<int>{100, 100, 100, 100, 100, 100, 82}));
  PointManager cps = Manager(PointKind::kCheckPoint);
  EXPECT_EQ(cps.Title(), std::string("Check-Points Manager"));
  EXPECT_EQ(cps.ColumnWidths(500), (std::vector<int>{100, 100, 100, 100, 100}));
  EXPECT_TRUE(cps.VarianceMenu().empty());
  EXPECT_FALSE(gcps.CanRemove());

  gcps.AddImported({Record("B", 1, 2, 3, 0.25), Record("A", 1, 2, 3)});
  project_.gcps.at("A").res_x = -0.125;
  project_.gcps.at("A").measurements = {{0, 1, 1}, {1, 2, 2}, {2, 3, 3}};
  const std::vector<PointRow> rows = gcps.Rows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].cells,
            (std::vector<std::string>{"A", "3", "-0.125000", "0.000000", "0.000000", "-", "-"}));
  EXPECT_EQ(rows[1].cells[5], "0.250000");
  EXPECT_EQ(gcps.CountLabel(), "2 points added");
  EXPECT_TRUE(gcps.CanRemove());
  EXPECT_EQ(cps.Rows().size(), 0u);
  EXPECT_EQ(cps.CountLabel(), "0 points added");
}

TEST_F(PointManagerTest, RowColourFollowsUseMeasurementsAndResidual) {
  CGCPCollEx point;
  point.id = 100001;
  point.measurements = {{0, 0, 0}, {1, 0, 0}};
  point.use = false;
  EXPECT_EQ(RowColour(point, results_, quality_), kNotAdjustedColour);
  point.use = true;
  EXPECT_EQ(RowColour(point, results_, quality_), kNoResultColour);
  point.measurements.pop_back();
  EXPECT_EQ(RowColour(point, results_, quality_), kNotAdjustedColour);
  point.measurements.push_back({1, 0, 0});

  // Magnitude of (vx, vy, vz) against the thresholds 2.0 and 4.0: 2 is still high quality.
  const std::vector<std::pair<PointResult, int32_t>> cases = {
      {{0, 1.2, 1.6}, quality_.high_color},
      {{0, 1.2, 1.61}, quality_.middle_color},
      {{0, 0, -4.0}, quality_.middle_color},
      {{2.4, 3.2, 0.1}, quality_.low_color}};
  for (const auto& [result, colour] : cases) {
    results_[point.id] = result;
    EXPECT_EQ(RowColour(point, results_, quality_), colour) << result.Magnitude();
  }
}

TEST_F(PointManagerTest, ToggleSavesAndRecolours) {
  PointManager manager = Manager();
  manager.AddImported({Record("G1", 1, 2, 3)});
  project_.gcps.at("G1").measurements = {{0, 0, 0}, {1, 0, 0}};
  EXPECT_TRUE(manager.SetUse("g1", true));
  EXPECT_TRUE(Saved().at("G1").use);
  EXPECT_EQ(manager.Rows()[0].colour, kNoResultColour);
  EXPECT_TRUE(manager.Rows()[0].use);
  EXPECT_TRUE(manager.SetUse("G1", false));
  EXPECT_FALSE(Saved().at("G1").use);
  EXPECT_EQ(manager.Rows()[0].colour, kNotAdjustedColour);
  EXPECT_FALSE(manager.SetUse("nobody", true));
  EXPECT_EQ(redraws_, 3);
}

TEST_F(PointManagerTest, RemoveAsksAndTakesResultsAndEntitiesAlong) {
  PointManager manager = Manager();
  manager.AddImported({Record("G1", 1, 2, 3), Record("G2", 1, 2, 3), Record("G3", 1, 2, 3)});
  const int g1 = project_.gcps.at("G1").id;
  results_[g1] = {1, 1, 1};

  ui_.yes_no_answers = {false};
  EXPECT_FALSE(manager.RemoveSelected({"G1"}));
  EXPECT_EQ(project_.gcps.size(), 3u);
  EXPECT_EQ(ui_.LastText(), "Remove selected points?");

  ui_.yes_no_answers = {true};
  EXPECT_TRUE(manager.RemoveSelected({"g1"}));
  EXPECT_EQ(project_.gcps.count("G1"), 0u);
  EXPECT_EQ(results_.count(g1), 0u);
  EXPECT_EQ(removed_entities_, std::vector<int>{g1});
  EXPECT_EQ(Saved().size(), 2u);

  ui_.yes_no_answers = {true};
  EXPECT_TRUE(manager.RemoveAll());
  EXPECT_EQ(ui_.LastText(), "Remove all points?");
  EXPECT_EQ(ui_.shown.back().icon, MessageIcon::kQuestion);
  EXPECT_TRUE(Saved().empty());
  EXPECT_FALSE(manager.CanRemove());
  EXPECT_EQ(removed_entities_.size(), 3u);
}

TEST_F(PointManagerTest, VariancesAreAskedUntilValidAndMayBeUndefined) {
  PointManager manager = Manager();
  manager.AddImported({Record("G1", 1, 2, 3, 0.5, 0.5), Record("G2", 1, 2, 3)});
  EXPECT_EQ(manager.VarianceMenu(), (std::vector<std::string>{"Set value to all", "Clear all"}));

  ui_.value_answers = {"abc", "-0.1", " 0.0025 "};
  EXPECT_TRUE(manager.SetVarianceToAll(PointManager::VarianceColumn::kXY));
  EXPECT_EQ(ui_.Texts(), (std::vector<std::string>{"2 control points imported", "Invalid value!",
                                                   "Invalid value!"}));
  int prompts = 0;
  for (const ScriptedUi::Shown& shown : ui_.shown) {
    if (shown.kind != ScriptedUi::Kind::kPrompt) continue;
    EXPECT_EQ(shown.text, "Type new Var XY (\"-\" for undef value)");
    ++prompts;
  }
  EXPECT_EQ(prompts, 3);
  for (const auto& [name, point] : Saved()) {
    EXPECT_EQ(point.xy_var, 0.0025);
    EXPECT_NE(point.z_var, 0.0025);
  }

  ui_.value_answers = {"-"};
  EXPECT_TRUE(manager.SetVarianceToAll(PointManager::VarianceColumn::kXY));
  EXPECT_EQ(Saved().at("G1").xy_var, photogrammetry::kUndefinedVariance);

  ui_.value_answers = {std::nullopt};  // cancelled
  EXPECT_FALSE(manager.SetVarianceToAll(PointManager::VarianceColumn::kZ));
  EXPECT_EQ(project_.gcps.at("G1").z_var, 0.5);
  EXPECT_TRUE(manager.ClearVariance(PointManager::VarianceColumn::kZ));
  EXPECT_EQ(Saved().at("G1").z_var, photogrammetry::kUndefinedVariance);
}

TEST_F(PointManagerTest, ClosesWithoutProject) {
  CVantriProject none;
  PointManager manager(PointKind::kGcp, none, ui_);
  EXPECT_FALSE(manager.CanOpen());
  EXPECT_TRUE(Manager().CanOpen());
}

}  // namespace
}  // namespace vantri::points
