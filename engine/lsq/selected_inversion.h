#ifndef BRAVIK_LSQ_SELECTED_INVERSION_H
#define BRAVIK_LSQ_SELECTED_INVERSION_H

#include <vector>

namespace bravik {

// Selected inversion (Takahashi's recursion) of a Cholesky factor L, in place: every entry that
// the factor stores (its pattern) is overwritten with the entry of Z = (L L^T)^-1 at the same
// place, without forming anything outside the pattern. From L^T Z = L^-1, column by column from
// the last:
//   Z_kj = -(1 / L_jj) sum_{m in S_j} L_mj Z_km   for k in S_j,
//   Z_jj = (1 / L_jj) (1 / L_jj - sum_{m in S_j} L_mj Z_mj),
// where S_j holds the rows below j that column j stores. Every Z_km needed lies in the pattern
// (the rows of a column below its first row nest into that row's column), so the cost is about
// twice that of the factorisation and no extra storage is needed.
//
// `factor.at(i, j)` (i >= j) is the stored entry; `rowsBelow(j, rows)` fills the stored rows of
// column j below the diagonal in ascending order.
template <class Factor, class RowsBelow>
void invertInPattern(Factor& factor, int size, RowsBelow&& rowsBelow) {
  std::vector<int> rows;
  std::vector<double> l, z;
  for (int j = size - 1; j >= 0; --j) {
    rowsBelow(j, rows);
    const int count = static_cast<int>(rows.size());
    l.resize(count);
    z.assign(count, 0.0);
    for (int a = 0; a < count; ++a) l[a] = factor.at(rows[a], j);
    // z = Z(S_j, S_j) l over the symmetric block, each stored entry read once.
    for (int a = 0; a < count; ++a) {
      const int i = rows[a];
      z[a] += factor.at(i, i) * l[a];
      for (int b = 0; b < a; ++b) {
        const double value = factor.at(i, rows[b]);
        z[a] += value * l[b];
        z[b] += value * l[a];
      }
    }
    const double d = factor.at(j, j);
    double diagonal = 1.0 / d;
    for (int a = 0; a < count; ++a) {
      z[a] = -z[a] / d;
      diagonal -= l[a] * z[a];
    }
    for (int a = 0; a < count; ++a) factor.at(rows[a], j) = z[a];
    factor.at(j, j) = diagonal / d;
  }
}

}  // namespace bravik

#endif  // BRAVIK_LSQ_SELECTED_INVERSION_H
