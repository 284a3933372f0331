#ifndef BRAVIK_LSQ_ENVELOPE_MATRIX_H
#define BRAVIK_LSQ_ENVELOPE_MATRIX_H

#include <cstddef>
#include <vector>

#include "lsq/dense.h"

namespace bravik {

// Symmetric matrix in envelope (profile, skyline) storage: row i keeps its lower-triangle
// entries from column first(i) to the diagonal, contiguously. Entries left of first(i) are zero
// and stay zero in the Cholesky factor, so the factor fits the same storage.
class EnvelopeMatrix {
 public:
  EnvelopeMatrix() = default;
  // first_column[i] <= i for every row.
  explicit EnvelopeMatrix(std::vector<int> first_column);

  int size() const { return static_cast<int>(first_.size()); }
  int first(int i) const { return first_[i]; }
  std::size_t storedEntries() const { return values_.size(); }

  // Lower-triangle entry (i, j), first(i) <= j <= i.
  double& at(int i, int j) { return values_[start_[i] + (j - first_[i])]; }
  double at(int i, int j) const { return values_[start_[i] + (j - first_[i])]; }
  // Stored part of row i: element 0 is column first(i), the last the diagonal.
  double* row(int i) { return values_.data() + start_[i]; }
  const double* row(int i) const { return values_.data() + start_[i]; }

  // In-place Cholesky factor L (diagonal included). 0, or the 1-based row of the first
  // non-positive pivot. Large panels are split over `threads`; the factor has the same bytes for
  // any count.
  int factor(int threads = 1);
  // Solves L L^T x = b in place with the factor.
  void solveInPlace(Vector& b) const;
  // After factor(): replaces the factor by the entries of the inverse of the factored matrix
  // within the envelope (selected inversion); solveInPlace() is no longer valid afterwards.
  void invertInEnvelope();
  // True when (i, j), i >= j, lies in the envelope.
  bool stores(int i, int j) const { return first_[i] <= j && j <= i; }

 private:
  std::vector<int> first_;
  std::vector<std::size_t> start_;
  std::vector<double> values_;
};

}  // namespace bravik

#endif  // BRAVIK_LSQ_ENVELOPE_MATRIX_H
