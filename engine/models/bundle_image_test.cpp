#include "models/bundle_image.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <sstream>

#include "lsq/ls_params.h"
#include "lsq/normal_system.h"
#include "models/ap_set.h"
#include "models/camera.h"
#include "models/corrections.h"
#include "models/ext_orientation.h"

namespace bravik {
namespace {

const LSParams kDefaults;  // the settings a run starts with

// Keeps the observation groups it is given.
class CollectingNormals : public NormalSystem {
 public:
  int size() const override { return 0; }
  void reset() override {}
  bool accumulate(const ObservationGroup& group) override {
    groups.push_back(group);
    return true;
  }
  void accumulateWeighted(const DesignBlock&, const Vector&, const Vector&) override {}
  void addParameterObservation(int, double, double) override {}
  int solve() override { return 0; }
  const Vector& rhs() const override { return empty_; }
  const Vector& solution() const override { return empty_; }
  double vtpv() const override { return 0.0; }
  void setVtpv(double) override {}
  std::vector<ObservationGroup> groups;

 private:
  Vector empty_;
};

class BundleImageTest : public testing::Test {
 protected:
  void SetUp() override {
    std::istringstream record("K - 100 (0.02, -0.01) 4000 3000 10 10");
    camera_.readRecord(record);
    eo_.p = {50, 40, 1000, 0.01, -0.02, 0.3};
    eo_.s = {1e31, 1e31, 1e31, 1e31, 1e31, 1e31};
    eo_.refresh();
    eo_.setFirstUnknown(6);
    auto point = std::make_unique<ObjectPoint>("P1", kDefaults);
    point->xyz = {120, 80, 20};
    point->setFirstUnknown(0);
    points_.insert(std::move(point));
    image_.geometry = &eo_;
  }

  // Pixel coordinates of an object point, by projection and the inverse pixel mapping.
  void measure(const std::string& id, const Vec3& P, double offsetPixels = 0.0) {
    double x, y, c, r;
    ASSERT_EQ(image_.projection(P, x, y), 1);
    camera_.imageToCamera(x, y, c, r);
    image_.insertPoint({id, c + offsetPixels, r, 0.5, 0.25});
  }

