#include "models/ext_orientation.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <numbers>
#include <sstream>

#include "lsq/ls_params.h"
#include "models/corrections.h"

namespace bravik {
namespace {

const LSParams kDefaults;  // the settings a run starts with

constexpr double kPi = std::numbers::pi;
constexpr double kDeg = kPi / 180.0;

using EOFactory = std::function<std::unique_ptr<ExtOrientation>()>;

std::vector<std::pair<std::string, EOFactory>> threeAngleClasses() {
  return {
      {"pok-rot", [] { return std::make_unique<EOAnglesPOKRot>("S"); }},
      {"opk-rot", [] { return std::make_unique<EOAnglesOPKRot>("S"); }},
      {"opk-fix", [] { return std::make_unique<EOAnglesOPKFix>("S"); }},
      {"australis", [] { return std::make_unique<EOAustralis>("S"); }},
  };
}

std::vector<std::pair<std::string, EOFactory>> allClasses() {
  auto classes = threeAngleClasses();
  classes.push_back({"quaternion", [] { return std::make_unique<EOQuaternion>("S"); }});
  return classes;
}

void expectMatrixNear(const Mat3& a, const Mat3& b, double tolerance, const std::string& what) {
  for (int i = 0; i < 9; ++i) EXPECT_NEAR(a[i], b[i], tolerance) << what << " element " << i;
}

// Sets parameters, refreshes, and returns the EO.
template <class EO>
void setParams(EO& eo, std::vector<double> values) {
  for (std::size_t k = 0; k < values.size(); ++k) eo.p[k] = values[k];
  eo.refresh();
}

TEST(RotationTest, ZeroAnglesGiveIdentityExceptAustralis) {
  for (const auto& [name, make] : threeAngleClasses()) {
    auto eo = make();
    const double zero[3] = {0, 0, 0};
    const Mat3 R = eo->matrixFromRotation(zero);
    if (name == "australis") {
      expectMatrixNear(R, {1, 0, 0, 0, 0, -1, 0, 1, 0}, 0.0, name);
    } else {
      expectMatrixNear(R, identity3(), 0.0, name);
    }
  }
}

TEST(RotationTest, PhiOfNinetyDegrees) {
  EOAnglesPOKRot eo;
  const double angles[3] = {90 * kDeg, 0, 0};
  const Mat3 R = eo.matrixFromRotation(angles);
  EXPECT_NEAR(R[2], 1.0, 1e-15);
  EXPECT_NEAR(R[6], -1.0, 1e-15);
  EXPECT_NEAR(R[4], 1.0, 1e-15);
  double back[3];
  eo.rotationFromMatrix(R, back);
  EXPECT_NEAR(back[0], kPi / 2, 1e-12);
}

TEST(RotationTest, MatrixAndInverseRoundTripForEveryAngleClass) {
  const double first[] = {-179 * kDeg, -100 * kDeg, -0.3, 0.0, 1.2, 179.5 * kDeg};
  const double middle[] = {-89 * kDeg, -0.7, 0.0, 0.4, 89 * kDeg};
  for (const auto& [name, make] : threeAngleClasses()) {
    auto eo = make();
    for (double a1 : first) {
      for (double a2 : middle) {
        for (double a3 : first) {
          const double angles[3] = {a1, a2, a3};
          const Mat3 R = eo->matrixFromRotation(angles);
          double back[3];
          eo->rotationFromMatrix(R, back);
          for (int k = 0; k < 3; ++k) {
            EXPECT_NEAR(back[k], angles[k], 1e-9) << name << " " << a1 << " " << a2 << " " << a3;
          }
          // Orthonormal: R R^T = I.
          for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j) {
              double sum = 0;
              for (int k = 0; k < 3; ++k) sum += R[3 * i + k] * R[3 * j + k];
              EXPECT_NEAR(sum, i == j ? 1.0 : 0.0, 1e-12) << name;
            }
          }
        }
      }
    }
  }
}

TEST(RotationTest, OpkFixedIsTransposeOfOpkRotated) {
  const double angles[3] = {0.1, -0.4, 2.3};
  const Mat3 rot = EOAnglesOPKRot().matrixFromRotation(angles);
  const Mat3 fix = EOAnglesOPKFix().matrixFromRotation(angles);
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) EXPECT_DOUBLE_EQ(fix[3 * i + j], rot[3 * j + i]);
  }
}

