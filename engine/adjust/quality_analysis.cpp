#include "adjust/quality_analysis.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <ostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "lsq/cholesky.h"
#include "lsq/normal_system.h"

namespace bravik {
namespace {

// Takes the constraint equations the objects add to the normal equations, instead of adding them.
class ConstraintCollector : public NormalSystem {
 public:
  struct Equation {
    DesignBlock block;
    Vector w;
    Vector l;
  };
  std::vector<Equation> equations;

  int size() const override { return 0; }
  void reset() override {}
  bool accumulate(const ObservationGroup&) override { return true; }
  void accumulateWeighted(const DesignBlock& block, const Vector& w, const Vector& l) override {
    equations.push_back({block, w, l});
  }
  void addParameterObservation(int, double, double) override {}
  int solve() override { return -1; }
  const Vector& rhs() const override { return empty_; }
  const Vector& solution() const override { return empty_; }
  double vtpv() const override { return 0.0; }
  void setVtpv(double) override {}

 private:
  Vector empty_;
};

Matrix multiply(const Matrix& a, const Matrix& b) {
  Matrix c(a.rows(), b.cols());
  for (int i = 0; i < a.rows(); ++i)
    for (int k = 0; k < a.cols(); ++k) {
      const double aik = a(i, k);
      if (aik == 0.0) continue;
      for (int j = 0; j < b.cols(); ++j) c(i, j) += aik * b(k, j);
    }
  return c;
}

// a b^T
Matrix multiplyTransposed(const Matrix& a, const Matrix& b) {
  Matrix c(a.rows(), b.rows());
  for (int i = 0; i < a.rows(); ++i)
    for (int j = 0; j < b.rows(); ++j) c(i, j) = dot(a[i], b[j], a.cols());
  return c;
}

// Inverse of a small symmetric positive definite matrix; false when it is not.
bool invertSymmetric(Matrix m, Matrix& inverse) {
  Vector d;
  if (choleskyDecompose(m, d) != 0 || choleskyInverse(m, d) != 0) return false;
  mirrorUpperToLower(m);
  inverse = std::move(m);
  return true;
}

// Cofactors between the unknowns of two lists of design blocks, in block order. `diagonal` returns
// a cached block of one whole object, or null.
template <class Diagonal>
bool cofactorsBetween(const NormalSystem& normals, const std::vector<DesignBlock>& rows,
                      const std::vector<DesignBlock>& cols, Diagonal&& diagonal, Matrix& Q) {
  int n = 0, m = 0;
  for (const DesignBlock& b : rows) n += b.A.cols();
  for (const DesignBlock& b : cols) m += b.A.cols();
  Q.resize(n, m);
  Matrix part;
  int row = 0;
  for (const DesignBlock& a : rows) {
    const int ra = a.A.cols();
    int col = 0;
    for (const DesignBlock& b : cols) {
      const int cb = b.A.cols();
      if (ra > 0 && cb > 0) {
        const Matrix* cached = a.offset == b.offset && ra == cb ? diagonal(a.offset, ra) : nullptr;
        if (cached == nullptr && !normals.inverseBlock(a.offset, ra, b.offset, cb, part))
          return false;
        const Matrix& block = cached != nullptr ? *cached : part;
        for (int i = 0; i < ra; ++i)
          for (int j = 0; j < cb; ++j) Q(row + i, col + j) = block(i, j);
      }
      col += cb;
    }
    row += ra;
  }
  return true;
}

// The design blocks side by side: r x (sum of columns).
Matrix joinedDesign(const std::vector<DesignBlock>& blocks, int rows) {
  int n = 0;
  for (const DesignBlock& b : blocks) n += b.A.cols();
  Matrix A(rows, n);
  int col = 0;
  for (const DesignBlock& b : blocks) {
    for (int i = 0; i < rows; ++i)
      for (int j = 0; j < b.A.cols(); ++j) A(i, col + j) = b.A(i, j);
    col += b.A.cols();
  }
  return A;
}

// The cached cofactor block of a whole object (by its first unknown and size), or null.
struct DiagonalLookup {
  const std::map<int, Matrix>* blocks;
  const Matrix* operator()(int first, int n) const {
    auto it = blocks->find(first);
    return it != blocks->end() && it->second.rows() == n ? &it->second : nullptr;
  }
};

class Analysis {
 public:
  Analysis(Block& block, AdjustmentState& state, QualityResults& results, std::ostream* reliability)
      : snoop_(&results),
        block_(block),
        normals_(*state.normals),
        state_(state),
        results_(results),
        reliability_(reliability) {}

