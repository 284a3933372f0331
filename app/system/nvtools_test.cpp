#include "system/nvtools.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <filesystem>

#include "system/files.h"
#include "system/text_record.h"
#include "testing/temp_folder.h"

namespace {

using vantri::test_support::ReadFile;
using vantri::test_support::TempFolder;
using vantri::test_support::WriteFile;

using vantri::test_support::ScopedVantriHome;

TEST(Conversions, OnlyWholeTextsConvert) {
  double d = -1.0;
  EXPECT_EQ(NVT_StringToDouble(" 12.5 ", &d), 1);
  EXPECT_EQ(d, 12.5);
  EXPECT_EQ(NVT_StringToDouble("-1e-3", &d), 1);
  EXPECT_EQ(d, -1e-3);
  EXPECT_EQ(NVT_StringToDouble("+7", &d), 1);
  EXPECT_EQ(d, 7.0);
  for (const char* bad : {"", "  ", "12,5", "1.5x", "abc", "nan", "inf", "1e999", "--1"}) {
    d = 99.0;
    EXPECT_EQ(NVT_StringToDouble(bad, &d), 0) << bad;
    EXPECT_EQ(d, 99.0) << bad;
  }
  int i = -1;
  EXPECT_EQ(NVT_StringToInt("-42", &i), 1);
  EXPECT_EQ(i, -42);
  for (const char* bad : {"4.2", "99999999999", "", "1 2", "0x10"}) {
    EXPECT_EQ(NVT_StringToInt(bad, &i), 0) << bad;
  }
  bool b = false;
  EXPECT_EQ(NVT_StringToBoolean("Yes", &b), 1);
  EXPECT_TRUE(b);
  EXPECT_EQ(NVT_StringToBoolean("0", &b), 1);
  EXPECT_FALSE(b);
  EXPECT_EQ(NVT_StringToBoolean("maybe", &b), 0);
}

TEST(Conversions, DoubleToStringRoundsAndRespectsTheBuffer) {
  EXPECT_EQ(NVT_DoubleToString(2.5, 0), "2");  // ties to even, like printf
  EXPECT_EQ(NVT_DoubleToString(-0.0049, 2), "-0.00");
  EXPECT_EQ(NVT_DoubleToString(1234.5678, 2), "1234.57");
  EXPECT_EQ(NVT_DoubleToString(1e300, 1).size(), 303u);
  char small[5];
  EXPECT_EQ(NVT_DoubleToString(3.14159, 3, small, sizeof small), 0);
  EXPECT_STREQ(small, "3.14");
  char enough[6];
  EXPECT_EQ(NVT_DoubleToString(3.14159, 3, enough, sizeof enough), 1);
  EXPECT_STREQ(enough, "3.142");
}

TEST(ParseString, KeepsEmptyFieldsAndOrder) {
  std::vector<std::string> fields;
  EXPECT_EQ(NVT_ParseString("25:9:16:25:36:49:64", ':', &fields), 7);
  EXPECT_EQ(fields.front(), "25");
  EXPECT_EQ(fields.back(), "64");
  EXPECT_EQ(NVT_ParseString("a;;b", ';', &fields), 3);
  EXPECT_EQ(fields, (std::vector<std::string>{"a", "", "b"}));
  EXPECT_EQ(NVT_ParseString("", ';', &fields), 1);
  EXPECT_EQ(fields, (std::vector<std::string>{""}));
  EXPECT_EQ(NVT_ParseString("x,", ',', &fields), 2);
  EXPECT_EQ(fields.back(), "");
  EXPECT_EQ(NVT_ParseString(",", ',', &fields), 2);
  EXPECT_EQ(NVT_ParseString("p1 1.5\t2\r\n", '\t', &fields), 2);  // Windows line end dropped
  EXPECT_EQ(fields, (std::vector<std::string>{"p1 1.5", "2"}));
  EXPECT_EQ(NVT_ParseString(" a b ", ' ', &fields), 4);
}

TEST(Profile, StringsPersistAcrossRunsInTheTestHome) {
  ScopedVantriHome home;
  EXPECT_EQ(NVT_GetUserProfileString("Passport", "LastSelectedPassportIndex", "-1"), "-1");
  ASSERT_EQ(NVT_WriteUserProfileString("Passport", "LastSelectedPassportIndex", "3"), 1);
  ASSERT_EQ(NVT_WriteUserProfileString("NewProject", "CurrentFolder", "/data/jobs = 2024"), 1);
  ASSERT_EQ(NVT_WriteUserProfileString("passport", "lastselectedpassportindex", "4"), 1);
  ASSERT_EQ(NVT_WriteUserProfileString("Notes", "Text", "two\nlines"), 1);

  // A later "run" only has the file.
  const std::string path = home.folder() / "vantri/profile.ini";
  ASSERT_TRUE(std::filesystem::exists(path));
  EXPECT_EQ(NVT_GetUserProfileString("PASSPORT", "LastSelectedPassportIndex", ""), "4");
  EXPECT_EQ(NVT_GetUserProfileString("NewProject", "CurrentFolder", ""), "/data/jobs = 2024");
  EXPECT_EQ(NVT_GetUserProfileString("Notes", "Text", ""), "two lines");
  char buffer[4];
  EXPECT_EQ(NVT_GetUserProfileString("NewProject", "CurrentFolder", "", buffer, sizeof buffer), 3);
  EXPECT_STREQ(buffer, "/da");
  // No temporary files are left beside the profile.
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(home.folder() / "vantri")) {
    (void)entry;
    ++files;
  }
  EXPECT_EQ(files, 1);
}