  CameraCCD camera_;
  EOAnglesOPKRot eo_{"S1"};
  OwnedList<ObjectPoint> points_;
  BundleImage image_{"I1", "S1", "K", &camera_};
};

TEST_F(BundleImageTest, ExactMeasurementHasZeroMisclosureAndScaledCofactors) {
  measure("P1", points_.find("P1")->xyz);
  CollectingNormals normals;
  int observations = 0;
  ASSERT_EQ(image_.addToNormals(normals, points_, kDefaults, observations), 1);
  EXPECT_EQ(observations, 2);
  ASSERT_EQ(normals.groups.size(), 1u);
  const ObservationGroup& group = normals.groups[0];
  EXPECT_NEAR(group.l[0], 0.0, 1e-15);
  EXPECT_NEAR(group.l[1], 0.0, 1e-15);
  const double sigma0 = kDefaults.sigma0;
  EXPECT_DOUBLE_EQ(group.Q(0, 0), (0.5 * 10e-6 / sigma0) * (0.5 * 10e-6 / sigma0));
  EXPECT_DOUBLE_EQ(group.Q(1, 1), (0.25 * 10e-6 / sigma0) * (0.25 * 10e-6 / sigma0));
  ASSERT_EQ(group.blocks.size(), 2u);
  EXPECT_EQ(group.blocks[0].offset, 0);
  EXPECT_EQ(group.blocks[1].offset, 6);
  EXPECT_EQ(group.blocks[1].A.cols(), 6);
}

TEST_F(BundleImageTest, MisclosureIsMeasuredMinusProjectedAndUnknownPointsAreSkipped) {
  measure("P1", points_.find("P1")->xyz, 3.0);
  measure("P9", {0, 0, 0});
  CollectingNormals normals;
  int observations = 0;
  testing::internal::CaptureStdout();
  ASSERT_EQ(image_.addToNormals(normals, points_, kDefaults, observations), 1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "ATTENTION: Object point P9 not found.\n");
  EXPECT_EQ(observations, 2);
  ASSERT_EQ(normals.groups.size(), 1u);
  EXPECT_NEAR(normals.groups[0].l[0], 3.0 * 10e-6, 1e-12);
  EXPECT_NEAR(normals.groups[0].l[1], 0.0, 1e-12);
}

// Between iterations the object list may change: a point removed, re-listed at another
// entry, or another point listed where it stood. The image must always use the listed point.
TEST_F(BundleImageTest, ObjectPointsAreFoundAfterTheListChanged) {
  const Vec3 truth = points_.find("P1")->xyz;
  measure("P1", truth);
  CollectingNormals normals;
  int observations = 0;
  ASSERT_EQ(image_.addToNormals(normals, points_, kDefaults, observations), 1);
  ASSERT_NEAR(normals.groups.back().l[0], 0.0, 1e-15);

  points_.remove(points_.indexOf("P1"));
  auto other = std::make_unique<ObjectPoint>("P2", kDefaults);
  other->xyz = {0, 0, 0};
  points_.insert(std::move(other));
  testing::internal::CaptureStdout();
  ASSERT_EQ(image_.addToNormals(normals, points_, kDefaults, observations), 1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "ATTENTION: Object point P1 not found.\n");
  EXPECT_EQ(normals.groups.size(), 1u);

  auto moved = std::make_unique<ObjectPoint>("P1", kDefaults);
  moved->xyz = {truth[0] + 5.0, truth[1], truth[2]};
  points_.insert(std::move(moved));
  ASSERT_EQ(image_.addToNormals(normals, points_, kDefaults, observations), 1);
  ASSERT_EQ(normals.groups.size(), 2u);
  EXPECT_GT(std::fabs(normals.groups.back().l[0]), 1e-4);
}

// A top-right CCD camera (pixels, axes exchanged) with two strongly distorting AP sets, an EO
// with position and attitude corrections: every design block of an image point is the
// derivative of the image model x = xp + u + D(u) a (BundleImage::projection) by its unknowns.
// The point is measured 40 pixels off its projection, so that D taken at the measured point
// instead of the projection would show.
TEST(BundleImageDesignTest, BlocksAreTheDerivativesOfTheDistortedProjection) {
  CameraCCDTR camera;
  std::istringstream record("K - 35 (0.2, -0.15) 4000 3000 6 6");
  ASSERT_EQ(camera.readRecord(record), 1);
  APSetGAP gap;
  gap.a = {2e-5, -1e-5, 3e-5, 1e-4, -2e-4, -0.9, 800.0, 0.0, 3e-4, -2e-4};
  APSetP12 p12;
  p12.b = 0.01;
  p12.a = {1e-3, -2e-3, 0.05, -0.04, 0.03, 0.02, 2.0, -3.0, 1.5, 2.5, 100.0, -150.0};
  camera.apSets = {&gap, &p12};

  PosCorrection position("pc");
  AttCorrection attitude("ac");
  for (TimeCorrection* correction : std::initializer_list<TimeCorrection*>{&position, &attitude}) {
    std::istringstream lines("stop-dep 0 2 0 1 0 1 0 1 0 1 0 1 0 1");
    ASSERT_EQ(correction->readRecord(lines), 1);
  }
  position.c = {0.3, -0.2, 0.1, 0.01, 0.02, -0.01};
  attitude.c = {1e-3, -2e-3, 5e-4, 1e-5, -2e-5, 3e-5};
  EOAnglesPOKRot eo("S1");
  eo.p = {10, -20, 150, 0.02, -0.03, 0.4};
  eo.t = 12.0;
  eo.setPosCorrection(&position);
  eo.setAttCorrection(&attitude);
  eo.refresh();

  OwnedList<ObjectPoint> points;
  auto owned = std::make_unique<ObjectPoint>("P1", kDefaults);
  ObjectPoint* point = owned.get();
  point->xyz = {45, 10, 3};
  points.insert(std::move(owned));
  BundleImage image("I1", "S1", "K", &camera);
  image.geometry = &eo;
  int next = 0;
  for (AdjObject* object :
       std::initializer_list<AdjObject*>{point, &eo, &position, &attitude, &gap, &p12}) {
    object->setFirstUnknown(next);
    next += object->paramCount();
  }

  double x = 0.0;
  double y = 0.0;
  ASSERT_EQ(image.projection(point->xyz, x, y), 1);
  ASSERT_GT(std::hypot(x, y), 0.01);  // well off the principal point, where distortion is large
  double c = 0.0;
  double r = 0.0;
  camera.imageToCamera(x, y, c, r);
  image.insertPoint({"P1", c + 40.0, r - 40.0, 0.5, 0.5});
  CollectingNormals normals;
  int observations = 0;
  ASSERT_EQ(image.addToNormals(normals, points, kDefaults, observations), 1);
  ASSERT_EQ(normals.groups.size(), 1u);
  const ObservationGroup& group = normals.groups[0];
  ASSERT_EQ(group.blocks.size(), 6u);

  // Central difference of the projection of `xyz` by parameter k of `values`.
  std::vector<double> xyz(point->xyz.begin(), point->xyz.end());
  auto numeric = [&](std::vector<double>& values, int k, double h, double& dx, double& dy) {
    auto project = [&](double value, double& px, double& py) {
      const double saved = values[k];
      values[k] = value;
      eo.refresh();
      image.projection({xyz[0], xyz[1], xyz[2]}, px, py);
      values[k] = saved;
      eo.refresh();
    };
    double xPlus, yPlus, xMinus, yMinus;
    project(values[k] + h, xPlus, yPlus);
    project(values[k] - h, xMinus, yMinus);
    dx = (xPlus - xMinus) / (2 * h);
    dy = (yPlus - yMinus) / (2 * h);
  };
  // Every unknown is moved so that the image point moves by about 0.1 um: far above rounding,
  // small enough that the model is linear over the step.
  std::vector<double>* owners[] = {&xyz, &eo.p, &position.c, &attitude.c, &gap.a, &p12.a};
  for (std::size_t b = 0; b < 6; ++b) {
    const Matrix& A = group.blocks[b].A;
    std::vector<double>& values = *owners[b];
    ASSERT_EQ(A.cols(), static_cast<int>(values.size())) << "block " << b;
    for (int k = 0; k < A.cols(); ++k) {
      const double size = std::hypot(A(0, k), A(1, k));
      ASSERT_GT(size, 0.0) << "block " << b << " column " << k;
      double dx = 0.0;
      double dy = 0.0;
      numeric(values, k, 1e-7 / size, dx, dy);
      EXPECT_NEAR(A(0, k), dx, 1e-6 * size) << "block " << b << " column " << k;
      EXPECT_NEAR(A(1, k), dy, 1e-6 * size) << "block " << b << " column " << k;
    }
  }
}

TEST(BundleImageBasics, ImageToObjectIsNotProvided) {
  BundleImage image("I", "S", "K", nullptr);
  testing::internal::CaptureStdout();
  EXPECT_EQ(image.imageToObject(), -1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "ERROR: image_to_object() not implemented yet!\n");
}

TEST(PMFLinearTest, ProjectionDerivativesAndIntersection) {
  PMFLinear first("A"), second("B");
  first.p = {0.1, 1e-4, 2e-5, 0, -0.2, -1e-5, 1e-4, 3e-6};
  second.p = {-0.3, 1e-4, -1e-5, 2e-5, 0.1, 2e-5, 1e-4, -4e-5};
  const Vec3 truth{300, -150, 40};
  double u1, v1, u2, v2;
  first.projection(truth, -0.1, u1, v1);
  second.projection(truth, -0.1, u2, v2);
  EXPECT_DOUBLE_EQ(u1, 0.1 + 0.03 - 0.003);

  GeometryDerivs derivs;
  ASSERT_EQ(first.getDerivs({u1, v1, -0.1}, truth, derivs), 1);
  EXPECT_THAT(std::vector<double>(derivs.params[0], derivs.params[0] + 8),
              testing::ElementsAre(1, 300, -150, 40, 0, 0, 0, 0));
  EXPECT_EQ(derivs.objectPoint(1, 1), 1e-4);

  Vec3 P;
  double e;
  ASSERT_EQ(first.intersection(second, {u1, v1, -0.1}, {u2, v2, -0.1}, P, e), 1);
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(P[k], truth[k], 1e-6);

  EOAnglesOPKRot eo("E");
  testing::internal::CaptureStdout();
  EXPECT_EQ(first.intersection(eo, {}, {}, P, e), -1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "PMFLinear::intersection: Incompatible image geometries!\n");
}

TEST(DirectLinearTransfTest, IntersectionIsNotProvidedAndRecordsRoundTrip) {
  DirectLinearTransf a("D1"), b("D2");
  Vec3 P;
  double e;
  testing::internal::CaptureStdout();
  EXPECT_EQ(a.intersection(b, {}, {}, P, e), -1);
  EXPECT_EQ(a.intersection(PMFLinear("X"), {}, {}, P, e), -1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "DirectLinearTransf::intersection: Not implemented yet!\n"
            "DirectLinearTransf::intersection: Incompatible image geometries!\n");

  for (int k = 0; k < 11; ++k) {
    a.p[k] = 0.1 * (k + 1) / 3.0;
    a.s[k] = 1e31;
  }
  a.t = 17.125;
  std::ostringstream out;
  a.writeRecord(out, kDefaults);
  std::istringstream in(out.str());
  std::string keyword;
  in >> keyword;
  EXPECT_EQ(keyword, "dlt");
  DirectLinearTransf copy;
  ASSERT_EQ(copy.readRecord(in, kDefaults), 1);
  EXPECT_EQ(copy.id(), "D1");
  EXPECT_EQ(copy.t, 17.125);
  for (int k = 0; k < 11; ++k) EXPECT_DOUBLE_EQ(copy.p[k], a.p[k]);

  std::istringstream shortRecord("D3 0 1 1 2");
  testing::internal::CaptureStdout();
  EXPECT_EQ(copy.readRecord(shortRecord, kDefaults), -1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "ERROR: Reading values and std. devs. failed.\n");
}

TEST(DirectLinearTransfTest, ProjectionModelAndZeroDenominator) {
  DirectLinearTransf dlt("D");
  dlt.p = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0};
  double u = 0.0;
  double v = 0.0;
  for (double Z : {-100.0, 0.0, 2500.0}) {
    ASSERT_EQ(dlt.projection({3.5, -2.0, Z}, -0.1, u, v), 1);
    EXPECT_EQ(u, 3.5);
    EXPECT_EQ(v, -2.0);
  }

