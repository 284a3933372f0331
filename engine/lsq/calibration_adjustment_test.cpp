// End-to-end adjustments of simulated blocks with self-calibration (AP sets), GPS drift
// corrections and DLT images, and the placement of their couplings in the normal matrix.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "input/readers.h"
#include "lsq/adjustment.h"
#include "lsq/block_simulation_test_support.h"
#include "lsq/dense_normal_system.h"
#include "lsq/ls_params.h"
#include "lsq/normal_system_test_support.h"
#include "models/ap_set.h"
#include "models/corrections.h"
#include "report/report_sections.h"

namespace bravik {
namespace {

using testing::HasSubstr;
using testing_support::BlockSimulator;
using testing_support::SimulatedBlock;
using testing_support::SimulationSettings;

class CalibrationAdjustmentTest : public ::testing::Test {
 protected:
  void SetUp() override { saved_ = lsParams(); }
  void TearDown() override { lsParams() = saved_; }

  LSParams saved_;
};

struct RunResult {
  int initialized = 0;
  int iterated = 0;
  std::string report;
};

RunResult adjust(Adjustment& adjustment) {
  std::ostringstream report;
  RunResult result;
  result.initialized = adjustment.initialize(report);
  if (result.initialized == 1) result.iterated = adjustment.iterate(report);
  result.report = report.str();
  return result;
}

// The systematic image errors of the simulated camera: principal point, focal length,
// radial and decentering distortion, tens of micrometres at the format corners.
std::unique_ptr<APSetGAP> trueDistortion() {
  auto set = std::make_unique<APSetGAP>();
  set->a = {8e-6, -6e-6, 2e-5, 0.0, 0.0, 7e-3, -0.09, 0.0, 2e-4, -1.5e-4};
  return set;
}

// Adds the correction of `set` at the ideal coordinates to every measured point, as the
// engine's image model x = xp + u + dx(u) does.
void distortObservations(Block& block, const APSet& set) {
  for (BundleImage* image : block.images.items()) {
    const Camera& camera = *image->camera;
    for (ImagePoint& point : image->points) {
      double x = 0.0;
      double y = 0.0;
      camera.cameraToImage(point.x, point.y, x, y);
      double dx = 0.0;
      double dy = 0.0;
      set.correction(x - camera.xp, y - camera.yp, -camera.c, dx, dy);
      camera.imageToCamera(x + dx, y + dy, point.x, point.y);
    }
  }
}

// GPS-observed projection centres: truth + error(geometry) + noise, std. dev. `sd`.
template <typename Error>
void observeCentres(SimulatedBlock& simulated, double sd, Error error) {
  std::mt19937 random(99);
  std::normal_distribution<double> noise(0.0, sd);
  for (ImageGeometry* geometry : simulated.block->geometries.items()) {
    const std::vector<double>& truth = simulated.truth.orientations.at(geometry->id());
    const Vec3 offset = error(*geometry);
    for (int j = 0; j < 3; ++j) {
      geometry->p[j] = truth[j] + offset[j] + noise(random);
      geometry->s[j] = sd;
    }
    geometry->refresh();
  }
}

Vec3 noError(const ImageGeometry&) { return {0.0, 0.0, 0.0}; }

constexpr double kImageNoise = 1e-6;

// Four strips of six wide-angle images with GPS centres (1 cm); K3 of the adjusted sets is
// held at 0, since the few points near the format corners cannot separate it from K1, K2.
SimulatedBlock calibrationBlock() {
  SimulationSettings settings;
  settings.strips = 4;
  settings.imagesPerStrip = 6;
  settings.gridColumns = 32;
  settings.gridRows = 30;
  settings.imageNoise = kImageNoise;
  SimulatedBlock simulated = BlockSimulator(settings).build();
  distortObservations(*simulated.block, *trueDistortion());
  observeCentres(simulated, 0.01, noError);
  return simulated;
}

APSet* attachFreeSet(Block& block, std::unique_ptr<APSet> set) {
  set->setId("ap1");
  set->cameraId = "cam1";
  for (double& s : set->s) s = lsParams().smaxu;
  for (int k = 0; k < set->paramCount(); ++k) {
    if (set->paramName(k) == "K3") set->s[k] = lsParams().sminu;
  }
  APSet* raw = set.get();
  block.apSets.insert(std::move(set));
  return raw;
}

void expectDistortionRecoveredAtTheCorners(const APSet& adjusted, const std::string& selection) {
  const auto truth = trueDistortion();
  for (double x : {-0.115, 0.115}) {
    for (double y : {-0.115, 0.115}) {
      double dxTrue = 0, dyTrue = 0, dx = 0, dy = 0;
      truth->partialCorrection(x, y, -0.153, "0011111111", dxTrue, dyTrue);
      adjusted.partialCorrection(x, y, -0.153, selection, dx, dy);
      EXPECT_GT(std::hypot(dxTrue, dyTrue), 2e-5);  // the effect is really tens of um
      EXPECT_NEAR(dx, dxTrue, 1e-6) << "corner " << x << " " << y;
      EXPECT_NEAR(dy, dyTrue, 1e-6) << "corner " << x << " " << y;
    }
  }
}

TEST_F(CalibrationAdjustmentTest, GapSetRecoversTheDistortionAndTheSimulatedNoise) {
  SimulatedBlock simulated = calibrationBlock();
  APSet* set = attachFreeSet(*simulated.block, std::make_unique<APSetGAP>());
  Adjustment adjustment(*simulated.block);
  const RunResult run = adjust(adjustment);
  ASSERT_EQ(run.initialized, 1) << run.report;
  ASSERT_EQ(run.iterated, 1) << run.report;
  EXPECT_NEAR(adjustment.state().sigma0 / kImageNoise, 1.0, 0.06);
  expectDistortionRecoveredAtTheCorners(*set, "0011111111");
  EXPECT_THAT(run.report, HasSubstr("Additional parameters"));

  // The result records read back as an AP-set file with the adjusted values.
  std::ostringstream records;
  writeAPSetRecords(*simulated.block, records);
  std::istringstream in(records.str());
  OwnedList<APSet> back;
  ASSERT_EQ(readAPSetFile(in, back), 1) << records.str();
  ASSERT_EQ(back.count(), 1);
  const APSet* copy = back.find("ap1");
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->typeName(), "GAP");
  for (int k = 0; k < set->paramCount(); ++k) {
    EXPECT_NEAR(copy->a[k], set->a[k], 1e-8 * std::fabs(set->a[k]) + 1e-300);
  }

