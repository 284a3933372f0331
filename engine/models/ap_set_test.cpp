#include "models/ap_set.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "lsq/ls_params.h"
#include "models/camera.h"

namespace bravik {
namespace {

const LSParams kDefaults;  // the settings a run starts with

using testing::HasSubstr;

TEST(APSetTest, EveryKeywordMakesItsClassWithNamedParameters) {
  const struct {
    const char* keyword;
    const char* typeName;
    int count;
    const char* lastName;
  } kinds[] = {
      {"gap", "GAP", 10, "P2"},
      {"australis", "Australis", 10, "b2"},
      {"p12", "12-parameter (Ebner)", 12, "a12"},
      {"p44", "44-parameter (Gruen)", 44, "a44"},
      {"inner-or", "inner orientation", 3, "dc"},
      {"radial-dist", "radial distortion", 3, "K3"},
      {"decentering-dist", "decentering distortion", 2, "P2"},
      {"in-plane-dist", "in-plane distortion", 12, "a12"},
      {"out-of-plane-dist", "out-of-plane distortion", 3, "a15"},
  };
  for (const auto& kind : kinds) {
    auto set = makeAPSet(kind.keyword);
    ASSERT_TRUE(set) << kind.keyword;
    EXPECT_EQ(set->keyword(), kind.keyword);
    EXPECT_EQ(set->typeName(), kind.typeName);
    EXPECT_EQ(set->paramCount(), kind.count);
    EXPECT_EQ(set->paramName(kind.count - 1), kind.lastName);
  }
  EXPECT_FALSE(makeAPSet("p13"));
  EXPECT_EQ(makeAPSet("gap")->paramName(3), "sx");
}

TEST(APSetTest, RecordReadsShortListsAndWritesItsFormat) {
  auto set = makeAPSet("p12");
  std::istringstream in("A2 K1 30 1e-5 1e-6 -2e-5 1e31 p44 A3");
  ASSERT_EQ(set->readRecord(in), 1);
  EXPECT_EQ(set->cameraId, "K1");
  EXPECT_EQ(set->a[1], -2e-5);
  EXPECT_EQ(set->s[1], 1e31);
  EXPECT_EQ(set->a[2], 0.0);
  std::string next;
  in >> next;
  EXPECT_EQ(next, "p44");  // the next record's keyword is left for the file reader

  std::ostringstream out;
  set->writeRecord(out);
  EXPECT_THAT(out.str(), testing::StartsWith("p12   A2   K1\n30.000\n"
                                             "  1.00000000e-05     1.0000e-06\n"
                                             " -2.00000000e-05     1.0000e+31\n"));
  auto copy = makeAPSet("p12");
  std::istringstream back(out.str().substr(4));
  ASSERT_EQ(copy->readRecord(back), 1);
  EXPECT_EQ(copy->a[0], 1e-5);
  EXPECT_DOUBLE_EQ(static_cast<APSetP&>(*copy).b, 0.03);
}

TEST(APSetTest, ReportBlockAndAttachment) {
  auto set = makeAPSet("radial-dist");
  std::istringstream in("R1 K1 1e-3 1e-4 0 1e-31 0 1e31");
  ASSERT_EQ(set->readRecord(in), 1);
  std::ostringstream out;
  set->printReport(out, kDefaults);
  EXPECT_EQ(out.str(),
            "AP set ID   :  R1\nAP set Type :  radial distortion\nCamera      :  K1\n\n"
            "  Param.     State         Value       Std.dev.\n\n"
            "  K1         obs       1.000e-03      1.000e-04\n"
            "  K2         eli       0.000e+00      1.000e-31\n"
            "  K3         unk       0.000e+00      1.000e+31\n");

  OwnedList<Camera> cameras;
  auto camera = std::make_unique<Camera>();
  camera->id_ = "K1";
  cameras.insert(std::move(camera));
  ASSERT_EQ(set->attach(cameras), 1);
  EXPECT_TRUE(set->attached);
  EXPECT_THAT(cameras.find("K1")->apSets, testing::ElementsAre(set.get()));

  set->cameraId = "K9";
  testing::internal::CaptureStdout();
  EXPECT_EQ(set->attach(cameras), -1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "ERROR: AP set R1 : camera K9 not found.\n");
}

const char* const kAllKeywords[] = {"gap",
                                    "australis",
                                    "p12",
                                    "p44",
                                    "inner-or",
                                    "radial-dist",
                                    "decentering-dist",
                                    "in-plane-dist",
                                    "out-of-plane-dist"};

// Points of the reduced image plane (m) over a 0.2 m format, z = -c.
std::vector<std::pair<double, double>> imagePlaneGrid() {
  std::vector<std::pair<double, double>> points;
  for (double x = -0.1; x <= 0.1001; x += 0.05) {
    for (double y = -0.1; y <= 0.1001; y += 0.04) points.push_back({x, y});
  }
  return points;
}

std::unique_ptr<APSet> makeSetWithValues(const char* keyword, std::mt19937& random) {
  auto set = makeAPSet(keyword);
  std::uniform_real_distribution<double> value(-1.0, 1.0);
  for (double& a : set->a) a = value(random);
  if (auto* polynomial = dynamic_cast<APSetP*>(set.get())) polynomial->b = 0.08;
  return set;
}

// The distortion models written out as their textbook formulas, independently of the sets'
// derivative matrices: a[k] is the value of parameter k + 1, (x, y) the reduced image
// coordinates, z = -c, b the grid width of the polynomial sets.
struct Distortion {
  double dx = 0.0;
  double dy = 0.0;
};

// Brown's radial-symmetric distortion: K1 r^2 + K2 r^4 + K3 r^6 along the radius.
Distortion radial(const double* K, double x, double y) {
  const double r2 = x * x + y * y;
  const double d = K[0] * r2 + K[1] * r2 * r2 + K[2] * r2 * r2 * r2;
  return {x * d, y * d};
}

// Brown-Conrady decentering distortion.
Distortion decentering(double P1, double P2, double x, double y) {
  const double r2 = x * x + y * y;
  return {P1 * (r2 + 2 * x * x) + 2 * P2 * x * y, P2 * (r2 + 2 * y * y) + 2 * P1 * x * y};
}

// Principal-point shift and a change dc of the principal distance c = -z.
Distortion innerOrientation(const double* a, double x, double y, double z) {
  const double c = -z;
  return {a[0] + x / c * a[2], a[1] + y / c * a[2]};
}

Distortion sum(std::initializer_list<Distortion> parts) {
  Distortion total;
  for (const Distortion& part : parts) {
    total.dx += part.dx;
    total.dy += part.dy;
  }
  return total;
}

// Ebner's 12 parameters, orthogonal over a 3 x 3 grid of spacing b.
Distortion ebner(const double* a, double b, double x, double y) {
  const double X = x * x - 2.0 / 3.0 * b * b;
  const double Y = y * y - 2.0 / 3.0 * b * b;
  return {a[0] * x + a[1] * y - 2 * a[2] * X + a[3] * x * y + a[4] * Y + a[6] * x * Y +
              a[8] * X * y + a[10] * X * Y,
          -a[0] * y + a[1] * x + a[2] * x * y - 2 * a[3] * Y + a[5] * X + a[7] * X * y +
              a[9] * x * Y + a[11] * X * Y};
}

// Gruen's 44 parameters, orthogonal over a 5 x 5 grid of spacing b / 2.
Distortion gruen(const double* a, double b, double x, double y) {
  const double b2 = b * b;
  const double X = x * x - b2 / 2;
  const double Y = y * y - b2 / 2;
  const double Gx = x * (x * x - 17.0 / 20.0 * b2);
  const double Gy = y * (y * y - 17.0 / 20.0 * b2);
  const double Qx = x * x * (x * x - 31.0 / 28.0 * b2) + 9.0 / 70.0 * b2 * b2;
  const double Qy = y * y * (y * y - 31.0 / 28.0 * b2) + 9.0 / 70.0 * b2 * b2;
  const double w = -10.0 / 7.0;
  auto A = [a](int k) { return a[k - 1]; };
  const double dx = A(1) * x + A(2) * y + A(3) * x * y + A(4) * Y + A(6) * w * X + A(7) * Gx +
                    A(8) * X * y + A(9) * Y * x + A(10) * Gy + A(15) * Qx + A(16) * Gx * y +
                    A(17) * X * Y + A(18) * Gy * x + A(19) * Qy + A(25) * Qx * y + A(26) * Gx * Y +
                    A(27) * Gy * X + A(28) * Qy * x + A(33) * Qx * Y + A(34) * Gx * Gy +
                    A(35) * Qy * X + A(39) * Gy * Qx + A(40) * Gx * Qy + A(43) * Qx * Qy;
  const double dy = -A(1) * y + A(2) * x + A(3) * w * Y + A(5) * X + A(6) * x * y + A(11) * Gx +
                    A(12) * X * y + A(13) * Y * x + A(14) * Gy + A(20) * Qx + A(21) * Gx * y +
                    A(22) * X * Y + A(23) * Gy * x + A(24) * Qy + A(29) * Qx * y + A(30) * Gx * Y +
                    A(31) * Gy * X + A(32) * Qy * x + A(36) * Qx * Y + A(37) * Gx * Gy +
                    A(38) * Qy * X + A(41) * Gy * Qx + A(42) * Gx * Qy + A(44) * Qx * Qy;
  return {dx, dy};
}

Distortion textbookCorrection(const std::string& keyword, const double* a, double b, double x,
                              double y, double z) {
  const double r2 = x * x + y * y;
  if (keyword == "radial-dist") return radial(a, x, y);
  if (keyword == "decentering-dist") return decentering(a[0], a[1], x, y);
  if (keyword == "inner-or") return innerOrientation(a, x, y, z);
  if (keyword == "p12") return ebner(a, b, x, y);
  if (keyword == "p44") return gruen(a, b, x, y);
  if (keyword == "gap") {
    const Distortion affinity{-a[3] * x + a[4] * y, a[4] * x};
    return sum({innerOrientation(a, x, y, z), affinity, radial(a + 5, x, y),
                decentering(a[8], a[9], x, y)});
  }
  if (keyword == "australis") {
    const Distortion affinity{a[8] * x + a[9] * y, 0.0};
    return sum({innerOrientation(a, x, y, z), radial(a + 3, x, y), decentering(a[6], a[7], x, y),
                affinity});
  }
  if (keyword == "in-plane-dist") {
    return {
        a[0] * x + a[1] * y + a[2] * x * y + a[3] * y * y + a[4] * x * x * y + a[5] * x * y * y +
            a[6] * x * x * y * y,
        a[7] * x * y + a[8] * x * x + a[9] * x * x * y + a[10] * x * y * y + a[11] * x * x * y * y};
  }
  if (keyword == "out-of-plane-dist") {
    const double d = a[0] * (x * x - y * y) + a[1] * x * x * y * y + a[2] * (x * x - y * y) * r2;
    return {d * x / z, d * y / z};
  }
  ADD_FAILURE() << "no textbook model for " << keyword;
  return {};
}

TEST(APSetModelTest, CorrectionsAgreeWithTheTextbookModels) {
  std::mt19937 random(17);
  const double z = -0.153;
  for (const char* keyword : kAllKeywords) {
    auto set = makeSetWithValues(keyword, random);
    const auto* polynomial = dynamic_cast<const APSetP*>(set.get());
    const double b = polynomial ? polynomial->b : 0.0;
    for (const auto& [x, y] : imagePlaneGrid()) {
      double dx = 0.0;
      double dy = 0.0;
      ASSERT_EQ(set->correction(x, y, z, dx, dy), 1) << keyword;
      const Distortion expected = textbookCorrection(keyword, set->a.data(), b, x, y, z);
      // Each term is at most about 1 (parameters in [-1, 1], |x|, |y| <= 0.1, |x / z| < 1).
      EXPECT_NEAR(dx, expected.dx, 1e-14) << keyword << " at " << x << ", " << y;
      EXPECT_NEAR(dy, expected.dy, 1e-14) << keyword << " at " << x << ", " << y;
    }
  }
}

// The linearisation chains the collinearity derivatives through I + d(D a)/d(x, y), so each set's
// position derivatives must be those of its D (every column, checked by central differences)
// and the Jacobian of the correction must follow from them.
TEST(APSetModelTest, PositionDerivativesAreTheNumericDerivativesOfEveryColumn) {
  std::mt19937 random(29);
  const double z = -0.153;
  const double h = 1e-6;
  for (const char* keyword : kAllKeywords) {
    auto set = makeSetWithValues(keyword, random);
    for (const auto& [x, y] : imagePlaneGrid()) {
      Matrix Dx;
      Matrix Dy;
      ASSERT_EQ(set->derivativesByPosition(x, y, z, Dx, Dy), 1) << keyword;
      ASSERT_EQ(Dx.cols(), set->paramCount());
      ASSERT_EQ(Dy.cols(), set->paramCount());
      Matrix xPlus, xMinus, yPlus, yMinus;
      set->derivatives(x + h, y, z, xPlus);
      set->derivatives(x - h, y, z, xMinus);
      set->derivatives(x, y + h, z, yPlus);
      set->derivatives(x, y - h, z, yMinus);
      double J[2][2];
      ASSERT_EQ(set->correctionJacobian(x, y, z, J), 1);
      double numericJ[2][2] = {};
      for (int row = 0; row < 2; ++row) {
        for (int k = 0; k < set->paramCount(); ++k) {
          const double byX = (xPlus(row, k) - xMinus(row, k)) / (2 * h);
          const double byY = (yPlus(row, k) - yMinus(row, k)) / (2 * h);
          // Central differences of polynomials of degree <= 8 on |x| <= 0.1: error ~ h^2.
          const double tolerance = 1e-8 * (1.0 + std::fabs(byX) + std::fabs(byY));
          EXPECT_NEAR(Dx(row, k), byX, tolerance) << keyword << " d/dx row " << row << " col " << k;
          EXPECT_NEAR(Dy(row, k), byY, tolerance) << keyword << " d/dy row " << row << " col " << k;
          numericJ[row][0] += byX * set->a[k];
          numericJ[row][1] += byY * set->a[k];
        }
        for (int column = 0; column < 2; ++column) {
          EXPECT_NEAR(J[row][column], numericJ[row][column],
                      1e-7 * (1.0 + std::fabs(numericJ[row][column])))
              << keyword << " J " << row << column;
        }
      }
    }
  }
}

TEST(APSetModelTest, SetWithoutModelHasNoPositionDerivatives) {
  APSet set(2, "undefined", "undef");
  Matrix Dx;
  Matrix Dy;
  EXPECT_EQ(set.derivativesByPosition(0.01, 0.02, -0.1, Dx, Dy), -1);
  double J[2][2] = {{1.0, 1.0}, {1.0, 1.0}};
  EXPECT_EQ(set.correctionJacobian(0.01, 0.02, -0.1, J), -1);
  EXPECT_EQ(J[0][0], 0.0);
}

// Column `column` of `set` at (x, y, z), as a pair.
std::pair<double, double> column(const APSet& set, int index, double x, double y, double z) {
  Matrix D;
  set.derivatives(x, y, z, D);
  return {D(0, index), D(1, index)};
}

TEST(APSetModelTest, CombinedSetsShareTheColumnsOfTheElementarySets) {
  const APSetGAP gap;
  const APSetAustralis australis;
  const APSetIO io;
  const APSetRadial radial;
  const APSetDecentering decentering;
  const double z = -0.1;
  for (const auto& [x, y] : imagePlaneGrid()) {
    for (int k = 0; k < 3; ++k) {
      EXPECT_EQ(column(gap, k, x, y, z), column(io, k, x, y, z));
      EXPECT_EQ(column(australis, k, x, y, z), column(io, k, x, y, z));
      EXPECT_EQ(column(gap, 5 + k, x, y, z), column(radial, k, x, y, z));
      EXPECT_EQ(column(australis, 3 + k, x, y, z), column(radial, k, x, y, z));
    }
    for (int k = 0; k < 2; ++k) {
      EXPECT_EQ(column(gap, 8 + k, x, y, z), column(decentering, k, x, y, z));
      const auto [ax, ay] = column(australis, 6 + k, x, y, z);
      const auto [dx, dy] = column(decentering, k, x, y, z);
      EXPECT_NEAR(ax, dx, 1e-15);
      EXPECT_NEAR(ay, dy, 1e-15);
    }
  }
}

// The polynomial sets are built so that their columns are orthogonal over their grid
// (P12: 3 x 3 points of spacing b; P44: 5 x 5 points of spacing b / 2).
void expectOrthogonalColumns(APSetP& set, int pointsPerAxis) {
  set.b = 0.09;
  const double step = set.b * 2.0 / (pointsPerAxis - 1);
  const int n = set.paramCount();
  std::vector<double> gram(n * n, 0.0);
  double scale = 0.0;
  for (int i = 0; i < pointsPerAxis; ++i) {
    for (int j = 0; j < pointsPerAxis; ++j) {
      Matrix D;
      set.derivatives(-set.b + i * step, -set.b + j * step, -0.15, D);
      for (int k = 0; k < n; ++k) {
        for (int l = 0; l < n; ++l) {
          gram[k * n + l] += D(0, k) * D(0, l) + D(1, k) * D(1, l);
        }
      }
    }
  }
  for (int k = 0; k < n; ++k) scale = std::max(scale, gram[k * n + k]);
  for (int k = 0; k < n; ++k) {
    EXPECT_GT(gram[k * n + k], 0.0) << set.keyword() << " column " << k + 1 << " vanishes";
    for (int l = k + 1; l < n; ++l) {
      EXPECT_NEAR(gram[k * n + l] / std::sqrt(gram[k * n + k] * gram[l * n + l]), 0.0, 1e-12)
          << set.keyword() << " columns " << k + 1 << " and " << l + 1;
    }
  }
}

TEST(APSetModelTest, PolynomialSetsAreOrthogonalOverTheirGrid) {
  APSetP12 p12;
  expectOrthogonalColumns(p12, 3);
  APSetP44 p44;
  expectOrthogonalColumns(p44, 5);
}

TEST(APSetModelTest, WorkedValues) {
  APSetRadial radial;
  radial.a = {1e-3, 0.0, 0.0};
  double dx = 1.0, dy = 1.0;
  ASSERT_EQ(radial.correction(0.01, 0.0, -0.1, dx, dy), 1);
  EXPECT_NEAR(dx, 1e-9, 1e-24);
  EXPECT_EQ(dy, 0.0);

  APSetGAP gap;
  gap.a[2] = 1e-4;
  ASSERT_EQ(gap.correction(0.02, -0.01, -0.1, dx, dy), 1);
  EXPECT_NEAR(dx, 2e-5, 1e-18);
  EXPECT_NEAR(dy, -1e-5, 1e-18);

  APSetP12 p12;
  p12.b = 0.03;
  EXPECT_NEAR(column(p12, 2, 0.0, 0.0, -0.1).first, 1.2e-3, 1e-15);
}

TEST(APSetModelTest, PartialCorrectionSumsOnlyTheSelectedColumns) {
  APSetGAP gap;
  gap.a = {1e-5, 2e-5, 1e-4, 1e-4, 0, 1e-3, 0, 0, 1e-4, 0};
  double dxAll = 0, dyAll = 0, dxPoint = 0, dyPoint = 0, dxRest = 0, dyRest = 0;
  gap.correction(0.03, 0.02, -0.1, dxAll, dyAll);
  gap.partialCorrection(0.03, 0.02, -0.1, "1100000000", dxPoint, dyPoint);
  gap.partialCorrection(0.03, 0.02, -0.1, "0011111111", dxRest, dyRest);
  EXPECT_DOUBLE_EQ(dxPoint, 1e-5);
  EXPECT_DOUBLE_EQ(dyPoint, 2e-5);
  EXPECT_NEAR(dxPoint + dxRest, dxAll, 1e-18);
  EXPECT_NEAR(dyPoint + dyRest, dyAll, 1e-18);
}

TEST(APSetModelTest, SetsOnOneCameraAddTheirCorrections) {
  Camera camera;
  camera.c = 0.1;
  APSetRadial radial;
  radial.a = {1.0, 0.0, 0.0};
  APSetIO io;
  io.a = {1e-5, -2e-5, 0.0};
  camera.apSets = {&radial, &io};
  double dx = 0, dy = 0;
  ASSERT_TRUE(camera.distortion(0.01, 0.02, dx, dy));
  EXPECT_NEAR(dx, 0.01 * 5e-4 + 1e-5, 1e-18);
  EXPECT_NEAR(dy, 0.02 * 5e-4 - 2e-5, 1e-18);
}

OwnedList<Camera> oneCamera(double sx, double sy, double c) {
  OwnedList<Camera> cameras;
  auto camera = std::make_unique<Camera>();
  camera->id_ = "K1";
  camera->sx = sx;
  camera->sy = sy;
  camera->c = c;
  cameras.insert(std::move(camera));
  return cameras;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> result;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) result.push_back(line);
  return result;
}

TEST(APSetEffectsTest, GridSpansTheFormatCentredOnThePrincipalPoint) {
  APSetRadial radial;
  radial.setId("R1");
  radial.cameraId = "K1";
  std::ostringstream out;
  ASSERT_EQ(radial.printEffects(out, oneCamera(0.024, 0.018, 0.035), 5, 5), 1);
  const auto text = lines(out.str());
  ASSERT_EQ(text.size(), 15u);
  EXPECT_EQ(text[0], "AP set ID            :  R1");
  EXPECT_EQ(text[1], "AP set type          :  radial distortion");
  EXPECT_EQ(text[2], "Corresponding camera :  K1");
  EXPECT_EQ(text[3], "Effects on photo-coordinates");
  EXPECT_EQ(text[4], "  - range in x       :  min =  -12.0 mm ,  max =  +12.0 mm");
  EXPECT_EQ(text[5], "  - range in y       :  min =   -9.0 mm ,  max =   +9.0 mm");
  EXPECT_EQ(text[7], "radial distortion:");
  EXPECT_EQ(text[9],
            " (  +0.0,  +0.0) (  +0.0,  +0.0) (  +0.0,  +0.0) (  +0.0,  +0.0)"
            " (  +0.0,  +0.0)");
}

TEST(APSetEffectsTest, GapDcShowsTheScaleEffectAndSkipsThePrincipalPoint) {
  APSetGAP gap;
  gap.setId("G1");
  gap.cameraId = "K1";
  gap.a[0] = 5e-5;  // a principal-point shift is never part of a grid
  gap.a[2] = 1e-4;
  std::ostringstream out;
  ASSERT_EQ(gap.printEffects(out, oneCamera(0.08, 0.04, 0.1), 5, 5), 1);
  const auto text = lines(out.str());
  // x = -40 .. +40 mm in 20 mm steps, y = +20 .. -20 mm in 10 mm steps.
  ASSERT_EQ(text[7], "inner orientation (dc only):");
  EXPECT_EQ(text[9 + 3],
            " ( -40.0, -10.0) ( -20.0, -10.0) (  +0.0, -10.0) ( +20.0, -10.0)"
            " ( +40.0, -10.0)");
  EXPECT_THAT(out.str(), HasSubstr("total distortion:\n\n ( -40.0, +20.0)"));
  for (const char* title : {"radial symmetric distortion (K1, K2, K3):",
                            "decentering distortion (P1, P2):", "in-plane distortion (sx, a1):"}) {
    EXPECT_THAT(out.str(), HasSubstr(title));
  }
}

TEST(APSetEffectsTest, MissingCameraAndDegenerateGrids) {
  APSetIO io;
  io.setId("I1");
  io.cameraId = "K9";
  std::ostringstream out;
  testing::internal::CaptureStdout();
  EXPECT_EQ(io.printEffects(out, oneCamera(0.02, 0.02, 0.1), 5, 5), -1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "ERROR: Camera K9 not found.\nERROR: Initilization of AP grid failed.\n");
  EXPECT_EQ(out.str(),
            "AP set ID            :  I1\nAP set type          :  inner orientation\n"
            "Corresponding camera :  K9\n");

  // A single grid point per axis sits on the principal point instead of dividing by zero.
  io.cameraId = "K1";
  io.a[2] = 1e-4;
  std::ostringstream single;
  ASSERT_EQ(io.printEffects(single, oneCamera(0.02, 0.02, 0.1), 1, 0), 1);
  EXPECT_THAT(single.str(), HasSubstr("min =   +0.0 mm ,  max =   +0.0 mm"));
  EXPECT_THAT(single.str(), HasSubstr("inner orientation (dc only):\n\n (  +0.0,  +0.0)\n\n"));
}

}  // namespace
}  // namespace bravik
