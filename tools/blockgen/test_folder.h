#pragma once
// A fresh, uniquely named folder under the test temporary directory, so tests running in
// parallel (or several checkouts on one machine) never share output folders. The folders are
// removed when the test program exits.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

namespace blockgen {

class TestFolders {
 public:
  ~TestFolders() {
    std::error_code ec;
    for (const std::string& f : folders_) std::filesystem::remove_all(f, ec);
  }
  std::string make(const std::string& name) {
    std::string pattern = testing::TempDir() + "/blockgen_" + name + "_XXXXXX";
    EXPECT_NE(mkdtemp(pattern.data()), nullptr) << pattern;
    folders_.push_back(pattern);
    return pattern;
  }

 private:
  std::vector<std::string> folders_;
};

inline std::string fresh_test_folder(const std::string& name) {
  static TestFolders folders;
  return folders.make(name);
}

}  // namespace blockgen
