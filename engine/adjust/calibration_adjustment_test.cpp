// End-to-end adjustments of simulated blocks with self-calibration (AP sets), GPS drift
// corrections and DLT images, and the placement of their couplings in the normal matrix.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "adjust/adjustment.h"
#include "adjust/approximations.h"
#include "adjust/block_simulation_test_support.h"
#include "input/readers.h"
#include "lsq/adj_interface.h"
#include "lsq/dense_normal_system.h"
#include "lsq/ls_params.h"
#include "lsq/normal_system_test_support.h"
#include "models/ap_set.h"
#include "models/corrections.h"
#include "report/report_sections.h"

namespace bravik {
namespace {

const LSParams kDefaults;  // the settings a run starts with

using testing::HasSubstr;
using testing_support::BlockSimulator;
using testing_support::SimulatedBlock;
using testing_support::SimulationSettings;

class CalibrationAdjustmentTest : public ::testing::Test {};

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
  blockgen::Rng random(99, "centre observations");
  for (ImageGeometry* geometry : simulated.block->geometries.items()) {
    const std::vector<double>& truth = simulated.truth.orientations.at(geometry->id());
    const Vec3 offset = error(*geometry);
    for (int j = 0; j < 3; ++j) {
      geometry->p[j] = truth[j] + offset[j] + random.gaussian(sd);
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
  for (double& s : set->s) s = kDefaults.smaxu;
  for (int k = 0; k < set->paramCount(); ++k) {
    if (set->paramName(k) == "K3") set->s[k] = kDefaults.sminu;
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
      // Extrapolated to the corners the 1 um image noise leaves about 1 um of uncertainty.
      EXPECT_NEAR(dx, dxTrue, 1.5e-6) << "corner " << x << " " << y;
      EXPECT_NEAR(dy, dyTrue, 1.5e-6) << "corner " << x << " " << y;
    }
  }
}

TEST_F(CalibrationAdjustmentTest, GapSetRecoversTheDistortionAndTheSimulatedNoise) {
  SimulatedBlock simulated = calibrationBlock();
  APSet* set = attachFreeSet(*simulated.block, std::make_unique<APSetGAP>());
  simulated.block->options.printAPSets = true;
  Adjustment adjustment(*simulated.block);
  const RunResult run = adjust(adjustment);
  ASSERT_EQ(run.initialized, 1) << run.report;
  ASSERT_EQ(run.iterated, 1) << run.report;
  EXPECT_NEAR(adjustment.state().sigma0 / kImageNoise, 1.0, 0.06);
  expectDistortionRecoveredAtTheCorners(*set, "0011111111");
  EXPECT_THAT(run.report, HasSubstr("Additional parameters\n---------------------\n\n"
                                    "ID    :  ap1\nType  :  GAP\nIndex :  "));
  EXPECT_THAT(run.report, HasSubstr("\n  K3         eli  "));

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
  uncalibrated.block->settings.maxIterations =
      4;  // enough to settle sigma 0; the model error stays
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
  block.options.printPosCorrections = true;
  Adjustment adjustment(block);
  const RunResult run = adjust(adjustment);
  ASSERT_EQ(run.iterated, 1) << run.report;
  EXPECT_NEAR(adjustment.state().sigma0 / 3e-6, 1.0, 0.08);
  EXPECT_THAT(run.report, HasSubstr("Position corrections\n--------------------\n\n"
                                    "ID    :  gps0\nType  :  position correction\n"));
  EXPECT_THAT(run.report, HasSubstr("\n  Zo[1]      unk  "));
  EXPECT_THAT(run.report, HasSubstr("Reference time t0 (= t_min) =       0.0000 s\n"));
  for (int strip = 0; strip < 2; ++strip) {
    const PosCorrection& c = *corrections[strip];
    EXPECT_EQ(c.t0, 0.0);
    for (int j = 0; j < 3; ++j) {
      // Six centres observed with 5 cm per strip: the offset holds to a few of its 5 cm.
      EXPECT_NEAR(c.c[j], kDrifts[strip].offset[j], 0.2) << "strip " << strip << " axis " << j;
      EXPECT_NEAR(c.c[3 + j], kDrifts[strip].drift[j], 0.004) << "strip " << strip << " axis " << j;
    }
  }
}

TEST_F(CalibrationAdjustmentTest, ReferenceTimeIsTheEarliestExposureWhateverTheRecordsHeld) {
  Block block;
  const double times[] = {100.0, 102.5, 101.0};
  for (int k = 0; k < 3; ++k) {
    auto eo = std::make_unique<EOAnglesOPKRot>("e" + std::to_string(k));
    eo->t = times[k];
    block.geometries.insert(std::move(eo));
  }
  auto position = std::make_unique<PosCorrection>("pc");
  auto attitude = std::make_unique<AttCorrection>("ac");
  position->t0 = 55.0;
  attitude->t0 = 101.0;
  PosCorrection* pc = position.get();
  AttCorrection* ac = attitude.get();
  block.posCorrections.insert(std::move(position));
  block.attCorrections.insert(std::move(attitude));
  std::ostringstream report;
  setReferenceTime(block, report);
  EXPECT_EQ(report.str(),
            "Time interval\n-------------\n"
            "t_min        =     100.0000 s\n"
            "t_max        =     102.5000 s\n"
            "duration dt  =       2.5000 s\n\n"
            "Reference time t0 (= t_min) =     100.0000 s\n\n");
  EXPECT_EQ(pc->t0, 100.0);
  EXPECT_EQ(ac->t0, 100.0);
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

struct DltBlock {
  Block block;
  std::map<std::string, Vec3> truth;
  std::map<std::string, std::vector<double>> truthL;
};

// Two strips of three DLT images over a 12 x 9 point grid; every point has an
// approximation (DLT images cannot intersect); every sixth point is an observed control point.
void buildDltBlock(DltBlock& dlt, double noise) {
  blockgen::Rng random(5, "dlt block");
  auto gauss = [](blockgen::Rng& stream) { return stream.gaussian(); };
  auto camera = std::make_unique<Camera>();
  camera->id_ = "cam1";
  camera->c = 0.153;
  camera->sx = camera->sy = 0.23;
  Camera* cam = camera.get();
  dlt.block.cameras.insert(std::move(camera));
  const double smaxu = kDefaults.smaxu;
  for (int strip = 0; strip < 2; ++strip) {
    for (int k = 0; k < 3; ++k) {
      const std::string id = "d" + std::to_string(strip) + std::to_string(k);
      const double omega = 0.01 * gauss(random);
      const double phi = 0.01 * gauss(random);
      const std::vector<double> L =
          testing_support::dltOfCamera({k * 900.0, strip * 1100.0, 1500.0}, omega, phi, 0.153);
      dlt.truthL[id] = L;
      auto geometry = std::make_unique<DirectLinearTransf>(id);
      for (int j = 0; j < 11; ++j) {
        geometry->p[j] = L[j] * (1.0 + 2e-4 * gauss(random));
        geometry->s[j] = smaxu;
      }
      dlt.block.geometries.insert(std::move(geometry));
      dlt.block.images.insert(std::make_unique<BundleImage>(id, id, "cam1", cam));
    }
  }
  int control = 0;
  for (int row = 0; row < 9; ++row) {
    for (int column = 0; column < 12; ++column) {
      const std::string id = "p" + std::to_string(row * 12 + column);
      const Vec3 P{-600.0 + 300.0 * column, -500.0 + 260.0 * row, 20.0 * gauss(random)};
      int rays = 0;
      for (BundleImage* image : dlt.block.images.items()) {
        DirectLinearTransf truthGeometry("t");
        truthGeometry.p = dlt.truthL[image->id()];
        double u = 0.0;
        double v = 0.0;
        truthGeometry.projection(P, -0.153, u, v);
        if (std::fabs(u) > 0.115 || std::fabs(v) > 0.115) continue;
        image->insertPoint({id, u + noise * gauss(random), v + noise * gauss(random), 1e-6, 1e-6});
        ++rays;
      }
      if (rays < 2) continue;
      dlt.truth[id] = P;
      auto point = std::make_unique<ObjectPoint>(id, kDefaults);
      const bool isControl = (row % 2 == 0) && (column % 3 == 0);
      for (int j = 0; j < 3; ++j) {
        point->xyz[j] = P[j] + (isControl ? 0.01 : 2.0) * gauss(random);
        point->sdev[j] = isControl ? 0.01 : smaxu;
      }
      point->type = isControl ? kPointControl : kPointIntersection;
      point->coordinatesGiven = true;
      control += isControl ? 1 : 0;
      dlt.block.objectPoints.insert(std::move(point));
    }
  }
  ASSERT_GE(control, 12);
}

TEST_F(CalibrationAdjustmentTest, DltBlockWithApproximationsAdjustsToTheTruth) {
  DltBlock dlt;
  buildDltBlock(dlt, kImageNoise);
  Adjustment adjustment(dlt.block);
  const RunResult run = adjust(adjustment);
  ASSERT_EQ(run.initialized, 1) << run.report;
  ASSERT_EQ(run.iterated, 1) << run.report;
  EXPECT_TRUE(adjustment.state().converged);
  EXPECT_NEAR(adjustment.state().sigma0 / kImageNoise, 1.0, 0.15);
  for (const ObjectPoint* point : dlt.block.objectPoints.items()) {
    const Vec3& truth = dlt.truth.at(point->id());
    for (int j = 0; j < 3; ++j) EXPECT_NEAR(point->xyz[j], truth[j], 0.1) << point->id();
  }
}

// Forwards every group to the engine's dense system and keeps it for the reference.
class TeeNormals : public NormalSystem {
 public:
  TeeNormals(NormalSystem& target, testing_support::ReferenceSystem& reference)
      : target_(target), reference_(reference) {}
  int size() const override { return target_.size(); }
  void reset() override {}
  bool accumulate(const ObservationGroup& group) override {
    reference_.add(group);
    return target_.accumulate(group);
  }
  void accumulateWeighted(const DesignBlock&, const Vector&, const Vector&) override {}
  void addParameterObservation(int, double, double) override {}
  int solve() override { return 0; }
  const Vector& rhs() const override { return target_.rhs(); }
  const Vector& solution() const override { return target_.solution(); }
  double vtpv() const override { return 0.0; }
  void setVtpv(double) override {}

 private:
  NormalSystem& target_;
  testing_support::ReferenceSystem& reference_;
};

// An observation carries blocks of its EO, its position and attitude corrections and two
// AP sets; the AP sets are numbered before the corrections but come after them in the
// group, so their couplings must be mirrored into the upper triangle.
TEST_F(CalibrationAdjustmentTest, CorrectionAndApCouplingsLandInTheUpperTriangle) {
  SimulationSettings settings;
  settings.strips = 1;
  settings.imagesPerStrip = 3;
  settings.gridColumns = 6;
  settings.gridRows = 4;
  SimulatedBlock simulated = BlockSimulator(settings).build();
  Block& block = *simulated.block;
  Camera* camera = block.cameras.find("cam1");
  APSetGAP gap;
  APSetP12 p12;
  p12.b = 0.1;
  camera->apSets = {&gap, &p12};
  PosCorrection position("pc");
  AttCorrection attitude("ac");
  for (TimeCorrection* correction :
       {static_cast<TimeCorrection*>(&position), static_cast<TimeCorrection*>(&attitude)}) {
    std::istringstream record("stop-dep 0 2 0 1 0 1 0 1 0 1 0 1 0 1");
    ASSERT_EQ(correction->readRecord(record), 1);
  }
  position.c[3] = 0.01;
  attitude.c[4] = 1e-5;

  int next = 0;
  std::map<std::string, Vec3> seen;
  for (BundleImage* image : block.images.items()) {
    for (const ImagePoint& point : image->points) seen[point.id] = simulated.truth.points[point.id];
  }
  OwnedList<ObjectPoint> points;
  for (const auto& [id, xyz] : seen) {
    auto point = std::make_unique<ObjectPoint>(id, kDefaults);
    point->xyz = xyz;
    point->setFirstUnknown(next);
    next += 3;
    points.insert(std::move(point));
  }
  for (ImageGeometry* geometry : block.geometries.items()) {
    auto* eo = dynamic_cast<ExtOrientation3*>(geometry);
    ASSERT_NE(eo, nullptr);
    eo->setPosCorrection(&position);
    eo->setAttCorrection(&attitude);
    eo->refresh();
    eo->setFirstUnknown(next);
    next += 6;
  }
  for (AdjObject* object : std::initializer_list<AdjObject*>{&gap, &p12, &position, &attitude}) {
    object->setFirstUnknown(next);
    next += object->paramCount();
  }
  for (BundleImage* image : block.images.items()) {
    image->geometry = block.geometries.find(image->id());
  }

  DenseNormalSystem dense(next, createAdjInterface(AdjustmentInterface::kNative));
  testing_support::ReferenceSystem reference(next);
  TeeNormals tee(dense, reference);
  for (BundleImage* image : block.images.items()) {
    int observations = 0;
    ASSERT_EQ(image->addToNormals(tee, points, block.settings, observations), 1);
  }
  const Matrix& N = dense.matrix();
  double largest = 0.0;
  for (int i = 0; i < next; ++i) largest = std::max(largest, std::fabs(reference.N[i][i]));
  for (int i = 0; i < next; ++i) {
    for (int j = i; j < next; ++j) {
      ASSERT_NEAR(N[i][j], reference.N[i][j], 1e-12 * largest) << i << ", " << j;
    }
    EXPECT_NEAR(dense.rhs()[i], reference.n[i], 1e-9 * std::fabs(reference.n[i]) + 1e-300);
  }
  // The couplings under test are really present.
  EXPECT_NE(reference.N[gap.firstUnknown() + 2][position.firstUnknown() + 2], 0.0);
  EXPECT_NE(reference.N[p12.firstUnknown()][attitude.firstUnknown() + 5], 0.0);
}

}  // namespace
}  // namespace bravik
