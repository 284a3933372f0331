// The whole adjustment of simulated blocks through the sparse normal system gives the results of
// the dense one: same iterations, sigma_0, orientations and points.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <sstream>
#include <vector>

#include "adjust/adjustment.h"
#include "adjust/block_simulation_test_support.h"
#include "lsq/adj_interface.h"
#include "lsq/ls_params.h"

namespace bravik {
namespace {

using testing_support::BlockSimulator;
using testing_support::CameraKind;
using testing_support::SimulatedBlock;
using testing_support::SimulationSettings;

struct Outcome {
  int iterations = 0;
  double sigma0 = 0.0;
  std::vector<double> values;  // every orientation parameter, then every point coordinate
};

Outcome adjustWith(AdjustmentInterface interface, const SimulationSettings& settings) {
  SimulatedBlock simulated = BlockSimulator(settings).build();
  simulated.block->settings.adjustmentInterface = interface;
  Adjustment adjustment(*simulated.block);
  std::ostringstream report;
  Outcome outcome;
  EXPECT_EQ(adjustment.initialize(report), 1) << report.str();
  EXPECT_EQ(adjustment.iterate(report), 1) << report.str();
  outcome.iterations = adjustment.state().iterations;
  outcome.sigma0 = adjustment.state().sigma0;
  for (const ImageGeometry* geometry : simulated.block->geometries.items())
    outcome.values.insert(outcome.values.end(), geometry->p.begin(), geometry->p.end());
  for (const ObjectPoint* point : simulated.block->objectPoints.items())
    outcome.values.insert(outcome.values.end(), point->xyz.begin(), point->xyz.end());
  return outcome;
}

TEST(SparseAdjustment, SameResultsAsTheNativeInterface) {
  for (CameraKind camera : {CameraKind::kFrame, CameraKind::kCCD}) {
    SimulationSettings settings;
    settings.camera = camera;
    settings.strips = 3;
    settings.imagesPerStrip = 5;
    const Outcome dense = adjustWith(AdjustmentInterface::kNative, settings);
    const Outcome sparse = adjustWith(AdjustmentInterface::kSparse, settings);
    EXPECT_EQ(sparse.iterations, dense.iterations);
    EXPECT_NEAR(sparse.sigma0, dense.sigma0, 1e-9 * dense.sigma0);
    ASSERT_EQ(sparse.values.size(), dense.values.size());
    double worst = 0.0;
    for (std::size_t i = 0; i < dense.values.size(); ++i)
      worst = std::max(worst, std::abs(sparse.values[i] - dense.values[i]));
    EXPECT_LT(worst, 1e-8);  // metres and radians
  }
}

// Enough points for the normal equations to be accumulated on two threads after the first
// iteration: the adjustment still counts every observation and reaches the truth within the
// noise of the image points.
TEST(SparseAdjustment, LargeBlockAccumulatedInLanesReachesTheTruth) {
  SimulationSettings settings;
  settings.strips = 3;
  settings.imagesPerStrip = 5;
  settings.gridColumns = 90;
  settings.gridRows = 64;
  SimulatedBlock simulated = BlockSimulator(settings).build();
  simulated.block->settings.adjustmentInterface = AdjustmentInterface::kSparse;
  Adjustment adjustment(*simulated.block);
  std::ostringstream report;
  EXPECT_EQ(adjustment.initialize(report), 1) << report.str();
  EXPECT_GE(simulated.block->objectPoints.count(), 4000);
  EXPECT_EQ(adjustment.iterate(report), 1) << report.str();
  EXPECT_GE(adjustment.state().iterations, 2);
  EXPECT_EQ(adjustment.state().counts.observations, 2 * simulated.imagePointCount);
  double worst = 0.0;
  for (const ObjectPoint* point : simulated.block->objectPoints.items())
    for (int k = 0; k < 3; ++k)
      worst = std::max(worst, std::abs(point->xyz[k] - simulated.truth.points[point->id()][k]));
  EXPECT_LT(worst, 1.0);  // metres, at 1,500 m flying height with 3 um image noise
}

}  // namespace
}  // namespace bravik
