#include "lsq/sparse_normal_system.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstdio>
#include <memory>
#include <numeric>
#include <string>
#include <thread>

#include "lsq/cholesky.h"
#include "lsq/fill_reducing_order.h"
#include "lsq/normal_equation_files.h"
#include "lsq/parallel.h"
#include "lsq/supernodal_cholesky.h"
#include "util/diagnostics.h"

namespace bravik {
namespace {

constexpr int kPointsPerThreadMinimum = 2000;  // below this a second thread does not pay

std::uint64_t pairKey(int g, int h) {
  return (static_cast<std::uint64_t>(static_cast<std::uint32_t>(g)) << 32) |
         static_cast<std::uint32_t>(h);
}

int chooseThreads(int requested, int points) {
  if (requested > 0) return requested;
  const int hardware = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  return std::clamp(points / kPointsPerThreadMinimum, 1, std::min(hardware, 8));
}

}  // namespace

SparseNormalSystem::SparseNormalSystem(const UnknownLayout& layout, int threads)
    : points_(layout.object_points), unknowns_(layout.unknowns()) {
  assert(points_ >= 0);
  threads_ = chooseThreads(threads, points_);
  int offset = 0;
  for (int g = 0; g < static_cast<int>(layout.object_sizes.size()); ++g) {
    const int s = layout.object_sizes[g];
    assert(s >= 0);
    reduced_offset_.push_back(offset);
    reduced_size_.push_back(s);
    reduced_object_of_.insert(reduced_object_of_.end(), s, g);
    offset += s;
  }
  point_diag_.assign(9 * static_cast<std::size_t>(points_), 0.0);
  couplings_.resize(points_);
  n_.assign(unknowns_, 0.0);
  x_.assign(unknowns_, 0.0);
}

SparseNormalSystem::~SparseNormalSystem() = default;

void SparseNormalSystem::reset() {
  // The coupling blocks run to hundreds of MB in large blocks: cleared on the worker threads.
  const std::size_t total = coupling_values_.size();
  const int parts = total > (std::size_t{1} << 20) ? threads_ : 1;
  parallelFor(parts, [&](int, int begin, int end) {
    std::fill(coupling_values_.begin() + static_cast<std::ptrdiff_t>(total * begin / parts),
              coupling_values_.begin() + static_cast<std::ptrdiff_t>(total * end / parts), 0.0);
  });
  std::fill(point_diag_.begin(), point_diag_.end(), 0.0);
  std::fill(reduced_values_.begin(), reduced_values_.end(), 0.0);
  std::fill(n_.begin(), n_.end(), 0.0);
  std::fill(x_.begin(), x_.end(), 0.0);
  vtpv_ = 0.0;
}

int SparseNormalSystem::objectOfUnknown(int i) const {
  return i < 3 * points_ ? i / 3 : points_ + reduced_object_of_[i - 3 * points_];
}

int SparseNormalSystem::objectOffset(int object) const {
  return object < points_ ? 3 * object : 3 * points_ + reduced_offset_[object - points_];
}

int SparseNormalSystem::objectSize(int object) const {
  return object < points_ ? 3 : reduced_size_[object - points_];
}

bool SparseNormalSystem::locate(const DesignBlock& block, Located& where) const {
  const int cols = block.A.cols();
  if (cols == 0) {
    where = {-1, 0};
    return true;
  }
  if (block.offset < 0 || block.offset + cols > unknowns_) return false;
  where.object = objectOfUnknown(block.offset);
  if (objectOfUnknown(block.offset + cols - 1) != where.object) return false;
  where.local = block.offset - objectOffset(where.object);
  return true;
}

double* SparseNormalSystem::block(int row_object, int col_object, int& leading_dimension) {
  assert(row_object <= col_object);
  if (col_object < points_) {
    assert(row_object == col_object);
    leading_dimension = 3;
    return point_diag_.data() + 9 * static_cast<std::size_t>(row_object);
  }
  const int h = col_object - points_;
  leading_dimension = reduced_size_[h];
  if (row_object < points_) {
    auto& list = couplings_[row_object];
    for (const Coupling& c : list)
      if (c.object == h) return coupling_values_.data() + c.at;
    const std::size_t at = coupling_values_.size();
    coupling_values_.resize(at + 3 * static_cast<std::size_t>(reduced_size_[h]), 0.0);
    list.push_back({h, at});
    return coupling_values_.data() + at;
  }
  const int g = row_object - points_;
  const std::uint64_t key = pairKey(g, h);
  if (key == last_key_) return reduced_values_.data() + last_at_;
  auto found = reduced_index_.find(key);
  if (found != reduced_index_.end()) {
    last_key_ = key;
    last_at_ = found->second;
    return reduced_values_.data() + found->second;
  }
  const std::size_t at = reduced_values_.size();
  reduced_values_.resize(at + static_cast<std::size_t>(reduced_size_[g]) * reduced_size_[h], 0.0);
  reduced_index_.emplace(key, at);
  reduced_keys_.push_back(key);
  return reduced_values_.data() + at;
}

void SparseNormalSystem::addProductTo(double* target, int ld, const Located& row, int row0,
                                      const Located& col, int col0, const Matrix& m,
                                      PairPlacement placement) {
  for (int a = 0; a < m.rows(); ++a) {
    const int global_row = row0 + a;
    const int b0 =
        placement == PairPlacement::kStraddle && global_row > col0 ? global_row - col0 : 0;
    double* dst = target + static_cast<std::size_t>(row.local + a) * ld + col.local;
    const double* src = m[a];
    for (int b = b0; b < m.cols(); ++b) dst[b] += src[b];
  }
}

// T_k A_j of the group into the block `target` of the objects of blocks k (rows) and j
// (columns), without the entries below the diagonal of N.
void SparseNormalSystem::addPairTo(Workspace& work, const ObservationGroup& group, int k, int j,
                                   double* target, int ld, const Located& row, const Located& col,
                                   PairPlacement placement) {
  const int row0 = group.blocks[k].offset;
  const int col0 = group.blocks[j].offset;
  const int rows = group.blocks[k].A.cols();
  work.first_column.resize(rows);
  for (int a = 0; a < rows; ++a)
    work.first_column[a] =
        placement == PairPlacement::kStraddle && row0 + a > col0 ? row0 + a - col0 : 0;
  work.products.addPairProduct(group, k, j,
                               target + static_cast<std::size_t>(row.local) * ld + col.local, ld,
                               work.first_column.data());
}

void SparseNormalSystem::addProduct(const Located& row, int row0, const Located& col, int col0,
                                    const Matrix& m, PairPlacement placement) {
  int ld = 0;
  double* target = block(row.object, col.object, ld);
  addProductTo(target, ld, row, row0, col, col0, m, placement);
}

// Locates every block of the group; fails with an "ERROR: " line when a block straddles objects
// or the group observes two object points.
bool SparseNormalSystem::locateGroup(const ObservationGroup& group,
                                     std::vector<Located>& located) const {
  located.resize(group.blocks.size());
  int point = -1;
  for (std::size_t k = 0; k < group.blocks.size(); ++k) {
    if (!locate(group.blocks[k], located[k])) {
      messages() << "ERROR: Design block outside the unknowns of one object.\n";
      return false;
    }
    const int object = located[k].object;
    if (object < 0 || object >= points_) continue;
    if (point >= 0 && point != object) {
      messages() << "ERROR: Observation couples two object points; the sparse adjustment "
                    "interface cannot eliminate them.\n";
      return false;
    }
    point = object;
  }
  return true;
}

bool SparseNormalSystem::accumulate(const ObservationGroup& group) {
  std::vector<Located>& located = work_.located;
  if (!locateGroup(group, located)) return false;
  GroupProducts& products = work_.products;
  if (!products.compute(group)) return false;

  const int blocks = static_cast<int>(group.blocks.size());
  for (int k = 0; k < blocks; ++k) {
    const DesignBlock& bk = group.blocks[k];
    if (located[k].object < 0) continue;
    const Vector& rk = products.rhs(k);
    for (int a = 0; a < bk.A.cols(); ++a) n_[bk.offset + a] += rk[a];
    for (int j = 0; j < blocks; ++j) {
      const DesignBlock& bj = group.blocks[j];
      if (located[j].object < 0) continue;
      const PairPlacement placement = placePair(bk.offset, bk.A.cols(), bj.offset, bj.A.cols());
      if (placement == PairPlacement::kBelow) continue;
      int ld = 0;
      double* target = block(located[k].object, located[j].object, ld);
      addPairTo(work_, group, k, j, target, ld, located[k], located[j], placement);
    }
  }
  vtpv_ += products.vtpv();
  return true;
}

int SparseNormalSystem::accumulationLanes() const {
  return solved_once_ && points_ >= 2 * kPointsPerThreadMinimum ? 2 : 1;
}

int SparseNormalSystem::laneOfPoint(int point) const {
  const int lanes = accumulationLanes();
  if (point < 0 || point >= points_ || lanes <= 1) return 0;
  return static_cast<int>(static_cast<long long>(point) * lanes / points_);
}

// Each stage reads only what the stage before brought into the cache, so no stage waits for
// memory itself.
void SparseNormalSystem::prefetchPoint(int point, int stage) const {
  if (point < 0 || point >= points_) return;
  const auto& list = couplings_[point];
  if (stage == 0) {
    __builtin_prefetch(&list);
    __builtin_prefetch(point_diag_.data() + 9 * static_cast<std::size_t>(point));
    __builtin_prefetch(n_.data() + 3 * static_cast<std::size_t>(point));
  } else if (stage == 1) {
    if (!list.empty()) __builtin_prefetch(list.data());
  } else if (!list.empty()) {
    __builtin_prefetch(coupling_values_.data() + list.front().at);
    __builtin_prefetch(coupling_values_.data() + list.front().at + 8);
    __builtin_prefetch(coupling_values_.data() + list.front().at + 16);
  }
}

void SparseNormalSystem::beginLanes() {
  lanes_.resize(accumulationLanes());
  for (Lane& lane : lanes_) {
    lane.reduced_values.assign(reduced_values_.size(), 0.0);
    lane.reduced_rhs.assign(unknowns_ - 3 * points_, 0.0);
    lane.vtpv = 0.0;
    lane.last_key = ~std::uint64_t{0};
    lane.failed = false;
  }
}

double* SparseNormalSystem::laneBlock(Lane& lane, int row_object, int col_object,
                                      int& leading_dimension) {
  assert(row_object <= col_object);
  if (col_object < points_) {
    leading_dimension = 3;
    return point_diag_.data() + 9 * static_cast<std::size_t>(row_object);
  }
  const int h = col_object - points_;
  leading_dimension = reduced_size_[h];
  if (row_object < points_) {
    for (const Coupling& c : couplings_[row_object])
      if (c.object == h) return coupling_values_.data() + c.at;
    return nullptr;
  }
  const std::uint64_t key = pairKey(row_object - points_, h);
  if (key != lane.last_key) {
    auto found = reduced_index_.find(key);
    if (found == reduced_index_.end()) return nullptr;
    lane.last_key = key;
    lane.last_at = found->second;
  }
  return lane.reduced_values.data() + lane.last_at;
}

// As accumulate(), but the blocks between further objects go to the lane's sums. Concurrent calls
// for different lanes write disjoint memory: each object point belongs to one lane.
bool SparseNormalSystem::accumulateInLane(const ObservationGroup& group, int lane_index) {
  Lane& lane = lanes_[lane_index];
  if (lane.failed) return false;
  Workspace& work = lane.work;
  if (!locateGroup(group, work.located) || !work.products.compute(group)) {
    lane.failed = true;
    return false;
  }
  const int blocks = static_cast<int>(group.blocks.size());
  for (int k = 0; k < blocks; ++k) {
    const DesignBlock& bk = group.blocks[k];
    const Located& row = work.located[k];
    if (row.object < 0) continue;
    assert(row.object >= points_ || laneOfPoint(row.object) == lane_index);
    const Vector& rk = work.products.rhs(k);
    double* rhs = row.object < points_ ? n_.data() + bk.offset
                                       : lane.reduced_rhs.data() + bk.offset - 3 * points_;
    for (int a = 0; a < bk.A.cols(); ++a) rhs[a] += rk[a];
    for (int j = 0; j < blocks; ++j) {
      const DesignBlock& bj = group.blocks[j];
      const Located& col = work.located[j];
      if (col.object < 0) continue;
      const PairPlacement placement = placePair(bk.offset, bk.A.cols(), bj.offset, bj.A.cols());
      if (placement == PairPlacement::kBelow) continue;
      int ld = 0;
      double* target = laneBlock(lane, row.object, col.object, ld);
      if (target == nullptr) {
        lane.failed = true;
        return false;
      }
      addPairTo(work, group, k, j, target, ld, row, col, placement);
    }
  }
  lane.vtpv += work.products.vtpv();
  return true;
}

bool SparseNormalSystem::endLanes() {
  for (const Lane& lane : lanes_)
    if (lane.failed) return false;
  double* n_reduced = n_.data() + 3 * static_cast<std::size_t>(points_);
  for (const Lane& lane : lanes_) {
    for (std::size_t i = 0; i < reduced_values_.size(); ++i)
      reduced_values_[i] += lane.reduced_values[i];
    for (std::size_t i = 0; i < lane.reduced_rhs.size(); ++i) n_reduced[i] += lane.reduced_rhs[i];
    vtpv_ += lane.vtpv;
  }
  return true;
}

void SparseNormalSystem::accumulateWeighted(const DesignBlock& block, const Vector& w,
                                            const Vector& l) {
  Located where{};
  const bool inside = locate(block, where);
  assert(inside);
  if (!inside || where.object < 0) return;
  vtpv_ += weightedProducts(block.A, w, l, work_.pair, pair_rhs_);
  for (int a = 0; a < block.A.cols(); ++a) n_[block.offset + a] += pair_rhs_[a];
  addProduct(where, block.offset, where, block.offset, work_.pair, PairPlacement::kStraddle);
}

void SparseNormalSystem::addParameterObservation(int i, double w, double l) {
  assert(i >= 0 && i < unknowns_);
  const int object = objectOfUnknown(i);
  const int local = i - objectOffset(object);
  int ld = 0;
  block(object, object, ld)[local * ld + local] += w;
  n_[i] += w * l;
  vtpv_ += w * l * l;
}

template <class Body>
void SparseNormalSystem::parallelFor(int count, Body body) const {
  splitRange(count, threads_, body);
}

// 3 x 3 Cholesky of the point block, then Y = L^-1 W for each coupling and z = L^-1 n_p.
// Returns 0 or the dense failure code 3 p + r + 1 of local row r.
int SparseNormalSystem::factorPoint(int p) {
  const double* c = point_diag_.data() + 9 * static_cast<std::size_t>(p);
  double* f = point_factor_.data() + 6 * static_cast<std::size_t>(p);
  const int row0 = 3 * p;
  const double s0 = c[0];
  if (!(s0 > 0.0)) return row0 + 1;
  const double l00 = std::sqrt(s0);
  const double l10 = c[1] / l00;
  const double l20 = c[2] / l00;
  const double s1 = c[4] - l10 * l10;
  if (!(s1 > 0.0)) return row0 + 2;
  const double l11 = std::sqrt(s1);
  const double l21 = (c[5] - l20 * l10) / l11;
  const double s2 = c[8] - l20 * l20 - l21 * l21;
  if (!(s2 > 0.0)) return row0 + 3;
  const double l22 = std::sqrt(s2);
  f[0] = l00, f[1] = l10, f[2] = l11, f[3] = l20, f[4] = l21, f[5] = l22;

  auto forward = [&](const double* w, int stride, double* y) {
    y[0] = w[0] / l00;
    y[stride] = (w[stride] - l10 * y[0]) / l11;
    y[2 * stride] = (w[2 * stride] - l20 * y[0] - l21 * y[stride]) / l22;
  };
  for (const Coupling& cp : couplings_[p]) {
    const int s = reduced_size_[cp.object];
    for (int col = 0; col < s; ++col)
      forward(coupling_values_.data() + cp.at + col, s, coupling_work_.data() + cp.work_at + col);
  }
  forward(n_.data() + row0, 1, point_z_.data() + row0);
  return 0;
}

int SparseNormalSystem::eliminatePoints() {
  // Every entry is written by factorPoint() before it is read: no clearing.
  point_factor_.resize(6 * static_cast<std::size_t>(points_));
  coupling_work_.resize(coupling_values_.size());
  point_z_.resize(3 * static_cast<std::size_t>(points_));
  std::vector<int> first_failure(threads_, 0);
  parallelFor(points_, [&](int task, int begin, int end) {
    for (int p = begin; p < end; ++p) {
      const int code = factorPoint(p);
      if (code != 0) {
        first_failure[task] = code;  // ranges are ordered: the first failure of the range
        return;
      }
    }
  });
  for (int code : first_failure)
    if (code != 0) return code;
  return 0;
}

// Objects are adjacent when N holds a block between them or a point couples to both (the fill
// of the point elimination). Duplicates are dropped with a stamp per object, without sorting.
SparseNormalSystem::Graph SparseNormalSystem::reducedGraph() const {
  const int objects = static_cast<int>(reduced_size_.size());
  Graph graph(objects);
  for (std::uint64_t key : reduced_keys_) {
    const int g = static_cast<int>(key >> 32);
    const int h = static_cast<int>(key & 0xffffffffu);
    if (g == h) continue;
    graph[g].push_back(h);
    graph[h].push_back(g);
  }
  std::vector<int> stamp(objects, -1);
  for (int g = 0; g < objects; ++g) {
    stamp[g] = g;
    for (int h : graph[g]) stamp[h] = g;
    for (std::size_t e = points_of_begin_[g]; e < points_of_begin_[g + 1]; ++e)
      for (const Coupling& c : couplings_[points_of_[e].point])
        if (stamp[c.object] != g) {
          stamp[c.object] = g;
          graph[g].push_back(c.object);
        }
  }
  return graph;
}

// The points observing each reduced object, ascending.
void SparseNormalSystem::indexPointsOfObjects() {
  const int objects = static_cast<int>(reduced_size_.size());
  points_of_begin_.assign(objects + 1, 0);
  for (int p = 0; p < points_; ++p)
    for (const Coupling& c : couplings_[p]) ++points_of_begin_[c.object + 1];
  for (int g = 0; g < objects; ++g) points_of_begin_[g + 1] += points_of_begin_[g];
  points_of_.resize(points_of_begin_[objects]);
  std::vector<std::size_t> next(points_of_begin_.begin(), points_of_begin_.end() - 1);
  for (int p = 0; p < points_; ++p)
    for (const Coupling& c : couplings_[p]) points_of_[next[c.object]++] = {p, 0, 0, 0, 0};
}

// Lays out the blocks of Y point by point, each point's couplings in elimination order: the
// Schur complement then reads a point's blocks in one sweep, and the objects earlier than a given
// one come first in the list. The points go in the order of their earliest object, so that the
// points of one object, and of its neighbours in the order, lie close together in memory.
void SparseNormalSystem::layOutPointBlocks(const std::vector<int>& order) {
  const int objects = static_cast<int>(order.size());
  std::vector<int>& position = layout_position_;
  position.assign(objects, 0);
  for (int pos = 0; pos < objects; ++pos) position[order[pos]] = pos;
  std::vector<int> earliest(points_, 0);
  std::vector<int> count_at(objects + 1, 0);
  for (int p = 0; p < points_; ++p) {
    int first = objects;
    for (const Coupling& c : couplings_[p]) first = std::min(first, position[c.object]);
    earliest[p] = first == objects ? 0 : first;
    ++count_at[earliest[p] + 1];
  }
  for (int pos = 0; pos < objects; ++pos) count_at[pos + 1] += count_at[pos];
  std::vector<int> point_order(points_);
  for (int p = 0; p < points_; ++p) point_order[count_at[earliest[p]]++] = p;

  point_couplings_.clear();
  point_couplings_.reserve(points_of_.size());
  std::vector<std::size_t> list_begin(points_, 0);
  std::size_t work_at = 0;
  for (int p : point_order) {
    const std::size_t begin = point_couplings_.size();
    list_begin[p] = begin;
    point_couplings_.insert(point_couplings_.end(), couplings_[p].begin(), couplings_[p].end());
    std::sort(point_couplings_.begin() + static_cast<std::ptrdiff_t>(begin), point_couplings_.end(),
              [&](const Coupling& x, const Coupling& y) {
                return position[x.object] < position[y.object];
              });
    for (std::size_t i = begin; i < point_couplings_.size(); ++i) {
      point_couplings_[i].work_at = work_at;
      work_at += 3 * static_cast<std::size_t>(reduced_size_[point_couplings_[i].object]);
    }
  }
  // points_of_ stays ascending by point: every entry of S sums its terms in point order.
  std::vector<std::size_t> next(points_of_begin_.begin(), points_of_begin_.end() - 1);
  for (int p = 0; p < points_; ++p) {
    const auto count = static_cast<int>(couplings_[p].size());
    const Coupling* sorted = point_couplings_.data() + list_begin[p];
    for (Coupling& c : couplings_[p]) {
      for (int i = 0; i < count; ++i)
        if (sorted[i].object == c.object) c.work_at = sorted[i].work_at;
      points_of_[next[c.object]++] = {p, count, list_begin[p], c.work_at, sorted[0].work_at};
    }
  }
}

void SparseNormalSystem::placeObjects(const std::vector<int>& order, std::vector<int>& position,
                                      std::vector<int>& start) const {
  const int objects = static_cast<int>(order.size());
  position.assign(objects, 0);
  start.assign(objects, 0);
  int row = 0;
  for (int pos = 0; pos < objects; ++pos) {
    position[order[pos]] = pos;
    start[order[pos]] = row;
    row += reduced_size_[order[pos]];
  }
}

// Envelope storage of S in the order given by position/start: a row of g starts at the first
// row of its earliest neighbour.
EnvelopeMatrix SparseNormalSystem::envelopeFor(const Graph& graph, const std::vector<int>& position,
                                               const std::vector<int>& start) const {
  const int objects = static_cast<int>(position.size());
  std::vector<int> first_column(unknowns_ - 3 * points_);
  for (int g = 0; g < objects; ++g) {
    int first = start[g];
    for (int h : graph[g])
      if (position[h] < position[g]) first = std::min(first, start[h]);
    for (int a = 0; a < reduced_size_[g]; ++a) first_column[start[g] + a] = first;
  }
  return EnvelopeMatrix(std::move(first_column));
}

// Assembles S = N_rr - sum_p Y_p^T Y_p and b = n_r - sum_p Y_p^T z_p in the permuted order
// (position[g], start[g]: permuted position and first permuted row of reduced object g) into the
// zero storage S, which holds every entry of the structure.
template <class Reduced>
void SparseNormalSystem::fillReduced(const std::vector<int>& position,
                                     const std::vector<int>& start, Reduced& S, Vector& b) const {
  const int objects = static_cast<int>(position.size());
  b.assign(unknowns_ - 3 * points_, 0.0);
  for (int g = 0; g < objects; ++g)
    for (int a = 0; a < reduced_size_[g]; ++a)
      b[start[g] + a] = n_[3 * points_ + reduced_offset_[g] + a];
  for (std::uint64_t key : reduced_keys_) {
    const int g = static_cast<int>(key >> 32);
    const int h = static_cast<int>(key & 0xffffffffu);
    const double* values = reduced_values_.data() + reduced_index_.at(key);
    for (int a = 0; a < reduced_size_[g]; ++a)
      for (int c = g == h ? a : 0; c < reduced_size_[h]; ++c) {
        const int i = start[g] + a;
        const int j = start[h] + c;
        S.at(std::max(i, j), std::min(i, j)) += values[a * reduced_size_[h] + c];
      }
  }
  const int owners = threads_;
  std::vector<std::thread> workers;
  for (int t = 1; t < owners; ++t)
    workers.emplace_back([&, t] { subtractPointContributions(position, start, t, owners, S, b); });
  subtractPointContributions(position, start, 0, owners, S, b);
  for (std::thread& w : workers) w.join();
}

void SparseNormalSystem::buildReduced(const std::vector<int>& order, const Graph& graph,
                                      EnvelopeMatrix& S, Vector& b, std::vector<int>& start) const {
  std::vector<int> position;
  placeObjects(order, position, start);
  S = envelopeFor(graph, position, start);
  fillReduced(position, start, S, b);
}

// out[a][c] -= sum_r Yg[r][a] Yh[r][c] for the 3 x sg and 3 x sh blocks of one point (rows of out
// `ld` apart). The fixed-size form lets the compiler unroll and vectorise the common 6 x 6 case;
// both sum the same terms in the same order.
template <int SG, int SH>
inline void subtractYtY(const double* __restrict Yg, const double* __restrict Yh,
                        double* __restrict out, int ld) {
  for (int a = 0; a < SG; ++a) {
    double* __restrict row = out + static_cast<std::size_t>(a) * ld;
#pragma GCC unroll 8
    for (int c = 0; c < SH; ++c)
      row[c] -= Yg[a] * Yh[c] + Yg[SG + a] * Yh[SH + c] + Yg[2 * SG + a] * Yh[2 * SH + c];
  }
}

inline void subtractYtY(const double* Yg, int sg, const double* Yh, int sh, double* out, int ld) {
  for (int a = 0; a < sg; ++a) {
    double* row = out + static_cast<std::size_t>(a) * ld;
    for (int c = 0; c < sh; ++c)
      row[c] -= Yg[a] * Yh[c] + Yg[sg + a] * Yh[sh + c] + Yg[2 * sg + a] * Yh[2 * sh + c];
  }
}

// The Schur-complement updates of every point for the rows of S owned by `owner`: the rows of the
// object at permuted position q belong to owner q % owners. Work goes object by object: the rows
// of g within the structure (its diagonal block and its earlier neighbours) are gathered into a
// small dense panel, every point observing g subtracts its terms there, and the panel goes back
// to S once. So the terms of a point land in a few cache-resident rows instead of all over S, no
// two threads write one entry, and each entry sums its terms in point order whatever the thread
// count.
template <class Reduced>
void SparseNormalSystem::subtractPointContributions(const std::vector<int>& position,
                                                    const std::vector<int>& start, int owner,
                                                    int owners, Reduced& S, Vector& b) const {
  const int objects = static_cast<int>(reduced_size_.size());
  constexpr std::size_t kPrefetchAhead = 4;
  auto prefetchPoint = [&](const PointOfObject& next) {
    __builtin_prefetch(point_couplings_.data() + next.list_begin);
    __builtin_prefetch(point_z_.data() + 3 * static_cast<std::size_t>(next.point));
    // The point's Y blocks are side by side: its first block and the next lines.
    const double* y = coupling_work_.data() + next.y_begin;
    const int lines = std::min(next.count * 18 / 8 + 1, 32);
    for (int line = 0; line < lines; ++line) __builtin_prefetch(y + 8 * line);
  };
  const bool in_layout_order = position == layout_position_;
  std::vector<int> column_of(objects, -1);  // column of an earlier neighbour within the panel
  std::vector<int> earlier;
  std::vector<double> panel;
  for (int g = 0; g < objects; ++g) {
    if (position[g] % owners != owner) continue;
    const int sg = reduced_size_[g];
    earlier.clear();
    int width = sg;
    for (int h : graph_[g]) {
      if (position[h] >= position[g]) continue;
      column_of[h] = width;
      width += reduced_size_[h];
      earlier.push_back(h);
    }
    panel.assign(static_cast<std::size_t>(sg) * width, 0.0);
    auto transfer = [&](bool to_panel) {
      for (int a = 0; a < sg; ++a) {
        double* prow = panel.data() + static_cast<std::size_t>(a) * width;
        double* srow = &S.at(start[g] + a, start[g]);
        for (int c = 0; c <= a; ++c) to_panel ? prow[c] = srow[c] : srow[c] = prow[c];
        for (int h : earlier) {
          double* hrow = &S.at(start[g] + a, start[h]);
          double* hp = prow + column_of[h];
          for (int c = 0; c < reduced_size_[h]; ++c) to_panel ? hp[c] = hrow[c] : hrow[c] = hp[c];
        }
      }
    };
    transfer(true);
    double* bg = b.data() + start[g];
    const std::size_t e_end = points_of_begin_[g + 1];
    for (std::size_t e = points_of_begin_[g]; e < e_end; ++e) {
      // The points of g lie anywhere in memory: their couplings and Y blocks are requested a few
      // points ahead.
      if (e + kPrefetchAhead < e_end) prefetchPoint(points_of_[e + kPrefetchAhead]);
      const int p = points_of_[e].point;
      const Coupling* list = point_couplings_.data() + points_of_[e].list_begin;
      const Coupling* list_end = list + points_of_[e].count;
      const double* z = point_z_.data() + 3 * static_cast<std::size_t>(p);
      const double* Yg = coupling_work_.data() + points_of_[e].work_at;
      for (int a = 0; a < sg; ++a) {
        bg[a] -= Yg[a] * z[0] + Yg[sg + a] * z[1] + Yg[2 * sg + a] * z[2];
        double* row = panel.data() + static_cast<std::size_t>(a) * width;
        for (int c = 0; c <= a; ++c)
          row[c] -= Yg[a] * Yg[c] + Yg[sg + a] * Yg[sg + c] + Yg[2 * sg + a] * Yg[2 * sg + c];
      }
      for (const Coupling* other = list; other != list_end; ++other) {
        if (in_layout_order && other->object == g) break;  // the rest come later than g
        const int column = column_of[other->object];
        if (column < 0) continue;  // g itself, or later than g
        const int sh = reduced_size_[other->object];
        const double* Yh = coupling_work_.data() + other->work_at;
        double* target = panel.data() + column;
        if (sg == 6 && sh == 6) {
          subtractYtY<6, 6>(Yg, Yh, target, width);
        } else {
          subtractYtY(Yg, sg, Yh, sh, target, width);
        }
      }
    }
    transfer(false);
    for (int h : earlier) column_of[h] = -1;
  }
}

void SparseNormalSystem::backSubstitutePoints() {
  parallelFor(points_, [&](int, int begin, int end) {
    for (int p = begin; p < end; ++p) {
      const double* f = point_factor_.data() + 6 * static_cast<std::size_t>(p);
      double t[3] = {point_z_[3 * p], point_z_[3 * p + 1], point_z_[3 * p + 2]};
      for (const Coupling& cp : couplings_[p]) {
        const int s = reduced_size_[cp.object];
        const double* Y = coupling_work_.data() + cp.work_at;
        const double* xg = x_.data() + 3 * points_ + reduced_offset_[cp.object];
        for (int r = 0; r < 3; ++r)
          for (int c = 0; c < s; ++c) t[r] -= Y[r * s + c] * xg[c];
      }
      double* xp = x_.data() + 3 * p;
      xp[2] = t[2] / f[5];
      xp[1] = (t[1] - f[4] * xp[2]) / f[2];
      xp[0] = (t[0] - f[1] * xp[1] - f[3] * xp[2]) / f[0];
    }
  });
}

int SparseNormalSystem::reducedFailureCode(int code, const std::vector<int>& order,
                                           const Graph& graph) const {
  auto unknownAt = [&](const std::vector<int>& ord, int row) {
    for (int g : ord) {
      if (row < reduced_size_[g]) return 3 * points_ + reduced_offset_[g] + row;
      row -= reduced_size_[g];
    }
    return -1;
  };
  const int reduced = unknowns_ - 3 * points_;
  if (reduced <= kMaxUnknownsForExactFailureRow) {
    std::vector<int> numbering(order.size());
    std::iota(numbering.begin(), numbering.end(), 0);
    EnvelopeMatrix S;
    Vector b;
    std::vector<int> start;
    buildReduced(numbering, graph, S, b, start);
    const int in_numbering_order = S.factor();
    if (in_numbering_order > 0) return 3 * points_ + in_numbering_order;
  }
  return unknownAt(order, code - 1) + 1;
}

int SparseNormalSystem::solve() {
  solved_once_ = true;
  const int code = eliminateAndSolve();
  if (code != 0) messages() << "ERROR: Cholesky decomposition failed.\n";
  return code;
}

// Blocks are only ever added, so unchanged block counts mean an unchanged structure: the graph
// and its ordering are kept from the previous solution.
const SparseNormalSystem::Graph& SparseNormalSystem::reducedStructure() {
  const std::pair<std::size_t, std::size_t> stamp{coupling_values_.size(), reduced_keys_.size()};
  if (!structure_valid_ || stamp != structure_stamp_) {
    indexPointsOfObjects();
    graph_ = reducedGraph();
    chooseFactorisation();
    layOutPointBlocks(supernodal_ ? dissection_order_ : order_);
    structure_stamp_ = stamp;
    structure_valid_ = true;
  }
  return graph_;
}

// Multiply-adds of the envelope factorisation: row i costs about w_i^2 / 2 for its width w_i.
double SparseNormalSystem::envelopeFlops(const std::vector<int>& order) const {
  std::vector<int> position, start;
  placeObjects(order, position, start);
  double flops = 0.0;
  for (std::size_t g = 0; g < order.size(); ++g) {
    int first = start[g];
    for (int h : graph_[g])
      if (position[h] < position[g]) first = std::min(first, start[h]);
    for (int a = 0; a < reduced_size_[g]; ++a) {
      const double width = start[g] + a - first + 1;
      flops += 0.5 * width * width;
    }
  }
  return flops;
}

// Both orders are analysed; the supernodal factor is taken when it needs fewer multiply-adds
// (it has a higher cost per operation on small supernodes, hence the margin), or when forced.
void SparseNormalSystem::chooseFactorisation() {
  const int dense_degree = denseDegreeThreshold(graph_);
  supernodal_.reset();
  dissection_order_.clear();
  order_.clear();
  if (factorisation_ != ReducedFactorisation::kSupernodal)
    order_ = fillReducingOrder(graph_, dense_degree);
  if (factorisation_ == ReducedFactorisation::kEnvelope) return;
  // Nested dissection and minimum degree: the one with fewer multiply-adds.
  std::vector<int> chosen = nestedDissectionOrder(graph_, dense_degree);
  auto structure = std::make_unique<SupernodalStructure>(graph_, reduced_size_, chosen);
  std::vector<int> min_degree = minimumDegreeOrder(graph_, dense_degree);
  auto md_structure = std::make_unique<SupernodalStructure>(graph_, reduced_size_, min_degree);
  if (md_structure->flops() < structure->flops()) {
    structure = std::move(md_structure);
    chosen.swap(min_degree);
  }
  if (factorisation_ == ReducedFactorisation::kAutomatic &&
      !(structure->flops() * kSupernodalCostFactor < envelopeFlops(order_)))
    return;
  dissection_order_ = std::move(chosen);
  supernodal_ = std::move(structure);
}

void SparseNormalSystem::setReducedFactorisation(ReducedFactorisation choice) {
  factorisation_ = choice;
  structure_valid_ = false;
}

ReducedFactorisation SparseNormalSystem::reducedFactorisationInUse() const {
  if (!structure_valid_) return ReducedFactorisation::kAutomatic;
  return supernodal_ ? ReducedFactorisation::kSupernodal : ReducedFactorisation::kEnvelope;
}

int SparseNormalSystem::eliminateAndSolve() {
  std::fill(x_.begin(), x_.end(), 0.0);
  kept_envelope_.reset();
  kept_supernodal_.reset();
  inverted_ = false;
  // The structure first: it lays out the blocks the point elimination writes.
  const Graph& graph = reducedStructure();
  const int point_code = eliminatePoints();
  if (point_code != 0) return point_code;

  const bool supernodal = supernodal_ != nullptr;
  const std::vector<int>& order = supernodal ? dissection_order_ : order_;
  Vector b;
  std::vector<int> position, start;
  placeObjects(order, position, start);
  int code = 0;
  if (supernodal) {
    auto S = std::make_unique<SupernodalMatrix>(*supernodal_, threads_);
    fillReduced(position, start, *S, b);
    reduced_factor_entries_ = S->storedEntries();
    code = S->factor();
    if (code == 0) S->solveInPlace(b);
    if (code == 0 && retain_factor_) kept_supernodal_ = std::move(S);
  } else {
    auto S = std::make_unique<EnvelopeMatrix>(envelopeFor(graph, position, start));
    fillReduced(position, start, *S, b);
    reduced_factor_entries_ = S->storedEntries();
    code = S->factor(threads_);
    if (code == 0) S->solveInPlace(b);
    if (code == 0 && retain_factor_) kept_envelope_ = std::move(S);
  }
  if (code != 0) return reducedFailureCode(code, order, graph);
  kept_start_ = start;
  for (int g = 0; g < static_cast<int>(reduced_size_.size()); ++g)
    for (int a = 0; a < reduced_size_[g]; ++a)
      x_[3 * points_ + reduced_offset_[g] + a] = b[start[g] + a];
  backSubstitutePoints();
  return 0;
}

void SparseNormalSystem::retainFactor(bool retain) {
  retain_factor_ = retain;
  if (!retain) {
    kept_envelope_.reset();
    kept_supernodal_.reset();
    inverted_ = false;
    std::vector<double>().swap(point_inverse_rows_);
    std::vector<double>().swap(point_inverse_diag_);
    std::vector<char>().swap(point_inverse_done_);
  }
}

bool SparseNormalSystem::prepareInverse() {
  if (inverted_) return true;
  if (kept_envelope_) {
    kept_envelope_->invertInEnvelope();
  } else if (kept_supernodal_) {
    kept_supernodal_->invertInStructure();
  } else if (unknowns_ > 3 * points_ || !solved_once_) {
    return false;  // nothing solved, or the factor was not kept
  }
  point_inverse_rows_.assign(coupling_values_.size(), 0.0);
  point_inverse_diag_.assign(9 * static_cast<std::size_t>(points_), 0.0);
  point_inverse_done_.assign(points_, 0);
  inverted_ = true;
  return true;
}

double SparseNormalSystem::invertedEntry(int i, int j) const {
  if (i < j) std::swap(i, j);
  if (kept_envelope_) return kept_envelope_->at(i, j);
  return kept_supernodal_->at(i, j);
}

// Objects are linked in the reduced system's graph when N holds a block between them or an object
// point couples to both; the factor's structure holds every such pair.
bool SparseNormalSystem::adjacent(int g, int h) const {
  if (g == h) return true;
  const std::vector<int>& list = graph_[g].size() <= graph_[h].size() ? graph_[g] : graph_[h];
  const int other = graph_[g].size() <= graph_[h].size() ? h : g;
  return std::find(list.begin(), list.end(), other) != list.end();
}

bool SparseNormalSystem::reducedInverse(int g, int h, Matrix& out) const {
  if (!adjacent(g, h)) return false;
  out.resize(reduced_size_[g], reduced_size_[h]);
  for (int a = 0; a < reduced_size_[g]; ++a)
    for (int c = 0; c < reduced_size_[h]; ++c)
      out(a, c) = invertedEntry(kept_start_[g] + a, kept_start_[h] + c);
  return true;
}

namespace {

// Solves L^T X = T in place for the 3 x 3 point factor (l00 l10 l11 l20 l21 l22) and the
// 3 x cols matrix T.
void solvePointTransposed(const double* f, Matrix& T) {
  for (int c = 0; c < T.cols(); ++c) {
    const double x2 = T(2, c) / f[5];
    const double x1 = (T(1, c) - f[4] * x2) / f[2];
    const double x0 = (T(0, c) - f[1] * x1 - f[3] * x2) / f[0];
    T(0, c) = x0, T(1, c) = x1, T(2, c) = x2;
  }
}

}  // namespace

// Every block of point p's row of Q at once, kept for later requests:
//   T_h = sum_g Y_pg Q_gh,  Q_ph = -L_p^-T T_h,  Q_pp = L_p^-T (I + sum_h T_h Y_ph^T) L_p^-1,
// g and h over the objects observing p (pairs that the factor's structure always holds).
bool SparseNormalSystem::ensurePointInverse(int p) const {
  if (point_inverse_done_[p]) return true;
  const auto& list = couplings_[p];
  double M[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  std::vector<double> T;
  for (const Coupling& ch : list) {
    const int sh = reduced_size_[ch.object];
    T.assign(3 * static_cast<std::size_t>(sh), 0.0);
    for (const Coupling& cg : list) {
      if (!adjacent(cg.object, ch.object)) return false;
      const int sg = reduced_size_[cg.object];
      const double* Y = coupling_work_.data() + cg.work_at;
      for (int a = 0; a < sg; ++a)
        for (int c = 0; c < sh; ++c) {
          const double q = invertedEntry(kept_start_[cg.object] + a, kept_start_[ch.object] + c);
          for (int r = 0; r < 3; ++r) T[r * sh + c] += Y[r * sg + a] * q;
        }
    }
    const double* Yh = coupling_work_.data() + ch.work_at;
    for (int r = 0; r < 3; ++r)
      for (int t = 0; t < 3; ++t)
        for (int c = 0; c < sh; ++c) M[3 * r + t] += T[r * sh + c] * Yh[t * sh + c];
    Matrix row(3, sh);
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < sh; ++c) row(r, c) = -T[r * sh + c];
    solvePointTransposed(point_factor_.data() + 6 * static_cast<std::size_t>(p), row);
    std::copy(row.data(), row.data() + 3 * sh, point_inverse_rows_.begin() + ch.at);
  }
  const double* f = point_factor_.data() + 6 * static_cast<std::size_t>(p);
  Matrix X(3, 3);
  for (int k = 0; k < 9; ++k) X.data()[k] = M[k];
  solvePointTransposed(f, X);  // L^-T (I + M)
  Matrix Xt(3, 3);             // (L^-T (L^-T (I + M))^T)^T = L^-T (I + M) L^-1, symmetric
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) Xt(r, c) = X(c, r);
  solvePointTransposed(f, Xt);
  double* diagonal = point_inverse_diag_.data() + 9 * static_cast<std::size_t>(p);
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) diagonal[3 * r + c] = 0.5 * (Xt(r, c) + Xt(c, r));
  point_inverse_done_[p] = 1;
  return true;
}

