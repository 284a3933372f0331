// A project in a temporary folder for the tests of this folder: a 4000 x 3000 pinhole camera
// (focal length 4000 pixels) and images whose rasters are stand-ins of that size.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "points/collimation_session.h"
#include "project/project.h"
#include "testing/scripted_ui.h"
#include "testing/temp_folder.h"
#include "ui_interface/ui.h"

namespace vantri::test_support {

inline std::unique_ptr<CCameraPassport> Pinhole4000x3000() {
  auto passport = std::make_unique<CBCCCameraPassport>();
  passport->focal_mm = 40;
  passport->pixel_mm = 0.01;
  passport->width = 4000;
  passport->height = 3000;
  passport->ppx = 2000;
  passport->ppy = 1500;
  return passport;
}

// Rasters by path; a path that is not registered cannot be opened. Counts the open ones.
class FakeRasters {
 public:
  void Add(const std::string& path, int width = 4000, int height = 3000) {
    sizes_[path] = {width, height};
  }
  int OpenCount() const { return *open_; }
  points::RasterOpener Opener() {
    return [this](const std::string& path) -> std::unique_ptr<points::SessionRaster> {
      const auto size = sizes_.find(path);
      if (size == sizes_.end()) return nullptr;
      return std::make_unique<Raster>(size->second.first, size->second.second, open_);
    };
  }

 private:
  class Raster : public points::SessionRaster {
   public:
    Raster(int width, int height, std::shared_ptr<int> open)
        : width_(width), height_(height), open_(std::move(open)) {
      ++*open_;
    }
    ~Raster() override { --*open_; }
    int Width() const override { return width_; }
    int Height() const override { return height_; }

   private:
    int width_, height_;
    std::shared_ptr<int> open_;
  };
  std::map<std::string, std::pair<int, int>> sizes_;
  std::shared_ptr<int> open_ = std::make_shared<int>(0);
};

class ProjectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = temp_.path();
    setenv("VANTRI_HOME", folder_.c_str(), 1);
    project_.folder = folder_ + "/";
    project_.name = "block";
    project_.file_path = project_.folder + "block.bun";
    project_.passport = Pinhole4000x3000();
    project_.working_passport = project_.passport->Clone();
  }

  // A vertical image 1000 m above (x, y, 0): 4 pixels per metre on the ground.
  int AddVerticalImage(const std::string& name, double x, double y) {
    CABAImage& image = project_.AppendImage(folder_ + "/" + name + ".tif");
    image.x = x;
    image.y = y;
    image.z = 1000;
    rasters_.Add(image.Path());
    return project_.ImageCount() - 1;
  }

  std::string WriteFile(const std::string& name, const std::string& content) {
    const std::string path = folder_ + "/" + name;
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }

  vantri::test_support::TempFolder temp_;
  std::string folder_;
  CVantriProject project_;
  ScriptedUi ui_;
  FakeRasters rasters_;
};

}  // namespace vantri::test_support
