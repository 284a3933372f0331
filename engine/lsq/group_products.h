#ifndef BRAVIK_LSQ_GROUP_PRODUCTS_H
#define BRAVIK_LSQ_GROUP_PRODUCTS_H

#include <vector>

#include "lsq/dense.h"
#include "lsq/normal_system.h"

namespace bravik {

// The products one observation group contributes to the normal equations, shared by every
// NormalSystem implementation:
//   P = (B Q B^T)^-1 (symmetric), T_k = A_k^T P, rhs_k = T_k l, vtpv = l^T P l.
// Keeps its buffers between groups so that the hot path does not allocate.
class GroupProducts {
 public:
  // Returns false, after printing "ERROR: Decomposition of weight matrix failed.\n" to standard
  // output, when B Q B^T is not positive definite.
  bool compute(const ObservationGroup& group);

  const Matrix& weight() const { return P_; }
  double vtpv() const { return vtpv_; }
  // T_k l, length c_k.
  const Vector& rhs(int k) const { return rhs_[k]; }
  // out = T_k A_j (c_k x c_j, row-major, resized).
  void pairProduct(const ObservationGroup& group, int k, int j, Matrix& out) const;
  // target[a * ld + b] += (T_k A_j)[a][b] for b >= first_column[a]: the entries of
  // pairProduct() added in place, each summed in the same order.
  void addPairProduct(const ObservationGroup& group, int k, int j, double* target, int ld,
                      const int* first_column) const;

 private:
  bool sameWeightInputs(const ObservationGroup& group) const;
  // B and Q of the last weight computed: groups with the same ones share P.
  Matrix last_B_;
  Matrix last_Q_;
  bool weight_valid_ = false;
  Matrix M_;
  Matrix P_;
  Vector d_;
  Vector pl_;  // P l
  std::vector<Matrix> T_;
  std::vector<Vector> rhs_;
  double vtpv_ = 0.0;
};

// Where the product of the blocks k (rows) and j (columns) lies relative to the diagonal of N.
enum class PairPlacement {
  kBelow,     // every entry below the diagonal: the transposed pair (j, k) supplies it
  kAbove,     // every entry on or above the diagonal: add the whole product
  kStraddle,  // the ranges overlap: add only entries with row <= column
};

inline PairPlacement placePair(int row_offset, int rows, int col_offset, int cols) {
  if (col_offset + cols <= row_offset) return PairPlacement::kBelow;
  if (row_offset + rows <= col_offset) return PairPlacement::kAbove;
  return PairPlacement::kStraddle;
}

// Weighted products of one constraint block with diagonal weights w:
// out[a][b] = sum_r A[r][a] w[r] A[r][b], rhs[a] = sum_r A[r][a] w[r] l[r]; returns l^T W l.
double weightedProducts(const Matrix& A, const Vector& w, const Vector& l, Matrix& out,
                        Vector& rhs);

}  // namespace bravik

#endif  // BRAVIK_LSQ_GROUP_PRODUCTS_H
