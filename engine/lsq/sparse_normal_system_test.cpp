#include "lsq/sparse_normal_system.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <numeric>
#include <random>
#include <sstream>
#include <thread>
#include <tuple>

#include "lsq/cholesky.h"
#include "lsq/dense_normal_system.h"
#include "lsq/envelope_matrix.h"
#include "lsq/fill_reducing_order.h"
#include "lsq/normal_system_test_support.h"

namespace bravik {
namespace {

using testing_support::randomCofactor;
using testing_support::randomMatrix;

// A synthetic block in the adjustment's numbering: points, image geometries (6, 7 or 11
// unknowns), AP sets per camera, position and attitude corrections per strip. Image points
// list their blocks in observation order (point, geometry, corrections, AP set).
struct SyntheticBlock {
  UnknownLayout layout;
  std::vector<int> geometry;  // first unknown of each image's geometry
  std::vector<int> geometry_size;
  std::vector<int> ap_set, ap_size;
  std::vector<int> position_correction, attitude_correction;
  std::vector<ObservationGroup> groups;
  std::vector<std::tuple<int, double, double>> parameter_observations;
  std::vector<std::tuple<DesignBlock, Vector, Vector>> constraints;

  int imageCamera(int image) const { return image % static_cast<int>(ap_set.size()); }
  int imageStrip(int image) const {
    return image * static_cast<int>(position_correction.size()) / static_cast<int>(geometry.size());
  }

