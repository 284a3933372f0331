// End to end: the engine adjusts a generated block and reproduces its truth within the noise.
// Skipped while the engine reports that it cannot adjust yet.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <numbers>
#include <sstream>

#include "blockgen.h"
#include "bravik.h"
#include "test_folder.h"

namespace blockgen {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> file_words(const fs::path& p) {
  std::ifstream in(p);
  std::vector<std::string> w;
  for (std::string s; in >> s;) w.push_back(s);
  return w;
}

std::string file_text(const fs::path& p) {
  std::ifstream in(p);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A block with good geometry at a small raster: 30 um pixels keep the 12 mm lens's field of
// view at 320 x 240 pixels.
BlockOptions adjustable_block() {
  BlockOptions o;
  o.out_dir = fresh_test_folder("adjustment");
  o.strips = 3;
  o.images_per_strip = 5;
  o.camera.width = 320;
  o.camera.height = 240;
  o.camera.pp_col = 160;
  o.camera.pp_row = 120;
  o.camera.pixel_mm = 0.030;
  o.flying_height = 400;
  o.relief = 40;
  o.forward_overlap = 0.65;
  o.side_overlap = 0.35;
  o.tie_points = 150;
  o.pixel_noise = 0.2;
  o.write_images = false;
  return o;
}

TEST(EngineAdjustmentTest, AdjustedBlockReproducesTheTruthWithinTheNoise) {
  const BlockOptions o = adjustable_block();
  std::ostringstream log;
  generate_block(o, log);
  const Survey survey = plan_survey(o);
  const fs::path engine = fs::absolute(fs::path(o.out_dir) / "engine");

  const fs::path here = fs::current_path();
  testing::internal::CaptureStdout();
  const int result = Bravik((engine / "block.inp").c_str(), 0);
  const std::string said = testing::internal::GetCapturedStdout();
  fs::current_path(here);
  if (result != 1 && said.find("not available") != std::string::npos)
    GTEST_SKIP() << "the engine cannot adjust yet: " << said;
  ASSERT_EQ(result, 1) << said;

  // Sigma 0 a posteriori matches the a-priori 1 um when the measurement noise is what the
  // input claims.
  const std::string report = file_text(engine / "block.out");
  const size_t at = report.find("Sigma 0 a posteriori");
  ASSERT_NE(at, std::string::npos);
  const double sigma0_um = std::stod(report.substr(report.find(':', at) + 1));
  EXPECT_GT(sigma0_um, 0.7);
  EXPECT_LT(sigma0_um, 1.3);

  std::map<std::string, const ImageRecord*> images;
  for (const ImageRecord& im : survey.images) images[im.id] = &im;
  const auto ext = file_words(engine / "block.ext");
  ASSERT_FALSE(ext.empty());
  EXPECT_EQ(ext[0], "indiv-type");
  size_t orientations = 0;
  for (size_t k = 1; k + 13 < ext.size() && ext[k] != "stop-dep"; k += 14, ++orientations) {
    ASSERT_EQ(ext[k], "ext-ori-opk-rot");
    ASSERT_EQ(ext[k + 2], "deg");
    const ImageRecord& im = *images.at(ext[k + 1]);
    const Eigen::Vector3d centre(std::stod(ext[k + 4]), std::stod(ext[k + 5]),
                                 std::stod(ext[k + 6]));
    EXPECT_LT((centre - im.truth.centre).norm(), 1.0) << im.id;
    EXPECT_NEAR(std::stod(ext[k + 10]), degrees(im.truth.omega), 0.05) << im.id;
    EXPECT_NEAR(std::stod(ext[k + 11]), degrees(im.truth.phi), 0.05) << im.id;
    EXPECT_NEAR(std::remainder(std::stod(ext[k + 12]) - degrees(im.truth.kappa), 360.0), 0.0, 0.05)
        << im.id;
  }
  EXPECT_EQ(orientations, survey.images.size());

  std::map<std::string, Eigen::Vector3d> adjusted;
  const auto ocs = file_words(engine / "block.ocs");
  for (size_t k = 0; k + 6 < ocs.size() && ocs[k] != "stop-dep"; k += 7)
    adjusted[ocs[k]] = {std::stod(ocs[k + 1]), std::stod(ocs[k + 2]), std::stod(ocs[k + 3])};
  size_t checked = 0;
  for (const GroundPoint& p : survey.points) {
    if (p.kind == PointKind::kControl) continue;
    ASSERT_TRUE(adjusted.count(p.id)) << p.id;
    const Eigen::Vector3d d = adjusted.at(p.id) - p.truth;
    // 0.2 px is 0.5 m on the ground here; heights are about H/B = 3 times weaker.
    EXPECT_LT(d.head<2>().norm(), 1.5) << p.id;
    EXPECT_LT(std::abs(d.z()), 4.0) << p.id;
    ++checked;
  }
  EXPECT_EQ(checked, survey.count(PointKind::kTie) + survey.count(PointKind::kCheck));
}

}  // namespace
}  // namespace blockgen
