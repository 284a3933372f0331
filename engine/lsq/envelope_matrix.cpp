#include "lsq/envelope_matrix.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <utility>

#include "lsq/dense.h"
#include "lsq/parallel.h"

namespace bravik {

EnvelopeMatrix::EnvelopeMatrix(std::vector<int> first_column) : first_(std::move(first_column)) {
  start_.resize(first_.size() + 1);
  std::size_t total = 0;
  for (std::size_t i = 0; i < first_.size(); ++i) {
    assert(first_[i] >= 0 && first_[i] <= static_cast<int>(i));
    start_[i] = total;
    total += i - first_[i] + 1;
  }
  start_[first_.size()] = total;
  values_.assign(total, 0.0);
}

namespace {

constexpr int kPanelRows = 48;
constexpr int kMaxGroupRows = 6;
constexpr double kWorkPerThreadMinimum = 2e5;  // multiply-adds of a panel worth a second thread

// s[r] = sum_k rows[r][k] * column[k], k < len, for R rows at once: the column is loaded once for
// all rows, and two partial sums per row (even and odd k, the two lanes of one vector register)
// are added at the end, so the result depends only on the operands. The loops over the rows are
// unrolled completely, so that the sums live in registers.
typedef double Pair __attribute__((vector_size(16)));

inline Pair loadPair(const double* p) {
  Pair v;
  __builtin_memcpy(&v, p, sizeof v);
  return v;
}

template <int R>
void multiDot(const double* const* rows, const double* column, int len, double* s) {
  Pair acc[R];
#pragma GCC unroll 6
  for (int r = 0; r < R; ++r) acc[r] = Pair{0.0, 0.0};
  int k = 0;
  for (; k + 2 <= len; k += 2) {
    const Pair c = loadPair(column + k);
#pragma GCC unroll 6
    for (int r = 0; r < R; ++r) acc[r] += loadPair(rows[r] + k) * c;
  }
#pragma GCC unroll 6
  for (int r = 0; r < R; ++r) {
    double even = acc[r][0];
    if (k < len) even += rows[r][k] * column[k];
    s[r] = even + acc[r][1];
  }
}

void multiDot(int count, const double* const* rows, const double* column, int len, double* s) {
  switch (count) {
    case 1:
      return multiDot<1>(rows, column, len, s);
    case 2:
      return multiDot<2>(rows, column, len, s);
    case 3:
      return multiDot<3>(rows, column, len, s);
    case 4:
      return multiDot<4>(rows, column, len, s);
    case 5:
      return multiDot<5>(rows, column, len, s);
    default:
      return multiDot<6>(rows, column, len, s);
  }
}

}  // namespace

// Row-oriented (left-looking) recursion restricted to the envelope:
// L[i][j] = (A[i][j] - sum_k L[i][k] L[j][k]) / L[j][j] over the common columns k < j.
// Rows go in panels of kPanelRows. Within a panel the columns left of the panel depend only on
// rows already factored, so they are computed first, for groups of rows with the same first
// column at once (one pass over row j serves the whole group) and split over threads by groups;
// so are the parts of the sums over those columns for the panel's own columns and diagonal.
// Then the panel's triangle finishes row by row, in order, so the first failing pivot is the one
// a plain row-by-row factorisation meets. Every sum has the same terms in the same order for any
// thread count.
int EnvelopeMatrix::factor(int threads) {
  const int m = size();
  std::vector<std::pair<int, int>> groups;  // rows [first, second) of the panel
  std::vector<double> diagonal_part(kPanelRows);
  for (int i0 = 0; i0 < m; i0 += kPanelRows) {
    const int i1 = std::min(m, i0 + kPanelRows);
    groups.clear();
    double work = 0.0;
    for (int i = i0; i < i1;) {
      int end = i + 1;
      while (end < i1 && end - i < kMaxGroupRows && first_[end] == first_[i]) ++end;
      groups.emplace_back(i, end);
      const double width = std::max(0, i0 - first_[i]);
      work += (end - i) * width * width * 0.5;
      i = end;
    }
    const int tasks = work < kWorkPerThreadMinimum ? 1 : threads;
    const int group_count = static_cast<int>(groups.size());
    // perGroup(b, e, f, rows, s) for the groups [b, e) of first column f, on the threads.
    auto overGroups = [&](auto perGroup) {
      splitRange(group_count, tasks, [&](int, int begin, int end) {
        const double* rows[kMaxGroupRows];
        double s[kMaxGroupRows];
        for (int g = begin; g < end; ++g)
          perGroup(groups[g].first, groups[g].second, first_[groups[g].first], rows, s);
      });
    };
    // Columns left of the panel.
    overGroups([&](int b, int e, int f, const double** rows, double* s) {
      for (int j = f; j < i0; ++j) {
        const double* rj = row(j);
        const int k0 = std::max(f, first_[j]);
        for (int r = 0; r < e - b; ++r) rows[r] = row(b + r) + (k0 - f);
        multiDot(e - b, rows, rj + (k0 - first_[j]), j - k0, s);
        const double pivot = rj[j - first_[j]];
        for (int r = 0; r < e - b; ++r) {
          double& entry = row(b + r)[j - f];
          entry = (entry - s[r]) / pivot;
        }
      }
    });
    // The panel's own columns and diagonals: the sums over the columns left of the panel.
    overGroups([&](int b, int e, int f, const double** rows, double* s) {
      for (int i = b; i < e; ++i) {
        const double* ri = row(i);
        diagonal_part[i - i0] = f < i0 ? dot(ri, ri, i0 - f) : 0.0;
      }
      for (int j = std::max(f, i0); j < e - 1; ++j) {
        const int k0 = std::max(f, first_[j]);
        if (k0 >= i0) continue;
        const int lo = std::max(b, j + 1);  // rows of the group right of column j
        for (int r = 0; r < e - lo; ++r) rows[r] = row(lo + r) + (k0 - f);
        multiDot(e - lo, rows, row(j) + (k0 - first_[j]), i0 - k0, s);
        for (int r = 0; r < e - lo; ++r) row(lo + r)[j - f] -= s[r];
      }
    });
    for (int i = i0; i < i1; ++i) {
      double* ri = row(i);
      const int fi = first_[i];
      for (int j = std::max(fi, i0); j < i; ++j) {
        const double* rj = row(j);
        const int fj = first_[j];
        const int k0 = std::max({fi, fj, i0});
        ri[j - fi] = (ri[j - fi] - dot(ri + (k0 - fi), rj + (k0 - fj), j - k0)) / rj[j - fj];
      }
      const int k0 = std::max(fi, i0);
      const double s =
          ri[i - fi] - diagonal_part[i - i0] - dot(ri + (k0 - fi), ri + (k0 - fi), i - k0);
      if (!(s > 0.0)) return i + 1;
      ri[i - fi] = std::sqrt(s);
    }
  }
  return 0;
}

void EnvelopeMatrix::solveInPlace(Vector& b) const {
  const int m = size();
  assert(static_cast<int>(b.size()) == m);
  for (int i = 0; i < m; ++i) {
    const double* ri = row(i);
    const int fi = first_[i];
    b[i] = (b[i] - dot(ri, b.data() + fi, i - fi)) / ri[i - fi];
  }
  for (int i = m - 1; i >= 0; --i) {
    const double* ri = row(i);
    const int fi = first_[i];
    b[i] /= ri[i - fi];
    const double bi = b[i];
    for (int k = fi; k < i; ++k) b[k] -= ri[k - fi] * bi;
  }
}

// The rows below j that reach column j are those with first(k) <= j. Going from the last column
// to the first, row j + 1 joins (when it reaches j) and the rows starting at j + 1 leave; the
// list stays ascending.
void EnvelopeMatrix::invertInEnvelope() {
  const int m = size();
  std::vector<int> below;  // rows of the current column below its diagonal, ascending
  std::vector<double> l, z;
  for (int j = m - 1; j >= 0; --j) {
    if (j + 1 < m) {
      below.erase(std::remove_if(below.begin(), below.end(), [&](int k) { return first_[k] > j; }),
                  below.end());
      if (first_[j + 1] <= j) below.insert(below.begin(), j + 1);
    }
    // The recursion of invertInPattern() (selected_inversion.h) with direct row access.
    const int count = static_cast<int>(below.size());
    l.resize(count);
    z.assign(count, 0.0);
    for (int a = 0; a < count; ++a) l[a] = at(below[a], j);
    for (int a = 0; a < count; ++a) {
      const int i = below[a];
      const double* zi = row(i) - first_[i];  // zi[k] = Z(i, k) for first(i) <= k <= i
      double sum = zi[i] * l[a];
      const double la = l[a];
      for (int b = 0; b < a; ++b) {
        const double value = zi[below[b]];
        sum += value * l[b];
        z[b] += value * la;
      }
      z[a] += sum;
    }
    const double d = at(j, j);
    double diagonal = 1.0 / d;
    for (int a = 0; a < count; ++a) {
      z[a] = -z[a] / d;
      diagonal -= l[a] * z[a];
    }
    for (int a = 0; a < count; ++a) at(below[a], j) = z[a];
    at(j, j) = diagonal / d;
  }
}

}  // namespace bravik