  void feed(NormalSystem& system) const {
    for (const ObservationGroup& g : groups) ASSERT_TRUE(system.accumulate(g));
    for (const auto& [block, w, l] : constraints) system.accumulateWeighted(block, w, l);
    for (const auto& [i, w, l] : parameter_observations) system.addParameterObservation(i, w, l);
  }
};

// Builds the layout: sizes of the further objects in numbering order, and their offsets.
void layOut(SyntheticBlock& s, int points, const std::vector<int>& geometry_sizes,
            const std::vector<int>& ap_sizes, int strips) {
  s.layout.object_points = points;
  int next = 3 * points;
  auto add = [&](int size, std::vector<int>& offsets) {
    offsets.push_back(next);
    s.layout.object_sizes.push_back(size);
    next += size;
  };
  for (int size : geometry_sizes) add(size, s.geometry);
  s.geometry_size = geometry_sizes;
  for (int size : ap_sizes) add(size, s.ap_set);
  s.ap_size = ap_sizes;
  for (int i = 0; i < strips; ++i) add(3, s.position_correction);
  for (int i = 0; i < strips; ++i) add(3, s.attitude_correction);
}

ObservationGroup imagePoint(const SyntheticBlock& s, int point, int image, std::mt19937& rng) {
  const std::vector<std::pair<int, int>> blocks = {
      {3 * point, 3},
      {s.geometry[image], s.geometry_size[image]},
      {s.position_correction[s.imageStrip(image)], 3},
      {s.attitude_correction[s.imageStrip(image)], 3},
      {s.ap_set[s.imageCamera(image)], s.ap_size[s.imageCamera(image)]}};
  return testing_support::randomGroup(blocks, 2, 2, rng, 1e-2);
}

// Points seen by 2 to 5 random images; control points, eliminated parameters (weight 1e10) on
// points and geometries, a constraint on an AP set.
SyntheticBlock randomBlock(unsigned seed) {
  std::mt19937 rng(seed);
  SyntheticBlock s;
  const int images = 8;
  std::vector<int> sizes;
  for (int i = 0; i < images; ++i) sizes.push_back(std::vector<int>{6, 7, 11}[rng() % 3]);
  layOut(s, 40, sizes, {12, 5}, 2);
  for (int p = 0; p < s.layout.object_points; ++p) {
    std::vector<int> seen(images);
    std::iota(seen.begin(), seen.end(), 0);
    std::shuffle(seen.begin(), seen.end(), rng);
    const int rays = 2 + static_cast<int>(rng() % 4);
    for (int k = 0; k < rays; ++k) s.groups.push_back(imagePoint(s, p, seen[k], rng));
  }
  std::uniform_real_distribution<double> misclosure(-1.0, 1.0);
  for (int c = 0; c < 3; ++c)  // control points
    s.parameter_observations.emplace_back(3 * 7 + c, 1e4, misclosure(rng));
  s.parameter_observations.emplace_back(3 * 11 + 2, 1e10, 0.0);  // eliminated coordinate
  for (int a = 0; a < s.geometry_size[3]; ++a)                   // eliminated geometry
    s.parameter_observations.emplace_back(s.geometry[3] + a, 1e10, 1e-4 * misclosure(rng));
  for (int a = 0; a < 3; ++a)
    s.parameter_observations.emplace_back(s.position_correction[0] + a, 1.0, misclosure(rng));
  s.constraints.emplace_back(DesignBlock{randomMatrix(2, 12, rng), s.ap_set[0]}, Vector{1e10, 1.0},
                             Vector{1e-6, 0.5});
  return s;
}

double maxAbs(const Vector& v) {
  double m = 0.0;
  for (double e : v) m = std::max(m, std::abs(e));
  return m;
}

double maxRelativeDifference(const Vector& a, const Vector& b) {
  double d = 0.0;
  for (std::size_t i = 0; i < a.size(); ++i) d = std::max(d, std::abs(a[i] - b[i]));
  return d / std::max(maxAbs(b), 1e-300);
}

class SparseMatchesDense : public testing::TestWithParam<unsigned> {};

TEST_P(SparseMatchesDense, SameMatrixRightHandSideSolutionAndVtpv) {
  const SyntheticBlock s = randomBlock(GetParam());
  DenseNormalSystem dense(s.layout.unknowns(), createAdjInterface(AdjustmentInterface::kNative));
  SparseNormalSystem sparse(s.layout, 1);
  SparseNormalSystem threaded(s.layout, 2);
  s.feed(dense);
  s.feed(sparse);
  s.feed(threaded);

  const Matrix upper = sparse.assembleUpperTriangle();
  for (int i = 0; i < dense.size(); ++i)
    for (int j = i; j < dense.size(); ++j) ASSERT_EQ(upper[i][j], dense.matrix()[i][j]);
  EXPECT_EQ(sparse.rhs(), dense.rhs());
  EXPECT_EQ(sparse.vtpv(), dense.vtpv());

  ASSERT_EQ(dense.solve(), 0);
  ASSERT_EQ(sparse.solve(), 0);
  ASSERT_EQ(threaded.solve(), 0);
  EXPECT_LT(maxRelativeDifference(sparse.solution(), dense.solution()), 1e-9);
  EXPECT_EQ(threaded.solution(), sparse.solution());  // independent of the thread count
  EXPECT_LT(sparse.reducedFactorEntries(),
            static_cast<std::size_t>(dense.size()) * (dense.size() + 1) / 2);
}

TEST_P(SparseMatchesDense, BothReducedFactorisationsGiveTheDenseSolution) {
  const SyntheticBlock s = randomBlock(GetParam());
  DenseNormalSystem dense(s.layout.unknowns(), createAdjInterface(AdjustmentInterface::kNative));
  s.feed(dense);
  ASSERT_EQ(dense.solve(), 0);
  for (ReducedFactorisation way :
       {ReducedFactorisation::kEnvelope, ReducedFactorisation::kSupernodal}) {
    SparseNormalSystem sparse(s.layout, 2);
    sparse.setReducedFactorisation(way);
    s.feed(sparse);
    ASSERT_EQ(sparse.solve(), 0);
    EXPECT_EQ(sparse.reducedFactorisationInUse(), way);
    EXPECT_LT(maxRelativeDifference(sparse.solution(), dense.solution()), 1e-9);
    sparse.reset();  // the kept structure serves the next solution
    s.feed(sparse);
    ASSERT_EQ(sparse.solve(), 0);
    EXPECT_LT(maxRelativeDifference(sparse.solution(), dense.solution()), 1e-9);
  }
}

TEST_P(SparseMatchesDense, SecondIterationAfterResetGivesTheSameAgain) {
  const SyntheticBlock s = randomBlock(GetParam());
  auto sparse = createNormalSystem(AdjustmentInterface::kSparse, s.layout);
  ASSERT_NE(sparse, nullptr);
  s.feed(*sparse);
  ASSERT_EQ(sparse->solve(), 0);
  const Vector first = sparse->solution();
  const double vtpv = sparse->vtpv();
  sparse->reset();
  EXPECT_EQ(maxAbs(sparse->solution()), 0.0);
  EXPECT_EQ(sparse->vtpv(), 0.0);
  s.feed(*sparse);
  EXPECT_EQ(sparse->vtpv(), vtpv);
  ASSERT_EQ(sparse->solve(), 0);
  EXPECT_EQ(sparse->solution(), first);
}

// The cofactor blocks of both interfaces agree with a Gauss-Jordan inverse of the full matrix
// formed from global design matrices: every block within an object and every block between
// objects of one observation group (what the precision and reliability analysis asks for). An
// error is measured against sqrt(q_ii q_jj), so eliminated unknowns (q about 1e-10) count as much
// as free ones. With weights from 1e-2 to 1e10 the Gauss-Jordan reference itself is good to about
// 1e-8 of that scale, hence 1e-6 here; the adjustment tests hold 1e-8 on real blocks.
TEST_P(SparseMatchesDense, CofactorBlocksAgreeWithTheInverseOfTheFullMatrix) {
  const SyntheticBlock s = randomBlock(GetParam());
  testing_support::ReferenceSystem reference(s.layout.unknowns());
  for (const ObservationGroup& g : s.groups) reference.add(g);
  for (const auto& [block, w, l] : s.constraints) reference.addWeighted(block, w, l);
  for (const auto& [i, w, l] : s.parameter_observations) reference.addParameterObservation(i, w, l);
  const Matrix Q = testing_support::invert(reference.N);

  // Blocks (first unknown, size) per object, in numbering order.
  std::vector<std::pair<int, int>> objects;
  for (int p = 0; p < s.layout.object_points; ++p) objects.emplace_back(3 * p, 3);
  int next = 3 * s.layout.object_points;
  for (int size : s.layout.object_sizes) objects.emplace_back(next, size), next += size;

  auto check = [&](const NormalSystem& system, std::pair<int, int> row, std::pair<int, int> col) {
    Matrix block;
    ASSERT_TRUE(system.inverseBlock(row.first, row.second, col.first, col.second, block))
        << row.first << " " << col.first;
    for (int a = 0; a < row.second; ++a)
      for (int b = 0; b < col.second; ++b) {
        const int i = row.first + a, j = col.first + b;
        ASSERT_NEAR(block(a, b), Q[i][j], 1e-6 * std::sqrt(Q[i][i] * Q[j][j])) << i << " " << j;
      }
  };

  DenseNormalSystem dense(s.layout.unknowns(), createAdjInterface(AdjustmentInterface::kNative));
  std::vector<std::unique_ptr<SparseNormalSystem>> sparse;
  for (ReducedFactorisation way :
       {ReducedFactorisation::kEnvelope, ReducedFactorisation::kSupernodal}) {
    sparse.push_back(std::make_unique<SparseNormalSystem>(s.layout, 2));
    sparse.back()->setReducedFactorisation(way);
  }
  std::vector<NormalSystem*> systems = {&dense, sparse[0].get(), sparse[1].get()};
  for (NormalSystem* system : systems) {
    SCOPED_TRACE(system == &dense            ? "dense"
                 : system == sparse[0].get() ? "envelope"
                                             : "supernodal");
    EXPECT_FALSE(system->prepareInverse());  // nothing solved yet
    system->retainFactor(true);
    s.feed(*system);
    ASSERT_EQ(system->solve(), 0);
    ASSERT_TRUE(system->prepareInverse());
    for (const auto& object : objects) check(*system, object, object);
    for (const ObservationGroup& g : s.groups)
      for (const DesignBlock& row : g.blocks)
        for (const DesignBlock& col : g.blocks)
          check(*system, {row.offset, row.A.cols()}, {col.offset, col.A.cols()});
    // A part of an object's block, as an observation of a single parameter asks for it.
    check(*system, {objects[7].first + 1, 2}, {objects[7].first + 1, 2});
  }
  // Two object points share no observation: the sparse system did not compute their block.
  Matrix block;
  EXPECT_TRUE(dense.inverseBlock(0, 3, 3, 3, block));
  EXPECT_FALSE(sparse[0]->inverseBlock(0, 3, 3, 3, block));
  EXPECT_FALSE(sparse[0]->inverseBlock(0, 4, 0, 3, block));  // straddles two objects
}

// Without retainFactor() the sparse system keeps no factor and has no inverse to offer.
TEST(SparseNormalSystem, InverseNeedsTheRetainedFactor) {
  const SyntheticBlock s = randomBlock(5);
  SparseNormalSystem sparse(s.layout, 1);
  s.feed(sparse);
  ASSERT_EQ(sparse.solve(), 0);
  EXPECT_FALSE(sparse.prepareInverse());
}

INSTANTIATE_TEST_SUITE_P(Seeds, SparseMatchesDense, testing::Values(1u, 2u, 3u, 4u));

// Images in a chain, every pair of neighbours sharing points: the reduced system is banded.
// Points added after a solution that join far-apart images must widen its structure for the
// next solution.
TEST(SparseNormalSystem, BlocksAddedAfterASolutionEnterTheNextOne) {
  std::mt19937 rng(9);
  const int images = 10;
  SyntheticBlock s;
  layOut(s, 3 * (images - 1) + 4, std::vector<int>(images, 6), {}, 0);
  auto observe = [&](int point, int image) {
    s.groups.push_back(
        testing_support::randomGroup({{3 * point, 3}, {s.geometry[image], 6}}, 2, 2, rng, 1e-2));
  };
  for (int i = 0; i + 1 < images; ++i)
    for (int k = 0; k < 3; ++k) {
      observe(3 * i + k, i);
      observe(3 * i + k, i + 1);
    }
  for (int i = 0; i < s.layout.unknowns(); ++i) s.parameter_observations.emplace_back(i, 1.0, 0.1);
  SparseNormalSystem sparse(s.layout, 1);
  s.feed(sparse);
  ASSERT_EQ(sparse.solve(), 0);

  const int first_new = 3 * (images - 1);
  const int pairs[4][2] = {{0, images - 1}, {1, images - 2}, {2, 7}, {0, 5}};
  for (int k = 0; k < 4; ++k) {
    observe(first_new + k, pairs[k][0]);
    observe(first_new + k, pairs[k][1]);
  }
  sparse.reset();
  s.feed(sparse);
  DenseNormalSystem dense(s.layout.unknowns(), createAdjInterface(AdjustmentInterface::kNative));
  s.feed(dense);
  ASSERT_EQ(dense.solve(), 0);
  ASSERT_EQ(sparse.solve(), 0);
  EXPECT_LT(maxRelativeDifference(sparse.solution(), dense.solution()), 1e-9);
}

// Dense and sparse fail on the same row: the decomposition names the first leading minor that
// is not positive in numbering order.
int denseCode(const SyntheticBlock& s) {
  DenseNormalSystem dense(s.layout.unknowns(), createAdjInterface(AdjustmentInterface::kNative));
  s.feed(dense);
  testing::internal::CaptureStdout();
  const int code = dense.solve();
  testing::internal::GetCapturedStdout();
  return code;
}

TEST(SparseNormalSystem, UndeterminedPointReportsTheDenseRow) {
  SyntheticBlock s = randomBlock(5);
  const int point = 13;
  std::erase_if(s.groups,
                [&](const ObservationGroup& g) { return g.blocks[0].offset == 3 * point; });
  s.parameter_observations.emplace_back(3 * point, 1.0, 0.0);  // X known, Y free
  SparseNormalSystem sparse(s.layout, 2);
  s.feed(sparse);
  testing::internal::CaptureStdout();
  EXPECT_EQ(sparse.solve(), 3 * point + 2);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "ERROR: Cholesky decomposition failed.\n");
  EXPECT_EQ(denseCode(s), 3 * point + 2);
}

TEST(SparseNormalSystem, UndeterminedGeometryUnknownsReportTheFirstDenseRow) {
  SyntheticBlock s = randomBlock(6);
  // No observation depends on unknown 2 of image 6 nor on unknown 0 of image 1.
  for (ObservationGroup& g : s.groups)
    for (DesignBlock& b : g.blocks) {
      if (b.offset == s.geometry[6])
        for (int r = 0; r < b.A.rows(); ++r) b.A[r][2] = 0.0;
      if (b.offset == s.geometry[1])
        for (int r = 0; r < b.A.rows(); ++r) b.A[r][0] = 0.0;
    }
  const int expected = s.geometry[1] + 1;
  EXPECT_EQ(denseCode(s), expected);
  for (ReducedFactorisation way :
       {ReducedFactorisation::kAutomatic, ReducedFactorisation::kEnvelope,
        ReducedFactorisation::kSupernodal}) {
    SparseNormalSystem sparse(s.layout);
    sparse.setReducedFactorisation(way);
    s.feed(sparse);
    testing::internal::CaptureStdout();
    EXPECT_EQ(sparse.solve(), expected);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "ERROR: Cholesky decomposition failed.\n");
  }
}