TEST(RotationTest, QuaternionSpecialCases) {
  EOQuaternion eo;
  const double unit[4] = {1, 0, 0, 0};
  expectMatrixNear(eo.matrixFromRotation(unit), identity3(), 0.0, "unit");
  setParams(eo, {0, 0, 0, 2, 0, 0, 0});
  expectMatrixNear(eo.rotation(), {4, 0, 0, 0, 4, 0, 0, 0, 4}, 0.0, "scaled");
  EXPECT_EQ(eo.constraintMisclosure(), -3.0);

  double q[4];
  const double halfTurnX[4] = {0, 1, 0, 0};
  eo.rotationFromMatrix(eo.matrixFromRotation(halfTurnX), q);
  EXPECT_THAT(q, testing::ElementsAre(0, 1, 0, 0));

  // Half turns about tilted axes: no component may come out as NaN.
  const double s = std::sqrt(0.5);
  const double halfTurns[][4] = {{0, s, s, 0}, {0, s, 0, s}, {0, 0, s, s}, {0, 0, 0, 1}};
  for (const auto& turn : halfTurns) {
    eo.rotationFromMatrix(eo.matrixFromRotation(turn), q);
    expectMatrixNear(eo.matrixFromRotation(q), eo.matrixFromRotation(turn), 1e-12, "half turn");
  }
  // General rotations come back up to the sign of q.
  const double general[4] = {0.8, -0.2, 0.4, std::sqrt(1 - 0.64 - 0.04 - 0.16)};
  eo.rotationFromMatrix(eo.matrixFromRotation(general), q);
  for (int k = 0; k < 4; ++k) EXPECT_NEAR(q[k], general[k], 1e-12);
}

// Numeric derivatives of (u, v) by central differences.
Matrix numericDerivs(ExtOrientation& eo, const Vec3& P, double z, std::vector<double*> targets) {
  Matrix result(2, static_cast<int>(targets.size()));
  const double h = 1e-6;
  for (int j = 0; j < static_cast<int>(targets.size()); ++j) {
    double uv[2][2];
    for (int side = 0; side < 2; ++side) {
      const double saved = *targets[j];
      *targets[j] = saved + (side == 0 ? h : -h);
      eo.refresh();
      eo.projection(P, z, uv[side][0], uv[side][1]);
      *targets[j] = saved;
    }
    eo.refresh();
    result(0, j) = (uv[0][0] - uv[1][0]) / (2 * h);
    result(1, j) = (uv[0][1] - uv[1][1]) / (2 * h);
  }
  return result;
}

TEST(DerivativeTest, AnalyticDerivativesMatchNumericForEveryClass) {
  const Vec3 points[] = {{120, -80, 15}, {-300, 250, 40}, {10, 5, -20}};
  for (const auto& [name, make] : allClasses()) {
    auto eo = make();
    const bool quaternion = eo->rotationCount() == 4;
    std::vector<std::vector<double>> poses = {{5, -3, 1000, 0.05, -0.03, 0.4},
                                              {-20, 40, 800, -0.1, 0.12, 2.5}};
    if (quaternion) {
      poses = {{5, -3, 1000, 0.99, 0.02, -0.03, 0.1}, {-20, 40, 800, 0.7, 0.1, 0.1, 0.7}};
    }
    for (const auto& pose : poses) {
      setParams(*eo, pose);
      if (name == "australis") {
        eo->p[4] = -kPi / 2 + 0.05;  // elevation looking down
        eo->refresh();
      }
      for (Vec3 P : points) {
        const Vec3 reduced{0, 0, -0.1};
        GeometryDerivs derivs;
        ASSERT_EQ(eo->getDerivs(reduced, P, derivs), 1);
        std::vector<double*> params;
        for (double& value : eo->p) params.push_back(&value);
        const Matrix numeric = numericDerivs(*eo, P, -0.1, params);
        for (int i = 0; i < 2; ++i) {
          for (int j = 0; j < eo->paramCount(); ++j) {
            const double scale = std::fabs(numeric(i, j));
            EXPECT_NEAR(derivs.params(i, j), numeric(i, j), 1e-5 * scale + 1e-9)
                << name << " row " << i << " param " << eo->paramName(j);
          }
        }
        // Object point derivatives are the negated centre columns.
        for (int i = 0; i < 2; ++i) {
          for (int j = 0; j < 3; ++j) EXPECT_EQ(derivs.objectPoint(i, j), -derivs.params(i, j));
        }
        EXPECT_EQ(derivs.observations(0, 0), 1.0);
        EXPECT_EQ(derivs.observations(0, 1), 0.0);
      }
    }
  }
}

