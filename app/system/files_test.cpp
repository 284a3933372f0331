#include "system/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "system/text.h"
#include "testing/temp_folder.h"

namespace vantri::system {
namespace {

namespace fs = std::filesystem;
using test_support::ReadFile;
using test_support::TempFolder;
using test_support::WriteFile;

// Names of the entries of a folder.
std::vector<std::string> Entries(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  return names;
}

TEST(WriteFileAtomically, ReplacesTheFileAndLeavesNoTemporary) {
  TempFolder folder;
  const std::string path = folder / "block.bun";
  WriteFile(path, "old");
  ASSERT_TRUE(WriteFileAtomically(path, std::string("new\0bytes", 9)));
  EXPECT_EQ(ReadFile(path), std::string("new\0bytes", 9));
  EXPECT_EQ(Entries(folder.path()), std::vector<std::string>{"block.bun"});
  struct stat info {};
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0644);
}

TEST(WriteFileAtomically, FailuresKeepThePreviousFile) {
  TempFolder folder;
  EXPECT_FALSE(WriteFileAtomically(folder / "missing/x.txt", "text"));
  EXPECT_FALSE(WriteFileAtomically("", "text"));

  const std::string path = folder / "points.vtp";
  WriteFile(path, "old");
  EXPECT_FALSE(WriteFileAtomicallyWith(path, [](const std::string&) { return false; }));
  EXPECT_FALSE(WriteFileAtomicallyWith(path, [](const std::string& temporary) -> bool {
    WriteFile(temporary, "half");
    throw std::runtime_error("writer failed");
  }));
  EXPECT_EQ(ReadFile(path), "old");
  EXPECT_EQ(Entries(folder.path()), std::vector<std::string>{"points.vtp"});
}

TEST(WriteFileAtomically, OutsideWritersSeeTheTargetExtension) {
  TempFolder folder;
  std::string seen;
  ASSERT_TRUE(WriteFileAtomicallyWith(folder / "preview.jpg", [&](const std::string& temporary) {
    seen = temporary;
    WriteFile(temporary, "jpeg");
    return true;
  }));
  EXPECT_EQ(fs::path(seen).extension(), ".jpg");
  EXPECT_EQ(fs::path(seen).parent_path(), fs::path(folder.path()));
  EXPECT_EQ(ReadFile(folder / "preview.jpg"), "jpeg");
}

TEST(ReadHelpers, LinesWithoutTheirEndsAndWholeFiles) {
  TempFolder folder;
  WriteFile(folder / "a.txt", "one\r\ntwo\n\nthree");
  std::vector<std::string> lines;
  ASSERT_TRUE(ReadTextLines(folder / "a.txt", &lines));
  EXPECT_EQ(lines, (std::vector<std::string>{"one", "two", "", "three"}));
  std::string bytes;
  ASSERT_TRUE(ReadWholeFile(folder / "a.txt", bytes));
  EXPECT_EQ(bytes, "one\r\ntwo\n\nthree");
  EXPECT_FALSE(ReadWholeFile(folder / "none.txt", bytes));
  EXPECT_FALSE(ReadTextLines(folder / "none.txt", &lines));
  EXPECT_TRUE(MakeFolders(folder / "x/y/z"));
  EXPECT_TRUE(fs::is_directory(folder / "x/y/z"));
}

TEST(Text, AsciiCaseFoldingOnly) {
  EXPECT_EQ(ToLower("IMG_0001.JPG"), "img_0001.jpg");
  EXPECT_EQ(ToLower("\xC3\x89t\xC3\xA9"), "\xC3\x89t\xC3\xA9");  // UTF-8 bytes untouched
  EXPECT_TRUE(EqualsNoCase("Yes", "yES"));
  EXPECT_FALSE(EqualsNoCase("yes", "yes "));
  EXPECT_EQ(Trim(" \t a b \r\n"), "a b");
}

}  // namespace
}  // namespace vantri::system
