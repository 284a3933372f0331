#include "ui/processing_rules.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "project/project.h"
#include "testing/scripted_ui.h"
#include "testing/temp_folder.h"
#include "ui/main_window_rules.h"

namespace vantri::ui {
namespace {

namespace fs = std::filesystem;

// An open project "block" in a temporary folder, with one image carrying GPS/IMU data.
struct OpenProject {
  test_support::TempFolder temp;
  CVantriProject project;
  OpenProject() {
    project.folder = temp.path() + "/";
    project.name = "block";
    project.passport = std::make_unique<CBCCCameraPassport>();
    CABAImage& image = project.AppendImage(temp / "101.jpg");
    image.x = 1, image.y = 2, image.z = 3, image.omega = 0.1;
  }
  void Touch(const std::string& relative) {
    fs::create_directories(fs::path(project.folder + relative).parent_path());
    std::ofstream(project.folder + relative) << "x";
  }
};

TEST(TiePointSearchStart, AsksOnlyWhenAnEarlierSearchLeftExchangeFiles) {
  OpenProject block;
  ScriptedUi ui;
  std::string resume = "stale";
  // Nothing earlier (a .vtp alone is no exchange file): both commands start fresh, unasked.
  block.Touch("TiePoints/block_0.vtp");
  EXPECT_EQ(PrepareTiePointSearch(block.project, ui, false, &resume), SearchStart::kFresh);
  EXPECT_EQ(PrepareTiePointSearch(block.project, ui, true, &resume), SearchStart::kFresh);
  EXPECT_TRUE(resume.empty());
  EXPECT_TRUE(ui.shown.empty());

  block.Touch("TiePoints/block_1.bro");
  ui.yes_no_answers = {false, true};
  EXPECT_EQ(PrepareTiePointSearch(block.project, ui, false, &resume), SearchStart::kCancelled);
  EXPECT_EQ(ui.LastText(), kSearchDeletesResults);
  EXPECT_EQ(ui.shown.back().icon, MessageIcon::kQuestion);
  EXPECT_EQ(PrepareTiePointSearch(block.project, ui, false, &resume), SearchStart::kFresh);

  // Recover: the file dialog; cancelling ends the command.
  EXPECT_EQ(PrepareTiePointSearch(block.project, ui, true, &resume), SearchStart::kCancelled);
  EXPECT_EQ(ui.shown.back().kind, ScriptedUi::Kind::kOpenFile);
  ui.file_answers = {block.project.folder + "TiePoints/block_1.bro"};
  EXPECT_EQ(PrepareTiePointSearch(block.project, ui, true, &resume), SearchStart::kResume);
  EXPECT_EQ(resume, block.project.folder + "TiePoints/block_1.bro");
}

TEST(TiePointSearchStart, AbortNeedsYesAndResetsTheProgressBar) {
  ScriptedUi ui;
  ui.progress_position = 7;
  ui.yes_no_answers = {false, true};
  EXPECT_FALSE(ConfirmAbort(ui));
  EXPECT_FALSE(ui.IsAborted());
  EXPECT_EQ(ui.progress_position, 7);
  EXPECT_TRUE(ConfirmAbort(ui));
  EXPECT_EQ(ui.LastText(), "Abort Process?");
  EXPECT_TRUE(ui.IsAborted());
  EXPECT_EQ(ui.progress_position, 0);

  // A finished search clears the flag again and the bundle commands open up.
  OpenProject block;
  EXPECT_FALSE(ComputeCommandStates(GatherProjectFacts(block.project)).IsEnabled(Command::kGcp));
  FinishTiePointSearch(block.project, ui, 240);
  EXPECT_FALSE(ui.IsAborted());
  EXPECT_EQ(block.project.used_tie_points, 240);
  EXPECT_TRUE(ComputeCommandStates(GatherProjectFacts(block.project)).IsEnabled(Command::kGcp));
}

TEST(TiePointSearchStart, TheBlockOfAnEarlierSearchCountsAfterReopening) {
  OpenProject block;
  EXPECT_FALSE(GatherProjectFacts(block.project).tie_points_exist);
  block.Touch("block.bro");
  const ProjectFacts facts = GatherProjectFacts(block.project);
  EXPECT_TRUE(facts.tie_points_exist);
  EXPECT_FALSE(facts.waiting_for_tie_point_search);
  EXPECT_TRUE(ComputeCommandStates(facts).IsEnabled(Command::kRunBundle));
}

TEST(ProcessingWindows, ProgressWindowTakesTheScreenFromTwentyPercentAndReportsAreListed) {
  const WindowRect rect = ProgressWindowRect(0, 0, 1920, 1080);
  EXPECT_EQ(rect.x, 384);
  EXPECT_EQ(rect.y, 216);
  EXPECT_EQ(rect.width, 1536);
  EXPECT_EQ(rect.height, 864);
  const WindowRect second = ProgressWindowRect(1920, 0, 1000, 500);  // a second screen
  EXPECT_EQ(second.x, 2120);
  EXPECT_EQ(second.x + second.width, 2920);

  OpenProject block;
  EXPECT_TRUE(BundleReportFiles(block.project).empty());
  block.Touch("Bundle/block.html");
  block.Touch("Bundle/block.atout");
  EXPECT_EQ(BundleReportFiles(block.project),
            (std::vector<std::string>{block.project.folder + "Bundle/block.atout",
                                      block.project.folder + "Bundle/block.html"}));
  CVantriProject closed;
  EXPECT_TRUE(BundleReportFiles(closed).empty());
}

TEST(RunBundle, WithoutASearchSaysSoAndWritesNothing) {
  OpenProject block;
  ScriptedUi ui;
  std::string message;
  EXPECT_EQ(RunBundleWithNotice(block.project, ui, &message), 0);
  EXPECT_EQ(message, "Run tie points searching before!");
  EXPECT_EQ(ui.LastText(), "Run tie points searching before!");
  EXPECT_EQ(ui.shown.back().icon, MessageIcon::kWarning);
  EXPECT_FALSE(fs::exists(block.project.folder + "Bundle"));
}

}  // namespace
}  // namespace vantri::ui

namespace vantri::ui {
namespace {

TEST(PointResults, ResidualsOfTheLastRunAreMatchedToThePointsByName) {
  OpenProject block;
  CGCPCollEx point;
  point.id = 100001;
  point.name = "GCP1";
  block.project.gcps.emplace("GCP1", point);
  EXPECT_TRUE(LoadPointResults(block.project, points::PointKind::kGcp).empty());
  fs::create_directories(block.project.folder + "Bundle");
  std::ofstream(block.project.folder + "Bundle/block.gcpres")
      << "# Vantri - v 0.1.0\n"
      << "# Aerial Triangulation Ground Control Points Coordinates and Residuals\n#\n"
      << "#       Point ID              X/m              Y/m              Z/m         vX/m"
         "         vY/m         vZ/m\n\n"
      << "            gcp1    500000.000000   5200000.000000       400.000000     0.030000"
         "    -0.040000     0.000000\n";
  const points::PointResults results = LoadPointResults(block.project, points::PointKind::kGcp);
  ASSERT_EQ(results.count(100001), 1u);
  EXPECT_DOUBLE_EQ(results.at(100001).Magnitude(), 0.05);
  EXPECT_TRUE(LoadPointResults(block.project, points::PointKind::kCheckPoint).empty());
}

}  // namespace
}  // namespace vantri::ui
