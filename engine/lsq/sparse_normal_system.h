#ifndef BRAVIK_LSQ_SPARSE_NORMAL_SYSTEM_H
#define BRAVIK_LSQ_SPARSE_NORMAL_SYSTEM_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <utility>
#include <vector>

#include "lsq/envelope_matrix.h"
#include "lsq/group_products.h"
#include "lsq/normal_system.h"

namespace bravik {

// Block-sparse normal equations for large blocks ("sparse" adjustment interface).
//
// Unknowns are numbered as the adjustment numbers them: the object points first (3 each), then
// the further objects (image geometries, AP sets, corrections) with the sizes of the layout. N is
// never formed: the system keeps the 3 x 3 diagonal block of every point, the point-to-object
// coupling blocks W_pg and the object-to-object blocks of the upper triangle. Object points
// couple only to the objects observing them, never to each other, so solve() eliminates them:
//   C_p = L_p L_p^T,  Y_pg = L_p^-1 W_pg,  z_p = L_p^-1 n_p,
//   S = N_rr - sum_p Y_p^T Y_p,  n_r' = n_r - sum_p Y_p^T z_p,  S x_r = n_r',
//   x_p = L_p^-T (z_p - sum_g Y_pg x_g).
// The reduced system S is factored in one of two ways, chosen when its block structure is first
// seen by the multiply-adds each needs (or set with setReducedFactorisation()):
// - envelope: ordered by reverse Cuthill-McKee over the object graph, factored in envelope
//   storage; cheapest for small blocks and narrow strips;
// - supernodal: ordered by nested dissection or minimum degree over the object graph (the one
//   with fewer multiply-adds), factored by a supernodal Cholesky with dense kernels per
//   supernode; its cost grows more slowly with the images than the envelope's.
// In both orders objects met by almost every image (AP sets, corrections) come last. The point
// elimination, the reduced assembly and the back-substitution run on several threads for large
// blocks, and so can the accumulation (see accumulationLanes()); the result does not depend on the
// thread count.
//
// Results equal those of the dense system up to rounding (x, n, vtpv). An observation group that
// couples two different object points cannot be eliminated: accumulate() then fails with an
// "ERROR: " line.
enum class ReducedFactorisation { kAutomatic, kEnvelope, kSupernodal };

class SupernodalStructure;
class SupernodalMatrix;

class SparseNormalSystem : public NormalSystem {
 public:
  // The structure and matrix files need the dense matrix (8 u^2 bytes and a dense
  // factorisation); above this many unknowns they are refused. The vector files have no limit.
  static constexpr int kMaxUnknownsForMatrixFiles = 10000;

  // `threads` 0 chooses by the hardware; 1 runs everything on the calling thread.
  explicit SparseNormalSystem(const UnknownLayout& layout, int threads = 0);
  ~SparseNormalSystem() override;

  // kAutomatic (the default) chooses by the symbolic cost; the others force one way.
  void setReducedFactorisation(ReducedFactorisation choice);
  // The way of the last solution: kEnvelope or kSupernodal; kAutomatic before the first.
  ReducedFactorisation reducedFactorisationInUse() const;

  int size() const override { return unknowns_; }
  void reset() override;
  bool accumulate(const ObservationGroup& group) override;
  void accumulateWeighted(const DesignBlock& block, const Vector& w, const Vector& l) override;
  void addParameterObservation(int i, double w, double l) override;
  // Two lanes split by object point ranges once a solution has fixed the block structure and the
  // block has enough points; one otherwise.
  int accumulationLanes() const override;
  int laneOfPoint(int point) const override;
  void prefetchPoint(int point, int stage) const override;
  void beginLanes() override;
  bool accumulateInLane(const ObservationGroup& group, int lane) override;
  bool endLanes() override;
  // 0 on success. A positive code k names the 0-based unknown k - 1 at which a non-positive
  // pivot was met:
  // - in the 3 x 3 block of an object point: exactly the row the dense decomposition names,
  //   because the points come first and their blocks are independent;
  // - in the reduced system: the row of the first failing leading minor of the reduced system in
  //   numbering order, which is again the dense row, when the reduced system has at most
  //   kMaxUnknownsForExactFailureRow unknowns (it is then refactored in numbering order to find
  //   it); otherwise the unknown at which the fill-reducing order met the failing pivot.
  // A failure prints "ERROR: Cholesky decomposition failed.\n" to the diagnostics sink, as the
  // native solver does.
  int solve() override;
  const Vector& rhs() const override { return n_; }
  const Vector& solution() const override { return x_; }
  double vtpv() const override { return vtpv_; }
  void setVtpv(double value) override { vtpv_ = value; }
  // Vector files always; structure and matrix files only up to kMaxUnknownsForMatrixFiles
  // unknowns, otherwise "ERROR: Cannot write <kind> file <name>: ..." naming the limit.
  void writeNormalEquationFiles(const NormalEquationFileNames& names) const override;

