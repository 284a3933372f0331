#include "lsq/supernodal_cholesky.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <random>
#include <set>

#include "lsq/cholesky.h"
#include "lsq/envelope_matrix.h"
#include "lsq/fill_reducing_order.h"

namespace bravik {
namespace {

using Graph = std::vector<std::vector<int>>;

// A random symmetric block-sparse matrix: nodes of 1 to 7 unknowns on a grid-like graph with
// some long links and a hub joined to every node, made positive definite by its diagonal.
struct BlockSparse {
  Graph graph;
  std::vector<int> sizes;
  std::vector<int> start;  // first unknown of each node in the natural numbering
  Matrix dense;            // full symmetric matrix, natural numbering

  int unknowns() const { return start.back(); }
};

BlockSparse randomBlockSparse(int side, unsigned seed, bool definite = true) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> size_of(1, 7);
  std::uniform_real_distribution<double> value(-1.0, 1.0);
  BlockSparse m;
  const int n = side * side + 1;
  const int hub = n - 1;
  m.graph.resize(n);
  auto link = [&](int a, int b) {
    m.graph[a].push_back(b);
    m.graph[b].push_back(a);
  };
  for (int r = 0; r < side; ++r)
    for (int c = 0; c < side; ++c) {
      const int v = r * side + c;
      if (c + 1 < side) link(v, v + 1);
      if (r + 1 < side) link(v, v + side);
      if (r + 1 < side && c + 2 < side) link(v, v + side + 2);
      if (rng() % 17 == 0) link(v, static_cast<int>(rng() % (side * side)));
      link(v, hub);
    }
  m.sizes.resize(n);
  m.start.assign(n + 1, 0);
  for (int v = 0; v < n; ++v) {
    m.sizes[v] = v == hub ? 4 : size_of(rng);
    m.start[v + 1] = m.start[v] + m.sizes[v];
  }
  const int u = m.unknowns();
  m.dense = Matrix(u, u);
  for (int v = 0; v < n; ++v) {
    std::set<int> neighbours(m.graph[v].begin(), m.graph[v].end());
    for (int w : neighbours) {
      if (w <= v) continue;
      for (int a = 0; a < m.sizes[v]; ++a)
        for (int b = 0; b < m.sizes[w]; ++b) {
          const double x = value(rng);
          m.dense[m.start[v] + a][m.start[w] + b] = m.dense[m.start[w] + b][m.start[v] + a] = x;
        }
    }
    for (int a = 0; a < m.sizes[v]; ++a)
      for (int b = 0; b <= a; ++b) {
        const double x = value(rng);
        m.dense[m.start[v] + a][m.start[v] + b] = m.dense[m.start[v] + b][m.start[v] + a] = x;
      }
  }
  // Diagonal dominance makes it positive definite.
  for (int i = 0; i < u; ++i) {
    double row = 0.0;
    for (int j = 0; j < u; ++j) row += std::abs(m.dense[i][j]);
    m.dense[i][i] = row + 1.0;
  }
  if (!definite) {
    const int spoiled = m.start[side * side / 2] + 1;
    m.dense[spoiled][spoiled] = -1.0;
  }
  return m;
}

// Loads the lower triangle of the permuted matrix into any storage with at(i, j).
template <class Storage>
void load(const BlockSparse& m, const std::vector<int>& order, Storage& s) {
  std::vector<int> permuted_start(order.size());
  int row = 0;
  for (int v : order) {
    permuted_start[v] = row;
    row += m.sizes[v];
  }
  for (int v = 0; v < static_cast<int>(order.size()); ++v) {
    std::vector<int> block_columns = m.graph[v];
    block_columns.push_back(v);
    std::sort(block_columns.begin(), block_columns.end());
    block_columns.erase(std::unique(block_columns.begin(), block_columns.end()),
                        block_columns.end());
    for (int w : block_columns)
      for (int a = 0; a < m.sizes[v]; ++a)
        for (int b = 0; b < m.sizes[w]; ++b) {
          const int i = permuted_start[v] + a, j = permuted_start[w] + b;
          if (i >= j) s.at(i, j) = m.dense[m.start[v] + a][m.start[w] + b];
        }
  }
}

std::vector<int> envelopeFirstColumns(const BlockSparse& m, const std::vector<int>& order) {
  std::vector<int> position(order.size()), permuted_start(order.size());
  int row = 0;
  for (int p = 0; p < static_cast<int>(order.size()); ++p) {
    position[order[p]] = p;
    permuted_start[order[p]] = row;
    row += m.sizes[order[p]];
  }
  std::vector<int> first(row);
  for (int v = 0; v < static_cast<int>(order.size()); ++v) {
    int f = permuted_start[v];
    for (int w : m.graph[v])
      if (position[w] < position[v]) f = std::min(f, permuted_start[w]);
    for (int a = 0; a < m.sizes[v]; ++a) first[permuted_start[v] + a] = f;
  }
  return first;
}

// b in the permuted numbering from a vector in the natural one, and back.
Vector permute(const BlockSparse& m, const std::vector<int>& order, const Vector& natural) {
  Vector out;
  for (int v : order)
    for (int a = 0; a < m.sizes[v]; ++a) out.push_back(natural[m.start[v] + a]);
  return out;
}

double maxResidual(const BlockSparse& m, const std::vector<int>& order, const Vector& x_permuted,
                   const Vector& rhs) {
  Vector x(m.unknowns());
  int k = 0;
  for (int v : order)
    for (int a = 0; a < m.sizes[v]; ++a) x[m.start[v] + a] = x_permuted[k++];
  double worst = 0.0;
  for (int i = 0; i < m.unknowns(); ++i) {
    double r = -rhs[i];
    for (int j = 0; j < m.unknowns(); ++j) r += m.dense[i][j] * x[j];
    worst = std::max(worst, std::abs(r));
  }
  return worst;
}

class SupernodalFactor : public testing::TestWithParam<unsigned> {};

TEST_P(SupernodalFactor, SolvesItsSystemAndAgreesWithTheEnvelopeFactor) {
  const BlockSparse m = randomBlockSparse(9, GetParam());
  const int hub_degree = 8;
  for (const std::vector<int>& order :
       {nestedDissectionOrder(m.graph, hub_degree, 4), minimumDegreeOrder(m.graph, hub_degree),
        fillReducingOrder(m.graph, hub_degree)}) {
    ASSERT_EQ(order.back(), static_cast<int>(m.graph.size()) - 1) << "the hub comes last";
    SupernodalStructure structure(m.graph, m.sizes, order);
    ASSERT_EQ(structure.unknowns(), m.unknowns());
    EXPECT_LT(structure.supernodes(), static_cast<int>(m.graph.size()))
        << "a separator clique forms supernodes of several nodes";
    SupernodalMatrix s(structure, 1);
    load(m, order, s);
    EnvelopeMatrix e(envelopeFirstColumns(m, order));
    load(m, order, e);
    ASSERT_EQ(s.factor(), 0);
    ASSERT_EQ(e.factor(), 0);

    std::mt19937 rng(GetParam());
    std::uniform_real_distribution<double> value(-1.0, 1.0);
    Vector rhs(m.unknowns());
    for (double& r : rhs) r = value(rng);
    Vector xs = permute(m, order, rhs), xe = xs;
    s.solveInPlace(xs);
    e.solveInPlace(xe);
    EXPECT_LT(maxResidual(m, order, xs, rhs), 1e-10);
    for (std::size_t i = 0; i < xs.size(); ++i)
      EXPECT_NEAR(xs[i], xe[i], 1e-12 * (1 + std::abs(xe[i])));
    // The factors agree entry by entry wherever both store one.
    for (int i = 0; i < m.unknowns(); ++i)
      for (int j = e.first(i); j <= i; ++j)
        if (e.at(i, j) != 0.0) {
          EXPECT_NEAR(s.at(i, j), e.at(i, j), 1e-12) << i << "," << j;
        }
  }
}

INSTANTIATE_TEST_SUITE_P(Seeds, SupernodalFactor, testing::Values(1u, 2u, 3u, 4u, 5u));

TEST(SupernodalFactor, SameBytesForAnyThreadCount) {
  // Large enough that the top supernodes split their rows over threads.
  const BlockSparse m = randomBlockSparse(26, 7);
  const std::vector<int> order = nestedDissectionOrder(m.graph, 8, 4);
  SupernodalStructure structure(m.graph, m.sizes, order);
  Vector reference;
  for (int threads : {1, 2, 3, 8}) {
    SupernodalMatrix s(structure, threads);
    load(m, order, s);
    ASSERT_EQ(s.factor(), 0);
    Vector x(m.unknowns(), 1.0);
    s.solveInPlace(x);
    if (reference.empty())
      reference = x;
    else
      EXPECT_EQ(x, reference) << threads << " threads";
  }
}

TEST(SupernodalFactor, NonDefiniteMatrixNamesTheRowTheEnvelopeNames) {
  for (unsigned seed : {11u, 12u, 13u}) {
    const BlockSparse m = randomBlockSparse(7, seed, false);
    const std::vector<int> order = nestedDissectionOrder(m.graph, 8, 4);
    SupernodalStructure structure(m.graph, m.sizes, order);
    SupernodalMatrix s(structure, 2);
    load(m, order, s);
    EnvelopeMatrix e(envelopeFirstColumns(m, order));
    load(m, order, e);
    const int code = e.factor();
    EXPECT_GT(code, 0);
    EXPECT_EQ(s.factor(), code);
  }
}

TEST(NestedDissection, GridSeparatorsComeAfterTheirSidesAndFillStaysBelowTheEnvelope) {
  const int side = 40;
  Graph grid(side * side);
  for (int r = 0; r < side; ++r)
    for (int c = 0; c < side; ++c) {
      const int v = r * side + c;
      if (c + 1 < side) grid[v].push_back(v + 1), grid[v + 1].push_back(v);
      if (r + 1 < side) grid[v].push_back(v + side), grid[v + side].push_back(v);
    }
  const std::vector<int> order = nestedDissectionOrder(grid, 100, 16);
  std::vector<int> sorted = order;
  std::sort(sorted.begin(), sorted.end());
  std::vector<int> all(side * side);
  std::iota(all.begin(), all.end(), 0);
  ASSERT_EQ(sorted, all) << "a permutation";
  std::vector<int> md = minimumDegreeOrder(grid, 100);
  std::sort(md.begin(), md.end());
  ASSERT_EQ(md, all) << "a permutation";
  const std::vector<int> sizes(grid.size(), 6);
  SupernodalStructure dissected(grid, sizes, order);
  SupernodalStructure min_degree(grid, sizes, minimumDegreeOrder(grid, 100));
  SupernodalStructure banded(grid, sizes, fillReducingOrder(grid, 100));
  EXPECT_LT(dissected.flops(), 0.7 * banded.flops());
  EXPECT_LT(dissected.storedEntries(), banded.storedEntries());
  EXPECT_LT(min_degree.flops(), 0.7 * banded.flops());
}

TEST(NestedDissection, DisconnectedPartsAndIsolatedNodesAreOrdered) {
  Graph g(50);
  for (int v = 0; v + 1 < 20; ++v) g[v].push_back(v + 1), g[v + 1].push_back(v);
  for (int v = 25; v + 1 < 50; ++v) g[v].push_back(v + 1), g[v + 1].push_back(v);
  std::vector<int> all(50);
  std::iota(all.begin(), all.end(), 0);
  for (std::vector<int> order : {nestedDissectionOrder(g, 10, 3), minimumDegreeOrder(g, 10)}) {
    std::sort(order.begin(), order.end());
    EXPECT_EQ(order, all);
  }
}

}  // namespace
}  // namespace bravik
