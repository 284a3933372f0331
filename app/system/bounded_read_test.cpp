#include "system/bounded_read.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "system/files.h"
#include "system/nvtools.h"
#include "testing/temp_folder.h"

namespace vantri::system {
namespace {

namespace fs = std::filesystem;

using BoundedRead = test_support::SpecialFilesTest;

TEST_F(BoundedRead, OnlyRegularFilesWithinTheCapAreRead) {
  const std::string text = folder_ + "/a.txt";
  std::ofstream(text, std::ios::binary) << "one\r\ntwo\nthree";
  std::string bytes = "kept";
  EXPECT_EQ(ReadRegularFile(text, &bytes, 14), ReadFileStatus::kOk);
  EXPECT_EQ(bytes, "one\r\ntwo\nthree");
  bytes = "kept";
  EXPECT_EQ(ReadRegularFile(text, &bytes, 13), ReadFileStatus::kTooLarge);
  EXPECT_EQ(ReadRegularFile(folder_ + "/none", &bytes), ReadFileStatus::kMissing);
  EXPECT_EQ(ReadRegularFile("", &bytes), ReadFileStatus::kMissing);
  EXPECT_EQ(ReadRegularFile(folder_, &bytes), ReadFileStatus::kNotRegular);
  EXPECT_EQ(ReadRegularFile("/dev/zero", &bytes), ReadFileStatus::kNotRegular);
  EXPECT_EQ(ReadRegularFile(zero_link_, &bytes), ReadFileStatus::kNotRegular);
  EXPECT_EQ(ReadRegularFile(fifo_, &bytes), ReadFileStatus::kNotRegular) << "must not block";
  EXPECT_EQ(bytes, "kept");
  EXPECT_STREQ(ReadFileStatusText(ReadFileStatus::kNotRegular), "is not a regular file");

  std::vector<std::string> lines;
  ASSERT_TRUE(system::ReadTextLines(text, &lines));
  EXPECT_EQ(lines, (std::vector<std::string>{"one", "two", "three"}));
  EXPECT_FALSE(system::ReadTextLines(fifo_, &lines)) << "must not block";
  EXPECT_FALSE(system::ReadWholeFile(zero_link_, bytes));
}

}  // namespace
}  // namespace vantri::system