  static constexpr int kMaxUnknownsForExactFailureRow = 8000;

  // The reduced factor of the next solutions is kept for prepareInverse() (one factor's memory).
  void retainFactor(bool retain) override;
  // Selected inversion of the kept reduced factor: Q_rr = S^-1 within the factor's structure.
  // The blocks of the object points follow from it on request (inverseBlock()):
  //   Q_pg = -L_p^-T sum_h Y_ph Q_hg,  Q_pp = L_p^-T (I + sum_gh Y_pg Q_gh Y_ph^T) L_p^-1,
  // the sums over the objects observing point p.
  bool prepareInverse() override;
  bool inverseBlock(int row0, int rows, int col0, int cols, Matrix& out) const override;

  // The full matrix: diagonal and upper triangle of N, zeros below (for files and tests).
  Matrix assembleUpperTriangle() const;
  // Entries stored for the last factorisation of the reduced system (0 before the first).
  std::size_t reducedFactorEntries() const { return reduced_factor_entries_; }

 private:
  struct Coupling {
    int object;      // reduced object index
    std::size_t at;  // 3 x size(object) block, row-major, in coupling_values_
    // The block of Y = L_p^-1 W_p in coupling_work_, where the blocks of one point lie side by
    // side (set by indexPointsOfObjects()).
    std::size_t work_at = 0;
  };
  struct Located {
    int object;  // < points_: object point; otherwise points_ + reduced object index
    int local;   // first column of the block within the object's unknowns
  };
  using Graph = std::vector<std::vector<int>>;
  // Buffers of one accumulating thread.
  struct Workspace {
    GroupProducts products;
    Matrix pair;
    std::vector<Located> located;
    std::vector<int> first_column;
  };
  // Sums of one lane outside the points it owns: the blocks between further objects (laid out as
  // reduced_values_), their right-hand side and vtpv. Point blocks are written in place.
  struct Lane {
    Workspace work;
    std::vector<double> reduced_values;
    Vector reduced_rhs;
    double vtpv = 0.0;
    std::uint64_t last_key = ~std::uint64_t{0};
    std::size_t last_at = 0;
    bool failed = false;
  };

  int objectOfUnknown(int i) const;
  int objectOffset(int object) const;
  int objectSize(int object) const;
  bool locate(const DesignBlock& block, Located& where) const;
  // Storage of the block (row object, column object); row object <= column object.
  double* block(int row_object, int col_object, int& leading_dimension);
  // The existing block in a lane: point blocks in place, others in the lane's sums; nullptr when
  // the structure has no such block yet.
  double* laneBlock(Lane& lane, int row_object, int col_object, int& leading_dimension);
  static void addProductTo(double* target, int ld, const Located& row, int row0, const Located& col,
                           int col0, const Matrix& m, PairPlacement placement);
  void addProduct(const Located& row, int row0, const Located& col, int col0, const Matrix& m,
                  PairPlacement placement);
  static void addPairTo(Workspace& work, const ObservationGroup& group, int k, int j,
                        double* target, int ld, const Located& row, const Located& col,
                        PairPlacement placement);
  bool locateGroup(const ObservationGroup& group, std::vector<Located>& located) const;