TEST(SpecialFolders, DataFolderUnderTheTestHomeAndProgramFolder) {
  ScopedVantriHome home;
  const std::string data = NVT_GetSpecialFolder(NVT_FOLDER_COMMON_APPDATA);
  EXPECT_EQ(data, home.folder() / "vantri");
  EXPECT_TRUE(std::filesystem::is_directory(data));
  EXPECT_EQ(vantri::system::PassportArchiveFolder(), data + "/VTR/passports");
  EXPECT_TRUE(std::filesystem::is_directory(data + "/VTR/passports"));

  char self[PATH_MAX] = {};
  ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
  const std::string program = std::filesystem::path(self).parent_path().string();
  EXPECT_EQ(NVT_GetSpecialFolder(38), program);
  EXPECT_EQ(NVT_GetSpecialFolder(42), program);
  EXPECT_EQ(NVT_GetSpecialFolder(7), "");
  char tiny[3];
  EXPECT_EQ(NVT_GetSpecialFolder(38, tiny, sizeof tiny), 0);
}

TEST(FilesAndFolders, SizeDeleteAndAtomicWrites) {
  TempFolder folder;
  WriteFile(folder / "a.txt", "12345");
  EXPECT_EQ(NVT_GetFileSize(folder / "a.txt"), 5);
  EXPECT_EQ(NVT_GetFileSize(folder / "none.txt"), -1);
  EXPECT_EQ(NVT_GetFileSize(folder.path()), -1);

  ASSERT_EQ(vantri::system::WriteFileAtomically(folder / "a.txt", "new"), 1);
  EXPECT_EQ(ReadFile(folder / "a.txt"), "new");
  EXPECT_EQ(vantri::system::WriteFileAtomically(folder / "missing/b.txt", "x"), 0);

  std::filesystem::create_directories(folder / "tree/deep/deeper");
  WriteFile(folder / "tree/deep/file", "x");
  EXPECT_EQ(NVT_DeleteDirectory(folder / "tree"), 1);
  EXPECT_FALSE(std::filesystem::exists(folder / "tree"));
  EXPECT_EQ(NVT_DeleteDirectory(""), 0);
}

TEST(Processes, CountsThisProgramByName) {
  char self[PATH_MAX] = {};
  ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
  const std::string name = std::filesystem::path(self).filename().string();
  EXPECT_GE(NVT_GetActiveProcessNumber(name), 1);
  EXPECT_GE(NVT_GetActiveProcessNumber(name + ".EXE"), 1);
  EXPECT_EQ(NVT_GetActiveProcessNumber("no-such-program-vantri"), 0);
}