TEST(SparseNormalSystem, GroupCouplingTwoPointsOrLeavingAnObjectIsRefused) {
  SyntheticBlock s = randomBlock(7);
  SparseNormalSystem sparse(s.layout);
  std::mt19937 rng(1);
  ObservationGroup two_points = testing_support::randomGroup({{0, 3}, {3, 3}}, 2, 2, rng);
  ObservationGroup straddling = testing_support::randomGroup({{1, 3}}, 2, 2, rng);
  testing::internal::CaptureStdout();
  EXPECT_FALSE(sparse.accumulate(two_points));
  EXPECT_FALSE(sparse.accumulate(straddling));
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("ERROR: Observation couples two object points"), std::string::npos);
  EXPECT_NE(out.find("ERROR: Design block outside the unknowns of one object"), std::string::npos);
  EXPECT_EQ(sparse.vtpv(), 0.0);
}

std::string readFile(const std::filesystem::path& file) {
  std::ifstream in(file);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class SparseFilesTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::path(testing::TempDir()) /
           ("sparse_files_" + std::to_string(::getpid()) + "_" +
            testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  NormalEquationFileNames names(const std::string& prefix) const {
    return {(dir_ / (prefix + ".pbm")).string(), (dir_ / (prefix + ".mat")).string(),
            (dir_ / (prefix + ".rhs")).string(), (dir_ / (prefix + ".sol")).string()};
  }
  std::filesystem::path dir_;
};

TEST_F(SparseFilesTest, SmallSystemWritesWhatTheDensePathWrites) {
  const SyntheticBlock s = randomBlock(8);
  DenseNormalSystem dense(s.layout.unknowns(), createAdjInterface(AdjustmentInterface::kNative));
  SparseNormalSystem sparse(s.layout);
  s.feed(dense);
  s.feed(sparse);
  ASSERT_EQ(dense.solve(), 0);
  ASSERT_EQ(sparse.solve(), 0);
  dense.writeNormalEquationFiles(names("dense"));
  sparse.writeNormalEquationFiles(names("sparse"));
  EXPECT_EQ(readFile(names("sparse").structure), readFile(names("dense").structure));
  EXPECT_EQ(readFile(names("sparse").matrix), readFile(names("dense").matrix));
  EXPECT_EQ(readFile(names("sparse").rhs), readFile(names("dense").rhs));
  const std::string solution = readFile(names("sparse").solution);
  EXPECT_EQ(std::count(solution.begin(), solution.end(), '\n'), s.layout.unknowns() + 1);
}

TEST_F(SparseFilesTest, LargeSystemRefusesTheMatrixFilesButWritesTheVectors) {
  UnknownLayout layout{SparseNormalSystem::kMaxUnknownsForMatrixFiles / 3 + 1, {}};
  SparseNormalSystem sparse(layout);
  const NormalEquationFileNames files = names("large");
  testing::internal::CaptureStdout();
  sparse.writeNormalEquationFiles(files);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("ERROR: Cannot write structure of normal matrix file " + files.structure +
                     ": 10002 unknowns exceed the limit of 10000"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("ERROR: Cannot write normal matrix file " + files.matrix), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(files.structure));
  EXPECT_FALSE(std::filesystem::exists(files.matrix));
  EXPECT_TRUE(std::filesystem::exists(files.rhs));
  EXPECT_TRUE(std::filesystem::exists(files.solution));
}

// 200 images in 10 strips of 20 and 2,000 points seen by the neighbouring images; one camera
// AP set met by every image; true unknowns recovered from error-free misclosures.
TEST(SparseNormalSystem, LargeBlockRecoversTheTrueIncrements) {
  std::mt19937 rng(11);
  SyntheticBlock s;
  const int strips = 10, per_strip = 20, points = 2000;
  layOut(s, points, std::vector<int>(strips * per_strip, 6), {12}, strips);
  const int u = s.layout.unknowns();
  Vector truth(u);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (double& t : truth) t = 2.0 * unit(rng) - 1.0;

  SparseNormalSystem sparse(s.layout);
  for (int p = 0; p < points; ++p) {
    const double along = unit(rng) * per_strip, across = unit(rng) * strips;
    for (int strip = 0; strip < strips; ++strip)
      for (int j = 0; j < per_strip; ++j) {
        if (std::abs(j + 0.5 - along) > 1.5 || std::abs(strip + 0.5 - across) > 1.0) continue;
        ObservationGroup g = imagePoint(s, p, strip * per_strip + j, rng);
        for (int r = 0; r < 2; ++r) {
          g.l[r] = 0.0;
          for (const DesignBlock& b : g.blocks)
            for (int c = 0; c < b.A.cols(); ++c) g.l[r] += b.A[r][c] * truth[b.offset + c];
        }
        ASSERT_TRUE(sparse.accumulate(g));
      }
  }
  for (int i = 3 * points; i < u; ++i) sparse.addParameterObservation(i, 1e-3, truth[i]);
  for (int p = 0; p < points; ++p)  // points seen by fewer than two images
    for (int c = 0; c < 3; ++c) sparse.addParameterObservation(3 * p + c, 1e-3, truth[3 * p + c]);
  ASSERT_EQ(sparse.solve(), 0);
  EXPECT_LT(maxRelativeDifference(sparse.solution(), truth), 1e-7);
  EXPECT_NEAR(
      sparse.vtpv() - std::inner_product(truth.begin(), truth.end(), sparse.rhs().begin(), 0.0),
      0.0, 1e-6 * sparse.vtpv());
}

// 4,000 points in one strip of 40 images, each point seen by its three nearest images, every
// image observing the one AP set: enough points for two accumulation lanes.
SyntheticBlock laneBlock(std::mt19937& rng) {
  SyntheticBlock s;
  const int images = 40, points = 4000;
  layOut(s, points, std::vector<int>(images, 6), {12}, 1);
  for (int p = 0; p < points; ++p) {
    const int first = std::min(p * images / points, images - 3);
    for (int image = first; image < first + 3; ++image)
      s.groups.push_back(imagePoint(s, p, image, rng));
  }
  for (int i = 0; i < s.layout.unknowns(); ++i) s.parameter_observations.push_back({i, 1e-3, 0.1});
  return s;
}

// Lanes fed on `threads` threads (1: one after the other, in reverse lane order), then the
// parameter observations, then the solution.
bool feedLanes(const SyntheticBlock& s, SparseNormalSystem& system, int threads) {
  system.reset();
  system.beginLanes();
  const int lanes = system.accumulationLanes();
  std::vector<char> accepted(lanes, 1);
  auto run = [&](int lane) {
    for (const ObservationGroup& g : s.groups)
      if (system.laneOfPoint(g.blocks[0].offset / 3) == lane && !system.accumulateInLane(g, lane))
        accepted[lane] = 0;
  };
  if (threads > 1) {
    std::vector<std::thread> workers;
    for (int lane = 0; lane < lanes; ++lane) workers.emplace_back(run, lane);
    for (std::thread& w : workers) w.join();
  } else {
    for (int lane = lanes - 1; lane >= 0; --lane) run(lane);
  }
  if (!system.endLanes()) return false;
  for (const auto& [i, w, l] : s.parameter_observations) system.addParameterObservation(i, w, l);
  return std::count(accepted.begin(), accepted.end(), 0) == 0 && system.solve() == 0;
}

TEST(SparseNormalSystem, LanesAgreeWithOrderedAccumulationWhateverTheThreadCount) {
  std::mt19937 rng(21);
  const SyntheticBlock s = laneBlock(rng);
  SparseNormalSystem system(s.layout);
  EXPECT_EQ(system.accumulationLanes(), 1);  // the structure is not known before a solution
  s.feed(system);
  ASSERT_EQ(system.solve(), 0);
  const Vector ordered_x = system.solution(), ordered_n = system.rhs();
  const double ordered_vtpv = system.vtpv();
  ASSERT_EQ(system.accumulationLanes(), 2);
  EXPECT_EQ(system.laneOfPoint(0), 0);
  EXPECT_EQ(system.laneOfPoint(3999), 1);

  ASSERT_TRUE(feedLanes(s, system, 2));
  EXPECT_LT(maxRelativeDifference(system.solution(), ordered_x), 1e-9);
  EXPECT_LT(maxRelativeDifference(system.rhs(), ordered_n), 1e-12);
  EXPECT_NEAR(system.vtpv(), ordered_vtpv, 1e-12 * ordered_vtpv);
  const Vector two_threads_x = system.solution(), two_threads_n = system.rhs();
  const double two_threads_vtpv = system.vtpv();

  ASSERT_TRUE(feedLanes(s, system, 1));
  EXPECT_EQ(system.solution(), two_threads_x);
  EXPECT_EQ(system.rhs(), two_threads_n);
  EXPECT_EQ(system.vtpv(), two_threads_vtpv);
}

TEST(SparseNormalSystem, LanesRefuseABlockTheStructureDoesNotHaveYet) {
  std::mt19937 rng(22);
  SyntheticBlock s = laneBlock(rng);
  SparseNormalSystem system(s.layout);
  s.feed(system);
  ASSERT_EQ(system.solve(), 0);
  s.groups.push_back(imagePoint(s, 0, 39, rng));  // point 0 was never seen by the last image
  EXPECT_FALSE(feedLanes(s, system, 2));

  // Accumulated in order, the new block enters, and the lanes accept it afterwards.
  system.reset();
  s.feed(system);
  ASSERT_EQ(system.solve(), 0);
  const Vector ordered_x = system.solution();
  ASSERT_TRUE(feedLanes(s, system, 2));
  EXPECT_LT(maxRelativeDifference(system.solution(), ordered_x), 1e-9);
}

TEST(FillReducingOrder, PathGetsBandwidthOneAndHubsGoLast) {
  // A path 0-1-...-39 under a shuffled numbering, plus a hub joined to every path node.
  const int n = 40;
  std::vector<int> label(n);
  std::iota(label.begin(), label.end(), 0);
  std::shuffle(label.begin(), label.end(), std::mt19937(3));
  const int hub = n;
  std::vector<std::vector<int>> graph(n + 1);
  for (int k = 0; k + 1 < n; ++k) {
    graph[label[k]].push_back(label[k + 1]);
    graph[label[k + 1]].push_back(label[k]);
  }
  for (int k = 0; k < n; ++k) {
    graph[label[k]].push_back(hub);
    graph[hub].push_back(label[k]);
  }
  const std::vector<int> order = fillReducingOrder(graph, 8);
  ASSERT_EQ(static_cast<int>(order.size()), n + 1);
  EXPECT_EQ(order.back(), hub);
  std::vector<int> position(n + 1);
  for (int pos = 0; pos <= n; ++pos) position[order[pos]] = pos;
  for (int k = 0; k + 1 < n; ++k)
    EXPECT_EQ(std::abs(position[label[k]] - position[label[k + 1]]), 1);
}

TEST(EnvelopeMatrix, FactorAgreesWithDenseCholeskyIncludingTheFailingRow) {
  // Tridiagonal 2, -1 with a spoiled pivot at row 5.
  const int m = 9;
  std::vector<int> first(m);
  for (int i = 0; i < m; ++i) first[i] = std::max(0, i - 1);
  EnvelopeMatrix e(first);
  Matrix dense(m, m);
  for (int i = 0; i < m; ++i) {
    e.at(i, i) = dense[i][i] = i == 5 ? 0.5 : 2.0;
    if (i > 0) e.at(i, i - 1) = dense[i - 1][i] = -1.0;
  }
  Vector d;
  const int dense_code = choleskyDecompose(dense, d);
  EXPECT_GT(dense_code, 0);
  EXPECT_EQ(e.factor(), dense_code);
}

}  // namespace
}  // namespace bravik

