#ifndef BRAVIK_LSQ_NORMAL_SYSTEM_TEST_SUPPORT_H
#define BRAVIK_LSQ_NORMAL_SYSTEM_TEST_SUPPORT_H

// Test helpers: random observation groups and a plain reference accumulation that forms the
// full matrix A^T P A from a global design matrix, independent of the block bookkeeping.

#include <cmath>
#include <random>
#include <utility>
#include <vector>

#include "lsq/normal_system.h"

namespace bravik::testing_support {

inline Matrix randomMatrix(int rows, int cols, std::mt19937& rng, double scale = 1.0) {
  std::uniform_real_distribution<double> u(-scale, scale);
  Matrix m(rows, cols);
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j) m[i][j] = u(rng);
  return m;
}

// Symmetric positive definite q x q with diagonal about `scale`.
inline Matrix randomCofactor(int q, std::mt19937& rng, double scale) {
  Matrix R = randomMatrix(q, q, rng, 0.3);
  Matrix Q(q, q);
  for (int i = 0; i < q; ++i)
    for (int j = 0; j < q; ++j) {
      for (int k = 0; k < q; ++k) Q[i][j] += R[i][k] * R[j][k];
      Q[i][j] = (Q[i][j] + (i == j ? 1.0 : 0.0)) * scale;
    }
  return Q;
}

// A group with the given (offset, columns) blocks, r equations, q observations.
inline ObservationGroup randomGroup(const std::vector<std::pair<int, int>>& blocks, int r, int q,
                                    std::mt19937& rng, double cofactor_scale = 1.0) {
  ObservationGroup g;
  for (auto [offset, cols] : blocks) g.blocks.push_back({randomMatrix(r, cols, rng), offset});
  g.B = randomMatrix(r, q, rng, 0.2);
  for (int i = 0; i < std::min(r, q); ++i) g.B[i][i] += 1.0;
  g.Q = randomCofactor(q, rng, cofactor_scale);
  Matrix l = randomMatrix(r, 1, rng);
  for (int i = 0; i < r; ++i) g.l.push_back(l[i][0]);
  return g;
}

// Gauss-Jordan inverse with partial pivoting, for small well-conditioned matrices.
inline Matrix invert(Matrix a) {
  const int m = a.rows();
  Matrix inv(m, m);
  for (int i = 0; i < m; ++i) inv[i][i] = 1.0;
  for (int c = 0; c < m; ++c) {
    int p = c;
    for (int i = c + 1; i < m; ++i)
      if (std::abs(a[i][c]) > std::abs(a[p][c])) p = i;
    for (int j = 0; j < m; ++j) {
      std::swap(a[c][j], a[p][j]);
      std::swap(inv[c][j], inv[p][j]);
    }
    const double piv = a[c][c];
    for (int j = 0; j < m; ++j) {
      a[c][j] /= piv;
      inv[c][j] /= piv;
    }
    for (int i = 0; i < m; ++i) {
      if (i == c) continue;
      const double f = a[i][c];
      for (int j = 0; j < m; ++j) {
        a[i][j] -= f * a[c][j];
        inv[i][j] -= f * inv[c][j];
      }
    }
  }
  return inv;
}

// Full normal equations from global design matrices: N = sum A^T P A (both triangles).
struct ReferenceSystem {
  explicit ReferenceSystem(int u) : N(u, u), n(u, 0.0) {}

  void add(const ObservationGroup& g) {
    const int r = static_cast<int>(g.l.size());
    const int q = g.B.cols();
    Matrix M(r, r);
    for (int i = 0; i < r; ++i)
      for (int j = 0; j < r; ++j)
        for (int a = 0; a < q; ++a)
          for (int b = 0; b < q; ++b) M[i][j] += g.B[i][a] * g.Q[a][b] * g.B[j][b];
    addWithWeight(g.blocks, invert(M), g.l);
  }

  void addWeighted(const DesignBlock& block, const Vector& w, const Vector& l) {
    const int r = static_cast<int>(w.size());
    Matrix P(r, r);
    for (int i = 0; i < r; ++i) P[i][i] = w[i];
    addWithWeight({block}, P, l);
  }

  void addParameterObservation(int i, double w, double l) {
    N[i][i] += w;
    n[i] += w * l;
    vtpv += w * l * l;
  }

  void addWithWeight(const std::vector<DesignBlock>& blocks, const Matrix& P, const Vector& l) {
    const int u = N.rows();
    const int r = P.rows();
    Matrix A(r, u);
    for (const DesignBlock& b : blocks)
      for (int i = 0; i < r; ++i)
        for (int c = 0; c < b.A.cols(); ++c) A[i][b.offset + c] += b.A[i][c];
    Matrix PA(r, u);
    Vector Pl(r, 0.0);
    for (int i = 0; i < r; ++i)
      for (int k = 0; k < r; ++k) {
        Pl[i] += P[i][k] * l[k];
        for (int c = 0; c < u; ++c) PA[i][c] += P[i][k] * A[k][c];
      }
    for (int a = 0; a < u; ++a)
      for (int i = 0; i < r; ++i) {
        if (A[i][a] == 0.0) continue;
        n[a] += A[i][a] * Pl[i];
        for (int b = 0; b < u; ++b) N[a][b] += A[i][a] * PA[i][b];
      }
    for (int i = 0; i < r; ++i) vtpv += l[i] * Pl[i];
  }

  Matrix N;
  Vector n;
  double vtpv = 0.0;
};

}  // namespace bravik::testing_support

#endif  // BRAVIK_LSQ_NORMAL_SYSTEM_TEST_SUPPORT_H