  void run() {
    const LSParams& ls = block_.settings;
    const RunOptions& options = block_.options;
    results_ = QualityResults{};
    snoop_ = &results_;
    results_.sigma0Apriori = ls.sigma0;
    results_.aPosteriori = state_.sigma0 > 0.0;
    results_.sigma0 = results_.aPosteriori ? state_.sigma0 : ls.sigma0;
    results_.correlationLimit = ls.correlationLimit;
    results_.significanceLimit = ls.significanceLimit;
    results_.snoopingLimit = options.snoopingLimit;
    results_.delta0 = options.snoopingLimit + kPowerQuantile;
    results_.redundancy = state_.counts.redundancy();
    if (!invert()) return;
    if (!precisionAndCorrelations() || !apCorrelations()) {
      results_.failure = "a cofactor block of the unknowns was not computed.";
      return;
    }
    apSignificance();
    if (reliability_) writeReliabilityHeader(*reliability_);
    const bool snooped = snoopImageObservations() && snoopConstraints();
    snoopParameterObservations();
    if (reliability_) writeReliabilityEnd(*reliability_);
    if (!snooped) {
      results_.failure = "the observations could not be evaluated at the adjusted values.";
      return;
    }
    if (!results_.suspected.empty()) {
      if (normals_.size() <= kMaxUnknownsForSnoopingIteration) {
        refineSuspects();
      } else if (!separateSuspectsOfOnePoint()) {
        results_.failure = "the observations of a suspected point could not be evaluated.";
        return;
      }
    }
    std::stable_sort(
        results_.suspected.begin(), results_.suspected.end(),
        [](const SnoopedObservation& a, const SnoopedObservation& b) { return a.w > b.w; });
    results_.available = true;
  }

 private:
  // One more set-up and factorisation at the adjusted values, then the cofactors.
  bool invert() {
    normals_.retainFactor(true);
    std::ostringstream discarded;  // a failing set-up was already reported by the iterations
    int observations = 0;
    if (setUpNormalEquations(block_, normals_, observations, discarded) != 1) {
      results_.failure = "the normal equations could not be set up at the adjusted values.";
      return false;
    }
    if (normals_.solve() != 0) {
      results_.failure = "the normal matrix at the adjusted values is not positive definite.";
      return false;
    }
    if (!normals_.prepareInverse()) {
      results_.failure = "the normal system offers no inverse.";
      return false;
    }
    return true;
  }

  bool precisionAndCorrelations() {
    const int u = normals_.size();
    results_.sdev.assign(u, 0.0);
    qdiag_.assign(u, 0.0);
    Matrix Q;
    for (const AdjObject* object : block_.adjObjects.objects()) {
      const int n = object->paramCount();
      if (n == 0) continue;
      const int first = object->firstUnknown();
      if (!normals_.inverseBlock(first, n, first, n, Q)) return false;
      diagonal_.emplace(first, Q);
      for (int k = 0; k < n; ++k) {
        qdiag_[first + k] = Q(k, k);
        results_.sdev[first + k] = results_.sigma0 * std::sqrt(std::max(Q(k, k), 0.0));
      }
      ObjectCorrelations list{object->typeName(), object->id(), {}};
      for (int a = 0; a < n; ++a)
        for (int b = a + 1; b < n; ++b) {
          const double rho = correlation(Q(a, b), first + a, first + b);
          if (std::abs(rho) > results_.correlationLimit && adjusted(*object, a) &&
              adjusted(*object, b))
            list.entries.push_back({object->paramName(a), "", object->paramName(b), rho});
        }
      if (!list.entries.empty()) results_.correlations.push_back(std::move(list));
    }
    return true;
  }