TEST(DerivativeTest, ZeroDenominatorFails) {
  EOAnglesOPKRot eo("S");
  setParams(eo, {0, 0, 0, 0, 0, 0});
  GeometryDerivs derivs;
  testing::internal::CaptureStdout();
  EXPECT_EQ(eo.getDerivs({0, 0, -0.1}, {5, 5, 0}, derivs), -1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "ERROR: ExtOrientation::get_derivs: Zero denominator.\n");
}

TEST(ProjectionTest, VerticalImageExample) {
  double u, v;
  EXPECT_EQ(DEP::projection({0, 0, 1000}, identity3(), {100, 50, 0}, -0.1, u, v), 1);
  EXPECT_NEAR(u, 0.01, 1e-15);
  EXPECT_NEAR(v, 0.005, 1e-15);
}

TEST(IntersectionTest, MeetingRaysParallelRaysAndProjectionRoundTrip) {
  Vec3 P;
  double e = -1;
  // Two rays meeting exactly at (10, 20, 0).
  const Vec3 X1{0, 0, 100}, X2{50, 0, 100};
  ASSERT_EQ(DEP::intersection(X1, identity3(), Vec3{10, 20, -100}, X2, identity3(),
                              Vec3{-40, 20, -100}, P, e),
            1);
  EXPECT_NEAR(e, 0.0, 1e-12);
  EXPECT_NEAR(P[0], 10, 1e-9);
  EXPECT_NEAR(P[1], 20, 1e-9);
  EXPECT_NEAR(P[2], 0, 1e-9);

  testing::internal::CaptureStderr();
  EXPECT_EQ(DEP::intersection(X1, identity3(), {0, 0, -1}, X2, identity3(), {0, 0, -2}, P, e), -1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "DEP::intersection: rays are parallel.\n");

  // Skew rays: the distance is the gap between them.
  ASSERT_EQ(
      DEP::intersection({0, 0, 0}, identity3(), {1, 0, 0}, {0, 0, 2}, identity3(), {0, 1, 0}, P, e),
      1);
  EXPECT_NEAR(e, 2.0, 1e-12);
  EXPECT_NEAR(P[2], 1.0, 1e-12);

  // Projection into two tilted EOs and intersection recover the point.
  EOAnglesOPKRot left("L"), right("R");
  setParams(left, {0, 0, 1000, 0.02, -0.05, 0.3});
  setParams(right, {400, 30, 1010, -0.03, 0.04, 0.25});
  const Vec3 truth{180, 90, 35};
  double u1, v1, u2, v2;
  left.projection(truth, -0.1, u1, v1);
  right.projection(truth, -0.1, u2, v2);
  ASSERT_EQ(left.intersection(right, {u1, v1, -0.1}, {u2, v2, -0.1}, P, e), 1);
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(P[k], truth[k], 1e-6);
  EXPECT_LT(e, 1e-6);
}

TEST(RecordTest, DegreesAreConvertedAndRecordsReadBack) {
  std::istringstream in("S7 deg 12.5 (100, 200, 1000) 0.05 0.05 0.1 90 -1.5 30 0.01 1e-31 1e31");
  EOAnglesPOKRot eo;
  ASSERT_EQ(eo.readRecord(in, kDefaults), 1);
  EXPECT_EQ(eo.id(), "S7");
  EXPECT_EQ(eo.t, 12.5);
  EXPECT_NEAR(eo.p[3], kPi / 2, 1e-15);
  EXPECT_DOUBLE_EQ(eo.s[3], 0.01 / 57.29577951308232);
  EXPECT_EQ(eo.s[4], 1e-31);  // state markers are kept
  EXPECT_EQ(eo.s[5], 1e31);
  EXPECT_NEAR(eo.rotation()[2], std::cos(1.5 * kDeg), 1e-15);  // refreshed after reading

  std::ostringstream out;
  eo.writeRecord(out, kDefaults);
  std::istringstream back(out.str());
  std::string keyword;
  back >> keyword;
  EXPECT_EQ(keyword, "ext-ori-pok-rot");
  EOAnglesPOKRot copy;
  ASSERT_EQ(copy.readRecord(back, kDefaults), 1);
  for (int k = 0; k < 6; ++k) {
    EXPECT_NEAR(copy.p[k], eo.p[k], 1e-6 * std::max(1.0, std::fabs(eo.p[k])));
    EXPECT_NEAR(copy.s[k], eo.s[k], 1e-6 * std::fabs(eo.s[k]));
  }
}

