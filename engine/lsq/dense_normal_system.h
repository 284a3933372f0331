#ifndef BRAVIK_LSQ_DENSE_NORMAL_SYSTEM_H
#define BRAVIK_LSQ_DENSE_NORMAL_SYSTEM_H

#include <memory>

#include "lsq/adj_interface.h"
#include "lsq/group_products.h"
#include "lsq/normal_system.h"

namespace bravik {

// Dense normal equations: N is a full u x u matrix of which only the diagonal and the upper
// triangle are accumulated (the solver reads nothing else). Every coupling lands there whatever
// the order of the design blocks in a group and of the unknowns: a product T_k A_j whose entries
// lie below the diagonal is left to the transposed pair (j, k). Memory 8 u^2 bytes.
class DenseNormalSystem : public NormalSystem {
 public:
  DenseNormalSystem(int unknowns, std::unique_ptr<AdjInterface> solver);

  int size() const override { return N_.rows(); }
  void reset() override;
  bool accumulate(const ObservationGroup& group) override;
  void accumulateWeighted(const DesignBlock& block, const Vector& w, const Vector& l) override;
  void addParameterObservation(int i, double w, double l) override;
  int solve() override;
  const Vector& rhs() const override { return n_; }
  const Vector& solution() const override { return x_; }
  double vtpv() const override { return vtpv_; }
  void setVtpv(double value) override { vtpv_ = value; }
  void writeNormalEquationFiles(const NormalEquationFileNames& names) const override;
  // The full inverse from the factor of the last solve() (into the upper triangle of N).
  bool prepareInverse() override;
  bool inverseBlock(int row0, int rows, int col0, int cols, Matrix& out) const override;

  // N as stored: before solve() its upper triangle; after it, the factor below the diagonal.
  const Matrix& matrix() const { return N_; }
  // Diagonal of the Cholesky factor after solve().
  const Vector& factorDiagonal() const { return d_; }

 private:
  // Adds block (rows from row0, columns from col0) to N; with kStraddle only entries on or
  // above the diagonal.
  void addBlock(int row0, int col0, const Matrix& block, PairPlacement placement);

  Matrix N_;
  Vector n_;
  Vector x_;
  Vector d_;
  double vtpv_ = 0.0;
  bool solved_ = false;
  bool inverted_ = false;
  std::unique_ptr<AdjInterface> solver_;
  GroupProducts products_;
  Matrix pair_;
  Vector pair_rhs_;
};

}  // namespace bravik

#endif  // BRAVIK_LSQ_DENSE_NORMAL_SYSTEM_H
