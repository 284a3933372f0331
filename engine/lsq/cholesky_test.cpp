#include "lsq/cholesky.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "lsq/adj_interface.h"

namespace bravik {
namespace {

Matrix fromRows(std::initializer_list<std::initializer_list<double>> rows) {
  Matrix m(static_cast<int>(rows.size()), static_cast<int>(rows.begin()->size()));
  int i = 0;
  for (const auto& row : rows) {
    int j = 0;
    for (double v : row) m[i][j++] = v;
    ++i;
  }
  return m;
}

// L with a positive diagonal; L L^T is then symmetric positive definite.
Matrix randomLowerFactor(int m, std::mt19937& rng) {
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  Matrix L(m, m);
  for (int i = 0; i < m; ++i) {
    for (int j = 0; j < i; ++j) L[i][j] = u(rng);
    L[i][i] = 1.0 + std::abs(u(rng)) * std::sqrt(static_cast<double>(m));
  }
  return L;
}

Matrix timesTranspose(const Matrix& L) {
  const int m = L.rows();
  Matrix A(m, m);
  for (int i = 0; i < m; ++i)
    for (int j = 0; j < m; ++j)
      for (int k = 0; k <= std::min(i, j); ++k) A[i][j] += L[i][k] * L[j][k];
  return A;
}

Matrix randomSpd(int m, unsigned seed) {
  std::mt19937 rng(seed);
  return timesTranspose(randomLowerFactor(m, rng));
}

TEST(Cholesky, TwoByTwoExampleGivesFactorAndSolution) {
  Matrix N = fromRows({{4, 2}, {2, 3}});
  Vector d, x;
  ASSERT_EQ(choleskyDecompose(N, d), 0);
  EXPECT_DOUBLE_EQ(d[0], 2.0);
  EXPECT_DOUBLE_EQ(d[1], std::sqrt(2.0));
  EXPECT_DOUBLE_EQ(N[1][0], 1.0);  // factor below the diagonal
  EXPECT_EQ(N[0][0], 4.0);         // original diagonal and upper triangle kept
  EXPECT_EQ(N[0][1], 2.0);
  EXPECT_EQ(N[1][1], 3.0);
  ASSERT_EQ(choleskySubstitute(N, d, {2, 1}, x), 0);
  EXPECT_DOUBLE_EQ(x[0], 0.5);
  EXPECT_NEAR(x[1], 0.0, 1e-15);
}

TEST(Cholesky, ResultCodesNameTheFailingRowOrTheSizeMismatch) {
  Vector d, x;
  Matrix indefinite = fromRows({{1, 2}, {2, 1}});
  EXPECT_EQ(choleskyDecompose(indefinite, d), 2);
  Matrix zero_pivot = fromRows({{0, 1}, {1, 5}});
  EXPECT_EQ(choleskyDecompose(zero_pivot, d), 1);
  Matrix nan_pivot = fromRows({{1, 0}, {0, std::numeric_limits<double>::quiet_NaN()}});
  EXPECT_EQ(choleskyDecompose(nan_pivot, d), 2);
  Matrix rectangular(2, 3);
  EXPECT_EQ(choleskyDecompose(rectangular, d), -1);
  EXPECT_EQ(choleskySubstitute(rectangular, d, {1, 1}, x), -1);
  EXPECT_EQ(choleskyInverse(rectangular, d), -1);

  Matrix N = fromRows({{4, 2}, {2, 3}});
  ASSERT_EQ(choleskyDecompose(N, d), 0);
  EXPECT_EQ(choleskySubstitute(N, {2.0}, {1, 1}, x), -2);
  EXPECT_EQ(choleskySubstitute(N, d, {1, 1, 1}, x), -3);
  EXPECT_EQ(choleskyInverse(N, {2.0, 1.0, 1.0}), -2);
}

// Sizes around the panel width exercise the blocked decomposition's boundaries; the largest
// one splits its later panel updates over threads.
class CholeskyOfSize : public testing::TestWithParam<int> {};

TEST_P(CholeskyOfSize, FactorReproducesMatrixAndKeepsUpperTriangle) {
  const int m = GetParam();
  const Matrix A = randomSpd(m, 17u + m);
  Matrix a = A;
  Vector d;
  ASSERT_EQ(choleskyDecompose(a, d), 0);
  double worst = 0.0;
  for (int i = 0; i < m; ++i) {
    for (int j = i; j < m; ++j) {
      EXPECT_EQ(a[i][j], A[i][j]);
      double s = 0.0;  // (L L^T)[j][i]
      for (int k = 0; k <= i; ++k) s += (k == i ? d[i] : a[i][k]) * (k == j ? d[j] : a[j][k]);
      worst = std::max(worst, std::abs(s - A[j][i]) / (1.0 + std::abs(A[j][i])));
    }
  }
  EXPECT_LT(worst, 1e-12);
}

TEST_P(CholeskyOfSize, SubstitutionSolvesTheSystem) {
  const int m = GetParam();
  const Matrix A = randomSpd(m, 99u + m);
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> u(-10.0, 10.0);
  Vector truth(m);
  for (double& t : truth) t = u(rng);
  Vector n(m, 0.0);
  for (int i = 0; i < m; ++i)
    for (int j = 0; j < m; ++j) n[i] += A[i][j] * truth[j];
  Matrix a = A;
  Vector d, x;
  ASSERT_EQ(choleskyDecompose(a, d), 0);
  ASSERT_EQ(choleskySubstitute(a, d, n, x), 0);
  // Backward stable: the residual is at rounding level relative to |A| |x|.
  double residual = 0.0, scale = 0.0;
  for (int i = 0; i < m; ++i) {
    double r = -n[i], s = 0.0;
    for (int j = 0; j < m; ++j) {
      r += A[i][j] * x[j];
      s += std::abs(A[i][j] * x[j]);
    }
    residual = std::max(residual, std::abs(r));
    scale = std::max(scale, s);
  }
  EXPECT_LT(residual, 1e-13 * scale);
  if (m <= 100) {
    for (int i = 0; i < m; ++i) EXPECT_NEAR(x[i], truth[i], 1e-9 * (1.0 + std::abs(truth[i])));
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, CholeskyOfSize,
                         testing::Values(1, 2, 7, 47, 48, 49, 131, 300, 800));

// The inverse serves the small weight matrices of observation groups.
TEST(Cholesky, InverseTimesMatrixIsIdentity) {
  for (int m : {1, 2, 3, 7, 49}) {
    const Matrix A = randomSpd(m, 7u + m);
    Matrix q = A;
    Vector d;
    ASSERT_EQ(choleskyDecompose(q, d), 0);
    ASSERT_EQ(choleskyInverse(q, d), 0);
    mirrorUpperToLower(q);
    for (int i = 0; i < m; ++i)
      for (int j = 0; j < m; ++j) {
        double s = 0.0;
        for (int k = 0; k < m; ++k) s += q[i][k] * A[k][j];
        EXPECT_NEAR(s, i == j ? 1.0 : 0.0, 1e-10) << m << ": " << i << "," << j;
      }
  }
}

TEST(Cholesky, FailingRowIsTheFirstNonPositiveLeadingMinorAcrossPanels) {
  for (int k : {0, 5, 47, 48, 97, 149}) {
    std::mt19937 rng(k + 1);
    const Matrix L = randomLowerFactor(150, rng);
    Matrix a = timesTranspose(L);
    a[k][k] -= L[k][k] * L[k][k] + 1.0;  // pivot of row k becomes -1, earlier rows unchanged
    Vector d;
    EXPECT_EQ(choleskyDecompose(a, d), k + 1);
  }
}

TEST(AdjInterfaceNative, ReportsFailingStepAndReturnsItsResult) {
  auto solver = createAdjInterface(AdjustmentInterface::kNative);
  ASSERT_NE(solver, nullptr);
  Matrix N = fromRows({{1, 2}, {2, 1}});
  Vector x, d;
  testing::internal::CaptureStdout();
  EXPECT_EQ(solver->solve(N, {1, 1}, x, d), 2);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "ERROR: Cholesky decomposition failed.\n");

  Matrix good = fromRows({{4, 2}, {2, 3}});
  testing::internal::CaptureStdout();
  EXPECT_EQ(solver->solve(good, {1, 1, 1}, x, d), -3);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "ERROR: Backsubstitution failed.\n");
}

TEST(AdjInterfaceNative, OnlyTheNativeValueHasADenseSolver) {
  EXPECT_EQ(createAdjInterface(AdjustmentInterface::kLapack), nullptr);
  EXPECT_EQ(createAdjInterface(AdjustmentInterface::kSparse), nullptr);
  EXPECT_EQ(createAdjInterface(static_cast<AdjustmentInterface>(-1)), nullptr);
}

}  // namespace
}  // namespace bravik
