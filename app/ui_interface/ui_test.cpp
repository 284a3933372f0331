#include "ui_interface/ui.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <thread>

#include "testing/scripted_ui.h"
#include "testing/temp_folder.h"

namespace {

using vantri::ConsoleUi;
using vantri::MessageIcon;
using vantri::ScriptedUi;
using vantri::system::MemoryStatus;

constexpr std::uint64_t kMiB = 1024 * 1024;

std::tm LocalTime(int year, int month, int day, int hour, int minute, int second) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  return t;
}

TEST(LogLine, DayMonthYearElapsedMinutesSecondsAndMemoryRounding) {
  // 8 GiB + 1 byte total rounds up; 3 GiB - 1 byte used rounds down.
  const vantri::system::MemoryStatus memory{8192 * kMiB + 1, 8192 * kMiB + 1 - (3072 * kMiB - 1)};
  EXPECT_EQ(vantri::FormatLogLine("12 images added", LocalTime(2026, 3, 7, 9, 5, 3),
                                  std::chrono::seconds(3 * 60 + 7), memory),
            "07/03/2026 - 09:05:03 - (elpsed time 0003:07) 12 images added - physical RAM: "
            "3071MB/8193MB");
  // Long runs keep counting minutes past the hour; a percent sign is printed as it is.
  EXPECT_EQ(vantri::FormatLogLine("100% done", LocalTime(1999, 12, 31, 23, 59, 59),
                                  std::chrono::seconds(10000 * 60 + 59), {2 * kMiB, 2 * kMiB}),
            "31/12/1999 - 23:59:59 - (elpsed time 10000:59) 100% done - physical RAM: 0MB/2MB");
}

// Fixed clock and memory so that whole lines can be compared.
class FixedUi : public ScriptedUi {
 protected:
  std::tm LocalNow() const override { return LocalTime(2026, 12, 7, 21, 0, 0); }
  vantri::system::MemoryStatus Memory() const override { return {1024 * kMiB, 512 * kMiB}; }
};

TEST(LogLine, EmptyMessageGivesEmptyLineNullGivesNothingAndMessagesArePumped) {
  FixedUi ui;
  ui.StartOperationClock();
  ui.Log("start Bundle process");
  ui.Log("");
  ui.Log(static_cast<const char*>(nullptr));
  ASSERT_EQ(ui.log_lines.size(), 2u);
  EXPECT_EQ(ui.log_lines[0].rfind("07/12/2026 - 21:00:00 - (elpsed time ", 0), 0u);
  EXPECT_NE(ui.log_lines[0].find(") start Bundle process - physical RAM: 512MB/1024MB"),
            std::string::npos);
  EXPECT_EQ(ui.log_lines[1], "");
  EXPECT_EQ(ui.pump_count, 4);  // before and after each line
}

TEST(ScriptedUi, AnswersFromQueuesAndRecordsWhatWasShown) {
  ScriptedUi ui;
  ui.yes_no_answers = {true};
  ui.file_answers = {std::string("/data/p.bun"), std::nullopt};
  ui.value_answers = {std::string("-")};
  ui.multi_file_answers = {std::vector<std::string>{"/a.tif", "/b.tif"}};

  ui.ShowMessage("Unable to open project!", MessageIcon::kExclamation);
  EXPECT_TRUE(ui.AskYesNo("Abort Process?"));
  EXPECT_FALSE(ui.AskYesNo("Do you want to remove all image from project?"));  // queue empty
  std::string path = "unchanged";
  EXPECT_TRUE(ui.PickOpenFile("Open", {{"Vantri Project", "*.bun"}}, "", "bun", &path));
  EXPECT_EQ(path, "/data/p.bun");
  EXPECT_FALSE(ui.PickSaveFile("Save", {}, "", "", &path));  // scripted cancel
  EXPECT_FALSE(ui.PickFolder("Folder", "", &path));          // queue empty
  EXPECT_EQ(path, "/data/p.bun");
  std::string value;
  EXPECT_TRUE(ui.PromptValue("Type new Var XY (\"-\" for undef value)", "", &value));
  EXPECT_EQ(value, "-");
  std::vector<std::string> files;
  EXPECT_TRUE(ui.PickOpenFiles("Images", {}, "", &files));
  EXPECT_EQ(files.size(), 2u);

  ASSERT_EQ(ui.shown.size(), 8u);
  EXPECT_EQ(ui.shown[0].kind, ScriptedUi::Kind::kMessage);
  EXPECT_EQ(ui.shown[0].icon, MessageIcon::kExclamation);
  EXPECT_EQ(ui.shown[1].icon, MessageIcon::kQuestion);
  EXPECT_EQ(ui.Texts(),
            (std::vector<std::string>{"Unable to open project!", "Abort Process?",
                                      "Do you want to remove all image from project?"}));
  EXPECT_EQ(ui.LastText(), "Do you want to remove all image from project?");

  ui.SetAbort(true);
  EXPECT_TRUE(ui.IsAborted());
  ui.SetProgressRange(0, 12);
  ui.SetProgressPosition(5);
  EXPECT_EQ(ui.progress_upper, 12);
  EXPECT_EQ(ui.progress_position, 5);
}