bool SparseNormalSystem::pointInverseRow(int p, int h, Matrix& out) const {
  if (!ensurePointInverse(p)) return false;
  for (const Coupling& ch : couplings_[p]) {
    if (ch.object != h) continue;
    const int sh = reduced_size_[h];
    out.resize(3, sh);
    std::copy(point_inverse_rows_.begin() + ch.at, point_inverse_rows_.begin() + ch.at + 3 * sh,
              out.data());
    return true;
  }
  return false;  // an object that does not observe p: not computed
}

bool SparseNormalSystem::pointInverseDiagonal(int p, Matrix& out) const {
  if (!ensurePointInverse(p)) return false;
  out.resize(3, 3);
  const double* diagonal = point_inverse_diag_.data() + 9 * static_cast<std::size_t>(p);
  std::copy(diagonal, diagonal + 9, out.data());
  return true;
}

bool SparseNormalSystem::objectInverse(int row_object, int col_object, Matrix& out) const {
  const bool row_point = row_object < points_;
  const bool col_point = col_object < points_;
  if (row_point && col_point) {
    return row_object == col_object && pointInverseDiagonal(row_object, out);
  }
  if (row_point) return pointInverseRow(row_object, col_object - points_, out);
  if (col_point) {
    Matrix transposed;
    if (!pointInverseRow(col_object, row_object - points_, transposed)) return false;
    out.resize(transposed.cols(), 3);
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < transposed.cols(); ++c) out(c, r) = transposed(r, c);
    return true;
  }
  return reducedInverse(row_object - points_, col_object - points_, out);
}

