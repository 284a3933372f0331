#include "lsq/envelope_matrix.h"

#include <algorithm>
#include <cassert>
#include <cmath>

#include "lsq/dense.h"
#include "lsq/selected_inversion.h"

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

// Row-oriented (left-looking) recursion restricted to the envelope:
// L[i][j] = (A[i][j] - sum_k L[i][k] L[j][k]) / L[j][j] over the common columns k < j.
int EnvelopeMatrix::factor() {
  const int m = size();
  for (int i = 0; i < m; ++i) {
    double* ri = row(i);
    const int fi = first_[i];
    for (int j = fi; j < i; ++j) {
      const double* rj = row(j);
      const int fj = first_[j];
      const int k0 = std::max(fi, fj);
      ri[j - fi] = (ri[j - fi] - dot(ri + (k0 - fi), rj + (k0 - fj), j - k0)) / rj[j - fj];
    }
    const double s = ri[i - fi] - dot(ri, ri, i - fi);
    if (!(s > 0.0)) return i + 1;
    ri[i - fi] = std::sqrt(s);
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
  std::vector<int> below;
  int column = m;  // `below` holds the rows of this column
  invertInPattern(*this, m, [&](int j, std::vector<int>& rows) {
    assert(j == column - 1);
    if (column < m) {
      below.erase(std::remove_if(below.begin(), below.end(), [&](int k) { return first_[k] > j; }),
                  below.end());
      if (first_[column] <= j) below.insert(below.begin(), column);
    }
    column = j;
    rows = below;
  });
}

}  // namespace bravik
