#include "lsq/envelope_matrix.h"

#include <algorithm>
#include <cassert>
#include <cmath>

#include "lsq/dense.h"

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