  int eliminateAndSolve();
  int eliminatePoints();
  int factorPoint(int p);
  Graph reducedGraph() const;
  void indexPointsOfObjects();
  void layOutPointBlocks(const std::vector<int>& order);
  const Graph& reducedStructure();
  void placeObjects(const std::vector<int>& order, std::vector<int>& position,
                    std::vector<int>& start) const;
  EnvelopeMatrix envelopeFor(const Graph& graph, const std::vector<int>& position,
                             const std::vector<int>& start) const;
  template <class Reduced>
  void fillReduced(const std::vector<int>& position, const std::vector<int>& start, Reduced& S,
                   Vector& b) const;
  void buildReduced(const std::vector<int>& order, const Graph& graph, EnvelopeMatrix& S, Vector& b,
                    std::vector<int>& start) const;
  template <class Reduced>
  void subtractPointContributions(const std::vector<int>& position, const std::vector<int>& start,
                                  int owner, int owners, Reduced& S, Vector& b) const;
  double envelopeFlops(const std::vector<int>& order) const;
  void chooseFactorisation();
  int reducedFailureCode(int code, const std::vector<int>& order, const Graph& graph) const;
  void backSubstitutePoints();
  // Blocks of Q between whole objects (object numbering of objectOfUnknown()).
  bool reducedInverse(int g, int h, Matrix& out) const;
  bool ensurePointInverse(int p) const;
  bool pointInverseRow(int p, int h, Matrix& out) const;
  bool pointInverseDiagonal(int p, Matrix& out) const;
  bool objectInverse(int row_object, int col_object, Matrix& out) const;
  bool adjacent(int g, int h) const;
  double invertedEntry(int i, int j) const;  // reduced rows/columns in elimination order
  template <class Body>
  void parallelFor(int count, Body body) const;

  int points_ = 0;
  int unknowns_ = 0;
  int threads_ = 1;
  std::vector<int> reduced_offset_;  // first reduced unknown of each further object
  std::vector<int> reduced_size_;
  std::vector<int> reduced_object_of_;  // per reduced unknown

  std::vector<double> point_diag_;  // 9 per point, upper triangle used
  std::vector<std::vector<Coupling>> couplings_;
  std::vector<double> coupling_values_;
  std::unordered_map<std::uint64_t, std::size_t> reduced_index_;
  std::vector<std::uint64_t> reduced_keys_;  // insertion order, for deterministic sums
  std::vector<double> reduced_values_;
  // The block found last: consecutive groups of one image meet the same geometry block.
  std::uint64_t last_key_ = ~std::uint64_t{0};
  std::size_t last_at_ = 0;

  Vector n_;
  Vector x_;
  double vtpv_ = 0.0;

  // Work of solve(): point factors (l00 l10 l11 l20 l21 l22), Y blocks, z vectors.
  std::vector<double> point_factor_;
  std::vector<double> coupling_work_;
  std::vector<double> point_z_;
  std::size_t reduced_factor_entries_ = 0;
  // Graph of the reduced system and its fill-reducing order, valid for the block counts in
  // structure_stamp_ (point-coupling values, reduced blocks).
  Graph graph_;
  struct PointOfObject {
    int point;
    int count;               // of the point's couplings
    std::size_t list_begin;  // the point's couplings in point_couplings_
    std::size_t work_at;     // the block of Y of this object in coupling_work_
    std::size_t y_begin;     // the point's first block of Y
  };
  std::vector<std::size_t> points_of_begin_;  // per reduced object, plus the end
  std::vector<PointOfObject> points_of_;
  // couplings_ in one array, point by point, each point's in elimination order.
  std::vector<Coupling> point_couplings_;
  std::vector<int> layout_position_;   // the order point_couplings_ follows, as positions
  std::vector<int> order_;             // reverse Cuthill-McKee, for the envelope
  std::vector<int> dissection_order_;  // for the supernodal factor
  std::unique_ptr<SupernodalStructure> supernodal_;  // set when the supernodal factor is used
  ReducedFactorisation factorisation_ = ReducedFactorisation::kAutomatic;
  // The supernodal factor's cost per multiply-add relative to the envelope's.
  static constexpr double kSupernodalCostFactor = 1.5;
  std::pair<std::size_t, std::size_t> structure_stamp_{0, 0};
  bool structure_valid_ = false;

  // The factor of the last solution when retained, and after prepareInverse() the inverse in its
  // place; kept_start_ is the first row of each reduced object in its order.
  bool retain_factor_ = false;
  std::unique_ptr<EnvelopeMatrix> kept_envelope_;
  std::unique_ptr<SupernodalMatrix> kept_supernodal_;
  std::vector<int> kept_start_;
  bool inverted_ = false;
  // Point rows of Q, computed on first request: Q_ph in the layout of coupling_values_, Q_pp.
  mutable std::vector<double> point_inverse_rows_;
  mutable std::vector<double> point_inverse_diag_;
  mutable std::vector<char> point_inverse_done_;

  Workspace work_;
  Vector pair_rhs_;
  std::vector<Lane> lanes_;
  bool solved_once_ = false;
};

}  // namespace bravik

#endif  // BRAVIK_LSQ_SPARSE_NORMAL_SYSTEM_H