  dlt.p[10] = -0.001;
  GeometryDerivs derivs;
  testing::internal::CaptureStderr();
  EXPECT_EQ(dlt.projection({1, 2, 1000}, -0.1, u, v), 1);
  EXPECT_EQ(dlt.getDerivs({0, 0, -0.1}, {1, 2, 1000}, derivs), 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "DEP::projection: zero denominator.\n"
            "DirectLinearTransf::get_derivs: zero denominator.\n");
}

TEST(DirectLinearTransfTest, DerivativesMatchNumericDifferentiation) {
  DirectLinearTransf dlt("D");
  dlt.p = {1e-4, 2e-6, -3e-6, -0.05, -1e-6, 1.1e-4, 4e-6, 0.02, 3e-7, -2e-7, -6.6e-4};
  const Vec3 P{420.0, -310.0, 35.0};
  GeometryDerivs derivs;
  ASSERT_EQ(dlt.getDerivs({0, 0, -0.1}, P, derivs), 1);
  auto project = [&](const DirectLinearTransf& g, const Vec3& X) {
    double u = 0.0;
    double v = 0.0;
    g.projection(X, -0.1, u, v);
    return std::pair{u, v};
  };
  for (int k = 0; k < 11; ++k) {
    const double h = 1e-6 * std::max(std::fabs(dlt.p[k]), 1e-7);
    const double saved = dlt.p[k];
    dlt.p[k] = saved + h;
    const auto [up, vp] = project(dlt, P);
    dlt.p[k] = saved - h;
    const auto [um, vm] = project(dlt, P);
    dlt.p[k] = saved;
    const double du = (up - um) / (2 * h);
    const double dv = (vp - vm) / (2 * h);
    EXPECT_NEAR(derivs.params(0, k), du, 1e-6 * std::fabs(du) + 1e-9) << "L" << k + 1;
    EXPECT_NEAR(derivs.params(1, k), dv, 1e-6 * std::fabs(dv) + 1e-9) << "L" << k + 1;
  }
  for (int j = 0; j < 3; ++j) {
    Vec3 plus = P;
    Vec3 minus = P;
    plus[j] += 0.01;
    minus[j] -= 0.01;
    const auto [up, vp] = project(dlt, plus);
    const auto [um, vm] = project(dlt, minus);
    EXPECT_NEAR(derivs.objectPoint(0, j), (up - um) / 0.02, 1e-11);
    EXPECT_NEAR(derivs.objectPoint(1, j), (vp - vm) / 0.02, 1e-11);
  }
  EXPECT_EQ(derivs.observations(0, 0), 1.0);
  EXPECT_EQ(derivs.observations(1, 1), 1.0);
  EXPECT_EQ(derivs.observations(0, 1), 0.0);
}

}  // namespace
}  // namespace bravik
