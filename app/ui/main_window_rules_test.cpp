#include "ui/main_window_rules.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "testing/scripted_ui.h"
#include "testing/temp_folder.h"
#include "ui_interface/ui.h"

namespace vantri::ui {
namespace {

using enum Command;

ProjectFacts OpenProject(int images, int without_gps) {
  ProjectFacts facts;
  facts.open = true;
  facts.image_count = images;
  facts.images_without_gps_imu = without_gps;
  return facts;
}

TEST(CommandStates, NoProjectOffersOnlyNewOpenAndTheProjectFreeCommands) {
  const CommandStates states = ComputeCommandStates(ProjectFacts{});
  EXPECT_TRUE(states.IsEnabled(kNew));
  EXPECT_TRUE(states.IsEnabled(kOpen));
  for (Command command : {kSave, kSettings, kImagesManager, kSearchTiePoints, kGcp, kCheckPoints,
                          kRunBundle, kViewReport, kGraphicReport, kProjectInfo, kCameraInfo,
                          kCoordinateSystem, kUseExternalDem, kExportToPlotara}) {
    EXPECT_FALSE(states.IsEnabled(command)) << InfoOf(command).label;
  }
  EXPECT_TRUE(states.IsEnabled(kExit));
  EXPECT_TRUE(states.IsEnabled(kThresholds));
  EXPECT_TRUE(states.log_warning.empty());
}

TEST(CommandStates, ProjectWithoutImagesOffersSettingsAndImagesManagerOnly) {
  const CommandStates states = ComputeCommandStates(OpenProject(0, 0));
  EXPECT_FALSE(states.IsEnabled(kNew));
  EXPECT_FALSE(states.IsEnabled(kOpen));
  EXPECT_TRUE(states.IsEnabled(kSettings));
  EXPECT_TRUE(states.IsEnabled(kImagesManager));
  EXPECT_TRUE(states.IsEnabled(kSave));
  EXPECT_FALSE(states.IsEnabled(kSearchTiePoints));
  EXPECT_FALSE(states.IsEnabled(kRunBundle));
  EXPECT_TRUE(states.log_warning.empty());
}

TEST(CommandStates, OneImageWithoutGpsImuKeepsTheSearchDisabledWithTheWarning) {
  const CommandStates states = ComputeCommandStates(OpenProject(24, 1));
  EXPECT_FALSE(states.IsEnabled(kSearchTiePoints));
  EXPECT_EQ(states.log_warning, "Warning: not all images have GPS/IMU data");
  // Every refresh says it again.
  EXPECT_EQ(ComputeCommandStates(OpenProject(24, 1)).log_warning, states.log_warning);
}

TEST(CommandStates, BundleCommandsFollowTiePointsAndTheWaitingState) {
  ProjectFacts facts = OpenProject(24, 0);
  CommandStates states = ComputeCommandStates(facts);
  EXPECT_TRUE(states.IsEnabled(kSearchTiePoints));
  EXPECT_FALSE(states.IsEnabled(kRunBundle));
  EXPECT_FALSE(states.search_has_tie_points_icon);

  facts.tie_points_exist = true;
  facts.waiting_for_tie_point_search = true;
  states = ComputeCommandStates(facts);
  EXPECT_FALSE(states.IsEnabled(kGcp));
  EXPECT_FALSE(states.IsEnabled(kRunBundle));
  EXPECT_TRUE(states.search_has_tie_points_icon);

  facts.waiting_for_tie_point_search = false;
  states = ComputeCommandStates(facts);
  for (Command command : {kGcp, kCheckPoints, kRunBundle}) EXPECT_TRUE(states.IsEnabled(command));
  EXPECT_FALSE(states.IsEnabled(kViewReport));
  EXPECT_FALSE(states.IsEnabled(kGraphicReport));

  facts.report_exists = true;
  facts.gcps_exist = true;
  states = ComputeCommandStates(facts);
  EXPECT_TRUE(states.IsEnabled(kViewReport));
  EXPECT_TRUE(states.IsEnabled(kGraphicReport));
  EXPECT_TRUE(states.bundle_has_gcps_icon);

  // A report without a possible bundle run (an image lost its GPS/IMU data)
  // does not count.
  facts.images_without_gps_imu = 1;
  states = ComputeCommandStates(facts);
  EXPECT_FALSE(states.IsEnabled(kViewReport));
  EXPECT_FALSE(states.IsEnabled(kRunBundle));
}

TEST(TimeToComplete, PlainTextUntilTwoPercentThenMinutesAndSeconds) {
  EXPECT_EQ(TimeToCompleteText(10, 0, 100, 2, "Matching", "Searching"), "Searching");
  EXPECT_EQ(TimeToCompleteText(10, 0, 0, 0, "", "Idle"), "Idle");
  // 25 % after 30 s: 90 s remain.
  EXPECT_EQ(TimeToCompleteText(30, 0, 100, 25, "", ""), "1 minute, 30 seconds remaining");
  EXPECT_EQ(TimeToCompleteText(121, 0, 100, 50, "", ""), "2 minutes, 1 second remaining");
  EXPECT_EQ(TimeToCompleteText(1, 0, 100, 50, "Images", ""), "Images 1 second remaining");
  EXPECT_EQ(TimeToCompleteText(10, 0, 100, 100, "", ""), "Completing process");
  // The range need not start at 0.
  EXPECT_EQ(TimeToCompleteText(20, 100, 200, 150, "", ""), "20 seconds remaining");
}

// A scripted UI whose clock the test moves.
class ClockedUi : public ScriptedUi {
 public:
  std::chrono::steady_clock::time_point now{};