TEST(RecordTest, EveryClassReadsBackWhatItWrites) {
  for (const auto& [name, make] : allClasses()) {
    auto eo = make();
    const bool quaternion = eo->rotationCount() == 4;
    std::istringstream in(
        quaternion ? "Q1 3.25 10 20 30 0.1 1e31 1e-31 0.5 0.5 0.5 0.5 1e-3 1e-3 1e31 1e-31"
                   : "A1 gon 3.25 10 20 30 0.1 1e31 1e-31 12.5 -3 150 0.01 1e31 1e-31");
    ASSERT_EQ(eo->readRecord(in, kDefaults), 1) << name;
    std::ostringstream out;
    eo->writeRecord(out, kDefaults);
    std::istringstream back(out.str());
    std::string keyword;
    back >> keyword;
    EXPECT_EQ(keyword, eo->keyword());
    auto copy = make();
    ASSERT_EQ(copy->readRecord(back, kDefaults), 1) << name << "\n" << out.str();
    EXPECT_EQ(copy->id(), eo->id());
    EXPECT_EQ(copy->t, eo->t);
    for (int k = 0; k < eo->paramCount(); ++k) {
      EXPECT_NEAR(copy->p[k], eo->p[k], 1e-6 * std::max(1.0, std::fabs(eo->p[k]))) << name << k;
      EXPECT_NEAR(copy->s[k], eo->s[k], 1e-6 * std::fabs(eo->s[k])) << name << k;
    }
  }
}

TEST(RecordTest, MessagesNameTheFailingField) {
  const std::pair<const char*, const char*> cases[] = {
      {"", "ERROR: Reading ID failed.\n"},
      {"S1", "ERROR: Reading unit of rotation angles failed.\n"},
      {"S1 grad", "ERROR: Unknown unit of rotation angles: grad\n"},
      {"S1 rad x", "ERROR: Cannot read exposure time.\n"},
      {"S1 rad 0 1 2", "ERROR: Reading projection centre coords. failed.\n"},
      {"S1 rad 0 1 2 3 (1,1", "ERROR: Reading std. dev. of proj. centre coords. failed.\n"},
      {"S1 rad 0 1 2 3 1 1 1 0 0", "ERROR: Reading rotation parameters failed.\n"},
      {"S1 rad 0 1 2 3 1 1 1 0 0 0 1", "ERROR: Reading std. dev. of rotation angles failed.\n"},
  };
  for (const auto& [record, message] : cases) {
    std::istringstream in(record);
    EOAnglesOPKRot eo;
    testing::internal::CaptureStdout();
    EXPECT_EQ(eo.readRecord(in, kDefaults), -1) << record;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), message) << record;
  }
  std::istringstream quaternion("Q1 0 1 2 3 1 1 1 1 0 0 0 1 1 1");
  EOQuaternion eo;
  testing::internal::CaptureStdout();
  EXPECT_EQ(eo.readRecord(quaternion, kDefaults), -1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "ERROR: Reading std. dev. of rotation parameters failed.\n");
}

TEST(RecordTest, ReportBlockShowsStatesAndOwnRotationMatrix) {
  EOAnglesOPKRot eo("S1");
  setParams(eo, {100, 200, 1000, 0, 0, 0});
  eo.s = {0.05, 1e31, 1e-31, 0.001, 0.001, 0.001};
  std::ostringstream out;
  eo.printReport(out, kDefaults);
  const std::string text = out.str();
  EXPECT_THAT(text, testing::HasSubstr("Type          :  EO (omega-phi-kappa, rotated)\n"));
  EXPECT_THAT(text, testing::HasSubstr("  obs    Xo              100.000          0.050\n"));
  EXPECT_THAT(text, testing::HasSubstr("  unk    Yo "));
  EXPECT_THAT(text, testing::HasSubstr("  eli    Zo "));
  EXPECT_THAT(text,
              testing::HasSubstr("Rotation matrix:\n    1.0000000   0.0000000   0.0000000\n"));
}

