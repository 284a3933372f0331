#include "project/process_settings.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "project/quality_thresholds.h"
#include "project/settings_window.h"
#include "system/files.h"
#include "system/nvtools.h"
#include "testing/scripted_ui.h"
#include "testing/temp_folder.h"
#include "ui_interface/ui.h"

namespace vantri::project {
namespace {

using namespace vantri::project::settings_names;

struct Settings : testing::Test {
  void SetUp() override {
    folder = temp.path();
    setenv("VANTRI_HOME", folder.c_str(), 1);
    settings.SetUi(&ui);
  }
  // Validation of the defaults with one value changed: the messages shown.
  std::vector<std::string> MessagesWith(const std::string& property, const std::string& value) {
    CVantriSettings s;
    s.SetUi(&ui);
    s.SetValue(property, value);
    ui.shown.clear();
    s.Validate();
    return ui.Texts();
  }
  vantri::test_support::TempFolder temp;
  std::string folder;
  vantri::ScriptedUi ui;
  CVantriSettings settings;
};

TEST_F(Settings, DefaultsSavedAndLoadedGiveIdenticalTablesAndTypedValues) {
  const std::string path = folder + "/settings.ini";
  ASSERT_EQ(settings.Save(path), 1);
  std::string text;
  ASSERT_TRUE(vantri::system::ReadWholeFile(path, text));
  EXPECT_NE(text.find("=25:9:16:25:36:49:64"), std::string::npos);
  EXPECT_NE(text.find("groupName=Max points to search per image"), std::string::npos);

  CVantriSettings loaded;
  loaded.SetUi(&ui);
  loaded.groups.clear();
  loaded.values.clear();
  ASSERT_EQ(loaded.Load(path), 1);
  EXPECT_TRUE(ui.shown.empty());  // same program version: no question
  ASSERT_EQ(loaded.groups.size(), settings.groups.size());
  for (size_t k = 0; k < settings.groups.size(); ++k) {
    EXPECT_EQ(loaded.groups[k].name, settings.groups[k].name);
    EXPECT_EQ(loaded.groups[k].properties, settings.groups[k].properties);
  }
  EXPECT_EQ(loaded.values, settings.values);
  EXPECT_EQ(loaded.descriptions, settings.descriptions);
  EXPECT_EQ(loaded.typed.template_size, 64);
  EXPECT_EQ(loaded.typed.search_area_size, 640);
  EXPECT_DOUBLE_EQ(loaded.typed.correlation_threshold, 0.55);
  EXPECT_EQ(loaded.typed.max_points_to_search, 25);
  EXPECT_EQ(loaded.typed.max_reprojection_error, 5);
  EXPECT_EQ(loaded.typed.min_iterations, 10.0);
  EXPECT_EQ(loaded.typed.max_iterations, 500.0);
  EXPECT_EQ(loaded.typed.convergence_threshold, 1e-12);
  EXPECT_EQ(loaded.typed.gcps_weight, 2.0);
  EXPECT_FALSE(loaded.typed.show_report);
  EXPECT_EQ(loaded.typed.smtp_server, "<insert SMTP server address>");
  EXPECT_EQ(loaded.Choices(kMaxPointsToSearch), (TextList{"9", "16", "25", "36", "49", "64"}));
}

TEST_F(Settings, LoadWithoutFileOrPathLeavesTablesAlone) {
  settings.SetValue(kTemplateSize, "32");
  EXPECT_EQ(settings.Load(folder + "/missing.ini"), 1);
  EXPECT_EQ(settings.Value(kTemplateSize), "32");
  EXPECT_EQ(settings.Load(""), 0);
  EXPECT_EQ(settings.Save(""), 0);
}

TEST_F(Settings, OtherProgramVersionAsksOncePerLoadAndNoKeepsTheSettings) {
  const std::string path = folder + "/settings.ini";
  CVantriSettings older;
  older.SetSoftwareVersion("0.0.9");
  older.SetValue(kTemplateSize, "100");
  ASSERT_EQ(older.Save(path), 1);

  ui.yes_no_answers = {false};
  EXPECT_EQ(settings.Load(path), 0);
  ASSERT_EQ(ui.shown.size(), 1u);
  EXPECT_EQ(ui.shown[0].icon, vantri::MessageIcon::kExclamation);
  EXPECT_NE(ui.shown[0].text.find("(saved 0.0.9 - current "), std::string::npos);
  EXPECT_EQ(settings.Value(kTemplateSize), "64");

  ui.yes_no_answers = {true};
  EXPECT_EQ(settings.Load(path), 1);
  EXPECT_EQ(ui.shown.size(), 2u);
  EXPECT_EQ(settings.typed.template_size, 100);
}

// Counts that claim far more than the file holds once kept Load looping for minutes; now the file
// is refused with a warning, the current settings stay and nothing is rewritten.
TEST_F(Settings, DamagedCountsAreRefusedAndTheSettingsKept) {
  const std::string path = folder + "/settings.ini";
  settings.SetSoftwareVersion("7.7");
  const std::string version = "SoftwareVer=7.7\n";
  const std::string damaged[] = {
      "[Settings]\nnGroup=2000000000\n" + version,
      "[Settings]\nnGroup=-5\n" + version,
      "[Settings]\nnGroup=1\n" + version + "[grp0]\ngroupName=g\nnProp=2147483647\n",
      "[Settings]\nnGroup=1\n" + version + "[grp0]\ngroupName=g\nnProp=99999999999999\n",
      "[Settings]\nnGroup=1\n" + version + "[grp0]\ngroupName=g\nnProp=5\nprop0name=a\n",
  };
  settings.SetValue(kTemplateSize, "32");
  for (const std::string& text : damaged) {
    ASSERT_TRUE(vantri::system::WriteFileAtomically(path, text));
    ui.shown.clear();
    EXPECT_EQ(settings.Load(path), 1) << text;
    ASSERT_EQ(ui.shown.size(), 1u) << text;
    EXPECT_EQ(ui.shown[0].icon, vantri::MessageIcon::kExclamation);
    EXPECT_NE(ui.shown[0].text.find("is damaged"), std::string::npos) << ui.shown[0].text;
    EXPECT_EQ(settings.Value(kTemplateSize), "32") << text;
    EXPECT_EQ(settings.groups.size(), CVantriSettings().groups.size());
  }
}

TEST_F(Settings, TypedValuesUseThePlainConversions) {
  const std::string path = folder + "/settings.ini";
  settings.SetValue(kTemplateSize, "abc");
  settings.SetValue(kMinIterations, "12.7");
  settings.SetValue(kShowReport, "YES");
  settings.SetValue(kSendEmail, "No");
  ASSERT_EQ(settings.Save(path), 1);
  CVantriSettings loaded;
  ASSERT_EQ(loaded.Load(path), 1);
  EXPECT_EQ(loaded.typed.template_size, 0);
  EXPECT_EQ(loaded.typed.min_iterations, 12.0);
  EXPECT_TRUE(loaded.typed.show_report);
  EXPECT_FALSE(loaded.typed.send_email);
}

TEST_F(Settings, ValidationBoundaries) {
  struct Case {
    const char* property;
    const char* value;
    const char* message;  // empty: accepted
  };
  const Case cases[] = {
      {kTemplateSize, "320", ""},
      {kTemplateSize, "321", "Search area size value must at least the double of template size"},
      {kTemplateSize, "0", "Template size value must be between 1 and half of search area size"},
      {kCorrelation, "0.3", ""},
      {kCorrelation, "0.95", ""},
      {kCorrelation, "0.29", "Cross correlation coefficient must be included between 0.3 and 0.95"},
      {kCorrelation, "0.96", "Cross correlation coefficient must be included between 0.3 and 0.95"},
      {kCorrelation, "nan", "Cross correlation coefficient must be included between 0.3 and 0.95"},
      {kMaxPointsPerImage, "3", ""},
      {kMaxPointsPerImage, "2", "Max number of points per image must be higher than 3"},
      {kMinMeasurements, "2", ""},
      {kMinMeasurements, "1", "Min number of measurements per point must be higher than 2"},
      {kMaxReprojectionError, "1", ""},
      {kMaxReprojectionError, "0", "Max reprojection error must be higher than 1"},
      {kMinIterations, "0", "Min number of iterations must be greater than 0"},
      {kMaxIterations, "10", ""},
      {kMaxIterations, "9",
       "Max number of iterations must be greater than 'Min number of iterations'"},
      {kConvergence, "0", "Convergence threshold must be greater than 0.0"},
      {kStdDevUnitWeight, "-1", "Std-dev of unit weight must be greater than 0.0"},
      {kGcpsWeight, "1.0", ""},
      {kGcpsWeight, "0.99", "GCPs weight must be equal to or greater than 1.0"},
      {kGpsAccuracy, "0", ""},
      {kGpsAccuracy, "0.05", ""},
      {kGpsAccuracy, "-0.01", "GPS accuracy must be 0 or a positive number of metres"},
      {kGpsAccuracy, "nan", "GPS accuracy must be 0 or a positive number of metres"},
  };
  for (const Case& c : cases) {
    const std::vector<std::string> shown = MessagesWith(c.property, c.value);
    if (*c.message == '\0') {
      EXPECT_TRUE(shown.empty()) << c.property << "=" << c.value << ": " << shown[0];
    } else {
      ASSERT_EQ(shown.size(), 1u) << c.property << "=" << c.value;
      EXPECT_EQ(shown[0], c.message) << c.property << "=" << c.value;
      EXPECT_EQ(ui.shown[0].icon, vantri::MessageIcon::kInformation);
    }
  }
}

TEST_F(Settings, ValidationReportsTheFirstFailingRuleOnly) {
  settings.SetValue(kTemplateSize, "0");
  settings.SetValue(kCorrelation, "2");
  settings.SetValue(kGcpsWeight, "0");
  EXPECT_EQ(settings.Validate(), 0);
  EXPECT_EQ(ui.Texts(), std::vector<std::string>{
                            "Template size value must be between 1 and half of search area size"});
  settings.SetValue(kTemplateSize, "64");
  ui.shown.clear();
  EXPECT_EQ(settings.Validate(), 0);
  EXPECT_EQ(ui.LastText(), "Cross correlation coefficient must be included between 0.3 and 0.95");
}

TEST_F(Settings, EmailPlaceholdersMatterOnlyWhenTheAlertIsOn) {
  EXPECT_EQ(settings.Validate(), 1);
  settings.SetValue(kSendEmail, "Yes");
  EXPECT_EQ(settings.Validate(), 0);
  EXPECT_EQ(ui.LastText(), "Insert at least a email recipient address!");
  settings.SetValue(kRecipients, "ops@example.org");
  EXPECT_EQ(settings.Validate(), 0);
  EXPECT_EQ(ui.LastText(), "Insert the SMTP server!");
  settings.SetValue(kSmtpServer, "localhost");
  EXPECT_EQ(settings.Validate(), 0);
  EXPECT_EQ(ui.LastText(), "Insert the email subject!");
  settings.SetValue(kEmailSubject, "done");
  EXPECT_EQ(settings.Validate(), 1);

  settings.values.erase(kEmailSubject);
  ui.shown.clear();
  EXPECT_EQ(settings.Validate(), 0);
  EXPECT_TRUE(ui.shown.empty());
}

TEST_F(Settings, SubpixelMatchingIsAYesNoSwitchOffByDefaultAndOptionalInOldFiles) {
  EXPECT_EQ(settings.GroupOf(kSubpixelMatching), "Max points to search per image");
  EXPECT_EQ(settings.Value(kSubpixelMatching), "no");
  EXPECT_EQ(settings.Choices(kSubpixelMatching), (TextList{"no", "yes"}));
  EXPECT_FALSE(settings.typed.subpixel_matching);
  EXPECT_EQ(MessagesWith(kSubpixelMatching, "maybe"),
            (std::vector<std::string>{"Sub-pixel matching must be yes or no"}));

  settings.SetValue(kSubpixelMatching, "yes");
  const std::string path = folder + "/settings.ini";
  ASSERT_EQ(settings.Save(path), 1);
  CVantriSettings loaded;
  ASSERT_EQ(loaded.Load(path), 1);
  EXPECT_TRUE(loaded.typed.subpixel_matching);
  EXPECT_EQ(loaded.Validate(), 1);

  // A file written before the setting existed loads and validates with matching as specified.
  CVantriSettings old;
  for (SettingsGroup& group : old.groups) std::erase(group.properties, kSubpixelMatching);
  old.values.erase(kSubpixelMatching);
  old.descriptions.erase(kSubpixelMatching);
  const std::string old_path = folder + "/old.ini";
  ASSERT_EQ(old.Save(old_path), 1);
  ASSERT_EQ(loaded.Load(old_path), 1);
  EXPECT_FALSE(loaded.HasProperty(kSubpixelMatching));
  EXPECT_FALSE(loaded.typed.subpixel_matching);
  EXPECT_EQ(loaded.Validate(), 1);
}

TEST_F(Settings, MissingPropertyFailsValidationSilently) {
  settings.values.erase(kConvergence);
  EXPECT_EQ(settings.Validate(), 0);
  EXPECT_TRUE(ui.shown.empty());
}

TEST_F(Settings, WindowEditsChecksRestoresAndCommitsOnlyValidValues) {
  SettingsWindowModel window(settings);
  std::vector<SettingsWindowModel::Row> rows = window.Rows();
  ASSERT_EQ(rows.size(), 4u + 19u);
  EXPECT_TRUE(rows[0].is_group);
  EXPECT_EQ(rows[4].property, kMaxPointsToSearch);
  EXPECT_EQ(rows[4].choices.size(), 6u);

  EXPECT_EQ(window.SetValue(kMaxPointsToSearch, "30"), 0);  // not among the choices
  EXPECT_EQ(window.SetValue(kRecipients, "a@b.org:c@d.org"), 0);
  EXPECT_EQ(window.SetValue("No such property", "1"), 0);
  EXPECT_EQ(ui.shown.size(), 3u);
  EXPECT_EQ(window.SetValue(kMaxPointsToSearch, "36"), 1);
  EXPECT_EQ(window.SetValue(kTemplateSize, "400"), 1);

  EXPECT_EQ(window.Ok(), 0);  // 400 * 2 > 640
  EXPECT_EQ(ui.LastText(), "Search area size value must at least the double of template size");
  EXPECT_EQ(settings.Value(kTemplateSize), "64");

  window.Restore();
  EXPECT_EQ(window.ShownValue(kMaxPointsToSearch), "25");
  EXPECT_EQ(window.SetValue(kTemplateSize, "100"), 1);
  window.SetAlphabetical(true);
  rows = window.Rows();
  EXPECT_EQ(rows.size(), 19u);
  EXPECT_EQ(rows.front().property, kConvergence);
  for (const auto& row : rows) EXPECT_EQ(row.modified, row.property == kTemplateSize);

  EXPECT_EQ(window.Ok(), 1);
  EXPECT_EQ(settings.Value(kTemplateSize), "100");
  EXPECT_EQ(settings.values[kMaxPointsToSearch],
            (TextList{"25", "9", "16", "25", "36", "49", "64"}));
}

TEST_F(Settings, QualityThresholdsCheckOrderProfileRoundTripAndColours) {
  QualityThresholds thresholds = QualityThresholds::LoadFromProfile();
  EXPECT_EQ(thresholds.tie_points.high_threshold, 2.0);
  EXPECT_EQ(thresholds.gcps.middle_color, 56540);

  EXPECT_EQ(CheckQualityThresholds(ui, "4.0", "4.0", "1", "2", thresholds), 0);
  EXPECT_EQ(ui.LastText(), "Middle quality value must be greater than good quality value!");
  EXPECT_EQ(CheckQualityThresholds(ui, "1", "3", "x", "2", thresholds), 0);
  EXPECT_EQ(ui.LastText(), "The value of good quality is not valid!");
  EXPECT_EQ(CheckQualityThresholds(ui, "1", "", "1", "2", thresholds), 0);
  EXPECT_EQ(ui.LastText(), "The value of middle quality is not valid!");
  EXPECT_EQ(thresholds.tie_points.high_threshold, 2.0);

  ASSERT_EQ(CheckQualityThresholds(ui, "1.5", "3", "0.1", "0.25", thresholds), 1);
  thresholds.gcps.low_color = 255;
  ASSERT_EQ(thresholds.SaveToProfile(), 1);
  const QualityThresholds loaded = QualityThresholds::LoadFromProfile();
  EXPECT_EQ(loaded.tie_points.high_threshold, 1.5);
  EXPECT_EQ(loaded.gcps.middle_threshold, 0.25);
  EXPECT_EQ(loaded.gcps.low_color, 255);

  const QualityClass& q = loaded.tie_points;
  EXPECT_EQ(q.ColorFor(1.5), q.high_color);
  EXPECT_EQ(q.ColorFor(1.6), q.middle_color);
  EXPECT_EQ(q.ColorFor(3.0), q.middle_color);
  EXPECT_EQ(q.ColorFor(3.1), q.low_color);

  NVT_WriteUserProfileString("BundleQuality", "TiePointsHighQualityThreshold", "bad");
  EXPECT_EQ(QualityThresholds::LoadFromProfile().tie_points.high_threshold, 2.0);
}

}  // namespace
}  // namespace vantri::project
