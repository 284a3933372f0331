#include "testing/temp_folder.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace vantri::test_support {

TempFolder::TempFolder() {
  std::string pattern = ::testing::TempDir();
  if (pattern.empty() || pattern.back() != '/') pattern += '/';
  pattern += "vantri_XXXXXX";
  if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  EXPECT_FALSE(path_.empty()) << "no temporary folder below " << ::testing::TempDir();
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

SpecialFiles::SpecialFiles() : zero_link_(folder_ / "GCP.col"), fifo_(folder_ / "pipe.txt") {
  std::error_code error;
  std::filesystem::create_symlink("/dev/zero", zero_link_, error);
  EXPECT_FALSE(error) << "no link " << zero_link_ << ": " << error.message();
  EXPECT_EQ(mkfifo(fifo_.c_str(), 0600), 0) << "no FIFO " << fifo_;
}

ScopedVantriHome::ScopedVantriHome() {
  if (const char* old = std::getenv("VANTRI_HOME")) {
    had_previous_ = true;
    previous_ = old;
  }
  setenv("VANTRI_HOME", folder_.path().c_str(), 1);
}

ScopedVantriHome::~ScopedVantriHome() {
  if (had_previous_)
    setenv("VANTRI_HOME", previous_.c_str(), 1);
  else
    unsetenv("VANTRI_HOME");
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  out.close();
  EXPECT_TRUE(out.good()) << "cannot write " << path;
}

}  // namespace vantri::test_support