  std::ostringstream section;
  writeAPSetsSection(*simulated.block, section);
  EXPECT_THAT(section.str(), HasSubstr("AP set ID   :  ap1\nAP set Type :  GAP\n"));
  EXPECT_THAT(section.str(), HasSubstr("\ntotal distortion:\n\n ("));
}

TEST_F(CalibrationAdjustmentTest, AustralisSetRecoversTheDistortionWithoutItSigmaZeroGrows) {
  SimulatedBlock calibrated = calibrationBlock();
  APSet* set = attachFreeSet(*calibrated.block, std::make_unique<APSetAustralis>());
  Adjustment adjustment(*calibrated.block);
  ASSERT_EQ(adjust(adjustment).iterated, 1);
  EXPECT_NEAR(adjustment.state().sigma0 / kImageNoise, 1.0, 0.06);
  expectDistortionRecoveredAtTheCorners(*set, "0011111111");

  SimulatedBlock uncalibrated = calibrationBlock();
  Adjustment plain(*uncalibrated.block);
  adjust(plain);
  EXPECT_GT(plain.state().sigma0, 1.5 * adjustment.state().sigma0);
}

// Per strip: c[0] = offset, c[1] = drift of the GPS centres, as the correction that maps
// the observed centres onto the true ones (their negatives).
struct StripDrift {
  Vec3 offset;
  Vec3 drift;
};

const StripDrift kDrifts[] = {{{1.5, -0.8, 2.0}, {0.02, 0.01, -0.03}},
                              {{-1.0, 0.6, -1.2}, {-0.015, 0.02, 0.01}}};

std::string stripOf(const ImageGeometry& geometry) { return geometry.id().substr(3, 1); }

TEST_F(CalibrationAdjustmentTest, PositionCorrectionPerStripRecoversOffsetAndDrift) {
  SimulationSettings settings;
  settings.imagesPerStrip = 6;
  SimulatedBlock simulated = BlockSimulator(settings).build();
  Block& block = *simulated.block;
  // Exposure times are 10 s apart from 0 s on; the reference time becomes t_min = 0.
  observeCentres(simulated, 0.05, [](const ImageGeometry& geometry) {
    const StripDrift& d = kDrifts[std::stoi(stripOf(geometry))];
    return Vec3{-(d.offset[0] + d.drift[0] * geometry.t), -(d.offset[1] + d.drift[1] * geometry.t),
                -(d.offset[2] + d.drift[2] * geometry.t)};
  });
  std::vector<PosCorrection*> corrections;
  for (int strip = 0; strip < 2; ++strip) {
    auto correction = std::make_unique<PosCorrection>("gps" + std::to_string(strip));
    std::istringstream record("stop-dep 1234.5 2  0 1e31 0 1e31 0 1e31  0 1e31 0 1e31 0 1e31");
    ASSERT_EQ(correction->readRecord(record), 1);
    for (const ImageGeometry* geometry : block.geometries.items()) {
      if (stripOf(*geometry) == std::to_string(strip)) correction->eoIds.push_back(geometry->id());
    }
    corrections.push_back(correction.get());
    block.posCorrections.insert(std::move(correction));
  }
  Adjustment adjustment(block);
  const RunResult run = adjust(adjustment);
  ASSERT_EQ(run.iterated, 1) << run.report;
  EXPECT_NEAR(adjustment.state().sigma0 / 3e-6, 1.0, 0.08);
  EXPECT_THAT(run.report, HasSubstr("Reference time t0 (= t_min) =       0.0000 s\n"));
  for (int strip = 0; strip < 2; ++strip) {
    const PosCorrection& c = *corrections[strip];
    EXPECT_EQ(c.t0, 0.0);
    for (int j = 0; j < 3; ++j) {
      EXPECT_NEAR(c.c[j], kDrifts[strip].offset[j], 0.15) << "strip " << strip << " axis " << j;
      EXPECT_NEAR(c.c[3 + j], kDrifts[strip].drift[j], 0.004) << "strip " << strip << " axis " << j;
    }
  }
}

TEST_F(CalibrationAdjustmentTest, AttitudeCorrectionOnAQuaternionFailsTheInitialisation) {
  Block block;
  block.geometries.insert(std::make_unique<EOQuaternion>("q1"));
  auto correction = std::make_unique<AttCorrection>("imu");
  correction->eoIds = {"q1"};
  block.attCorrections.insert(std::move(correction));
  Adjustment adjustment(block);
  testing::internal::CaptureStdout();
  const RunResult run = adjust(adjustment);
  const std::string printed = testing::internal::GetCapturedStdout();
  EXPECT_EQ(run.initialized, -1);
  EXPECT_THAT(printed,
              HasSubstr("ERROR: Attitude correction imu: EO q1 invalid image geometry.\n"));
  EXPECT_THAT(run.report, HasSubstr("ERROR: Attach attitude correction"));
}

}  // namespace
}  // namespace bravik
