// The generated engine input read by the engine's own readers and projected with its own
// models: every measurement must be the true projection plus the chosen noise.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "blockgen.h"
#include "input/readers.h"
#include "models/ap_set.h"
#include "models/block.h"
#include "models/bundle_image.h"
#include "models/camera.h"
#include "models/image_geometry.h"
#include "test_folder.h"

namespace blockgen {
namespace {

namespace fs = std::filesystem;

BlockOptions exact_orientation_block(const std::string& name) {
  BlockOptions o;
  o.out_dir = fresh_test_folder("reader_" + name);
  o.strips = 2;
  o.images_per_strip = 4;
  o.camera.width = 400;
  o.camera.height = 300;
  o.camera.pp_col = 200;
  o.camera.pp_row = 150;
  o.tie_points = 80;
  o.control_points = 4;
  o.check_points = 2;
  o.write_images = false;
  // Orientations in the engine input then equal the truth (to the written precision).
  o.gps_noise = 0;
  o.imu_noise = 0;
  return o;
}

class CurrentDirectory {
 public:
  explicit CurrentDirectory(const fs::path& p) : old_(fs::current_path()) { fs::current_path(p); }
  ~CurrentDirectory() { fs::current_path(old_); }

 private:
  fs::path old_;
};

void expect_engine_reads_and_reprojects(const BlockOptions& options) {
  std::ostringstream log;
  generate_block(options, log);
  const Survey survey = plan_survey(options);

  bravik::Block block;
  testing::internal::CaptureStdout();
  int read = 0;
  {
    CurrentDirectory here(fs::path(options.out_dir) / "engine");
    std::ifstream in("block.inp");
    read = bravik::readInput(block, in);
  }
  const std::string messages = testing::internal::GetCapturedStdout();
  ASSERT_EQ(read, 1) << messages;
  EXPECT_EQ(messages.find("ERROR"), std::string::npos) << messages;
  EXPECT_EQ(messages.find("ATTENTION"), std::string::npos) << messages;

  EXPECT_EQ(block.cameras.count(), 1);
  EXPECT_EQ(block.images.count(), static_cast<int>(survey.images.size()));
  EXPECT_EQ(block.geometries.count(), static_cast<int>(survey.images.size()));
  EXPECT_EQ(block.objectPoints.count(),
            static_cast<int>(options.control_points + options.check_points));
  for (bravik::APSet* set : block.apSets.items()) {
    ASSERT_EQ(set->attach(block.cameras), 1);
    double dx = 0, dy = 0;
    ASSERT_EQ(set->correction(1e-3, 1e-3, -1e-2, dx, dy), 1) << "AP set " << set->id();
  }

  std::map<std::string, Eigen::Vector3d> truth;
  for (const GroundPoint& p : survey.points) truth[p.id] = p.truth;
  size_t measurements = 0;
  double sum2 = 0;
  for (bravik::BundleImage* image : block.images.items()) {
    image->geometry = block.geometries.find(image->geometryId);
    ASSERT_NE(image->geometry, nullptr) << image->id();
    image->geometry->refresh();
    for (const bravik::ImagePoint& point : image->points) {
      const Eigen::Vector3d& t = truth.at(point.id);
      double x = 0, y = 0;
      ASSERT_EQ(image->projection({t.x(), t.y(), t.z()}, x, y), 1);
      double c = 0, r = 0;
      image->camera->imageToCamera(x, y, c, r);
      sum2 += (c - point.x) * (c - point.x) + (r - point.y) * (r - point.y);
      EXPECT_LT(std::hypot(c - point.x, r - point.y), 6 * options.pixel_noise) << point.id;
      ++measurements;
    }
  }
  EXPECT_EQ(measurements, survey.observations.size());
  const double rms = std::sqrt(sum2 / (2.0 * measurements));
  EXPECT_GT(rms, 0.7 * options.pixel_noise);
  EXPECT_LT(rms, 1.3 * options.pixel_noise);
}

TEST(EngineReaderTest, ReadsTheBlockAndItsModelReproducesTheMeasurements) {
  BlockOptions o = exact_orientation_block("plain");
  o.camera.pp_col = 192.5;  // 7.5 pixels (45 um) off the centre in x, 9 pixels in y
  o.camera.pp_row = 159.0;
  expect_engine_reads_and_reprojects(o);
}

TEST(EngineReaderTest, DistortionApSetsAndPrincipalPointMatchTheRenderedCamera) {
  BlockOptions o = exact_orientation_block("distorted");
  o.camera.pp_col = 207.5;
  o.camera.pp_row = 141.0;
  // About 2 pixels at the corners: far above the measurement noise.
  o.camera.distortion = {5e-3, -3e-5, 2e-8, 1e-4, -1.5e-4};
  expect_engine_reads_and_reprojects(o);
}

}  // namespace
}  // namespace blockgen
