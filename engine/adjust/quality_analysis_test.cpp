// The quality analysis on simulated blocks: standard deviations and correlations against a
// Gauss-Jordan inverse of the full normal matrix formed by the test itself (both interfaces),
// data snooping of planted gross errors, and the significance of the AP-set parameters.

#include "adjust/quality_analysis.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "adjust/adjustment.h"
#include "adjust/block_simulation_test_support.h"
#include "lsq/normal_system_test_support.h"
#include "models/ap_set.h"

namespace bravik {
namespace {

using testing_support::BlockSimulator;
using testing_support::SimulatedBlock;
using testing_support::SimulationSettings;

// Forms the full normal matrix (both triangles) from global design matrices, as the reference.
class FullMatrix : public NormalSystem {
 public:
  explicit FullMatrix(int u) : reference(u) {}
  int size() const override { return reference.N.rows(); }
  void reset() override {}
  bool accumulate(const ObservationGroup& group) override {
    reference.add(group);
    return true;
  }
  void accumulateWeighted(const DesignBlock& block, const Vector& w, const Vector& l) override {
    reference.addWeighted(block, w, l);
  }
  void addParameterObservation(int i, double w, double l) override {
    reference.addParameterObservation(i, w, l);
  }
  int solve() override { return -1; }
  const Vector& rhs() const override { return reference.n; }
  const Vector& solution() const override { return reference.n; }
  double vtpv() const override { return reference.vtpv; }
  void setVtpv(double) override {}

