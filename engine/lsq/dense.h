#ifndef BRAVIK_LSQ_DENSE_H
#define BRAVIK_LSQ_DENSE_H

#include <cassert>
#include <cstddef>
#include <vector>

namespace bravik {

// Dense vector of doubles; its length is size().
using Vector = std::vector<double>;

// Dense row-major matrix of doubles, stored contiguously; m[i][j] is row i, column j.
class Matrix {
 public:
  Matrix() = default;
  Matrix(int rows, int cols, double fill = 0.0)
      : rows_(rows), cols_(cols), data_(static_cast<std::size_t>(rows) * cols, fill) {
    assert(rows >= 0 && cols >= 0);
  }

  int rows() const { return rows_; }
  int cols() const { return cols_; }
  bool isSquare() const { return rows_ == cols_; }

  double* operator[](int i) { return data_.data() + static_cast<std::size_t>(i) * cols_; }
  const double* operator[](int i) const {
    return data_.data() + static_cast<std::size_t>(i) * cols_;
  }
  double& operator()(int i, int j) { return (*this)[i][j]; }
  double operator()(int i, int j) const { return (*this)[i][j]; }

  double* data() { return data_.data(); }
  const double* data() const { return data_.data(); }

  void setZero() { data_.assign(data_.size(), 0.0); }
  void resize(int rows, int cols) {
    rows_ = rows;
    cols_ = cols;
    data_.assign(static_cast<std::size_t>(rows) * cols, 0.0);
  }

 private:
  int rows_ = 0;
  int cols_ = 0;
  std::vector<double> data_;
};

// Inner product of two arrays of length len, summed in four interleaved partial sums (the order
// is fixed, so a result never depends on the caller).
inline double dot(const double* x, const double* y, int len) {
  double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
  int k = 0;
  for (; k + 4 <= len; k += 4) {
    s0 += x[k] * y[k];
    s1 += x[k + 1] * y[k + 1];
    s2 += x[k + 2] * y[k + 2];
    s3 += x[k + 3] * y[k + 3];
  }
  for (; k < len; ++k) s0 += x[k] * y[k];
  return (s0 + s1) + (s2 + s3);
}

}  // namespace bravik

#endif  // BRAVIK_LSQ_DENSE_H
