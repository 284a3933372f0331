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

}  // namespace bravik

#endif  // BRAVIK_LSQ_DENSE_H
