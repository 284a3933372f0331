#include "lsq/cholesky.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <thread>
#include <vector>

#include "lsq/dense.h"

namespace bravik {
namespace {

constexpr int kPanel = 48;   // columns factored together
constexpr int kChunk = 256;  // inner-product length kept in cache during the panel update
constexpr long long kParallelWork = 4'000'000;  // multiply-adds below which one thread is used

// out[t] = dot(x, y_t) for four rows y_0..y_3 sharing the loads of x.
void dot4(const double* x, const double* y0, const double* y1, const double* y2, const double* y3,
          int len, double out[4]) {
  double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
  for (int k = 0; k < len; ++k) {
    const double xk = x[k];
    s0 += xk * y0[k];
    s1 += xk * y1[k];
    s2 += xk * y2[k];
    s3 += xk * y3[k];
  }
  out[0] = s0;
  out[1] = s1;
  out[2] = s2;
  out[3] = s3;
}

// Loads columns [i0, i1) of the rows j >= i0 into the working lower triangle (a[j][i] = a[i][j])
// and the panel's diagonal into `diag`; the upper triangle stays untouched.
void loadPanel(Matrix& a, int i0, int i1, double* diag) {
  const int m = a.rows();
  for (int i = i0; i < i1; ++i) diag[i - i0] = a[i][i];
  for (int j = i0 + 1; j < m; ++j) {
    double* row = a[j];
    const int end = std::min(i1, j);
    for (int i = i0; i < end; ++i) row[i] = a[i][j];
  }
}

// Subtracts sum over k < i0 of L[i][k] L[j][k] from the panel entries of rows [j0, j1)
// (j >= i, i in the panel).
void updateRowsFromLeft(Matrix& a, int i0, int i1, int j0, int j1, double* diag) {
  for (int k0 = 0; k0 < i0; k0 += kChunk) {
    const int len = std::min(kChunk, i0 - k0);
    for (int j = j0; j < j1; ++j) {
      double* rowj = a[j];
      const int end = std::min(i1, j + 1);
      int i = i0;
      for (; i + 4 <= end; i += 4) {
        double s[4];
        dot4(rowj + k0, a[i] + k0, a[i + 1] + k0, a[i + 2] + k0, a[i + 3] + k0, len, s);
        for (int t = 0; t < 4; ++t) {
          if (i + t == j)
            diag[i + t - i0] -= s[t];
          else
            rowj[i + t] -= s[t];
        }
      }
      for (; i < end; ++i) {
        const double s = dot(rowj + k0, a[i] + k0, len);
        if (i == j)
          diag[i - i0] -= s;
        else
          rowj[i] -= s;
      }
    }
  }
}

int updateThreads(long long work) {
  if (work < kParallelWork) return 1;
  return static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 4u));
}

// The rows are independent: large updates are split into row ranges, one per thread (a panel
// diagonal entry is updated with its row). Every entry is computed by the same operations
// whatever the split, so the factor does not depend on the number of threads.
void updatePanelFromLeft(Matrix& a, int i0, int i1, double* diag) {
  const int m = a.rows();
  const int threads = updateThreads(static_cast<long long>(m - i0) * (i1 - i0) * i0);
  std::vector<std::thread> workers;
  for (int t = 1; t < threads; ++t) {
    const int j0 = i0 + static_cast<int>(static_cast<long long>(m - i0) * t / threads);
    const int j1 = i0 + static_cast<int>(static_cast<long long>(m - i0) * (t + 1) / threads);
    workers.emplace_back(updateRowsFromLeft, std::ref(a), i0, i1, j0, j1, diag);
  }
  updateRowsFromLeft(a, i0, i1, i0, i0 + (m - i0) / threads, diag);
  for (std::thread& w : workers) w.join();
}

// Finishes the panel with the inner products over the panel's own columns.
int factorPanel(Matrix& a, Vector& d, int i0, int i1, const double* diag) {
  const int m = a.rows();
  for (int i = i0; i < i1; ++i) {
    const double* rowi = a[i];
    const double s = diag[i - i0] - dot(rowi + i0, rowi + i0, i - i0);
    if (!(s > 0.0)) return i + 1;
    d[i] = std::sqrt(s);
    const double inv = 1.0 / d[i];
    for (int j = i + 1; j < m; ++j) {
      double* rowj = a[j];
      rowj[i] = (rowj[i] - dot(rowi + i0, rowj + i0, i - i0)) * inv;
    }
  }
  return 0;
}

}  // namespace

int choleskyDecompose(Matrix& a, Vector& d) {
  if (!a.isSquare()) return -1;
  const int m = a.rows();
  d.assign(m, 0.0);
  double diag[kPanel];
  for (int i0 = 0; i0 < m; i0 += kPanel) {
    const int i1 = std::min(m, i0 + kPanel);
    loadPanel(a, i0, i1, diag);
    updatePanelFromLeft(a, i0, i1, diag);
    const int result = factorPanel(a, d, i0, i1, diag);
    if (result != 0) return result;
  }
  return 0;
}

int choleskySubstitute(const Matrix& a, const Vector& d, const Vector& n, Vector& x) {
  if (!a.isSquare()) return -1;
  const int m = a.rows();
  if (static_cast<int>(d.size()) != m) return -2;
  if (static_cast<int>(n.size()) != m) return -3;
  x.assign(m, 0.0);
  for (int i = 0; i < m; ++i) x[i] = (n[i] - dot(a[i], x.data(), i)) / d[i];
  // Backward pass by rows of L: once x[i] is final, remove its share from every x[k], k < i.
  for (int i = m - 1; i >= 0; --i) {
    x[i] /= d[i];
    const double xi = x[i];
    const double* rowi = a[i];
    for (int k = 0; k < i; ++k) x[k] -= rowi[k] * xi;
  }
  return 0;
}

int choleskyInverse(Matrix& a, const Vector& d) {
  if (!a.isSquare()) return -1;
  const int m = a.rows();
  if (static_cast<int>(d.size()) != m) return -2;
  // Q(k, i) for k > j read from the upper triangle already computed.
  auto q = [&a](int r, int c) { return r <= c ? a[r][c] : a[c][r]; };
  for (int i = m - 1; i >= 0; --i) {
    double s = 1.0 / d[i];
    for (int k = i + 1; k < m; ++k) s -= a[k][i] * a[i][k];
    a[i][i] = s / d[i];
    for (int j = i - 1; j >= 0; --j) {
      double t = 0.0;
      for (int k = j + 1; k < m; ++k) t += a[k][j] * q(k, i);
      a[j][i] = -t / d[j];
    }
  }
  return 0;
}

void mirrorUpperToLower(Matrix& a) {
  for (int i = 1; i < a.rows(); ++i)
    for (int j = 0; j < i; ++j) a[i][j] = a[j][i];
}

}  // namespace bravik
