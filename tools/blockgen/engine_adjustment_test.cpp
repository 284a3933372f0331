// End to end: the engine reads a generated block with its own readers, adjusts it and
// reproduces the truth within the noise.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "adjust/adjustment.h"
#include "blockgen.h"
#include "input/readers.h"
#include "models/ap_set.h"
#include "models/block.h"
#include "test_folder.h"

namespace blockgen {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> words(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> w;
  for (std::string s; in >> s;) w.push_back(s);
  return w;
}

struct EngineRun {
  int read = 0, initialized = 0, iterated = 0;
  bool converged = false;
  bool ap_sets_missing = false;  // the engine cannot evaluate an AP set yet
  double sigma0 = 0;             // m in the image plane
  std::string report, ext, ocs;
};

EngineRun adjust_with_engine(const std::filesystem::path& engine_folder) {
  EngineRun run;
  const std::filesystem::path here = std::filesystem::current_path();
  std::filesystem::current_path(engine_folder);
  bravik::Block block;
  std::ifstream main("block.inp");
  testing::internal::CaptureStdout();
  run.read = bravik::readInput(block, main);
  for (bravik::APSet* set : block.apSets.items()) {
    double dx = 0, dy = 0;
    if (set->correction(1e-3, 1e-3, -1e-2, dx, dy) != 1) run.ap_sets_missing = true;
  }
  std::ostringstream report, ext, ocs, res, apset, gcpres, chp;
  bravik::Adjustment adjustment(block);
  run.initialized = run.read == 1 ? adjustment.initialize(report) : -1;
  run.iterated = run.initialized == 1 ? adjustment.iterate(report) : -1;
  if (run.iterated == 1)
    adjustment.writeResults({report, ext, ocs, res, apset, gcpres, chp, ""}, false);
  run.report = report.str() + testing::internal::GetCapturedStdout();
  std::filesystem::current_path(here);
  run.converged = adjustment.state().converged;
  run.sigma0 = adjustment.state().sigma0;
  run.ext = ext.str();
  run.ocs = ocs.str();
  return run;
}

// A block with good geometry at a small raster: 30 um pixels keep the 12 mm lens's field of
// view at 320 x 240 pixels.
BlockOptions adjustable_block() {
  BlockOptions o;
  o.out_dir = fresh_test_folder("adjustment");
  o.strips = 3;
  o.images_per_strip = 6;
  o.camera.width = 320;
  o.camera.height = 240;
  o.camera.pp_col = 160;
  o.camera.pp_row = 120;
  o.camera.pixel_mm = 0.030;
  o.camera.focal_mm = 8.0;
  o.flying_height = 300;
  o.relief = 40;
  o.forward_overlap = 0.75;
  o.side_overlap = 0.5;
  o.tie_points = 200;
  o.control_points = 9;
  o.pixel_noise = 0.1;
  o.write_images = false;
  return o;
}

void expect_adjustment_reproduces_truth(const BlockOptions& o) {
  std::ostringstream log;
  generate_block(o, log);
  const Survey survey = plan_survey(o);
  // Measurement noise on the ground; the limits below are multiples of it (heights and
  // free orientations are several times weaker than planimetry at these base-height ratios).
  const double ground = survey.gsd * o.pixel_noise;
  const EngineRun run = adjust_with_engine(fs::path(o.out_dir) / "engine");
  ASSERT_EQ(run.read, 1) << run.report;
  ASSERT_FALSE(run.ap_sets_missing) << "the engine could not evaluate the AP sets";
  ASSERT_EQ(run.initialized, 1) << run.report;
  ASSERT_EQ(run.iterated, 1) << run.report;
  EXPECT_TRUE(run.converged);
  // Sigma 0 a posteriori matches the a-priori 1 um when the measurement noise is what the
  // input claims.
  EXPECT_GT(run.sigma0, 0.7e-6);
  EXPECT_LT(run.sigma0, 1.3e-6);

  std::map<std::string, const ImageRecord*> images;
  for (const ImageRecord& im : survey.images) images[im.id] = &im;
  const auto ext = words(run.ext);
  ASSERT_FALSE(ext.empty());
  EXPECT_EQ(ext[0], "indiv-type");
  size_t orientations = 0;
  for (size_t k = 1; k + 15 < ext.size() && ext[k] != "stop-dep"; k += 16, ++orientations) {
    ASSERT_EQ(ext[k], "ext-ori-opk-rot");
    ASSERT_EQ(ext[k + 2], "deg");
    const ImageRecord& im = *images.at(ext[k + 1]);
    const Eigen::Vector3d centre(std::stod(ext[k + 4]), std::stod(ext[k + 5]),
                                 std::stod(ext[k + 6]));
    // Free orientations: position and attitude trade against each other within the noise.
    // A tilt error d moves the centre by about H d: 0.5 degrees allow 0.0087 H.
    EXPECT_LT((centre - im.truth.centre).norm(), 0.01 * o.flying_height) << im.id;
    EXPECT_NEAR(std::stod(ext[k + 10]), degrees(im.truth.omega), 0.5) << im.id;
    EXPECT_NEAR(std::stod(ext[k + 11]), degrees(im.truth.phi), 0.5) << im.id;
    EXPECT_NEAR(std::remainder(std::stod(ext[k + 12]) - degrees(im.truth.kappa), 360.0), 0.0, 0.2)
        << im.id;
  }
  EXPECT_EQ(orientations, survey.images.size());

  std::map<std::string, Eigen::Vector3d> adjusted;
  const auto ocs = words(run.ocs);
  for (size_t k = 0; k + 6 < ocs.size() && ocs[k] != "stop-dep"; k += 7)
    adjusted[ocs[k]] = {std::stod(ocs[k + 1]), std::stod(ocs[k + 2]), std::stod(ocs[k + 3])};
  size_t checked = 0;
  double plan2 = 0, height2 = 0;
  for (const GroundPoint& p : survey.points) {
    if (p.kind == PointKind::kControl) continue;
    ASSERT_TRUE(adjusted.count(p.id)) << p.id;
    const Eigen::Vector3d d = adjusted.at(p.id) - p.truth;
    EXPECT_LT(d.head<2>().norm(), 9 * ground) << p.id;
    EXPECT_LT(std::abs(d.z()), 27 * ground) << p.id;
    plan2 += d.head<2>().squaredNorm();
    height2 += d.z() * d.z();
    ++checked;
  }
  ASSERT_EQ(checked, survey.count(PointKind::kTie) + survey.count(PointKind::kCheck));
  EXPECT_LT(std::sqrt(plan2 / checked), 3.5 * ground);
  EXPECT_LT(std::sqrt(height2 / checked), 10 * ground);
}

TEST(EngineAdjustmentTest, AdjustedBlockReproducesTheTruthWithinTheNoise) {
  expect_adjustment_reproduces_truth(adjustable_block());
}

TEST(EngineAdjustmentTest, TheDemoBlockAdjustsToItsTruth) {
  ParsedArguments defaults = parse_arguments({"--out", fresh_test_folder("demo"), "--no-images"});
  ASSERT_TRUE(defaults.ok) << defaults.error;
  expect_adjustment_reproduces_truth(defaults.options);
}

TEST(EngineAdjustmentTest, DistortedCameraWithItsFixedApSetsAdjustsAsWell) {
  BlockOptions o = adjustable_block();
  o.camera.pp_col = 163.5;
  o.camera.pp_row = 117.25;
  o.camera.distortion = {1.5e-3, -4e-6, 0, 2e-5, -1e-5};
  expect_adjustment_reproduces_truth(o);
}

}  // namespace
}  // namespace blockgen
