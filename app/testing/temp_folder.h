// Temporary folders and small file helpers of the tests.
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace vantri::test_support {

// A fresh folder below the test temporary folder, removed with everything in it when the object
// dies. Fails the current test when it cannot be made.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& path() const { return path_; }
  // path() + "/" + name.
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Points VANTRI_HOME (the per-user profile and data roots) at a fresh temporary folder for the
// life of the object; the previous value comes back afterwards.
class ScopedVantriHome {
 public:
  ScopedVantriHome();
  ~ScopedVantriHome();
  ScopedVantriHome(const ScopedVantriHome&) = delete;
  ScopedVantriHome& operator=(const ScopedVantriHome&) = delete;

  const TempFolder& folder() const { return folder_; }

 private:
  TempFolder folder_;
  bool had_previous_ = false;
  std::string previous_;
};

// Inputs that are not regular files, for the readers that must refuse them: a folder holding a
// symbolic link "GCP.col" to /dev/zero and a FIFO "pipe.txt". Fails the current test when they
// cannot be made.
class SpecialFiles {
 public:
  SpecialFiles();

  const std::string& folder() const { return folder_.path(); }
  const std::string& zero_link() const { return zero_link_; }
  const std::string& fifo() const { return fifo_; }

 private:
  TempFolder folder_;
  std::string zero_link_;
  std::string fifo_;
};

// Fixture of the tests that hand such inputs to a reader.
class SpecialFilesTest : public ::testing::Test {
 protected:
  SpecialFiles special_;
  const std::string& folder_ = special_.folder();
  const std::string& zero_link_ = special_.zero_link();
  const std::string& fifo_ = special_.fifo();
};

// The whole file, empty when unreadable.
std::string ReadFile(const std::string& path);
// Writes (replaces) the file; fails the current test when it cannot.
void WriteFile(const std::string& path, const std::string& content);

}  // namespace vantri::test_support
