#ifndef BRAVIK_LSQ_SUPERNODAL_CHOLESKY_H
#define BRAVIK_LSQ_SUPERNODAL_CHOLESKY_H

#include <cstddef>
#include <vector>

#include "lsq/dense.h"

namespace bravik {

// Symbolic analysis of a symmetric block-sparse matrix for a supernodal Cholesky factor.
//
// The matrix is given by a graph of nodes (each node a block of `size` consecutive unknowns) and
// an elimination order. Rows and columns are numbered in that order: node order[0] first. The
// analysis computes the elimination tree of the nodes, the structure of every node column of L
// and groups consecutive nodes with nested structures into supernodes, whose columns of L are
// kept as one dense row-major panel (the supernode's rows: its own unknowns, then those of the
// later nodes in its structure). It depends only on the graph and the order, so it is kept while
// the block structure does not change.
class SupernodalStructure {
 public:
  SupernodalStructure() = default;
  // adjacency[node]: neighbours (duplicates and self loops ignored); sizes[node] >= 0;
  // order[position] = node, a permutation.
  SupernodalStructure(const std::vector<std::vector<int>>& adjacency, const std::vector<int>& sizes,
                      const std::vector<int>& order);

  int unknowns() const { return unknowns_; }
  int supernodes() const { return static_cast<int>(first_node_.size()) - 1; }
  // Entries of all panels (the factor's storage, explicit zeros included).
  std::size_t storedEntries() const { return panel_start_.empty() ? 0 : panel_start_.back(); }
  // Multiply-adds of the factorisation, from the column counts.
  double flops() const { return flops_; }
  // First unknown (in elimination order) of the node at `position`.
  int unknownStart(int position) const { return unknown_start_[position]; }

 private:
  friend class SupernodalMatrix;
  struct Update {
    int source;     // supernode whose panel updates the target
    int first_row;  // its first row node (index into rows_) at or after the target
  };

  int unknowns_ = 0;
  std::vector<int> size_;           // per position
  std::vector<int> unknown_start_;  // per position, plus the total
  std::vector<int> supernode_of_;   // per position
  std::vector<int> first_node_;     // per supernode, plus the end: positions [first, next first)
  std::vector<std::size_t> row_begin_;  // per supernode, plus the end: its row nodes in rows_
  std::vector<int> rows_;               // row nodes (positions), ascending per supernode
  std::vector<int> row_offset_;         // per entry of rows_: first panel row of that node
  std::vector<int> panel_rows_;         // per supernode
  std::vector<int> panel_cols_;
  std::vector<std::size_t> panel_start_;      // per supernode, plus the end
  std::vector<std::vector<Update>> updates_;  // per target supernode, sources ascending
  double flops_ = 0.0;
};

// Numeric values on a SupernodalStructure: assembly, in-place Cholesky factor, solution.
// The factorisation is left-looking over the supernodes; the updates from earlier supernodes and
// the triangular solve below the diagonal block are split over threads by rows of the target
// panel for large supernodes. Every entry is summed in the same order whatever the thread count,
// so the factor has the same bytes for any count.
class SupernodalMatrix {
 public:
  // `structure` must outlive the matrix. `threads` >= 1.
  SupernodalMatrix(const SupernodalStructure& structure, int threads);

  int size() const { return structure_->unknowns_; }
  std::size_t storedEntries() const { return values_.size(); }
  // Lower-triangle entry (i, j), i >= j, in elimination order; (i, j) must be in the structure.
  // The columns of one node are contiguous: &at(i, j) + 1 is entry (i, j + 1) within the node.
  double& at(int i, int j);

  // In-place Cholesky factor L. 0, or the 1-based row (in elimination order) of the first
  // non-positive pivot, as a row-by-row factorisation in that order would name it.
  int factor();
  // Solves L L^T x = b in place (b in elimination order).
  void solveInPlace(Vector& b) const;
  // After factor(): replaces the factor by the entries of the inverse of the factored matrix
  // within the structure of L (selected inversion); solveInPlace() is no longer valid afterwards.
  void invertInStructure();

 private:
  double* panel(int s) { return values_.data() + structure_->panel_start_[s]; }
  const double* panel(int s) const { return values_.data() + structure_->panel_start_[s]; }
  // Rows of L's column j below the diagonal (elimination order, ascending).
  void rowsBelow(int j, std::vector<int>& rows) const;
  void applyUpdates(int target, int row_begin, int row_end, std::vector<int>& row_of_node);
  int factorDiagonal(int s);
  void solveBelowDiagonal(int s, int row_begin, int row_end);
  template <class Body>
  void splitRows(int rows, double work, Body body);

  const SupernodalStructure* structure_;
  int threads_;
  std::vector<int> position_of_unknown_;
  std::vector<double> values_;
};

}  // namespace bravik

#endif  // BRAVIK_LSQ_SUPERNODAL_CHOLESKY_H