TEST(CorrectionTest, PolynomialAndItsDerivativeBlock) {
  PosCorrection correction("PC");
  std::istringstream in("S1 S2 stop-dep 50 2  1 0.1 0 0.1 0 0.1   0.5 0.01 0 0.01 0 0.01");
  ASSERT_EQ(correction.readRecord(in), 1);
  EXPECT_THAT(correction.eoIds, testing::ElementsAre("S1", "S2"));
  EXPECT_EQ(correction.paramCount(), 6);
  const Vec3 v = correction.correctionAt(54.0);
  EXPECT_DOUBLE_EQ(v[0], 3.0);
  EXPECT_EQ(v[1], 0.0);
  EXPECT_EQ(correction.paramName(4), "Yo[1]");
  EXPECT_EQ(AttCorrection().paramName(2), "a3[0]");

  Matrix columns(2, 3);
  for (int j = 0; j < 3; ++j) columns(0, j) = columns(1, j) = j + 1.0;
  const Matrix block = correction.derivativeBlock(columns, 54.0);
  EXPECT_EQ(block(1, 2), 3.0);
  EXPECT_EQ(block(1, 5), 12.0);

  // The corrected centre enters the projection; its derivatives follow numerically.
  EOAnglesOPKRot eo("S1");
  eo.t = 54.0;
  setParams(eo, {0, 0, 1000, 0.01, 0.02, 0.03});
  eo.setPosCorrection(&correction);
  eo.refresh();
  EXPECT_DOUBLE_EQ(eo.projectionCentre()[0], 3.0);
  GeometryDerivs derivs;
  ASSERT_EQ(eo.getDerivs({0, 0, -0.1}, {100, 50, 0}, derivs), 1);
  std::vector<double*> coefficients;
  for (double& c : correction.c) coefficients.push_back(&c);
  const Matrix numeric = numericDerivs(eo, {100, 50, 0}, -0.1, coefficients);
  for (int i = 0; i < 2; ++i) {
    for (int j = 0; j < 6; ++j) EXPECT_NEAR(derivs.posCorrection(i, j), numeric(i, j), 1e-8);
  }
}

TEST(CorrectionTest, AttitudeCorrectionDerivativesAndRejectedEmptyRecord) {
  AttCorrection correction("AC");
  std::istringstream in("S1 stop-dep 0 2  0.01 1 0.02 1 -0.01 1  0.001 1 0 1 0.002 1");
  ASSERT_EQ(correction.readRecord(in), 1);
  EOAustralis eo("S1");
  eo.t = 3.0;
  setParams(eo, {0, 0, 1000, 0.3, -1.4, 0.2});
  eo.setAttCorrection(&correction);
  eo.refresh();
  EXPECT_NEAR(eo.workingRotation()[0], 0.3 + 0.01 + 3 * 0.001, 1e-15);
  GeometryDerivs derivs;
  ASSERT_EQ(eo.getDerivs({0, 0, -0.1}, {100, 50, 0}, derivs), 1);
  std::vector<double*> coefficients;
  for (double& c : correction.c) coefficients.push_back(&c);
  const Matrix numeric = numericDerivs(eo, {100, 50, 0}, -0.1, coefficients);
  for (int i = 0; i < 2; ++i) {
    for (int j = 0; j < 6; ++j) {
      EXPECT_NEAR(derivs.attCorrection(i, j), numeric(i, j),
                  1e-7 * std::fabs(numeric(i, j)) + 1e-10);
    }
  }

  AttCorrection empty("E");
  std::istringstream none("S1 stop-dep 0 0");
  testing::internal::CaptureStdout();
  EXPECT_EQ(empty.readRecord(none), -1);
  EXPECT_THAT(testing::internal::GetCapturedStdout(), testing::StartsWith("ERROR: "));
}

TEST(CorrectionTest, AttachmentChecksTheGeometryClass) {
  OwnedList<ImageGeometry> geometries;
  geometries.insert(std::make_unique<EOQuaternion>("Q"));
  geometries.insert(std::make_unique<EOAnglesOPKRot>("A"));
  AttCorrection att("AC");
  att.eoIds = {"A", "Q"};
  testing::internal::CaptureStdout();
  EXPECT_EQ(att.attach(geometries), -1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "ERROR: Attitude correction AC: EO Q invalid image geometry.\n");
  PosCorrection first("P1"), second("P2");
  first.eoIds = second.eoIds = {"Q"};
  EXPECT_EQ(first.attach(geometries), 1);
  EXPECT_EQ(second.attach(geometries), 1);
  EXPECT_EQ(geometries.find("Q")->posCorrection(), &second);
  PosCorrection missing("P3");
  missing.eoIds = {"Z"};
  testing::internal::CaptureStdout();
  EXPECT_EQ(missing.attach(geometries), -1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "ERROR: Position correction P3: EO Z not found.\n");
}

}  // namespace
}  // namespace bravik