namespace bravik {
namespace {

// An envelope matrix of `blocks` blocks of `size` rows whose rows share their first column, as
// the reduced system's objects do, with a random band of earlier blocks; diagonally dominant.
EnvelopeMatrix randomBlockEnvelope(int blocks, int size, int reach, unsigned seed, Matrix& dense) {
  std::mt19937 random(seed);
  const int m = blocks * size;
  std::vector<int> first(m);
  for (int b = 0; b < blocks; ++b) {
    const int earliest = std::max(0, b - 1 - static_cast<int>(random() % reach));
    for (int a = 0; a < size; ++a) first[b * size + a] = earliest * size;
  }
  EnvelopeMatrix e(first);
  dense = Matrix(m, m);
  std::uniform_real_distribution<double> value(-1.0, 1.0);
  for (int i = 0; i < m; ++i) {
    for (int j = first[i]; j < i; ++j) e.at(i, j) = dense[j][i] = dense[i][j] = value(random);
    e.at(i, i) = dense[i][i] = 2.0 * (i - first[i] + 1) + 1.0;
  }
  return e;
}

TEST(EnvelopeMatrix, PanelFactorHasTheSameBytesForAnyThreadCountAndMatchesDenseCholesky) {
  Matrix dense;
  const EnvelopeMatrix original = randomBlockEnvelope(70, 6, 40, 7, dense);
  EnvelopeMatrix one = original;
  ASSERT_EQ(one.factor(1), 0);
  for (int threads : {2, 3}) {
    EnvelopeMatrix other = original;
    ASSERT_EQ(other.factor(threads), 0);
    for (int i = 0; i < one.size(); ++i)
      for (int j = one.first(i); j <= i; ++j)
        ASSERT_EQ(one.at(i, j), other.at(i, j)) << i << "," << j;
  }
  Vector d;
  ASSERT_EQ(choleskyDecompose(dense, d), 0);
  // choleskyDecompose leaves L below the diagonal and its diagonal in d.
  double largest = 0.0;
  for (int i = 0; i < one.size(); ++i) {
    largest = std::max(largest, std::fabs(one.at(i, i) - d[i]) / d[i]);
    for (int j = one.first(i); j < i; ++j)
      largest = std::max(largest, std::fabs(one.at(i, j) - dense[i][j]));
  }
  EXPECT_LT(largest, 1e-12);
}

TEST(EnvelopeMatrix, PanelFactorNamesTheFirstFailingRowInALaterPanel) {
  Matrix dense;
  EnvelopeMatrix e = randomBlockEnvelope(40, 6, 20, 11, dense);
  const int bad = 157;  // beyond the first panels
  e.at(bad, bad) = dense[bad][bad] = 1e-3;
  Vector d;
  const int dense_code = choleskyDecompose(dense, d);
  ASSERT_GT(dense_code, 0);
  for (int threads : {1, 2}) {
    EnvelopeMatrix copy = e;
    EXPECT_EQ(copy.factor(threads), dense_code);
  }
}

}  // namespace
}  // namespace bravik

