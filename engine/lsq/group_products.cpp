#include "lsq/group_products.h"

#include <algorithm>
#include <cassert>
#include <cstdio>

#include "lsq/cholesky.h"
#include "util/diagnostics.h"

namespace bravik {
namespace {

// M = B Q B^T.
void congruence(const Matrix& B, const Matrix& Q, Matrix& M) {
  const int r = B.rows();
  const int q = B.cols();
  M.resize(r, r);
  for (int i = 0; i < r; ++i) {
    for (int a = 0; a < q; ++a) {
      double bq = 0.0;  // (B Q)[i][a]
      for (int b = 0; b < q; ++b) bq += B[i][b] * Q[b][a];
      for (int j = 0; j < r; ++j) M[i][j] += bq * B[j][a];
    }
  }
}

}  // namespace

// Measurements of one accuracy share B and Q: their weight matrix is the same, bit for bit.
bool GroupProducts::sameWeightInputs(const ObservationGroup& group) const {
  auto same = [](const Matrix& x, const Matrix& y) {
    return x.rows() == y.rows() && x.cols() == y.cols() &&
           std::equal(x.data(), x.data() + static_cast<std::size_t>(x.rows()) * x.cols(), y.data());
  };
  return weight_valid_ && same(group.B, last_B_) && same(group.Q, last_Q_);
}

bool GroupProducts::compute(const ObservationGroup& group) {
  const int r = static_cast<int>(group.l.size());
  assert(group.B.rows() == r && group.B.cols() == group.Q.rows() && group.Q.isSquare());
  if (!sameWeightInputs(group)) {
    weight_valid_ = false;
    congruence(group.B, group.Q, M_);
    if (choleskyDecompose(M_, d_) != 0) {
      messages() << "ERROR: Decomposition of weight matrix failed.\n";
      return false;
    }
    choleskyInverse(M_, d_);
    mirrorUpperToLower(M_);
    P_ = M_;
    last_B_ = group.B;
    last_Q_ = group.Q;
    weight_valid_ = true;
  }

  vtpv_ = 0.0;
  Vector& pl = pl_;
  pl.assign(r, 0.0);
  for (int i = 0; i < r; ++i) {
    for (int j = 0; j < r; ++j) pl[i] += P_[i][j] * group.l[j];
    vtpv_ += group.l[i] * pl[i];
  }

  const std::size_t blocks = group.blocks.size();
  T_.resize(blocks);
  rhs_.resize(blocks);
  for (std::size_t k = 0; k < blocks; ++k) {
    const Matrix& A = group.blocks[k].A;
    assert(A.rows() == r);
    const int c = A.cols();
    Matrix& T = T_[k];
    T.resize(c, r);
    rhs_[k].assign(c, 0.0);
    for (int i = 0; i < r; ++i) {
      const double* Ai = A[i];
      const double* Pi = P_[i];  // P symmetric: row i = column i
      for (int a = 0; a < c; ++a) {
        const double Aia = Ai[a];
        double* Ta = T[a];
        for (int j = 0; j < r; ++j) Ta[j] += Aia * Pi[j];
        rhs_[k][a] += Aia * pl[i];
      }
    }
  }
  return true;
}

void GroupProducts::pairProduct(const ObservationGroup& group, int k, int j, Matrix& out) const {
  const Matrix& T = T_[k];
  const Matrix& A = group.blocks[j].A;
  const int rows = T.rows();
  const int cols = A.cols();
  const int r = T.cols();
  out.resize(rows, cols);
  for (int a = 0; a < rows; ++a) {
    double* o = out[a];
    for (int i = 0; i < r; ++i) {
      const double t = T[a][i];
      const double* Ai = A[i];
      for (int b = 0; b < cols; ++b) o[b] += t * Ai[b];
    }
  }
}

void GroupProducts::addPairProduct(const ObservationGroup& group, int k, int j, double* target,
                                   int ld, const int* first_column) const {
  const Matrix& T = T_[k];
  const Matrix& A = group.blocks[j].A;
  const int rows = T.rows();
  const int cols = A.cols();
  const int r = T.cols();
  if (r == 2) {  // two image coordinates: the common case, unrolled
    const double* A0 = A[0];
    const double* A1 = A[1];
    for (int a = 0; a < rows; ++a) {
      const double t0 = T[a][0], t1 = T[a][1];
      double* dst = target + static_cast<std::size_t>(a) * ld;
      for (int b = first_column[a]; b < cols; ++b) dst[b] += t0 * A0[b] + t1 * A1[b];
    }
    return;
  }
  for (int a = 0; a < rows; ++a) {
    const double* t = T[a];
    double* dst = target + static_cast<std::size_t>(a) * ld;
    for (int b = first_column[a]; b < cols; ++b) {
      double o = 0.0;
      for (int i = 0; i < r; ++i) o += t[i] * A[i][b];
      dst[b] += o;
    }
  }
}

double weightedProducts(const Matrix& A, const Vector& w, const Vector& l, Matrix& out,
                        Vector& rhs) {
  const int r = A.rows();
  const int c = A.cols();
  assert(static_cast<int>(w.size()) == r && static_cast<int>(l.size()) == r);
  out.resize(c, c);
  rhs.assign(c, 0.0);
  double vtpv = 0.0;
  for (int i = 0; i < r; ++i) {
    const double* Ai = A[i];
    for (int a = 0; a < c; ++a) {
      const double wa = Ai[a] * w[i];
      double* o = out[a];
      for (int b = 0; b < c; ++b) o[b] += wa * Ai[b];
      rhs[a] += wa * l[i];
    }
    vtpv += w[i] * l[i] * l[i];
  }
  return vtpv;
}

}  // namespace bravik
