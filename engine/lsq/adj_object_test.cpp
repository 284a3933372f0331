#include "lsq/adj_object.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <sstream>

#include "lsq/ls_params.h"
#include "lsq/normal_system.h"

namespace bravik {
namespace {

// An object of n parameters stored in its own arrays.
class TestObject : public AdjObject {
 public:
  TestObject(std::string id, std::vector<double> values, std::vector<double> sdevs,
             AdjKind kind = AdjKind::kOther)
      : AdjObject(std::move(id), static_cast<int>(values.size()), kind),
        values_(std::move(values)),
        sdevs_(std::move(sdevs)) {}
  int setupParamSlots(const LSParams& ls) override {
    return setupSlotsFrom(values_.data(), sdevs_.data(), ls);
  }
  int convergenceTest(const Vector& x, const LSParams&) const override {
    for (int k = 0; k < paramCount(); ++k) {
      if (std::fabs(x[firstUnknown() + k]) > 0.5) return k;
    }
    return -1;
  }
  std::vector<double> values_;
  std::vector<double> sdevs_;
};

// Records the parameter observations it receives.
class RecordingNormals : public NormalSystem {
 public:
  explicit RecordingNormals(int n) : diag(n, 0.0), rhs_(n, 0.0) {}
  int size() const override { return static_cast<int>(diag.size()); }
  void reset() override {}
  bool accumulate(const ObservationGroup&) override { return true; }
  void accumulateWeighted(const DesignBlock&, const Vector&, const Vector&) override {}
  void addParameterObservation(int i, double w, double l) override {
    diag[i] += w;
    rhs_[i] += w * l;
    vtpv_ += w * l * l;
  }
  int solve() override { return 0; }
  const Vector& rhs() const override { return rhs_; }
  const Vector& solution() const override { return rhs_; }
  double vtpv() const override { return vtpv_; }
  void setVtpv(double value) override { vtpv_ = value; }
  Vector diag;
  Vector rhs_;
  double vtpv_ = 0.0;
};

class AdjObjectTest : public testing::Test {
 protected:
  void SetUp() override {
    ls_.smin = 1e-6;
    ls_.smax = 1e3;
    ls_.sigma0 = 1e-6;
    ls_.weightSuppression = 1e10;
  }
  LSParams ls_;
};

TEST_F(AdjObjectTest, ClassifiesStdDevWithInclusiveObservedRange) {
  EXPECT_STREQ(stateName(1e-7, ls_).c_str(), "eli");
  EXPECT_STREQ(stateName(1e-6, ls_).c_str(), "obs");
  EXPECT_STREQ(stateName(1e3, ls_).c_str(), "obs");
  EXPECT_STREQ(stateName(1e4, ls_).c_str(), "unk");
  testing::internal::CaptureStdout();
  EXPECT_EQ(stateName(std::nan(""), ls_), "");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "ERROR: Invalid standard deviation: nan\n");
}

TEST_F(AdjObjectTest, SlotWeightsFollowTheStates) {
  TestObject object("A", {1.0, 2.0, 3.0}, {2e-6, 1e4, 1e-9});
  AdjObjectList list;
  ASSERT_EQ(list.add(object, ls_), 1);
  const auto& slots = object.slots();
  EXPECT_EQ(slots[0].state, ParamState::kObserved);
  EXPECT_DOUBLE_EQ(slots[0].weight, 0.25);
  EXPECT_EQ(slots[1].state, ParamState::kUnknown);
  EXPECT_EQ(slots[1].weight, 0.0);
  EXPECT_EQ(slots[2].state, ParamState::kEliminated);
  EXPECT_EQ(slots[2].weight, 1e10);
  EXPECT_EQ(list.countWithState(ParamState::kObserved), 1);
  EXPECT_EQ(list.countWithState(ParamState::kUnknown), 1);
  EXPECT_EQ(list.countWithState(ParamState::kEliminated), 1);
}

TEST_F(AdjObjectTest, NumbersUnknownsConsecutivelyAndSkipsEmptyObjects) {
  TestObject a("A", {0, 0, 0}, {1, 1, 1});
  TestObject empty("E", {}, {});
  TestObject b("B", {0, 0}, {1, 1});
  AdjObjectList list;
  list.add(a, ls_);
  list.add(empty, ls_);
  list.add(b, ls_);
  EXPECT_EQ(a.firstUnknown(), 0);
  EXPECT_EQ(empty.firstUnknown(), 3);
  EXPECT_EQ(b.firstUnknown(), 3);
  EXPECT_EQ(list.unknownCount(), 5);
}

TEST_F(AdjObjectTest, UpdateLeavesEliminatedParametersAndObservationsUseInitialValues) {
  TestObject object("A", {1.0, 2.0, 3.0}, {2e-6, 1e4, 1e-9});
  AdjObjectList list;
  list.add(object, ls_);
  const Vector x = {0.5, 0.25, 7.0};
  EXPECT_EQ(list.update(x), 2);
  EXPECT_DOUBLE_EQ(object.values_[0], 1.5);
  EXPECT_DOUBLE_EQ(object.values_[1], 2.25);
  EXPECT_DOUBLE_EQ(object.values_[2], 3.0);

  RecordingNormals normals(3);
  list.addParameterObservations(normals);
  EXPECT_DOUBLE_EQ(normals.diag[0], 0.25);
  EXPECT_DOUBLE_EQ(normals.rhs_[0], 0.25 * -0.5);
  EXPECT_EQ(normals.diag[1], 0.0);
  EXPECT_EQ(normals.diag[2], 1e10);
  EXPECT_DOUBLE_EQ(normals.vtpv_, 0.25 * 0.25);
}

TEST_F(AdjObjectTest, AverageChangeSkipsEliminatedAndReportsEmptyGroups) {
  TestObject point("P", {0, 0, 0}, {1, 1, 1e-9}, AdjKind::kObjectPoint);
  TestObject eo("S", {0, 0, 0, 0, 0, 0}, {1, 1, 1, 1, 1, 1}, AdjKind::kExtOrientation);
  AdjObjectList list;
  list.add(point, ls_);
  list.add(eo, ls_);
  const Vector x = {1, 3, 100, 2, 2, 2, 0.1, 0.2, 0.3};
  EXPECT_DOUBLE_EQ(list.averageChange(ChangeGroup::kObjectPoints, x), 2.0);
  EXPECT_DOUBLE_EQ(list.averageChange(ChangeGroup::kProjectionCentres, x), 2.0);
  EXPECT_DOUBLE_EQ(list.averageChange(ChangeGroup::kRotations, x), 0.2);
  EXPECT_DOUBLE_EQ(list.averageChange(ChangeGroup::kGeometry, x), (6 + 0.6) / 6);

  AdjObjectList onlyPoints;
  TestObject other("Q", {0, 0, 0}, {1, 1, 1}, AdjKind::kObjectPoint);
  onlyPoints.add(other, ls_);
  EXPECT_EQ(onlyPoints.averageChange(ChangeGroup::kRotations, Vector(3, 1.0)), -1.0);
}

TEST_F(AdjObjectTest, ConvergenceCheckNamesFirstFailingObjectAndStops) {
  TestObject a("A", {0, 0}, {1, 1});
  TestObject b("B", {0, 0}, {1, 1});
  TestObject c("C", {0}, {1});
  AdjObjectList list;
  list.add(a, ls_);
  list.add(b, ls_);
  list.add(c, ls_);
  std::ostringstream out;
  EXPECT_TRUE(list.checkConvergence({0, 0, 0, 0, 0}, ls_, out));
  EXPECT_EQ(out.str(), "");
  EXPECT_FALSE(list.checkConvergence({0, 0, 0, 0.9, 0.9}, ls_, out));
  EXPECT_EQ(out.str(),
            "Convergence check failed at\n  ID        : B\n  Type      : undefined\n"
            "  Parameter : x[1]\n\n");
}

TEST_F(AdjObjectTest, UnknownsTableListsEveryParameter) {
  TestObject a("PT1", {0, 0}, {2e-6, 1e4});
  AdjObjectList list;
  list.add(a, ls_);
  std::ostringstream out;
  list.printUnknownsTable(out, ls_);
  const std::string text = out.str();
  EXPECT_THAT(text, testing::HasSubstr("Std. dev. of unit weight             :  1.00e-06\n"));
  EXPECT_THAT(text, testing::HasSubstr("      0   x[0]" + std::string(14, ' ') +
                                       "PT1   obs      2.50e-01\n"));
  EXPECT_THAT(text, testing::HasSubstr("      1   x[1]" + std::string(14, ' ') +
                                       "PT1   unk      0.00e+00\n\n"));
}

}  // namespace
}  // namespace bravik
