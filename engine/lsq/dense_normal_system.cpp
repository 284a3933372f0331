#include "lsq/dense_normal_system.h"

#include <cassert>

#include "lsq/normal_equation_files.h"

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

int DenseNormalSystem::solve() { return solver_->solve(N_, n_, x_, d_); }

void DenseNormalSystem::writeNormalEquationFiles(const NormalEquationFileNames& names) const {
  bravik::writeNormalEquationFiles(names, N_, n_, x_);
}

}  // namespace bravik
