#include "lsq/dense_normal_system.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "lsq/normal_equation_files.h"
#include "lsq/normal_system_test_support.h"

namespace bravik {
namespace {

using testing_support::randomGroup;
using testing_support::ReferenceSystem;

// Unknowns as numbered by the adjustment: 3 points (0..8), two geometries of 6 (9..20),
// an AP set of 5 (21..25), a position correction of 3 (26..28), an attitude correction of 3
// (29..31).
constexpr int kUnknowns = 32;
constexpr int kPoint[] = {0, 3, 6};
constexpr int kGeometry[] = {9, 15};
constexpr int kApSet = 21;
constexpr int kPosCorrection = 26;
constexpr int kAttCorrection = 29;

std::unique_ptr<DenseNormalSystem> makeDense(int u) {
  return std::make_unique<DenseNormalSystem>(u, createAdjInterface(AdjustmentInterface::kNative));
}

// Image-point groups in the observation's own block order: point, geometry, position
// correction, attitude correction, AP set; corrections and AP set come after in numbering,
// so several couplings of this order fall below the diagonal.
std::vector<ObservationGroup> imagePointGroups(std::mt19937& rng) {
  std::vector<ObservationGroup> groups;
  for (int p : kPoint)
    for (int g : kGeometry)
      groups.push_back(randomGroup(
          {{p, 3}, {g, 6}, {kPosCorrection, 3}, {kAttCorrection, 3}, {kApSet, 5}}, 2, 2, rng));
  return groups;
}

void expectUpperTriangleEqual(const Matrix& N, const Matrix& reference) {
  for (int i = 0; i < N.rows(); ++i)
    for (int j = i; j < N.cols(); ++j)
      EXPECT_NEAR(N[i][j], reference[i][j], 1e-12 * (1.0 + std::abs(reference[i][j])))
          << "at " << i << "," << j;
}

void expectVectorNear(const Vector& v, const Vector& reference, double tolerance) {
  ASSERT_EQ(v.size(), reference.size());
  for (std::size_t i = 0; i < v.size(); ++i)
    EXPECT_NEAR(v[i], reference[i], tolerance * (1.0 + std::abs(reference[i]))) << "at " << i;
}

TEST(DenseNormalSystem, BlocksInAnyOrderFillTheUpperTriangleOfTheFullProduct) {
  std::mt19937 rng(42);
  auto system = makeDense(kUnknowns);
  ReferenceSystem reference(kUnknowns);
  for (const ObservationGroup& g : imagePointGroups(rng)) {
    ASSERT_TRUE(system->accumulate(g));
    reference.add(g);
  }
  // Blocks listed backwards, and two blocks on the same unknowns (their sum is the design).
  ObservationGroup reversed =
      randomGroup({{kAttCorrection, 3}, {kGeometry[1], 6}, {0, 3}}, 3, 3, rng);
  ObservationGroup overlapping = randomGroup({{kGeometry[0], 6}, {kGeometry[0], 6}}, 2, 2, rng);
  for (const ObservationGroup* g : {&reversed, &overlapping}) {
    ASSERT_TRUE(system->accumulate(*g));
    reference.add(*g);
  }
  expectUpperTriangleEqual(system->matrix(), reference.N);
  expectVectorNear(system->rhs(), reference.n, 1e-12);
  EXPECT_NEAR(system->vtpv(), reference.vtpv, 1e-12 * reference.vtpv);
}

TEST(DenseNormalSystem, ConstraintsAndParameterObservationsAddTheirWeightedProducts) {
  std::mt19937 rng(7);
  auto system = makeDense(kUnknowns);
  ReferenceSystem reference(kUnknowns);
  DesignBlock constraint{testing_support::randomMatrix(2, 5, rng), kApSet};
  const Vector w = {1e10, 3.0};
  const Vector l = {1e-6, -0.25};
  system->accumulateWeighted(constraint, w, l);
  reference.addWeighted(constraint, w, l);
  system->addParameterObservation(4, 0.25, 2.0);
  reference.addParameterObservation(4, 0.25, 2.0);
  expectUpperTriangleEqual(system->matrix(), reference.N);
  expectVectorNear(system->rhs(), reference.n, 1e-12);
  EXPECT_NEAR(system->vtpv(), reference.vtpv, 1e-12 * reference.vtpv);
  EXPECT_DOUBLE_EQ(system->matrix()[4][4], 0.25);
}

// Adjusted misclosures w = l - A x give w^T P w = l^T P l - x^T n at the minimum.
TEST(DenseNormalSystem, SolutionMinimisesTheWeightedSumOfSquares) {
  std::mt19937 rng(3);
  auto system = makeDense(kUnknowns);
  std::vector<ObservationGroup> groups = imagePointGroups(rng);
  for (int g : kGeometry)
    for (int p : kPoint) groups.push_back(randomGroup({{g, 6}, {p, 3}}, 2, 2, rng));
  for (const ObservationGroup& g : groups) ASSERT_TRUE(system->accumulate(g));
  Vector l0(kUnknowns);
  for (int i = 0; i < kUnknowns; ++i) {
    l0[i] = 0.01 * i;
    system->addParameterObservation(i, 0.5, l0[i]);
  }
  ASSERT_EQ(system->solve(), 0);
  const Vector& x = system->solution();
  double reduced = system->vtpv();
  for (int i = 0; i < kUnknowns; ++i) reduced -= x[i] * system->rhs()[i];

  double direct = 0.0;
  for (const ObservationGroup& g : groups) {
    ReferenceSystem one(kUnknowns);
    ObservationGroup adjusted = g;
    for (const DesignBlock& b : g.blocks)
      for (int r = 0; r < b.A.rows(); ++r)
        for (int c = 0; c < b.A.cols(); ++c) adjusted.l[r] -= b.A[r][c] * x[b.offset + c];
    one.add(adjusted);
    direct += one.vtpv;
  }
  for (int i = 0; i < kUnknowns; ++i) direct += 0.5 * (l0[i] - x[i]) * (l0[i] - x[i]);
  EXPECT_NEAR(reduced, direct, 1e-9 * direct);
}

TEST(DenseNormalSystem, WeightMatrixIsTheInverseCofactorAndMustBePositiveDefinite) {
  ObservationGroup g;
  g.blocks.push_back({Matrix(2, 3, 1.0), 0});
  g.B = Matrix(2, 2);
  g.B[0][0] = g.B[1][1] = 1.0;
  g.Q = Matrix(2, 2);
  g.Q[0][0] = g.Q[1][1] = 1e-12;
  g.l = {1.0, 2.0};
  GroupProducts products;
  ASSERT_TRUE(products.compute(g));
  EXPECT_NEAR(products.weight()[0][0], 1e12, 1e-3);
  EXPECT_NEAR(products.weight()[1][1], 1e12, 1e-3);
  EXPECT_EQ(products.weight()[0][1], 0.0);
  EXPECT_EQ(products.weight()[1][0], 0.0);

  auto system = makeDense(3);
  g.Q[1][1] = -1e-12;
  testing::internal::CaptureStdout();
  EXPECT_FALSE(system->accumulate(g));
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "ERROR: Decomposition of weight matrix failed.\n");
  EXPECT_EQ(system->vtpv(), 0.0);
  EXPECT_EQ(system->rhs()[0], 0.0);
}

TEST(DenseNormalSystem, ResetClearsTheIterationAndSolveReportsTheFailingRow) {
  auto system = makeDense(2);
  system->addParameterObservation(0, 1.0, 1.0);
  system->addParameterObservation(1, 1.0, 1.0);
  system->reset();
  EXPECT_EQ(system->vtpv(), 0.0);
  EXPECT_EQ(system->rhs(), Vector(2, 0.0));
  EXPECT_EQ(system->matrix()[0][0], 0.0);
  system->addParameterObservation(0, 1.0, 1.0);  // unknown 1 stays undetermined
  testing::internal::CaptureStdout();
  EXPECT_EQ(system->solve(), 2);
  testing::internal::GetCapturedStdout();
}

class NormalEquationFilesTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::path(testing::TempDir()) /
           ("normal_files_" + std::to_string(::getpid()) + "_" +
            testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string path(const std::string& name) const { return (dir_ / name).string(); }
  static std::string read(const std::string& file) {
    std::ifstream in(file);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  // The 2 x 2 example N = [[4, 2], [2, 3]], n = [2, 1], solved.
  std::unique_ptr<DenseNormalSystem> solvedExample() {
    auto system = makeDense(2);
    // Exact numbers: diagonal weights, the coupling from one constraint row [1 1] with weight 2.
    system->addParameterObservation(0, 4.0, 0.5);
    system->addParameterObservation(1, 3.0, 1.0 / 3.0);
    DesignBlock coupling{Matrix(1, 2, 1.0), 0};
    system->accumulateWeighted(coupling, {2.0}, {0.0});
    system->addParameterObservation(0, -2.0, 0.0);
    system->addParameterObservation(1, -2.0, 0.0);
    EXPECT_EQ(system->solve(), 0);
    return system;
  }

  std::filesystem::path dir_;
};

TEST_F(NormalEquationFilesTest, FilesHoldTheStoredMatrixAndVectorsInTheirFormats) {
  auto system = solvedExample();
  NormalEquationFileNames names{path("n.pbm"), path("n.mat"), path("n.rhs"), path("n.sol")};
  testing::internal::CaptureStdout();
  system->writeNormalEquationFiles(names);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(read(names.structure), "P1\n2 2\n\n1 1 \n1 1 \n");
  EXPECT_EQ(read(names.matrix),
            "2 2\n4.000000000000e+00 2.000000000000e+00 \n"
            "1.000000000000e+00 3.000000000000e+00 \n");
  EXPECT_EQ(read(names.rhs), "2\n2.000000000000e+00\n1.000000000000e+00\n");
  const std::string solution = read(names.solution);
  EXPECT_EQ(solution.substr(0, 21), "2\n5.000000000000e-01\n");
  EXPECT_FALSE(std::filesystem::exists(names.rhs + ".tmp"));
}

TEST_F(NormalEquationFilesTest, StructureReadsTheUpperTriangleOnly) {
  Matrix N(3, 3);
  N[0][0] = N[1][1] = N[2][2] = 1.0;
  N[0][2] = 5.0;  // upper entry: shown at [0][2] and [2][0]
  N[2][1] = 7.0;  // below the diagonal (factor storage): not part of the pattern
  ASSERT_TRUE(writeNormalMatrixStructure(path("s.pbm"), N));
  EXPECT_EQ(read(path("s.pbm")), "P1\n3 3\n\n1 0 1 \n0 1 0 \n1 0 1 \n");
}

TEST_F(NormalEquationFilesTest, NoneIsSkippedAndAnUnwritableFileIsReportedWhileOthersAreWritten) {
  auto system = solvedExample();
  const std::string missing = path("no_such_folder/x");
  NormalEquationFileNames names{missing, missing, path("n.rhs"), missing};
  testing::internal::CaptureStdout();
  system->writeNormalEquationFiles(names);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "ERROR: Cannot write structure of normal matrix file.\n"
            "ERROR: Cannot write normal matrix file.\n"
            "ERROR: Cannot write  solution vector file.\n");
  EXPECT_TRUE(std::filesystem::exists(names.rhs));

  testing::internal::CaptureStdout();
  system->writeNormalEquationFiles(NormalEquationFileNames{});
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_FALSE(std::filesystem::exists("none"));
}

TEST(NormalSystemFactory, InterfaceValueSelectsTheImplementation) {
  UnknownLayout layout{2, {6, 0, 3}};
  EXPECT_EQ(layout.unknowns(), 15);
  auto dense = createNormalSystem(AdjustmentInterface::kNative, layout);
  ASSERT_NE(dense, nullptr);
  EXPECT_EQ(dense->size(), 15);
  auto sparse = createNormalSystem(AdjustmentInterface::kSparse, layout);
  ASSERT_NE(sparse, nullptr);
  EXPECT_EQ(sparse->size(), 15);
  EXPECT_EQ(createNormalSystem(AdjustmentInterface::kLapack, layout), nullptr);
  EXPECT_EQ(createNormalSystem(static_cast<AdjustmentInterface>(7), layout), nullptr);
  EXPECT_TRUE(hasNormalSystem(AdjustmentInterface::kNative));
  EXPECT_TRUE(hasNormalSystem(AdjustmentInterface::kSparse));
  EXPECT_FALSE(hasNormalSystem(AdjustmentInterface::kLapack));
}

#if !defined(__SANITIZE_ADDRESS__)  // the sanitizer aborts on huge allocations by design
TEST(NormalSystemFactory, DenseSystemTooLargeForMemoryIsReportedNotThrown) {
  UnknownLayout layout{0, {5'000'000}};  // 200 TB, beyond any address space
  testing::internal::CaptureStdout();
  EXPECT_EQ(createNormalSystem(AdjustmentInterface::kNative, layout), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "ERROR: Not enough memory for the normal equations of 5000000 unknowns (200000.0 GB "
            "with the native adjustment interface).\n");
}
#endif

}  // namespace
}  // namespace bravik