bool SparseNormalSystem::inverseBlock(int row0, int rows, int col0, int cols, Matrix& out) const {
  if (!inverted_ || rows <= 0 || cols <= 0 || row0 < 0 || col0 < 0 || row0 + rows > unknowns_ ||
      col0 + cols > unknowns_)
    return false;
  const int row_object = objectOfUnknown(row0);
  const int col_object = objectOfUnknown(col0);
  if (objectOfUnknown(row0 + rows - 1) != row_object ||
      objectOfUnknown(col0 + cols - 1) != col_object)
    return false;
  Matrix whole;
  if (!objectInverse(row_object, col_object, whole)) return false;
  const int r0 = row0 - objectOffset(row_object);
  const int c0 = col0 - objectOffset(col_object);
  out.resize(rows, cols);
  for (int a = 0; a < rows; ++a)
    for (int b = 0; b < cols; ++b) out(a, b) = whole(r0 + a, c0 + b);
  return true;
}

Matrix SparseNormalSystem::assembleUpperTriangle() const {
  Matrix N(unknowns_, unknowns_);
  for (int p = 0; p < points_; ++p) {
    const double* c = point_diag_.data() + 9 * static_cast<std::size_t>(p);
    for (int a = 0; a < 3; ++a)
      for (int b = a; b < 3; ++b) N[3 * p + a][3 * p + b] = c[3 * a + b];
    for (const Coupling& cp : couplings_[p]) {
      const int s = reduced_size_[cp.object];
      const int col0 = 3 * points_ + reduced_offset_[cp.object];
      for (int a = 0; a < 3; ++a)
        for (int b = 0; b < s; ++b) N[3 * p + a][col0 + b] = coupling_values_[cp.at + a * s + b];
    }
  }
  for (std::uint64_t key : reduced_keys_) {
    const int g = static_cast<int>(key >> 32);
    const int h = static_cast<int>(key & 0xffffffffu);
    const double* values = reduced_values_.data() + reduced_index_.at(key);
    const int row0 = 3 * points_ + reduced_offset_[g];
    const int col0 = 3 * points_ + reduced_offset_[h];
    for (int a = 0; a < reduced_size_[g]; ++a)
      for (int c = g == h ? a : 0; c < reduced_size_[h]; ++c)
        N[row0 + a][col0 + c] = values[a * reduced_size_[h] + c];
  }
  return N;
}

void SparseNormalSystem::writeNormalEquationFiles(const NormalEquationFileNames& names) const {
  NormalEquationFileNames dense_names = names;
  if (unknowns_ > kMaxUnknownsForMatrixFiles) {
    auto refuse = [this](std::string& name, const char* kind) {
      if (name == "none") return;
      messages() << "ERROR: Cannot write " << kind << " file " << name << ": " << unknowns_
                 << " unknowns exceed the limit of " << kMaxUnknownsForMatrixFiles
                 << " for the sparse adjustment interface.\n";
      name = "none";
    };
    refuse(dense_names.structure, "structure of normal matrix");
    refuse(dense_names.matrix, "normal matrix");
    bravik::writeNormalEquationFiles(dense_names, Matrix(), n_, x_);
    return;
  }
  Matrix N = dense_names.structure == "none" && dense_names.matrix == "none"
                 ? Matrix()
                 : assembleUpperTriangle();
  if (dense_names.matrix != "none") {
    // As the dense path stores it after its solution: the factor below the diagonal.
    Vector d;
    choleskyDecompose(N, d);
  }
  bravik::writeNormalEquationFiles(dense_names, N, n_, x_);
}

}  // namespace bravik
