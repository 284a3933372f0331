#include "adjust/iteration.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "adjust/tiny_block_test_support.h"
#include "lsq/ls_params.h"

namespace bravik {
namespace {

const LSParams kDefaults;  // the settings a run starts with

using testing_support::TinyBlock;

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// Normal system whose solution and weighted sum of squares the test chooses.
class ScriptedNormalSystem : public NormalSystem {
 public:
  explicit ScriptedNormalSystem(int size) : n_(size, 0.0), x_(size, 0.0) {}
  int size() const override { return static_cast<int>(x_.size()); }
  void reset() override { vtpv_ = 0.0; }
  bool accumulate(const ObservationGroup&) override { return true; }
  void accumulateWeighted(const DesignBlock&, const Vector&, const Vector&) override {}
  void addParameterObservation(int, double, double) override {}
  int solve() override {
    vtpv_ = vtpvAfterSolve;
    return solveResult;
  }
  const Vector& rhs() const override { return n_; }
  const Vector& solution() const override { return x_; }
  double vtpv() const override { return vtpv_; }
  void setVtpv(double value) override { vtpv_ = value; }

  int solveResult = 0;
  double vtpvAfterSolve = 0.0;

 private:
  Vector n_;
  Vector x_;
  double vtpv_ = 0.0;
};

class IterationTest : public ::testing::Test {
 protected:
  // Two images with eliminated orientations and `points` free tie points seen by both:
  // m = 4 points, u = 3 points + 12 of which 12 eliminated, so r = points.
  ScriptedNormalSystem* prepare(int points) {
    BundleImage* a = tiny_.addImage("a", 0);
    BundleImage* b = tiny_.addImage("b", 1);
    for (int i = 0; i < points; ++i) {
      const std::string id = "p" + std::to_string(i);
      const Vec3 P{150.0 + 10 * i, 20.0 * i, 0.0};
      tiny_.observe(*a, id, P);
      tiny_.observe(*b, id, P);
      tiny_.addPoint(id, P, kDefaults.smaxu, kPointIntersection);
    }
    for (ImageGeometry* geometry : tiny_.block().geometries.items()) {
      for (double& s : geometry->s) s = kDefaults.sminu;
    }
    tiny_.attach();
    std::ostringstream init;
    EXPECT_EQ(initializeAdjustmentTail(tiny_.block(), state_, init, processorSeconds()), 1);
    initReport_ = init.str();
    auto scripted = std::make_unique<ScriptedNormalSystem>(state_.counts.unknowns);
    ScriptedNormalSystem* raw = scripted.get();
    state_.normals = std::move(scripted);
    return raw;
  }

