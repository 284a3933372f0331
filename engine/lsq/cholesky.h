#ifndef BRAVIK_LSQ_CHOLESKY_H
#define BRAVIK_LSQ_CHOLESKY_H

#include "lsq/dense.h"

namespace bravik {

// Cholesky decomposition A = L L^T of a symmetric positive definite matrix, in place.
// Reads only the diagonal and the upper triangle of `a` (row < column); writes the strictly
// lower part of L into the strictly lower triangle of `a` and the diagonal of L into `d`
// (resized to the order of `a`). The diagonal and the upper triangle keep the original matrix.
// Result: 0 on success, -1 when `a` is not square, k > 0 when the leading principal minor of
// order k is not positive (the 1-based row of the failing pivot; a NaN pivot fails as well).
// Blocked by column panels for cache reuse, the panel update on several threads for large
// matrices; equal to the row-by-row recursion up to rounding, independent of the thread count.
int choleskyDecompose(Matrix& a, Vector& d);

// Solves L L^T x = n with the factor left by choleskyDecompose. `x` is resized.
// Result: 0, -1 when `a` is not square, -2 when `d` and -3 when `n` has another length.
int choleskySubstitute(const Matrix& a, const Vector& d, const Vector& n, Vector& x);

// Inverse Q = (L L^T)^-1 from the factor left by choleskyDecompose, written into the diagonal
// and the upper triangle of `a`; the strictly lower triangle keeps L.
// Result: 0, -1 when `a` is not square, -2 when `d` has another length.
int choleskyInverse(Matrix& a, const Vector& d);

// Copies the upper triangle into the strictly lower one (makes a full symmetric matrix).
void mirrorUpperToLower(Matrix& a);

}  // namespace bravik

#endif  // BRAVIK_LSQ_CHOLESKY_H