TEST(ConsoleUi, SplitsStreamsByIconAndFollowsThePolicy) {
  std::istringstream in("y\n/tmp/chosen\r\n\n");
  std::ostringstream out, err;
  ConsoleUi asking(ConsoleUi::Policy::kAskStdin, in, out, err);
  asking.ShowMessage("Project saved", MessageIcon::kInformation, {});
  asking.ShowMessage("Invalid pixel size value!", MessageIcon::kStop, {});
  EXPECT_TRUE(asking.AskYesNo("Overwrite?", MessageIcon::kQuestion, {}));
  std::string folder;
  EXPECT_TRUE(asking.PickFolder("Folder", "", &folder));
  EXPECT_EQ(folder, "/tmp/chosen");
  std::string value;
  EXPECT_TRUE(asking.PromptValue("Value", "7", &value));  // empty line keeps the preset
  EXPECT_EQ(value, "7");
  EXPECT_FALSE(asking.AskYesNo("Again?", MessageIcon::kQuestion, {}));  // input exhausted
  EXPECT_NE(out.str().find("Project saved"), std::string::npos);
  EXPECT_EQ(out.str().find("Invalid pixel size"), std::string::npos);
  EXPECT_NE(err.str().find("Invalid pixel size value!"), std::string::npos);

  std::istringstream none;
  std::ostringstream out2, err2;
  ConsoleUi yes(ConsoleUi::Policy::kAnswerYes, none, out2, err2);
  EXPECT_TRUE(yes.AskYesNo("Proceed?", MessageIcon::kQuestion, {}));
  EXPECT_FALSE(yes.PickFolder("Folder", "", &folder));  // dialogs cancelled without stdin
  yes.Log("hello");
  EXPECT_NE(err2.str().find(") hello - physical RAM: "), std::string::npos);
}

// The folder picker of the utility layer remembers the choice in the per-user profile.
TEST(Profile, ReadsWindowsIniFilesAndLastBrowsedPathIsRemembered) {
  vantri::test_support::ScopedVantriHome home;
  std::filesystem::create_directories(home.folder() / "vantri");
  vantri::test_support::WriteFile(
      home.folder() / "vantri/profile.ini",
      "; comment\r\n[Import]\r\nSeparator = ;\r\n\r\n[Other]\r\nKey=Value\r\n");
  EXPECT_EQ(NVT_GetUserProfileString("Import", "Separator", ""), ";");
  EXPECT_EQ(NVT_GetLastBrowsedPath(), "");
  vantri::ScriptedUi ui;
  ui.file_answers.push_back(std::string("/tmp/chosen/"));
  EXPECT_EQ(NVT_PickFolderPath(ui, "Select the destination folder", "/tmp"), "/tmp/chosen");
  EXPECT_EQ(NVT_GetLastBrowsedPath(), "/tmp/chosen");
  EXPECT_EQ(NVT_PickFolderPath(ui, "Select the destination folder", "/tmp"), "");  // cancelled
  EXPECT_EQ(NVT_GetLastBrowsedPath(), "/tmp/chosen");
  EXPECT_EQ(NVT_GetUserProfileString("Other", "Key", ""), "Value");  // other sections kept
}

// The abort flag is set by the abort button on one thread and polled by the work on another.
TEST(AbortFlag, AnAbortFromAnotherThreadStopsThePollingLoop) {
  ScriptedUi ui;
  std::thread work([&ui] {
    while (!ui.IsAborted()) std::this_thread::yield();
  });
  ui.SetAbort(true);
  work.join();
  EXPECT_TRUE(ui.IsAborted());
  ui.SetAbort(false);
  EXPECT_FALSE(ui.IsAborted());
}

}  // namespace
