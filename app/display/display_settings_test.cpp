#include "display/display_settings.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "testing/temp_folder.h"

namespace vantri::display {
namespace {

using test_support::ReadFile;
using test_support::TempFolder;
using test_support::WriteFile;

TEST(DisplaySettings, DefaultsAreWrittenWithTheirFormats) {
  TempFolder folder;
  const std::string path = GrsPath(folder.path() + "/", "block");
  std::vector<std::string> problems;
  const DisplaySettings defaults = ReadDisplaySettings(path, &problems);  // no file yet
  EXPECT_TRUE(problems.empty());
  EXPECT_EQ(defaults, DisplaySettings{});
  ASSERT_TRUE(WriteDisplaySettings(path, defaults));

  const std::string text = ReadFile(path);
  EXPECT_EQ(text.rfind("[ImageResXYEllipse]\nVisible=0\nFilled=0\nColor=16776960\n", 0), 0u);
  EXPECT_NE(text.find("[ImageResOP]\nScale=100000.000000\n"), std::string::npos);
  EXPECT_NE(text.find("[CPResZCircle]\nVisible=0\nFilled=1\nColor=16711935\n"), std::string::npos);
  EXPECT_NE(text.find("[GCPResZCircle]\nVisible=0\nFilled=1\nColor=16711935\n"), std::string::npos);
  EXPECT_NE(text.find("[TPResXYVector]\nVisible=0\n[TPResXY]\nScale=25.000000\n"),
            std::string::npos);
  EXPECT_EQ(DisplaySettingKeys().size(), 43u);  // 9 styles x 3, 7 vectors, 9 scales
}

TEST(DisplaySettings, RoundTripKeepsEveryValue) {
  TempFolder folder;
  const std::string path = folder / "block.grs";
  DisplaySettings changed;
  changed.image_xy_ellipse = {true, true, 255};
  changed.image_k_scale = 12345.5;
  changed.tie_xy_vector = true;
  changed.control_z_circle = {true, false, 0x123456};
  changed.check_xy_scale = 0.125;
  ASSERT_TRUE(WriteDisplaySettings(path, changed));
  std::vector<std::string> problems;
  EXPECT_EQ(ReadDisplaySettings(path, &problems), changed);
  EXPECT_TRUE(problems.empty());
}

TEST(DisplaySettings, BadValuesKeepTheDefaultAndAreNamedWithoutTouchingTheFile) {
  TempFolder folder;
  const std::string path = folder / "block.grs";
  const std::string text =
      "[ImageResXYEllipse]\nVisible=yes please\nColor=blue\n"
      "[ImageResOP]\nScale=lots\n"
      "[ImageResK]\nScale=-500\n"
      "[GCPResZCircle]\nColor=16777216\nFilled=0\n";
  WriteFile(path, text);
  std::vector<std::string> problems;
  const DisplaySettings s = ReadDisplaySettings(path, &problems);
  EXPECT_FALSE(s.image_xy_ellipse.visible);
  EXPECT_EQ(s.image_xy_ellipse.color, kCyanColorRef);
  EXPECT_DOUBLE_EQ(s.image_op_scale, kFallbackScale);     // a scale that does not convert is 25
  EXPECT_DOUBLE_EQ(s.image_k_scale, 500.0);               // scales are absolute values
  EXPECT_EQ(s.control_z_circle.color, kMagentaColorRef);  // not a colour value
  EXPECT_FALSE(s.control_z_circle.filled);                // the valid key of that section
  ASSERT_EQ(problems.size(), 4u);
  EXPECT_NE(problems[0].find("ImageResXYEllipse.Visible"), std::string::npos);
  EXPECT_NE(problems[2].find("ImageResOP.Scale = \"lots\""), std::string::npos);
  EXPECT_EQ(ReadFile(path), text);
}

TEST(DisplaySettings, FilesThatAreNotSettingsGiveTheDefaultsWithAMessage) {
  test_support::SpecialFiles special;
  std::vector<std::string> problems;
  EXPECT_EQ(ReadDisplaySettings(special.folder(), &problems), DisplaySettings{});
  EXPECT_EQ(ReadDisplaySettings(special.zero_link(), &problems), DisplaySettings{});
  ASSERT_EQ(problems.size(), 2u);
  EXPECT_NE(problems[0].find("the defaults are used"), std::string::npos);

  TempFolder folder;
  WriteFile(folder / "other.grs", "[Camera]\nfocal=35\n");
  problems.clear();
  EXPECT_EQ(ReadDisplaySettings(folder / "other.grs", &problems), DisplaySettings{});
  EXPECT_EQ(problems.size(), 1u);
}

TEST(DisplaySettings, ValuesByKeyConvertLikeTheFile) {
  DisplaySettings s;
  std::string problem, value;
  EXPECT_TRUE(SetDisplaySetting(s, "cpreszcircle.filled", "0", &problem));
  EXPECT_FALSE(s.check_z_circle.filled);
  EXPECT_TRUE(SetDisplaySetting(s, "ImageResXY.Scale", "-40", &problem));
  EXPECT_DOUBLE_EQ(s.image_xy_scale, 40.0);
  ASSERT_TRUE(GetDisplaySetting(s, "ImageResXY.Scale", &value));
  EXPECT_EQ(value, "40.000000");

  const DisplaySettings before = s;
  EXPECT_FALSE(SetDisplaySetting(s, "ImageResXY.Colour", "1", &problem));
  EXPECT_NE(problem.find("Unknown display setting"), std::string::npos);
  EXPECT_FALSE(SetDisplaySetting(s, "TPResXYEllipse.Color", "-1", &problem));
  EXPECT_FALSE(SetDisplaySetting(s, "TPResXY.Scale", "nan", &problem));
  EXPECT_EQ(s, before);
}

TEST(DisplaySettings, AFailedWriteLeavesTheOldFile) {
  TempFolder folder;
  const std::string path = folder / "block.grs";
  ASSERT_TRUE(WriteDisplaySettings(path, DisplaySettings{}));
  const std::string before = ReadFile(path);
  EXPECT_FALSE(WriteDisplaySettings(folder / "missing/block.grs", DisplaySettings{}));
  std::filesystem::permissions(
      folder.path(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  DisplaySettings changed;
  changed.tie_xy_scale = 3;
  const bool written = WriteDisplaySettings(path, changed);
  std::filesystem::permissions(folder.path(), std::filesystem::perms::owner_all);
  if (!written) {  // root may write anyway
    EXPECT_EQ(ReadFile(path), before);
  }
}

}  // namespace
}  // namespace vantri::display