 protected:
  std::chrono::steady_clock::time_point SteadyNow() const override { return now; }
};

TEST(LogLines, ElapsedTimeFollowsTheInjectedClockAndNewestLineComesFirst) {
  ClockedUi ui;
  ui.StartOperationClock();
  ui.now += std::chrono::seconds(65);
  ui.Log("first");
  ASSERT_EQ(ui.log_lines.size(), 1u);
  EXPECT_NE(ui.log_lines[0].find("(elpsed time 0001:05) first - physical RAM: "),
            std::string::npos);

  LogLines list;
  for (const char* line : {"a", "b", "c"}) list.Insert(line);
  ASSERT_EQ(list.Newest().size(), 3u);
  EXPECT_EQ(list.Newest().front(), "c");
  EXPECT_EQ(list.Newest().back(), "a");

  LogLines short_list(2);
  for (const char* line : {"a", "b", "c"}) short_list.Insert(line);
  EXPECT_EQ(short_list.Newest(), (std::deque<std::string>{"c", "b"}));
}

TEST(MainWindowCommands, ExitAsksAndTheTutorialReportsItsAbsence) {
  ScriptedUi ui;
  ui.yes_no_answers = {false, true};
  EXPECT_FALSE(ConfirmExit(ui));
  EXPECT_TRUE(ConfirmExit(ui));
  EXPECT_EQ(ui.shown[0].text, "Do you really want to exit?");
  EXPECT_EQ(ui.shown[0].icon, MessageIcon::kQuestion);

  const test_support::TempFolder temp;
  const std::filesystem::path folder = temp / "install";
  EXPECT_FALSE(OpenTutorial(ui, folder.string(), "vantri"));
  EXPECT_EQ(ui.LastText(), kTutorialMissing);
  EXPECT_EQ(ui.shown.back().icon, MessageIcon::kExclamation);

  std::filesystem::create_directories(folder / "tutorial");
  std::ofstream(folder / "tutorial" / "vantri.html") << "<html></html>";
  EXPECT_EQ(FindTutorial(folder.string(), "vantri"),
            (folder / "tutorial" / "vantri.html").string());
}

}  // namespace
}  // namespace vantri::ui