  static bool adjusted(const AdjObject& object, int k) {
    return object.slots()[k].state != ParamState::kEliminated;
  }

  double correlation(double q, int i, int j) const {
    const double scale = std::sqrt(qdiag_[i] * qdiag_[j]);
    return scale > 0.0 ? q / scale : 0.0;
  }

  // Each AP set against the later AP sets and every image geometry of its camera.
  bool apCorrelations() {
    for (const APSet* set : block_.apSets.items()) {
      const Camera* camera = block_.cameras.find(set->cameraId);
      if (camera == nullptr || set->paramCount() == 0) continue;
      std::vector<const AdjObject*> others;
      for (const APSet* other : camera->apSets)
        if (other != nullptr && other->firstUnknown() > set->firstUnknown())
          others.push_back(other);
      std::set<const ImageGeometry*> seen;
      for (const BundleImage* image : block_.images.items())
        if (image->camera == camera && image->geometry != nullptr &&
            seen.insert(image->geometry).second)
          others.push_back(image->geometry);
      ObjectCorrelations list{set->typeName(), set->id(), {}};
      for (const AdjObject* other : others) {
        if (other->paramCount() == 0) continue;
        Matrix Q;
        if (!normals_.inverseBlock(set->firstUnknown(), set->paramCount(), other->firstUnknown(),
                                   other->paramCount(), Q))
          return false;
        for (int a = 0; a < set->paramCount(); ++a)
          for (int b = 0; b < other->paramCount(); ++b) {
            const double rho =
                correlation(Q(a, b), set->firstUnknown() + a, other->firstUnknown() + b);
            if (std::abs(rho) > results_.correlationLimit && adjusted(*set, a) &&
                adjusted(*other, b))
              list.entries.push_back({set->paramName(a), other->typeName() + " " + other->id(),
                                      other->paramName(b), rho});
          }
      }
      if (list.entries.empty()) continue;
      // Joins the set's own correlations when it has some.
      auto own = std::find_if(
          results_.correlations.begin(), results_.correlations.end(),
          [&](const ObjectCorrelations& c) { return c.type == list.type && c.id == list.id; });
      if (own == results_.correlations.end()) {
        results_.correlations.push_back(std::move(list));
      } else {
        own->entries.insert(own->entries.end(), list.entries.begin(), list.entries.end());
      }
    }
    return true;
  }

  void apSignificance() {
    for (const APSet* set : block_.apSets.items()) {
      for (int k = 0; k < set->paramCount(); ++k) {
        if (!adjusted(*set, k)) continue;
        APSignificance a;
        a.set = set->id();
        a.parameter = set->paramName(k);
        a.value = *set->slots()[k].value;
        a.sdev = results_.sdev[set->firstUnknown() + k];
        a.t = a.sdev > 0.0 ? std::abs(a.value) / a.sdev : 0.0;
        a.significant = a.t > results_.significanceLimit;
        results_.significance.push_back(a);
      }
    }
  }

  void record(SnoopedObservation& o, bool testable) {
    o.uncontrolled = o.redundancy < kUncontrolledRedundancy || removed(o);
    o.flagged = testable && !o.uncontrolled && o.w > results_.snoopingLimit;
    snoop_->redundancySum += o.redundancy;
    if (reliability_ && snoop_ == &results_) writeReliabilityRecord(o, *reliability_);
    if (!testable) return;
    if (o.flagged) {
      snoop_->suspected.push_back(o);
    } else if (!o.uncontrolled && o.w > snoop_->largestUnflaggedW) {
      snoop_->largestUnflaggedW = o.w;
      snoop_->largestUnflagged = describe(o);
    }
    if (o.uncontrolled) {
      ++snoop_->uncontrolledCount;
      if (static_cast<int>(snoop_->uncontrolled.size()) < kMaxListedUncontrolled)
        snoop_->uncontrolled.push_back(o);
    }
  }

  static std::string describe(const SnoopedObservation& o) {
    if (o.kind == SnoopedObservation::Kind::kImage)
      return "image " + o.image + " point " + o.point + " " + o.component;
    return "unknown " + o.point + " " + o.component;
  }