  testing_support::ReferenceSystem reference;
};

struct Analysed {
  SimulatedBlock simulated;
  std::unique_ptr<Adjustment> adjustment;
  std::string report;
};

void adjustAndAnalyse(Analysed& a, AdjustmentInterface interface) {
  a.simulated.block->settings.adjustmentInterface = interface;
  a.simulated.block->options.qualityAnalysis = true;
  a.adjustment = std::make_unique<Adjustment>(*a.simulated.block);
  std::ostringstream report;
  ASSERT_EQ(a.adjustment->initialize(report), 1) << report.str();
  ASSERT_EQ(a.adjustment->iterate(report), 1) << report.str();
  a.adjustment->analyseQuality(nullptr);
  ASSERT_TRUE(a.adjustment->quality().available) << a.adjustment->quality().failure;
  a.report = report.str();
}

// A radial set on the camera with K1 free and K2, K3 observed tightly: AP correlations with every
// image geometry of the camera, without the 1e10 weights that would spoil the reference inverse.
void attachRadialSet(Block& block, double k1Sdev) {
  auto radial = std::make_unique<APSetRadial>();
  radial->setId("rad");
  radial->cameraId = "cam1";
  radial->s = {k1Sdev, 1e-3, 1e-3};
  block.apSets.insert(std::move(radial));
}

SimulationSettings smallBlock() {
  SimulationSettings settings;
  settings.strips = 2;
  settings.imagesPerStrip = 3;
  settings.gridColumns = 9;
  settings.gridRows = 6;
  settings.fixedControl = 0;  // observed control only: the reference inverse stays accurate
  return settings;
}

TEST(QualityAnalysis, PrecisionAndCorrelationsAgreeWithTheInverseOfTheFullMatrix) {
  for (AdjustmentInterface interface :
       {AdjustmentInterface::kNative, AdjustmentInterface::kSparse}) {
    SCOPED_TRACE(interface == AdjustmentInterface::kNative ? "native" : "sparse");
    Analysed a{BlockSimulator(smallBlock()).build(), nullptr, ""};
    attachRadialSet(*a.simulated.block, 1e31);
    adjustAndAnalyse(a, interface);
    Block& block = *a.simulated.block;
    const QualityResults& q = a.adjustment->quality();
    const int u = block.adjObjects.unknownCount();
    ASSERT_GE(u, 150);
    ASSERT_LE(u, 400);  // a few hundred unknowns

    FullMatrix full(u);
    int observations = 0;
    std::ostringstream discarded;
    ASSERT_EQ(setUpNormalEquations(block, full, observations, discarded), 1);
    const Matrix Q = testing_support::invert(full.reference.N);
    const double s0 = a.adjustment->state().sigma0;
    ASSERT_GT(s0, 0.0);
    ASSERT_EQ(static_cast<int>(q.sdev.size()), u);
    for (int i = 0; i < u; ++i)
      ASSERT_NEAR(q.sdev[i], s0 * std::sqrt(Q[i][i]), 1e-8 * q.sdev[i]) << "unknown " << i;

    // Every coefficient above the limit is listed with its value, and nothing else.
    std::multiset<std::string> expected, listed;
    auto key = [](const std::string& id, const std::string& a, const std::string& other,
                  const std::string& b) { return id + ":" + a + "/" + other + ":" + b; };
    auto rho = [&](int i, int j) { return Q[i][j] / std::sqrt(Q[i][i] * Q[j][j]); };
    for (const AdjObject* object : block.adjObjects.objects()) {
      const int f = object->firstUnknown();
      for (int i = 0; i < object->paramCount(); ++i)
        for (int j = i + 1; j < object->paramCount(); ++j)
          if (std::abs(rho(f + i, f + j)) > q.correlationLimit)
            expected.insert(key(object->id(), object->paramName(i), "", object->paramName(j)));
    }
    const APSet* set = block.apSets.find("rad");
    for (const ImageGeometry* g : block.geometries.items())
      for (int j = 0; j < g->paramCount(); ++j)
        if (std::abs(rho(set->firstUnknown(), g->firstUnknown() + j)) > q.correlationLimit)
          expected.insert(key("rad", "K1", g->typeName() + " " + g->id(), g->paramName(j)));
    int compared = 0;
    for (const ObjectCorrelations& object : q.correlations)
      for (const Correlation& c : object.entries) {
        listed.insert(key(object.id, c.parameter, c.otherObject, c.otherParameter));
        const AdjObject* owner = nullptr;
        for (const AdjObject* candidate : block.adjObjects.objects())
          if (candidate->id() == object.id && candidate->typeName() == object.type)
            owner = candidate;
        ASSERT_NE(owner, nullptr);
        const AdjObject* other = owner;
        if (!c.otherObject.empty())
          for (const AdjObject* candidate : block.adjObjects.objects())
            if (candidate->typeName() + " " + candidate->id() == c.otherObject) other = candidate;
        auto index = [](const AdjObject* o, const std::string& name) {
          for (int k = 0; k < o->paramCount(); ++k)
            if (o->paramName(k) == name) return o->firstUnknown() + k;
          return -1;
        };
        EXPECT_NEAR(c.rho, rho(index(owner, c.parameter), index(other, c.otherParameter)), 1e-8);
        ++compared;
      }
    EXPECT_GT(compared, 0);
    EXPECT_EQ(listed, expected);
  }
}

// 10 gross errors of 5 to 20 sigma in the image coordinates of points seen by six images (r about
// 0.6 to 0.75): every one is flagged, at most one good observation is, and the redundancy numbers
// of all observations sum to the redundancy. The smallest errors lie near the minimal detectable
// blunder (4.13 / sqrt(r) sigma, 80 % power), so whether the noise of a block lets every one show
// is a matter of chance: this block (fixed seed) is one where it does.
TEST(QualityAnalysis, DataSnoopingFindsPlantedGrossErrors) {
  SimulationSettings settings;
  settings.strips = 3;
  settings.imagesPerStrip = 5;
  settings.pointStdDev = settings.imageNoise;  // the stated precision is the true one
  settings.seed = 4;
  settings.gridColumns = 20;
  settings.gridRows = 15;
  for (AdjustmentInterface interface :
       {AdjustmentInterface::kNative, AdjustmentInterface::kSparse}) {
    SCOPED_TRACE(interface == AdjustmentInterface::kNative ? "native" : "sparse");
    Analysed a{BlockSimulator(settings).build(), nullptr, ""};
    Block& block = *a.simulated.block;
    // Rays per point, then the planted errors on distinct points with five or more rays.
    std::map<std::string, int> rays;
    for (const BundleImage* image : block.images.items())
      for (const ImagePoint& p : image->points) ++rays[p.id];
    std::mt19937 random(7);
    std::set<std::string> planted, usedPoints;
    // One error per image while the images last, on a point with six rays not used before.
    int k = 0;
    for (int round = 0; round < 3 && k < 10; ++round) {
      for (BundleImage* image : block.images.items()) {
        for (std::size_t i = round; i < image->points.size() && k < 10; i += 5) {
          ImagePoint& p = image->points[i];
          if (rays[p.id] < 6 || !usedPoints.insert(p.id).second) continue;
          const double size = (5.0 + 15.0 * k / 9.0) * settings.imageNoise;  // 5 to 20 sigma
          const bool inX = (random() & 1) != 0;
          (inX ? p.x : p.y) += (random() & 1) != 0 ? size : -size;
          planted.insert(image->id() + " " + p.id + " " + (inX ? "x" : "y"));
          ++k;
          break;
        }
      }
    }
    ASSERT_EQ(planted.size(), 10u);
    adjustAndAnalyse(a, interface);
    const QualityResults& q = a.adjustment->quality();

    std::set<std::string> flagged;
    int goodFlagged = 0;
    for (const SnoopedObservation& o : q.suspected) {
      ASSERT_EQ(o.kind, SnoopedObservation::Kind::kImage);
      const std::string name = o.image + " " + o.point + " " + o.component;
      flagged.insert(name);
      goodFlagged += planted.count(name) == 0 ? 1 : 0;
    }
    for (const std::string& error : planted) EXPECT_EQ(flagged.count(error), 1u) << error;
    EXPECT_LE(goodFlagged, 1);
    EXPECT_LT(q.largestUnflaggedW, q.snoopingLimit);
    std::printf("largest w of a good observation: %.2f (%s); good ones flagged: %d\n",
                goodFlagged > 0 ? q.suspected.back().w : q.largestUnflaggedW,
                q.largestUnflagged.c_str(), goodFlagged);
    for (std::size_t i = 1; i < q.suspected.size(); ++i)
      EXPECT_GE(q.suspected[i - 1].w, q.suspected[i].w);  // largest first

    EXPECT_EQ(q.imageObservations, a.adjustment->state().counts.observations);
    EXPECT_NEAR(q.redundancySum, q.redundancy, 1e-6 * q.redundancy);
  }
}

// Only K1 is truly non-zero: the radial set's K1 is significant, the decentering set's P1 and P2
// are not and are listed as candidates to fix.
TEST(QualityAnalysis, OnlyTheTrueDistortionParameterIsSignificant) {
  SimulationSettings settings;
  settings.strips = 3;
  settings.imagesPerStrip = 5;
  settings.pointStdDev = settings.imageNoise;
  for (AdjustmentInterface interface :
       {AdjustmentInterface::kNative, AdjustmentInterface::kSparse}) {
    SCOPED_TRACE(interface == AdjustmentInterface::kNative ? "native" : "sparse");
    Analysed a{BlockSimulator(settings).build(), nullptr, ""};
    Block& block = *a.simulated.block;
    const Camera& camera = *block.cameras.find("cam1");
    APSetRadial truth;
    const double corner = std::hypot(0.5 * camera.sx, 0.5 * camera.sy);
    truth.a = {20e-6 / std::pow(corner, 3), 0.0, 0.0};  // 20 um at the corners
    for (BundleImage* image : block.images.items())
      for (ImagePoint& point : image->points) {
        double dx = 0.0, dy = 0.0;
        truth.correction(point.x, point.y, -camera.c, dx, dy);
        point.x += dx;
        point.y += dy;
      }
    auto radial = std::make_unique<APSetRadial>();
    radial->setId("rad");
    radial->cameraId = "cam1";
    radial->s = {1e31, 1e-31, 1e-31};  // K1 free, K2 and K3 fixed at 0
    block.apSets.insert(std::move(radial));
    auto decentering = std::make_unique<APSetDecentering>();
    decentering->setId("dec");
    decentering->cameraId = "cam1";
    decentering->s = {1e31, 1e31};
    block.apSets.insert(std::move(decentering));
    adjustAndAnalyse(a, interface);
    const QualityResults& q = a.adjustment->quality();

    ASSERT_EQ(q.significance.size(), 3u);  // K2, K3 are held and not tested
    for (const APSignificance& s : q.significance) {
      SCOPED_TRACE(s.set + " " + s.parameter + " t = " + std::to_string(s.t));
      EXPECT_EQ(s.significant, s.parameter == "K1");
    }
    std::ostringstream sections;
    writeQualitySections(block, q, sections);
    EXPECT_NE(sections.str().find("Parameters not significant (candidates to fix in the next "
                                  "run):\n  AP set dec  P1\n  AP set dec  P2\n\n"),
              std::string::npos)
        << sections.str();
  }
}

}  // namespace
}  // namespace bravik
