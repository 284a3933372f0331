#include "lsq/dense_normal_system.h"

#include <cassert>
#include <vector>

#include "lsq/normal_equation_files.h"
#include "lsq/selected_inversion.h"

namespace bravik {

DenseNormalSystem::DenseNormalSystem(int unknowns, std::unique_ptr<AdjInterface> solver)
    : N_(unknowns, unknowns),
      n_(unknowns, 0.0),
      x_(unknowns, 0.0),
      d_(unknowns, 0.0),
      solver_(std::move(solver)) {
  assert(solver_);
}

void DenseNormalSystem::reset() {
  solved_ = inverted_ = false;
  N_.setZero();
  n_.assign(n_.size(), 0.0);
  x_.assign(x_.size(), 0.0);
  vtpv_ = 0.0;
}

void DenseNormalSystem::addBlock(int row0, int col0, const Matrix& block, PairPlacement placement) {
  assert(row0 >= 0 && row0 + block.rows() <= size() && col0 >= 0 && col0 + block.cols() <= size());
  for (int a = 0; a < block.rows(); ++a) {
    const int row = row0 + a;
    // With kStraddle skip the columns left of the diagonal of this row.
    const int b0 = placement == PairPlacement::kStraddle && row > col0 ? row - col0 : 0;
    double* target = N_[row] + col0;
    const double* source = block[a];
    for (int b = b0; b < block.cols(); ++b) target[b] += source[b];
  }
}

bool DenseNormalSystem::accumulate(const ObservationGroup& group) {
  if (!products_.compute(group)) return false;
  const int blocks = static_cast<int>(group.blocks.size());
  for (int k = 0; k < blocks; ++k) {
    const DesignBlock& bk = group.blocks[k];
    const Vector& rk = products_.rhs(k);
    for (int a = 0; a < bk.A.cols(); ++a) n_[bk.offset + a] += rk[a];
    for (int j = 0; j < blocks; ++j) {
      const DesignBlock& bj = group.blocks[j];
      const PairPlacement placement = placePair(bk.offset, bk.A.cols(), bj.offset, bj.A.cols());
      if (placement == PairPlacement::kBelow) continue;
      products_.pairProduct(group, k, j, pair_);
      addBlock(bk.offset, bj.offset, pair_, placement);
    }
  }
  vtpv_ += products_.vtpv();
  return true;
}

void DenseNormalSystem::accumulateWeighted(const DesignBlock& block, const Vector& w,
                                           const Vector& l) {
  vtpv_ += weightedProducts(block.A, w, l, pair_, pair_rhs_);
  for (int a = 0; a < block.A.cols(); ++a) n_[block.offset + a] += pair_rhs_[a];
  addBlock(block.offset, block.offset, pair_, PairPlacement::kStraddle);
}

void DenseNormalSystem::addParameterObservation(int i, double w, double l) {
  N_[i][i] += w;
  n_[i] += w * l;
  vtpv_ += w * l * l;
}

int DenseNormalSystem::solve() {
  inverted_ = false;
  const int result = solver_->solve(N_, n_, x_, d_);
  solved_ = result == 0;
  return result;
}

namespace {

// The factor as choleskyDecompose() leaves it: strictly lower triangle of N and the diagonal d.
struct DenseFactor {
  Matrix& N;
  Vector& d;
  double& at(int i, int j) { return i == j ? d[i] : N[i][j]; }
};

}  // namespace

// The inverse replaces the factor in the strictly lower triangle and in d; the upper triangle
// keeps N. Row-wise reads, so it runs at the speed of the decomposition.
bool DenseNormalSystem::prepareInverse() {
  if (!solved_) return false;
  if (!inverted_) {
    DenseFactor factor{N_, d_};
    const int m = size();
    invertInPattern(factor, m, [m](int j, std::vector<int>& rows) {
      rows.clear();
      for (int k = j + 1; k < m; ++k) rows.push_back(k);
    });
    inverted_ = true;
  }
  return true;
}

bool DenseNormalSystem::inverseBlock(int row0, int rows, int col0, int cols, Matrix& out) const {
  if (!inverted_ || row0 < 0 || col0 < 0 || row0 + rows > size() || col0 + cols > size())
    return false;
  out.resize(rows, cols);
  for (int a = 0; a < rows; ++a)
    for (int b = 0; b < cols; ++b) {
      const int i = row0 + a;
      const int j = col0 + b;
      out(a, b) = i == j ? d_[i] : i > j ? N_[i][j] : N_[j][i];
    }
  return true;
}

void DenseNormalSystem::writeNormalEquationFiles(const NormalEquationFileNames& names) const {
  bravik::writeNormalEquationFiles(names, N_, n_, x_);
}

}  // namespace bravik