TEST(ShellExecute, RefusesMissingProgramsAndOtherVerbs) {
  EXPECT_EQ(NVT_ShellExecute("", "true"), 0);
  EXPECT_EQ(NVT_ShellExecute("/tmp/x", "no-such-program-vantri"), 0);
  EXPECT_EQ(NVT_ShellExecute("/tmp/x", "true", "print"), 0);
  // Arguments are never seen by a shell: this starts `true` with one odd argument.
  EXPECT_EQ(NVT_ShellExecute("/tmp/x; touch /tmp/vantri-injected", "true"), 1);
  EXPECT_FALSE(std::filesystem::exists("/tmp/vantri-injected"));
}

TEST(SystemInformation, TextsAndHooks) {
  EXPECT_NE(NVT_GetOSInfo().find("Linux"), std::string::npos);
  EXPECT_NE(NVT_GetRAMInfo().find(" MB of "), std::string::npos);
  EXPECT_EQ(NVT_GetCurrentSysDate(0).size(), 10u);
  EXPECT_EQ(NVT_GetCurrentSysDate(2)[4], '-');
  EXPECT_EQ(NVT_GetCurrentSysTime(0).size(), 8u);
  const vantri::system::MemoryStatus memory = vantri::system::ReadMemoryStatus();
  EXPECT_GT(memory.total_bytes, 0u);
  EXPECT_LE(memory.available_bytes, memory.total_bytes);
  std::string version;
  EXPECT_EQ(NVT_GetVersionInfo("", &version, nullptr), 1);
  EXPECT_FALSE(version.empty());
  EXPECT_EQ(NVT_GetVersionInfo("other.dll", &version, nullptr), 0);

  int pumped = 0;
  NVT_PumpMessages();  // no hook: nothing happens
  vantri::system::SetPumpMessagesHook([&] { ++pumped; });
  NVT_PumpMessages();
  vantri::system::SetPumpMessagesHook({});
  EXPECT_EQ(pumped, 1);
}

TEST(IniFile, KeepsOrderReplacesCaseInsensitivelyAndRemovesSections) {
  TempFolder folder;
  vantri::system::IniFile ini;
  ini.Set("Settings", "nGroup", "2");
  ini.Set("grp0", "groupName", "Matching");
  ini.Set("settings", "NGROUP", "3");
  ini.Set("grp1", "x", "1");
  ini.RemoveSection("GRP1");
  ASSERT_EQ(ini.Save(folder / "settings.ini"), 1);
  EXPECT_EQ(ReadFile(folder / "settings.ini"),
            "[Settings]\nnGroup=3\n[grp0]\ngroupName=Matching\n");
  vantri::system::IniFile read;
  ASSERT_EQ(read.Load(folder / "settings.ini"), 1);
  EXPECT_EQ(read.Sections(), (std::vector<std::string>{"Settings", "grp0"}));
  EXPECT_TRUE(read.Has("GRP0", "GROUPNAME"));
  EXPECT_FALSE(read.Has("grp1", "x"));
  EXPECT_EQ(read.Load(folder / "absent.ini"), 1);
  EXPECT_TRUE(read.Sections().empty());
}

// A value holding a line break (a pasted WKT, a path) must not end its line and start a key of its
// own: both line-based writers store it as one line with blanks.
TEST(SingleLineValues, LineBreaksCannotInjectKeysIntoIniFilesOrRecords) {
  TempFolder folder;
  vantri::system::IniFile ini;
  ini.Set("Image", "FilePath", "a\r\nFilePath=evil\nb");
  ASSERT_EQ(ini.Save(folder / "x.ini"), 1);
  vantri::system::IniFile read;
  ASSERT_EQ(read.Load(folder / "x.ini"), 1);
  EXPECT_EQ(read.Keys("Image"), std::vector<std::string>{"FilePath"});
  EXPECT_EQ(read.Get("Image", "FilePath"), "a  FilePath=evil b");

  vantri::system::TextRecord record("FORMAT", 1);
  record.SetText("name", "x\ny=2");
  record.SetInt("y", 1);
  ASSERT_EQ(record.Save(folder / "x.txt"), 1);
  vantri::system::TextRecord loaded("FORMAT", 1);
  ASSERT_EQ(loaded.Load(folder / "x.txt"), 1);
  std::string name;
  int y = 0;
  ASSERT_EQ(loaded.GetText("name", &name), 1);
  EXPECT_EQ(name, "x y=2");
  ASSERT_EQ(loaded.GetInt("y", &y), 1);
  EXPECT_EQ(y, 1);
}

}  // namespace