namespace bravik {
namespace {

// The reduced assembly (split over threads by objects), the point elimination and both ways of
// factoring the reduced system give the same bytes for any thread count.
TEST(SparseNormalSystem, SolutionHasTheSameBytesForAnyThreadCount) {
  std::mt19937 rng(5);
  SyntheticBlock s;
  const int strips = 8, per_strip = 25, points = 6000;
  layOut(s, points, std::vector<int>(strips * per_strip, 6), {12}, strips);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (int p = 0; p < points; ++p) {
    const double along = unit(rng) * per_strip, across = unit(rng) * strips;
    for (int strip = 0; strip < strips; ++strip)
      for (int j = 0; j < per_strip; ++j)
        if (std::abs(j + 0.5 - along) <= 1.5 && std::abs(strip + 0.5 - across) <= 1.0)
          s.groups.push_back(imagePoint(s, p, strip * per_strip + j, rng));
  }
  for (int i = 0; i < s.layout.unknowns(); ++i) s.parameter_observations.push_back({i, 1e-3, 0.1});
  for (ReducedFactorisation way :
       {ReducedFactorisation::kEnvelope, ReducedFactorisation::kSupernodal}) {
    Vector reference;
    for (int threads : {1, 2, 3}) {
      SparseNormalSystem system(s.layout, threads);
      system.setReducedFactorisation(way);
      for (int round = 0; round < 2; ++round) {  // the second reuses the kept structure
        system.reset();
        s.feed(system);
        ASSERT_EQ(system.solve(), 0);
      }
      EXPECT_EQ(system.reducedFactorisationInUse(), way);
      if (threads == 1) {
        reference = system.solution();
      } else {
        EXPECT_EQ(system.solution(), reference) << threads << " threads";
      }
    }
  }
}

}  // namespace
}  // namespace bravik