  // Redundancy numbers, normalised residuals and MDBs of the equations of one group:
  // Q_vv = B Q B^T - A Q_xx A^T, r_i = (Q_vv P)_ii with P = (B Q B^T)^-1.
  bool snoopGroup(const ObservationGroup& group, const std::string& image,
                  const std::string& point) {
    const int r = static_cast<int>(group.l.size());
    Matrix Qx;
    if (!cofactorsBetween(normals_, group.blocks, group.blocks, DiagonalLookup{&diagonal_}, Qx))
      return false;
    const Matrix A = joinedDesign(group.blocks, r);
    const Matrix H = multiplyTransposed(multiply(A, Qx), A);
    const Matrix Qll = multiplyTransposed(multiply(group.B, group.Q), group.B);
    Matrix P;
    if (!invertSymmetric(Qll, P)) return false;
    Matrix Qvv = Qll;
    for (int i = 0; i < r; ++i)
      for (int j = 0; j < r; ++j) Qvv(i, j) -= H(i, j);
    const Matrix R = multiply(Qvv, P);
    const Matrix PQP = multiply(P, R);
    const double sigma0 = results_.sigma0Apriori;
    for (int i = 0; i < r; ++i) {
      SnoopedObservation o;
      o.kind = SnoopedObservation::Kind::kImage;
      o.image = image;
      o.point = point;
      o.component = r == 2 ? (i == 0 ? "x" : "y") : std::to_string(i + 1);
      o.v = -group.l[i];  // projected minus measured, as the residuals of the report
      o.redundancy = R(i, i);
      o.w = Qvv(i, i) > 0.0 ? std::abs(o.v) / (sigma0 * std::sqrt(Qvv(i, i))) : 0.0;
      o.mdb = PQP(i, i) > 0.0 ? results_.delta0 * sigma0 / std::sqrt(PQP(i, i)) : 0.0;
      record(o, true);
      ++snoop_->imageObservations;
    }
    return true;
  }

  bool snoopImageObservations() {
    ObservationGroup group;
    for (const BundleImage* image : block_.images.items()) {
      for (std::size_t k = 0; k < image->points.size(); ++k) {
        const int built = image->observationGroup(k, block_.objectPoints, block_.settings, group);
        if (built == 0) continue;  // object point removed: not observed
        if (built != 1 || !snoopGroup(group, image->id(), image->points[k].id)) return false;
      }
    }
    return true;
  }

  // Constraints (weights w_c): r = 1 - w_c a Q a^T. They are not tested.
  bool snoopConstraints() {
    ConstraintCollector collector;
    block_.adjObjects.addConstraints(collector, block_.settings);
    Matrix Q;
    for (const ConstraintCollector::Equation& e : collector.equations) {
      const DesignBlock& b = e.block;
      if (b.A.cols() == 0) continue;
      if (!normals_.inverseBlock(b.offset, b.A.cols(), b.offset, b.A.cols(), Q)) return false;
      const Matrix H = multiplyTransposed(multiply(b.A, Q), b.A);
      for (int i = 0; i < b.A.rows(); ++i) {
        SnoopedObservation o;
        o.kind = SnoopedObservation::Kind::kConstraint;
        o.point = objectIdAt(b.offset);
        o.component = std::to_string(i + 1);
        o.v = -e.l[i];
        o.redundancy = 1.0 - e.w[i] * H(i, i);
        record(o, false);
        ++snoop_->constraintEquations;
      }
    }
    return true;
  }

  std::string objectIdAt(int unknown) const {
    for (const AdjObject* object : block_.adjObjects.objects())
      if (unknown >= object->firstUnknown() &&
          unknown < object->firstUnknown() + object->paramCount())
        return object->id();
    return "?";
  }

