#include "lsq/supernodal_cholesky.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <thread>

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
  const int tasks = work < kWorkPerThreadMinimum ? 1 : std::min(threads_, std::max(rows, 1));
  if (tasks <= 1) {
    body(0, rows);
    return;
  }
  std::vector<std::thread> workers;
  for (int t = 1; t < tasks; ++t)
    workers.emplace_back(body, static_cast<int>(static_cast<long long>(rows) * t / tasks),
                         static_cast<int>(static_cast<long long>(rows) * (t + 1) / tasks));
  body(0, rows / tasks);
  for (std::thread& w : workers) w.join();
}

// Subtracts L_K[rows >= target] L_K[target's nodes]^T of every earlier supernode K that reaches
// the target, for the target's panel rows [row_begin, row_end). Sources in ascending order, one
// dot product per entry and source.
void SupernodalMatrix::applyUpdates(int target, int row_begin, int row_end,
                                    std::vector<int>& row_of_node) {
  const SupernodalStructure& st = *structure_;
  double* target_panel = panel(target);
  const int target_cols = st.panel_cols_[target];
  for (const SupernodalStructure::Update& u : st.updates_[target]) {
    const int k = u.source;
    const double* source = panel(k);
    const int cols = st.panel_cols_[k];
    const int end = static_cast<int>(st.row_begin_[k + 1]);
    int column_end = u.first_row;
    while (column_end < end && st.supernode_of_[st.rows_[column_end]] == target) ++column_end;
    for (int r = u.first_row; r < end; ++r) {
      const int node = st.rows_[r];
      const int target_row0 = row_of_node[node];
      if (target_row0 >= row_end || target_row0 + st.size_[node] <= row_begin) continue;
      for (int a = 0; a < st.size_[node]; ++a) {
        const int target_row = target_row0 + a;
        if (target_row < row_begin || target_row >= row_end) continue;
        const double* x = source + static_cast<std::size_t>(st.row_offset_[r] + a) * cols;
        double* dst = target_panel + static_cast<std::size_t>(target_row) * target_cols;
        for (int q = u.first_row; q < column_end; ++q) {
          const int column_node = st.rows_[q];
          const int target_col0 = row_of_node[column_node];
          const double* y0 = source + static_cast<std::size_t>(st.row_offset_[q]) * cols;
          for (int b = 0; b < st.size_[column_node] && target_col0 + b <= target_row; ++b)
            dst[target_col0 + b] -= dot(x, y0 + static_cast<std::size_t>(b) * cols, cols);
        }
      }
    }
  }
}

int SupernodalMatrix::factorDiagonal(int s) {
  const SupernodalStructure& st = *structure_;
  double* p = panel(s);
  const int cols = st.panel_cols_[s];
  for (int i = 0; i < cols; ++i) {
    double* ri = p + static_cast<std::size_t>(i) * cols;
    for (int j = 0; j < i; ++j) {
      const double* rj = p + static_cast<std::size_t>(j) * cols;
      ri[j] = (ri[j] - dot(ri, rj, j)) / rj[j];
    }
    const double d = ri[i] - dot(ri, ri, i);
    if (!(d > 0.0)) return st.unknown_start_[st.first_node_[s]] + i + 1;
    ri[i] = std::sqrt(d);
  }
  return 0;
}

void SupernodalMatrix::solveBelowDiagonal(int s, int row_begin, int row_end) {
  const SupernodalStructure& st = *structure_;
  double* p = panel(s);
  const int cols = st.panel_cols_[s];
  for (int r = row_begin; r < row_end; ++r) {
    double* rr = p + static_cast<std::size_t>(r) * cols;
    for (int j = 0; j < cols; ++j) {
      const double* rj = p + static_cast<std::size_t>(j) * cols;
      rr[j] = (rr[j] - dot(rr, rj, j)) / rj[j];
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
