// The written input, read by the engine's own readers, describes the generated block: the same
// counts and weights, and the engine's projection of the true block reproduces the observations,
// so the engine and the Ceres cost function adjust one model.
#include "engine_input.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "input/readers.h"
#include "models/block.h"

namespace bench {
namespace {

namespace fs = std::filesystem;

class EngineInputTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = testing::TempDir() + "engine_input_XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
    BlockSettings settings;
    settings.images = 8;
    settings.points = 80;
    settings.noise = false;
    block_ = generateBlock(settings);
    ASSERT_FALSE(writeEngineInput(block_, folder_.string()).empty());
  }
  void TearDown() override {
    std::error_code error;
    fs::remove_all(folder_, error);
  }

  // Reads the main file with the engine, from inside the folder as the engine's run does.
  int readWithEngine(bravik::Block& engine_block) {
    const fs::path previous = fs::current_path();
    fs::current_path(folder_);
    std::ifstream main_file("block.inp");
    const int result = bravik::readInput(engine_block, main_file);
    fs::current_path(previous);
    return result;
  }

  fs::path folder_;
  SyntheticBlock block_;
};

TEST_F(EngineInputTest, EngineReadsTheBlockWithItsCountsAndWeights) {
  bravik::Block engine_block;
  ASSERT_EQ(readWithEngine(engine_block), 1);
  EXPECT_EQ(engine_block.images.entryCount(), 8);
  EXPECT_EQ(engine_block.geometries.entryCount(), 8);
  ASSERT_EQ(engine_block.objectPoints.entryCount(), 80);
  int observations = 0;
  for (const bravik::BundleImage* image : engine_block.images.items()) {
    observations += static_cast<int>(image->points.size());
    for (const bravik::ImagePoint& p : image->points) EXPECT_NEAR(p.sx, block_.image_sigma, 1e-15);
  }
  EXPECT_EQ(observations, static_cast<int>(block_.observations.size()));
  int control = 0;
  for (const bravik::ObjectPoint* p : engine_block.objectPoints.items())
    control += p->type == bravik::kPointControl;
  EXPECT_EQ(control, static_cast<int>(block_.control.size()));
}

TEST_F(EngineInputTest, EngineProjectionOfTheTruthReproducesTheObservations) {
  bravik::Block engine_block;
  ASSERT_EQ(readWithEngine(engine_block), 1);
  for (int i = 0; i < engine_block.images.entryCount(); ++i) {
    bravik::BundleImage* image = engine_block.images.find(imageId(i));
    ASSERT_NE(image, nullptr);
    image->geometry = engine_block.geometries.find(image->geometryId);
    ASSERT_NE(image->geometry, nullptr);
    image->geometry->p.assign(block_.true_poses[i].begin(), block_.true_poses[i].end());
    image->geometry->refresh();
  }
  for (const ImageObservation& ob : block_.observations) {
    const bravik::BundleImage* image = engine_block.images.find(imageId(ob.image));
    const Point3& truth = block_.true_points[ob.point];
    double x = 0, y = 0;
    ASSERT_EQ(image->projection({truth[0], truth[1], truth[2]}, x, y), 1);
    EXPECT_NEAR(x, ob.x, 1e-12);
    EXPECT_NEAR(y, ob.y, 1e-12);
  }
}

}  // namespace
}  // namespace bench