  // Observed unknowns (weight w): q_vv = 1 / w - q_ii, r = 1 - w q_ii, v = adjusted - given.
  // Eliminated ones count in the sum of redundancy numbers but are not tested.
  void snoopParameterObservations() {
    const double sigma0 = results_.sigma0Apriori;
    for (const AdjObject* object : block_.adjObjects.objects()) {
      for (int k = 0; k < object->paramCount(); ++k) {
        const ParamSlot& slot = object->slots()[k];
        if (slot.state == ParamState::kUnknown || !(slot.weight > 0.0)) continue;
        const double q = qdiag_[object->firstUnknown() + k];
        SnoopedObservation o;
        o.kind = SnoopedObservation::Kind::kParameter;
        o.point = object->id();
        o.component = object->paramName(k);
        o.v = *slot.value - slot.initial;
        o.redundancy = 1.0 - slot.weight * q;
        const double qvv = 1.0 / slot.weight - q;
        o.w = qvv > 0.0 ? std::abs(o.v) / (sigma0 * std::sqrt(qvv)) : 0.0;
        const double pqp = slot.weight * o.redundancy;
        o.mdb = pqp > 0.0 ? results_.delta0 * sigma0 / std::sqrt(pqp) : 0.0;
        record(o, slot.state == ParamState::kObserved);
        ++snoop_->parameterObservations;
      }
    }
  }

  bool removed(const SnoopedObservation& o) const {
    for (const SnoopedObservation& r : confirmed_)
      if (r.kind == o.kind && r.image == o.image && r.point == o.point) return true;
    return false;
  }

  // Image point `o` (both coordinates) or observed unknown `o` out of the adjustment, by its
  // weight; the original kept in `undo`.
  void downWeight(const SnoopedObservation& o, std::vector<std::pair<double*, double>>& undo) {
    if (o.kind == SnoopedObservation::Kind::kImage) {
      BundleImage* image = block_.images.find(o.image);
      if (image == nullptr) return;
      for (ImagePoint& p : image->points) {
        if (p.id != o.point) continue;
        undo.emplace_back(&p.sx, p.sx);
        undo.emplace_back(&p.sy, p.sy);
        p.sx *= kRemovalFactor;
        p.sy *= kRemovalFactor;
      }
      return;
    }
    for (AdjObject* object : block_.adjObjects.objects()) {
      if (object->id() != o.point) continue;
      for (int k = 0; k < object->paramCount(); ++k)
        if (object->paramName(k) == o.component) {
          ParamSlot& slot = object->slots()[k];
          undo.emplace_back(&slot.weight, slot.weight);
          slot.weight = 0.0;
        }
    }
  }

  // Baarda's iteration: the observation with the largest w is taken out, the block adjusted again
  // from the adjusted values and tested again, until no w exceeds the limit (or
  // kMaxSnoopingPasses). A blunder spreads into the residuals of the observations that share its
  // unknowns; one pass would flag them too. Afterwards every value, weight and statistic is as the
  // adjustment left it.
  void refineSuspects() {
    std::vector<double> values;
    for (const AdjObject* object : block_.adjObjects.objects())
      for (const ParamSlot& slot : object->slots()) values.push_back(*slot.value);
    const AdjustmentCounts counts = state_.counts;
    const double vtpv = state_.vtpv, sigma0 = state_.sigma0;
    const int iterations = state_.iterations;
    const bool converged = state_.converged;
    std::vector<std::pair<double*, double>> undo;

    QualityResults pass = results_;
    for (int round = 0; round < kMaxSnoopingPasses && !pass.suspected.empty(); ++round) {
      const auto top = std::max_element(
          pass.suspected.begin(), pass.suspected.end(),
          [](const SnoopedObservation& a, const SnoopedObservation& b) { return a.w < b.w; });
      confirmed_.push_back(*top);
      downWeight(*top, undo);
      std::ostringstream discarded;
      state_.converged = false;
      bool ok = true;
      for (int i = 1; i <= block_.settings.maxIterations && !state_.converged && ok; ++i)
        ok = runIteration(block_, state_, i, discarded) == 1;
      if (!ok || !invert() || !computeDiagonal()) break;
      pass.suspected.clear();
      pass.largestUnflaggedW = 0.0;
      pass.largestUnflagged.clear();
      snoop_ = &pass;
      const bool snooped = snoopImageObservations();
      snoopParameterObservations();
      snoop_ = &results_;
      if (!snooped) break;
    }
    results_.suspected = confirmed_;
    results_.largestUnflaggedW = pass.largestUnflaggedW;
    results_.largestUnflagged = pass.largestUnflagged;
    results_.snoopingPasses = static_cast<int>(confirmed_.size()) + 1;

    for (auto it = undo.rbegin(); it != undo.rend(); ++it) *it->first = it->second;
    std::size_t v = 0;
    for (AdjObject* object : block_.adjObjects.objects())
      for (ParamSlot& slot : object->slots()) *slot.value = values[v++];
    for (ImageGeometry* geometry : block_.geometries.items()) geometry->refresh();
    state_.counts = counts;
    state_.vtpv = vtpv;
    state_.sigma0 = sigma0;
    state_.iterations = iterations;
    state_.converged = converged;
  }

