#include "lsq/supernodal_cholesky.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <thread>

#include "lsq/parallel.h"
#include "lsq/selected_inversion.h"

namespace bravik {
namespace {

// Below this many multiply-adds a supernode's work stays on one thread.
constexpr double kWorkPerThreadMinimum = 2e6;

// Later neighbours of every position, ascending, without duplicates.
std::vector<std::vector<int>> laterNeighbours(const std::vector<std::vector<int>>& adjacency,
                                              const std::vector<int>& order,
                                              const std::vector<int>& position) {
  const int n = static_cast<int>(order.size());
  std::vector<std::vector<int>> later(n);
  for (int p = 0; p < n; ++p) {
    for (int w : adjacency[order[p]])
      if (position[w] > p) later[p].push_back(position[w]);
    std::sort(later[p].begin(), later[p].end());
    later[p].erase(std::unique(later[p].begin(), later[p].end()), later[p].end());
  }
  return later;
}

// Structure of every node column of L below the diagonal (positions, ascending): the later
// neighbours plus the structures of the children in the elimination tree, less the node itself.
std::vector<std::vector<int>> columnStructures(const std::vector<std::vector<int>>& later) {
  const int n = static_cast<int>(later.size());
  std::vector<std::vector<int>> structure(n);
  std::vector<std::vector<int>> children(n);
  std::vector<int> mark(n, -1);
  for (int p = 0; p < n; ++p) {
    std::vector<int>& list = structure[p];
    mark[p] = p;
    for (int w : later[p]) mark[w] = p, list.push_back(w);
    for (int c : children[p])
      for (int w : structure[c])
        if (mark[w] != p) mark[w] = p, list.push_back(w);
    std::sort(list.begin(), list.end());
    if (!list.empty()) children[list.front()].push_back(p);
  }
  return structure;
}

}  // namespace

SupernodalStructure::SupernodalStructure(const std::vector<std::vector<int>>& adjacency,
                                         const std::vector<int>& sizes,
                                         const std::vector<int>& order) {
  const int n = static_cast<int>(order.size());
  std::vector<int> position(n);
  for (int p = 0; p < n; ++p) position[order[p]] = p;
  size_.resize(n);
  unknown_start_.resize(n + 1);
  for (int p = 0; p < n; ++p) {
    size_[p] = sizes[order[p]];
    unknown_start_[p + 1] = unknown_start_[p] + size_[p];
  }
  unknowns_ = unknown_start_[n];
  const std::vector<std::vector<int>> structure =
      columnStructures(laterNeighbours(adjacency, order, position));

  // A node joins the supernode of the node before it when it is that node's parent and their
  // structures agree apart from itself; the panel then stores no extra zeros.
  supernode_of_.resize(n);
  for (int p = 0; p < n; ++p) {
    const bool joins = p > 0 && !structure[p - 1].empty() && structure[p - 1].front() == p &&
                       structure[p - 1].size() == structure[p].size() + 1;
    if (!joins) first_node_.push_back(p);
    supernode_of_[p] = static_cast<int>(first_node_.size()) - 1;
  }
  first_node_.push_back(n);

  const int count = supernodes();
  row_begin_.assign(count + 1, 0);
  panel_rows_.assign(count, 0);
  panel_cols_.assign(count, 0);
  panel_start_.assign(count + 1, 0);
  for (int s = 0; s < count; ++s) {
    row_begin_[s] = rows_.size();
    const int last = first_node_[s + 1] - 1;
    int row = 0;
    auto addRow = [&](int node) {
      rows_.push_back(node);
      row_offset_.push_back(row);
      row += size_[node];
    };
    for (int p = first_node_[s]; p <= last; ++p) addRow(p);
    panel_cols_[s] = row;
    for (int w : structure[last]) addRow(w);
    panel_rows_[s] = row;
    panel_start_[s + 1] =
        panel_start_[s] + static_cast<std::size_t>(panel_rows_[s]) * panel_cols_[s];
    for (int k = 0; k < panel_cols_[s]; ++k) {
      const double below = panel_rows_[s] - k;
      flops_ += 0.5 * below * below;
    }
  }
  row_begin_[count] = rows_.size();

  updates_.resize(count);
  for (int s = 0; s < count; ++s) {
    int previous = -1;
    const std::size_t below = row_begin_[s] + (first_node_[s + 1] - first_node_[s]);
    for (std::size_t r = below; r < row_begin_[s + 1]; ++r) {
      const int target = supernode_of_[rows_[r]];
      if (target == previous) continue;
      updates_[target].push_back({s, static_cast<int>(r)});
      previous = target;
    }
  }
}

SupernodalMatrix::SupernodalMatrix(const SupernodalStructure& structure, int threads)
    : structure_(&structure), threads_(std::max(1, threads)) {
  const int n = static_cast<int>(structure.size_.size());
  position_of_unknown_.resize(structure.unknowns_);
  for (int p = 0; p < n; ++p)
    for (int a = 0; a < structure.size_[p]; ++a)
      position_of_unknown_[structure.unknown_start_[p] + a] = p;
  values_.assign(structure.storedEntries(), 0.0);
}

double& SupernodalMatrix::at(int i, int j) {
  const SupernodalStructure& st = *structure_;
  assert(i >= j && j >= 0 && i < st.unknowns_);
  const int pj = position_of_unknown_[j];
  const int s = st.supernode_of_[pj];
  const int col = j - st.unknown_start_[st.first_node_[s]];
  const int pi = position_of_unknown_[i];
  const auto begin = st.rows_.begin() + static_cast<std::ptrdiff_t>(st.row_begin_[s]);
  const auto end = st.rows_.begin() + static_cast<std::ptrdiff_t>(st.row_begin_[s + 1]);
  const auto found = std::lower_bound(begin, end, pi);
  assert(found != end && *found == pi);
  const int row = st.row_offset_[found - st.rows_.begin()] + (i - st.unknown_start_[pi]);
  return panel(s)[static_cast<std::size_t>(row) * st.panel_cols_[s] + col];
}

template <class Body>
void SupernodalMatrix::splitRows(int rows, double work, Body body) {
  splitRange(rows, work < kWorkPerThreadMinimum ? 1 : threads_,
             [&body](int, int begin, int end) { body(begin, end); });
}

namespace {

// s[i][j] = x_i . y_j over `len` entries for up to 2 rows x of `xs` and 4 rows y of `ys`. Each
// entry sums its even and its odd terms apart (a pair of lanes of one vector register) and adds
// them at the end, whatever the block, so an entry does not depend on the rows it is computed
// with; the block shares every load of x and y.
typedef double Pair __attribute__((vector_size(16)));

inline Pair loadPair(const double* p) {
  Pair v;
  __builtin_memcpy(&v, p, sizeof v);
  return v;
}

template <int R, int C>
void dotBlock(const double* const* xs, const double* const* ys, int len, double (*s)[4]) {
  // Unrolled completely, so that the accumulators live in registers.
  Pair acc[R][C];
#pragma GCC unroll 4
  for (int i = 0; i < R; ++i)
#pragma GCC unroll 4
    for (int j = 0; j < C; ++j) acc[i][j] = Pair{0.0, 0.0};
  int k = 0;
  for (; k + 2 <= len; k += 2) {
    Pair x[R], y[C];
#pragma GCC unroll 4
    for (int i = 0; i < R; ++i) x[i] = loadPair(xs[i] + k);
#pragma GCC unroll 4
    for (int j = 0; j < C; ++j) y[j] = loadPair(ys[j] + k);
#pragma GCC unroll 4
    for (int i = 0; i < R; ++i)
#pragma GCC unroll 4
      for (int j = 0; j < C; ++j) acc[i][j] += x[i] * y[j];
  }
  for (int i = 0; i < R; ++i)
    for (int j = 0; j < C; ++j) {
      double even = acc[i][j][0];
      if (k < len) even += xs[i][k] * ys[j][k];
      s[i][j] = even + acc[i][j][1];
    }
}

void dotBlock(int rows, int cols, const double* const* xs, const double* const* ys, int len,
              double (*s)[4]) {
  if (rows == 2) {
    switch (cols) {
      case 4:
        return dotBlock<2, 4>(xs, ys, len, s);
      case 3:
        return dotBlock<2, 3>(xs, ys, len, s);
      case 2:
        return dotBlock<2, 2>(xs, ys, len, s);
      default:
        return dotBlock<2, 1>(xs, ys, len, s);
    }
  }
  switch (cols) {
    case 4:
      return dotBlock<1, 4>(xs, ys, len, s);
    case 3:
      return dotBlock<1, 3>(xs, ys, len, s);
    case 2:
      return dotBlock<1, 2>(xs, ys, len, s);
    default:
      return dotBlock<1, 1>(xs, ys, len, s);
  }
}

}  // namespace

// Subtracts L_K[rows >= target] L_K[target's nodes]^T of every earlier supernode K that reaches
// the target, for the target's panel rows [row_begin, row_end), sources in ascending order. The
// source rows involved are contiguous in K's panel, so each update is a dense product computed
// in 2 x 4 blocks of dot products and scattered into the target (lower triangle only).
void SupernodalMatrix::applyUpdates(int target, int row_begin, int row_end,
                                    std::vector<int>& row_of_node) {
  const SupernodalStructure& st = *structure_;
  double* target_panel = panel(target);
  const int target_cols = st.panel_cols_[target];
  std::vector<int> x_rows, x_target, y_target;
  for (const SupernodalStructure::Update& u : st.updates_[target]) {
    const int k = u.source;
    const double* source = panel(k);
    const int cols = st.panel_cols_[k];
    const int end = static_cast<int>(st.row_begin_[k + 1]);
    int column_end = u.first_row;
    while (column_end < end && st.supernode_of_[st.rows_[column_end]] == target) ++column_end;
    y_target.clear();
    for (int q = u.first_row; q < column_end; ++q) {
      const int node = st.rows_[q];
      for (int b = 0; b < st.size_[node]; ++b) y_target.push_back(row_of_node[node] + b);
    }
    x_rows.clear();
    x_target.clear();
    for (int r = u.first_row; r < end; ++r) {
      const int node = st.rows_[r];
      for (int a = 0; a < st.size_[node]; ++a) {
        const int target_row = row_of_node[node] + a;
        if (target_row < row_begin || target_row >= row_end) continue;
        x_rows.push_back(st.row_offset_[r] + a);
        x_target.push_back(target_row);
      }
    }
    const int y0 = st.row_offset_[u.first_row];
    const int y_count = static_cast<int>(y_target.size());
    const int x_count = static_cast<int>(x_rows.size());
    const double* xs[2];
    const double* ys[4];
    double s[2][4];
    for (int i = 0; i < x_count; i += 2) {
      const int ni = std::min(2, x_count - i);
      for (int a = 0; a < ni; ++a) xs[a] = source + static_cast<std::size_t>(x_rows[i + a]) * cols;
      const int last_row = x_target[i + ni - 1];
      for (int j = 0; j < y_count; j += 4) {
        const int nj = std::min(4, y_count - j);
        if (y_target[j] > last_row) break;  // columns ascend: the rest lie above the diagonal
        for (int b = 0; b < nj; ++b) ys[b] = source + static_cast<std::size_t>(y0 + j + b) * cols;
        dotBlock(ni, nj, xs, ys, cols, s);
        for (int a = 0; a < ni; ++a) {
          double* dst = target_panel + static_cast<std::size_t>(x_target[i + a]) * target_cols;
          for (int b = 0; b < nj; ++b)
            if (y_target[j + b] <= x_target[i + a]) dst[y_target[j + b]] -= s[a][b];
        }
      }
    }
  }
}

// The dense Cholesky factor of the diagonal block, four rows at a time: their entries left of
// the four share the loads of the earlier rows; the 4 x 4 triangle follows row by row.
int SupernodalMatrix::factorDiagonal(int s) {
  const SupernodalStructure& st = *structure_;
  double* p = panel(s);
  const int cols = st.panel_cols_[s];
  const double* rj[1];
  double* rows[4];
  const double* row_reads[4];
  double sums[2][4];
  auto sequentialDot = [](const double* x, const double* y, int len) {
    double sum = 0.0;
    for (int k = 0; k < len; ++k) sum += x[k] * y[k];
    return sum;
  };
  for (int i0 = 0; i0 < cols; i0 += 4) {
    const int n = std::min(4, cols - i0);
    for (int b = 0; b < n; ++b)
      row_reads[b] = rows[b] = p + static_cast<std::size_t>(i0 + b) * cols;
    for (int j = 0; j < i0; ++j) {
      rj[0] = p + static_cast<std::size_t>(j) * cols;
      dotBlock(1, n, rj, row_reads, j, sums);
      for (int b = 0; b < n; ++b) rows[b][j] = (rows[b][j] - sums[0][b]) / rj[0][j];
    }
    for (int b = 0; b < n; ++b) {
      const int i = i0 + b;
      double* ri = rows[b];
      for (int j = i0; j < i; ++j) {
        const double* other = p + static_cast<std::size_t>(j) * cols;
        ri[j] = (ri[j] - sequentialDot(ri, other, j)) / other[j];
      }
      const double d = ri[i] - sequentialDot(ri, ri, i);
      if (!(d > 0.0)) return st.unknown_start_[st.first_node_[s]] + i + 1;
      ri[i] = std::sqrt(d);
    }
  }
  return 0;
}

// Rows below the diagonal block: r L_diag^T = a row by row, four rows at a time sharing the loads
// of the diagonal block's rows.
void SupernodalMatrix::solveBelowDiagonal(int s, int row_begin, int row_end) {
  const SupernodalStructure& st = *structure_;
  double* p = panel(s);
  const int cols = st.panel_cols_[s];
  const double* rj[1];
  double* rows[4];
  const double* row_reads[4];
  double sums[2][4];
  for (int r = row_begin; r < row_end; r += 4) {
    const int n = std::min(4, row_end - r);
    for (int b = 0; b < n; ++b) row_reads[b] = rows[b] = p + static_cast<std::size_t>(r + b) * cols;
    for (int j = 0; j < cols; ++j) {
      rj[0] = p + static_cast<std::size_t>(j) * cols;
      dotBlock(1, n, rj, row_reads, j, sums);
      for (int b = 0; b < n; ++b) rows[b][j] = (rows[b][j] - sums[0][b]) / rj[0][j];
    }
  }
}

int SupernodalMatrix::factor() {
  const SupernodalStructure& st = *structure_;
  std::vector<int> row_of_node(st.size_.size(), -1);
  for (int s = 0; s < st.supernodes(); ++s) {
    const int rows = st.panel_rows_[s];
    const int cols = st.panel_cols_[s];
    for (std::size_t r = st.row_begin_[s]; r < st.row_begin_[s + 1]; ++r)
      row_of_node[st.rows_[r]] = st.row_offset_[r];
    double work = 0.0;
    for (const SupernodalStructure::Update& u : st.updates_[s])
      work += static_cast<double>(st.panel_cols_[u.source]) *
              (st.panel_rows_[u.source] - st.row_offset_[u.first_row]) * cols;
    splitRows(rows, work, [&](int begin, int end) { applyUpdates(s, begin, end, row_of_node); });
    for (std::size_t r = st.row_begin_[s]; r < st.row_begin_[s + 1]; ++r)
      row_of_node[st.rows_[r]] = -1;
    const int code = factorDiagonal(s);
    if (code != 0) return code;
    const double below_work = static_cast<double>(rows - cols) * cols * cols * 0.5;
    splitRows(rows - cols, below_work,
              [&](int begin, int end) { solveBelowDiagonal(s, cols + begin, cols + end); });
  }
  return 0;
}

void SupernodalMatrix::solveInPlace(Vector& b) const {
  const SupernodalStructure& st = *structure_;
  assert(static_cast<int>(b.size()) == st.unknowns_);
  const int count = st.supernodes();
  auto belowRows = [&](int s, auto visit) {
    const std::size_t first_below = st.row_begin_[s] + (st.first_node_[s + 1] - st.first_node_[s]);
    for (std::size_t r = first_below; r < st.row_begin_[s + 1]; ++r) {
      const int node = st.rows_[r];
      for (int a = 0; a < st.size_[node]; ++a)
        visit(st.row_offset_[r] + a, st.unknown_start_[node] + a);
    }
  };
  for (int s = 0; s < count; ++s) {
    const double* p = panel(s);
    const int cols = st.panel_cols_[s];
    double* x = b.data() + st.unknown_start_[st.first_node_[s]];
    for (int i = 0; i < cols; ++i) {
      const double* ri = p + static_cast<std::size_t>(i) * cols;
      x[i] = (x[i] - dot(ri, x, i)) / ri[i];
    }
    belowRows(s, [&](int row, int unknown) {
      b[unknown] -= dot(p + static_cast<std::size_t>(row) * cols, x, cols);
    });
  }
  for (int s = count - 1; s >= 0; --s) {
    const double* p = panel(s);
    const int cols = st.panel_cols_[s];
    double* x = b.data() + st.unknown_start_[st.first_node_[s]];
    belowRows(s, [&](int row, int unknown) {
      const double* rr = p + static_cast<std::size_t>(row) * cols;
      const double xu = b[unknown];
      for (int i = 0; i < cols; ++i) x[i] -= rr[i] * xu;
    });
    for (int i = cols - 1; i >= 0; --i) {
      const double* ri = p + static_cast<std::size_t>(i) * cols;
      x[i] /= ri[i];
      for (int k = 0; k < i; ++k) x[k] -= ri[k] * x[i];
    }
  }
}

void SupernodalMatrix::rowsBelow(int j, std::vector<int>& rows) const {
  const SupernodalStructure& st = *structure_;
  rows.clear();
  const int s = st.supernode_of_[position_of_unknown_[j]];
  for (std::size_t r = st.row_begin_[s]; r < st.row_begin_[s + 1]; ++r) {
    const int node = st.rows_[r];
    const int begin = std::max(st.unknown_start_[node], j + 1);
    for (int u = begin; u < st.unknown_start_[node] + st.size_[node]; ++u) rows.push_back(u);
  }
}

void SupernodalMatrix::invertInStructure() {
  invertInPattern(*this, size(), [this](int j, std::vector<int>& rows) { rowsBelow(j, rows); });
}

}  // namespace bravik
