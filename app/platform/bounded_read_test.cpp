#include "platform/bounded_read.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "platform/nvtools.h"
#include "platform/passport.h"
#include "platform/point_collection.h"

namespace vantri {
namespace {

namespace fs = std::filesystem;

class BoundedRead : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = testing::TempDir() + "/bounded_read_XXXXXX";
    folder_ = mkdtemp(pattern.data());
    zero_link_ = folder_ + "/GCP.col";
    fs::create_symlink("/dev/zero", zero_link_);
    fifo_ = folder_ + "/pipe.txt";
    ASSERT_EQ(mkfifo(fifo_.c_str(), 0600), 0);
  }
  void TearDown() override { fs::remove_all(folder_); }

  std::string folder_, zero_link_, fifo_;
};

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
  ASSERT_EQ(read_text_lines(text, &lines), 1);
  EXPECT_EQ(lines, (std::vector<std::string>{"one", "two", "three"}));
}

// A passport or point collection that is /dev/zero (or a link to it) once ended in an oversized
// allocation; the INI reader and the point files share the same line reader.
TEST_F(BoundedRead, PassportsPointFilesAndIniRefuseDevices) {
  for (const std::string& path : {std::string("/dev/zero"), zero_link_, fifo_, folder_}) {
    EXPECT_EQ(CCameraPassport::New(path), nullptr) << path;
    CBCCCameraPassport passport;
    EXPECT_EQ(passport.Load(path), 0) << path;
    CGCPCollMap points;
    EXPECT_EQ(ReadPTCollFile(path, &points, nullptr), 0) << path;
    IniFile ini;
    EXPECT_EQ(ini.Load(path), 0) << path;
  }
}

}  // namespace
}  // namespace vantri