  bool computeDiagonal() {
    Matrix Q;
    for (const AdjObject* object : block_.adjObjects.objects()) {
      const int n = object->paramCount();
      if (n == 0) continue;
      if (!normals_.inverseBlock(object->firstUnknown(), n, object->firstUnknown(), n, Q))
        return false;
      for (int k = 0; k < n; ++k) qdiag_[object->firstUnknown() + k] = Q(k, k);
      diagonal_[object->firstUnknown()] = Q;
    }
    return true;
  }

  // A blunder in one image point spreads most into the residuals of the other rays of its object
  // point, which one pass of tests would accuse as well. For every point with suspects the test is
  // repeated on the point's rays jointly: the ray with the largest w is taken as the blunder, the
  // other rays are tested again conditioned on it (residuals and cofactors after its removal,
  //   v' = v - Q_vb Q_bb^-1 v_b,  Q' = Q - Q_vb Q_bb^-1 Q_bv,
  // the exact effect in the linear model), and so on while a conditioned w exceeds the limit. Only
  // the rays taken as blunders stay suspected.
  bool separateSuspectsOfOnePoint() {
    std::map<std::string, std::vector<SnoopedObservation>> byPoint;
    std::vector<SnoopedObservation> kept;
    for (const SnoopedObservation& o : results_.suspected) {
      if (o.kind == SnoopedObservation::Kind::kImage) {
        byPoint[o.point].push_back(o);
      } else {
        kept.push_back(o);
      }
    }
    // The rays of those points: (image, index of the image point).
    std::map<std::string, std::vector<std::pair<const BundleImage*, std::size_t>>> rays;
    for (const BundleImage* image : block_.images.items())
      for (std::size_t k = 0; k < image->points.size(); ++k)
        if (byPoint.count(image->points[k].id) != 0)
          rays[image->points[k].id].push_back({image, k});
    for (const auto& [point, suspects] : byPoint) {
      if (!separatePoint(rays[point], suspects, kept)) return false;
    }
    results_.suspected = std::move(kept);
    return true;
  }