  TinyBlock tiny_;
  AdjustmentState state_;
  std::string initReport_;
};

TEST_F(IterationTest, InitialisationPrintsDataAndCounts) {
  prepare(2);
  EXPECT_TRUE(contains(initReport_,
                       "Images                      :       2\n"
                       "Cameras                     :       1\n"
                       "Exterior orientations       :       2\n"));
  EXPECT_TRUE(contains(initReport_,
                       "   BundleImage point coordinates      :  8\n"
                       "   Total number of observations :  8\n"));
  EXPECT_TRUE(contains(initReport_,
                       "   Object point coordinates     :  6   0   0\n"
                       "   Exterior orientations        :  12   0   12\n"));
  EXPECT_TRUE(contains(initReport_, "   Total number of unknowns     :  18   0   12\n"));
  EXPECT_TRUE(contains(initReport_, "Redundancy                      :  2\n\n"));
  EXPECT_TRUE(contains(initReport_, "Elapsed cpu time to initialize adjustment: "));
}

TEST_F(IterationTest, SigmaZeroFromVtpvAndRedundancy) {
  ScriptedNormalSystem* normals = prepare(2);
  normals->vtpvAfterSolve = 2.0e-12;
  std::ostringstream report;
  ASSERT_EQ(runIteration(tiny_.block(), state_, 1, report), 1);
  EXPECT_TRUE(contains(report.str(), "Iteration number   1\n--------------------\n\n"));
  EXPECT_TRUE(contains(report.str(),
                       "Number of observations  :  8\n"
                       "Number of unknowns      :  18 (thereof: 0 obs. 12 elim.)\n"
                       "Number of constraints   :  0\n"
                       "Redundancy              :  2\n"
                       "vtpv                    :  2.00e-12\n"
                       "Sigma 0 a posteriori    :  1.00 um\n\n"));
  // Object points and centres: no change; the eliminated rotations count for nothing.
  EXPECT_TRUE(contains(report.str(),
                       "Average change of unknown parameters\n"
                       " - object point coords.             :   0.000e+00 m\n"
                       " - perspective centre coords.       :      ---   \n"
                       " - rotation parameters              :      ---   \n"));
}

TEST_F(IterationTest, NoRedundancyLeavesSigmaZeroUndefined) {
  ScriptedNormalSystem* normals = prepare(0);
  normals->vtpvAfterSolve = 1e-12;
  std::ostringstream report;
  ASSERT_EQ(runIteration(tiny_.block(), state_, 1, report), 1);
  EXPECT_TRUE(contains(report.str(), "Sigma 0 a posteriori    :  undefined, no redundancy!\n"));
}

TEST_F(IterationTest, NegativeRedundancyEndsTheRun) {
  prepare(1);
  // Freeing the orientations leaves 4 observations for 15 unknowns.
  for (AdjObject* object : tiny_.block().adjObjects.objects()) {
    for (ParamSlot& slot : object->slots()) slot.state = ParamState::kUnknown;
  }
  std::ostringstream report;
  EXPECT_EQ(runIteration(tiny_.block(), state_, 1, report), -1);
  EXPECT_TRUE(contains(report.str(), "*** ERROR: Negative redundancy.\n"));
  EXPECT_FALSE(contains(report.str(), "Sigma 0"));
}

TEST_F(IterationTest, FailedDecompositionReportsTheZeroBasedRow) {
  ScriptedNormalSystem* normals = prepare(2);
  normals->solveResult = 2;
  std::ostringstream report;
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(runIteration(tiny_.block(), state_, 1, report), -1);
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_TRUE(
      contains(out, "ATTENTION: BMatrix is >>> not <<< positive definite at row/column 1\n"));
  EXPECT_TRUE(contains(report.str(), "*** ERROR: Solving of normal equations failed.\n"));
  EXPECT_FALSE(contains(report.str(), "Average change"));
}

TEST_F(IterationTest, RealSolverFailureOnADatumDefect) {
  // Free orientations and free points without control: the normal matrix is singular.
  BundleImage* a = tiny_.addImage("a", 0);
  BundleImage* b = tiny_.addImage("b", 1);
  for (int i = 0; i < 4; ++i) {
    const std::string id = "p" + std::to_string(i);
    const Vec3 P{150.0 + 50 * (i % 2), 100.0 * (i / 2), 0.0};
    tiny_.observe(*a, id, P);
    tiny_.observe(*b, id, P);
    tiny_.addPoint(id, P, kDefaults.smaxu, kPointIntersection);
  }
  tiny_.attach();
  std::ostringstream report;
  ASSERT_EQ(initializeAdjustmentTail(tiny_.block(), state_, report, processorSeconds()), 1);
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(iterate(tiny_.block(), state_, report), -1);
  EXPECT_TRUE(contains(::testing::internal::GetCapturedStdout(),
                       "ATTENTION: BMatrix is >>> not <<< positive definite at row/column "));
  EXPECT_TRUE(contains(report.str(), "*** ERROR: Solving of normal equations failed.\n"));
}

TEST(APtvCheckTest, ListsOnlyLargePositiveValues) {
  std::ostringstream report;
  EXPECT_EQ(checkAPtv({-1e3, 1e3, 5e-7, 2e-6}, 1e-6, report), 2);
  EXPECT_EQ(report.str(),
            "Check adjustment on A'Pv = 0\n"
            "----------------------------\n"
            "A'Pv limit:  1.0e-06\n"
            "A'Pv[1] is large: 1.0e+03\n"
            "A'Pv[3] is large: 2.0e-06\n"
            "\nNumber of A'Pv-values > limit : 2\n\n");
}

}  // namespace
}  // namespace bravik