  bool separatePoint(const std::vector<std::pair<const BundleImage*, std::size_t>>& rays,
                     const std::vector<SnoopedObservation>& suspects,
                     std::vector<SnoopedObservation>& kept) {
    std::vector<ObservationGroup> groups;
    std::vector<const BundleImage*> images;
    for (const auto& [image, k] : rays) {
      ObservationGroup group;
      if (image->observationGroup(k, block_.objectPoints, block_.settings, group) != 1) continue;
      if (group.l.size() != 2) return false;
      groups.push_back(std::move(group));
      images.push_back(image);
    }
    const int n = static_cast<int>(groups.size());
    // Joint residuals and their cofactors, two rows per ray.
    Vector v(2 * n);
    Matrix Qvv(2 * n, 2 * n);
    Matrix cross;
    for (int a = 0; a < n; ++a) {
      v[2 * a] = -groups[a].l[0];
      v[2 * a + 1] = -groups[a].l[1];
      const Matrix Qll = multiplyTransposed(multiply(groups[a].B, groups[a].Q), groups[a].B);
      for (int b = a; b < n; ++b) {
        if (!cofactorsBetween(normals_, groups[a].blocks, groups[b].blocks,
                              DiagonalLookup{&diagonal_}, cross))
          return false;
        const Matrix Aa = joinedDesign(groups[a].blocks, 2);
        const Matrix Ab = joinedDesign(groups[b].blocks, 2);
        const Matrix H = multiplyTransposed(multiply(Aa, cross), Ab);
        for (int i = 0; i < 2; ++i)
          for (int j = 0; j < 2; ++j) {
            const double q = (a == b ? Qll(i, j) : 0.0) - H(i, j);
            Qvv(2 * a + i, 2 * b + j) = q;
            Qvv(2 * b + j, 2 * a + i) = q;
          }
      }
    }
    const double sigma0 = results_.sigma0Apriori;
    auto w = [&](int row) {
      return Qvv(row, row) > 0.0 ? std::abs(v[row]) / (sigma0 * std::sqrt(Qvv(row, row))) : 0.0;
    };
    std::vector<bool> taken(n, false);
    for (int round = 0; round < n; ++round) {
      int worst = -1;
      double largest = results_.snoopingLimit;
      for (int row = 0; row < 2 * n; ++row)
        if (!taken[row / 2] && Qvv(row, row) >= kUncontrolledRedundancy * 1e-300 &&
            w(row) > largest)
          largest = w(row), worst = row;
      if (worst < 0) break;
      const int b = worst / 2;
      taken[b] = true;
      // Condition on ray b: v -= Q_vb Q_bb^-1 v_b, Q -= Q_vb Q_bb^-1 Q_bv.
      Matrix Qbb(2, 2), inverse;
      for (int i = 0; i < 2; ++i)
        for (int j = 0; j < 2; ++j) Qbb(i, j) = Qvv(2 * b + i, 2 * b + j);
      if (!invertSymmetric(Qbb, inverse)) break;
      Matrix G(2 * n, 2);  // Q_vb Q_bb^-1
      for (int row = 0; row < 2 * n; ++row)
        for (int j = 0; j < 2; ++j)
          G(row, j) = Qvv(row, 2 * b) * inverse(0, j) + Qvv(row, 2 * b + 1) * inverse(1, j);
      const double vb[2] = {v[2 * b], v[2 * b + 1]};
      Matrix Qb(2, 2 * n);
      for (int j = 0; j < 2; ++j)
        for (int col = 0; col < 2 * n; ++col) Qb(j, col) = Qvv(2 * b + j, col);
      for (int row = 0; row < 2 * n; ++row) {
        v[row] -= G(row, 0) * vb[0] + G(row, 1) * vb[1];
        for (int col = 0; col < 2 * n; ++col)
          Qvv(row, col) -= G(row, 0) * Qb(0, col) + G(row, 1) * Qb(1, col);
      }
      for (const SnoopedObservation& o : suspects)
        if (o.image == images[b]->id()) kept.push_back(o);
    }
    // The largest w left among the rays not taken.
    for (int row = 0; row < 2 * n; ++row) {
      if (taken[row / 2] || w(row) <= results_.largestUnflaggedW) continue;
      results_.largestUnflaggedW = w(row);
      results_.largestUnflagged = "image " + images[row / 2]->id() + " point " +
                                  rays.front().first->points[rays.front().second].id +
                                  (row % 2 == 0 ? " x" : " y") + ", after the blunder of its point";
    }
    return true;
  }

  static constexpr double kRemovalFactor = 1e4;  // std. dev. factor: weight 1e-8
  static constexpr int kMaxSnoopingPasses = 50;
  // Above this many unknowns a pass of the iteration (a new solution and inversion) costs too much;
  // the suspects of one point are then separated by conditioning instead.
  static constexpr int kMaxUnknownsForSnoopingIteration = 20000;

  QualityResults* snoop_ = nullptr;
  std::vector<SnoopedObservation> confirmed_;
  std::map<int, Matrix> diagonal_;  // cofactor block of each object, by first unknown

  Block& block_;
  NormalSystem& normals_;
  AdjustmentState& state_;
  QualityResults& results_;
  std::ostream* reliability_;
  Vector qdiag_;
};

}  // namespace

void analyseQuality(Block& block, AdjustmentState& state, QualityResults& results,
                    std::ostream* reliability) {
  if (!state.normals) {
    results = QualityResults{};
    results.failure = "no normal equations.";
    return;
  }
  Analysis(block, state, results, reliability).run();
  state.normals->retainFactor(false);
}

}  // namespace bravik
