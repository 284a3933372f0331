// Self-calibration converges to the least-squares solution: on a block with strong lens distortion,
// the engine's own vtpv at the converged unknowns is stationary along every unknown (central
// differences) and no single-unknown perturbation lowers it, for every AP-set class and the
// exterior-orientation classes of the simulated strips; the native and sparse interfaces take the
// same steps on such a block.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "adjust/adjustment.h"
#include "adjust/block_simulation_test_support.h"
#include "lsq/dense_normal_system.h"
#include "lsq/group_products.h"
#include "lsq/ls_params.h"
#include "models/ap_set.h"
#include "models/bundle_image.h"
#include "models/camera.h"
#include "models/ext_orientation.h"
#include "models/image_geometry.h"
#include "models/object_point.h"

namespace bravik {
namespace {

using testing_support::BlockSimulator;
using testing_support::CameraKind;
using testing_support::SimulatedBlock;
using testing_support::SimulationSettings;

// Sums only vtpv, with the engine's own products: l^T (B Q B^T)^-1 l per group, l^T W l per
// constraint block, w l^2 per parameter observation.
class VtpvSum : public NormalSystem {
 public:
  int size() const override { return 0; }
  void reset() override { vtpv_ = 0.0; }
  bool accumulate(const ObservationGroup& group) override {
    if (!products_.compute(group)) return false;
    vtpv_ += products_.vtpv();
    return true;
  }
  void accumulateWeighted(const DesignBlock& block, const Vector& w, const Vector& l) override {
    Matrix pair;
    Vector rhs;
    vtpv_ += weightedProducts(block.A, w, l, pair, rhs);
  }
  void addParameterObservation(int, double w, double l) override { vtpv_ += w * l * l; }
  int solve() override { return 0; }
  const Vector& rhs() const override { return empty_; }
  const Vector& solution() const override { return empty_; }
  double vtpv() const override { return vtpv_; }
  void setVtpv(double value) override { vtpv_ = value; }

 private:
  GroupProducts products_;
  Vector empty_;
  double vtpv_ = 0.0;
};

// The image corner and edge points (reduced coordinates) of a camera's format.
std::vector<std::pair<double, double>> formatOutline(const Camera& camera) {
  std::vector<std::pair<double, double>> points;
  for (double fx : {-0.5, 0.0, 0.5}) {
    for (double fy : {-0.5, 0.0, 0.5}) points.push_back({fx * camera.sx, fy * camera.sy});
  }
  return points;
}

// A set of class `keyword` with all values 0; polynomial sets get a grid width of 0.8 times the
// smaller half format.
std::unique_ptr<APSet> setForCamera(const char* keyword, const Camera& camera) {
  auto set = makeAPSet(keyword);
  if (auto* polynomial = dynamic_cast<APSetP*>(set.get())) {
    polynomial->b = 0.4 * std::min(camera.sx, camera.sy);
  }
  return set;
}

// A set of class `keyword` whose every column has a random share of the effect, scaled so that the
// largest correction over the format outline is `largest` (m); K3 is 0.
std::unique_ptr<APSet> distortionOfSize(const char* keyword, const Camera& camera, double largest,
                                        unsigned seed) {
  auto set = setForCamera(keyword, camera);
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> share(0.5, 1.0);
  const auto outline = formatOutline(camera);
  for (int k = 0; k < set->paramCount(); ++k) {
    double columnSize = 0.0;
    for (const auto& [x, y] : outline) {
      Matrix D;
      set->derivatives(x, y, -camera.c, D);
      columnSize = std::max({columnSize, std::fabs(D(0, k)), std::fabs(D(1, k))});
    }
    const double sign = (random() & 1) != 0 ? 1.0 : -1.0;
    set->a[k] = columnSize > 0.0 ? sign * share(random) / columnSize : 0.0;
    if (set->paramName(k) == "K3") set->a[k] = 0.0;  // held at 0 in the adjustment
  }
  double size = 0.0;
  for (const auto& [x, y] : outline) {
    double dx = 0.0;
    double dy = 0.0;
    set->correction(x, y, -camera.c, dx, dy);
    size = std::max(size, std::hypot(dx, dy));
  }
  for (double& a : set->a) a *= largest / size;
  return set;
}

// Adds the correction of `set` at the ideal coordinates to every measured point, as the engine's
// image model x = xp + u + D(u) a does.
void distortObservations(Block& block, const APSet& set) {
  for (BundleImage* image : block.images.items()) {
    const Camera& camera = *image->camera;
    for (ImagePoint& point : image->points) {
      double x = 0.0;
      double y = 0.0;
      camera.cameraToImage(point.x, point.y, x, y);
      double dx = 0.0;
      double dy = 0.0;
      set.correction(x - camera.xp, y - camera.yp, -camera.c, dx, dy);
      camera.imageToCamera(x + dx, y + dy, point.x, point.y);
    }
  }
}

// Projection centres observed (GPS) at the truth plus noise, so that the principal point and focal
// length can be told from the orientation.
void observeCentres(SimulatedBlock& simulated, double sd) {
  std::mt19937 random(99);
  std::normal_distribution<double> noise(0.0, sd);
  for (ImageGeometry* geometry : simulated.block->geometries.items()) {
    const std::vector<double>& truth = simulated.truth.orientations.at(geometry->id());
    for (int j = 0; j < 3; ++j) {
      geometry->p[j] = truth[j] + noise(random);
      geometry->s[j] = sd;
    }
    geometry->refresh();
  }
}

struct DistortedCase {
  const char* keyword;
  CameraKind camera;
};

// Two strips of four images, 1 um image noise, corner distortion of 2 per mille of the focal length
// (300 um on the 153 mm frame camera, 48 um on the 24 mm CCD camera), a free set of the same class
// attached to the camera. K3 columns are held at 0 as in practice.
SimulatedBlock distortedBlock(const DistortedCase& c) {
  SimulationSettings settings;
  settings.camera = c.camera;
  settings.strips = 2;
  settings.imagesPerStrip = 4;
  settings.gridColumns = 15;
  settings.gridRows = 11;
  settings.imageNoise = 1e-6;
  settings.positionError = 2.0;
  SimulatedBlock simulated = BlockSimulator(settings).build();
  Block& block = *simulated.block;
  const Camera& camera = *block.cameras.find("cam1");
  distortObservations(block, *distortionOfSize(c.keyword, camera, 2e-3 * camera.c, 11));
  observeCentres(simulated, 0.01);

  auto set = setForCamera(c.keyword, camera);
  set->setId("ap1");
  set->cameraId = "cam1";
  for (int k = 0; k < set->paramCount(); ++k) {
    set->s[k] = set->paramName(k) == "K3" ? block.settings.sminu : block.settings.smaxu;
  }
  block.apSets.insert(std::move(set));
  return simulated;
}

// Settings that iterate until the increments are at rounding level.
LSParams convergedSettings() {
  LSParams settings;
  settings.maxIterations = 15;
  settings.critObjectPoints = settings.critProjectionCentres = true;
  settings.limitObjectPoints = settings.limitProjectionCentres = 1e-7;
  settings.limitRotations = 1e-11;
  return settings;
}

class SelfCalibrationTest : public testing::TestWithParam<DistortedCase> {};

// vtpv of the block as the engine accumulates it, kept per ray (an image with one of its points,
// accumulated by the engine like a whole image) so that a change of one unknown re-evaluates only
// the rays it reaches.
class BlockVtpv {
 public:
  explicit BlockVtpv(Block& block) : block_(block) {
    for (const BundleImage* image : block.images.items()) {
      for (const ImagePoint& point : image->points) {
        auto ray = std::make_unique<BundleImage>(image->id(), image->geometryId, image->cameraId,
                                                 image->camera);
        ray->geometry = image->geometry;
        ray->insertPoint(point);
        raysOfPoint_[point.id].push_back(rays_.size());
        rays_.push_back(std::move(ray));
      }
    }
    for (std::size_t k = 0; k < rays_.size(); ++k) perRay_.push_back(rayVtpv(k));
    parameters_ = parameterVtpv();
    total_ = parameters_;
    for (double v : perRay_) total_ += v;
  }

  double total() const { return total_; }

  // vtpv after the unknowns of `object` changed: its rays re-evaluated (all of them for AP sets and
  // corrections), every parameter observation and constraint anew.
  double after(const AdjObject& object) {
    double sum = total_ - parameters_ + parameterVtpv();
    for (std::size_t k : raysReachedBy(object)) sum += rayVtpv(k) - perRay_[k];
    return sum;
  }

 private:
  std::vector<std::size_t> raysReachedBy(const AdjObject& object) const {
    if (object.kind() == AdjKind::kObjectPoint) return raysOfPoint_.at(object.id());
    std::vector<std::size_t> result;
    for (std::size_t k = 0; k < rays_.size(); ++k) {
      if (object.kind() != AdjKind::kExtOrientation || rays_[k]->geometry == &object) {
        result.push_back(k);
      }
    }
    return result;
  }
  double rayVtpv(std::size_t k) const {
    VtpvSum sum;
    int observations = 0;
    EXPECT_EQ(rays_[k]->addToNormals(sum, block_.objectPoints, block_.settings, observations), 1);
    return sum.vtpv();
  }
  double parameterVtpv() const {
    VtpvSum sum;
    block_.adjObjects.addConstraints(sum, block_.settings);
    block_.adjObjects.addParameterObservations(sum);
    return sum.vtpv();
  }

  Block& block_;
  std::vector<std::unique_ptr<BundleImage>> rays_;
  std::vector<double> perRay_;
  std::map<std::string, std::vector<std::size_t>> raysOfPoint_;
  double parameters_ = 0.0;
  double total_ = 0.0;
};

void refreshGeometries(Block& block) {
  for (ImageGeometry* geometry : block.geometries.items()) geometry->refresh();
}

struct Minimality {
  double worstGradient = 0.0;  // largest |g_i| / (2 sqrt(N_ii vtpv))
  std::string worstUnknown;
  int checked = 0;  // unknowns that are not eliminated
};

// Checks, for every unknown that is not eliminated, that vtpv rises on both sides of the adjusted
// value and that the parabola through the three values has its minimum there to rounding; returns
// the largest relative gradient. `N` is the normal matrix of the last iteration (for the step
// sizes).
Minimality checkMinimality(Block& block, const Matrix& N) {
  BlockVtpv vtpv(block);
  const double f0 = vtpv.total();
  Minimality result;
  EXPECT_GT(f0, 0.0);
  // Each unknown is moved by h, chosen so that vtpv grows by about t^2 f0: small enough that the
  // model is quadratic over the step (the third-order error of the gradient falls with t^2), large
  // enough that the rounding of vtpv does not matter. The gradient g is compared with its scale 2
  // sqrt(N_ii f0), the largest |g| a residual vector of size f0 could give along unknown i.
  const double t = 1e-3;
  for (const AdjObject* object : block.adjObjects.objects()) {
    const auto& slots = object->slots();
    for (int k = 0; k < static_cast<int>(slots.size()); ++k) {
      if (slots[k].state == ParamState::kEliminated) continue;
      const int i = object->firstUnknown() + k;
      const double h = t * std::sqrt(f0 / N[i][i]);
      const double saved = *slots[k].value;
      auto vtpvAt = [&](double value) {
        *slots[k].value = value;
        refreshGeometries(block);
        const double f = vtpv.after(*object);
        *slots[k].value = saved;
        refreshGeometries(block);
        return f;
      };
      const double plus = vtpvAt(saved + h);
      const double minus = vtpvAt(saved - h);
      const std::string name = object->id() + "." + object->paramName(k);
      EXPECT_GT(plus, f0) << name;
      EXPECT_GT(minus, f0) << name;
      const double gradient = (plus - minus) / (2 * h);
      const double curvature = (plus + minus - 2 * f0) / (2 * h * h);  // N_ii
      const double relative = std::fabs(gradient) / (2 * std::sqrt(curvature * f0));
      // The perturbation that lowers vtpv most along this unknown (the vertex of the parabola)
      // lowers it by relative^2 f0: far below rounding once the gradient vanishes.
      EXPECT_GE(vtpvAt(saved - gradient / (2 * curvature)), f0 * (1 - 1e-10)) << name;
      if (!(relative <= result.worstGradient)) {
        result.worstGradient = relative;
        result.worstUnknown = name;
      }
      ++result.checked;
    }
  }
  return result;
}

const Matrix& lastNormalMatrix(const Adjustment& adjustment) {
  static const Matrix kNone;
  const auto* dense = dynamic_cast<const DenseNormalSystem*>(adjustment.state().normals.get());
  EXPECT_NE(dense, nullptr);
  return dense != nullptr ? dense->matrix() : kNone;
}

TEST_P(SelfCalibrationTest, ConvergedUnknownsMinimiseTheEnginesVtpv) {
  SimulatedBlock simulated = distortedBlock(GetParam());
  Block& block = *simulated.block;
  block.settings = convergedSettings();
  Adjustment adjustment(block);
  std::ostringstream report;
  ASSERT_EQ(adjustment.initialize(report), 1) << report.str();
  ASSERT_EQ(adjustment.iterate(report), 1) << report.str();
  ASSERT_TRUE(adjustment.state().converged) << report.str();
  // sigma 0 of the converged block is that of the simulated noise.
  EXPECT_NEAR(adjustment.state().sigma0 / 1e-6, 1.0, 0.15);

  const Minimality minimality = checkMinimality(block, lastNormalMatrix(adjustment));
  EXPECT_GT(minimality.checked, 300);
  EXPECT_LT(minimality.worstGradient, 1e-6) << "at " << minimality.worstUnknown;
}

INSTANTIATE_TEST_SUITE_P(EveryApSetClass, SelfCalibrationTest,
                         testing::Values(DistortedCase{"gap", CameraKind::kFrame},
                                         DistortedCase{"australis", CameraKind::kCCD},
                                         DistortedCase{"p12", CameraKind::kFrame},
                                         DistortedCase{"p44", CameraKind::kFrame},
                                         DistortedCase{"inner-or", CameraKind::kCCD},
                                         DistortedCase{"radial-dist", CameraKind::kFrame},
                                         DistortedCase{"decentering-dist", CameraKind::kCCD},
                                         DistortedCase{"in-plane-dist", CameraKind::kFrame},
                                         DistortedCase{"out-of-plane-dist", CameraKind::kCCD}),
                         [](const testing::TestParamInfo<DistortedCase>& info) {
                           std::string name = info.param.keyword;
                           std::replace(name.begin(), name.end(), '-', '_');
                           return name +
                                  (info.param.camera == CameraKind::kFrame ? "_frame" : "_ccd");
                         });

// One image of a calibration field (fixed points with 2 m of depth, 5 m away) through a 100 mm lens
// whose radial distortion is 1 mm at the corners in K1 and -0.5 mm in a K2 the adjustment does not
// model (a consumer lens): the exterior orientation and K1 are free. The unmodelled part leaves
// residuals of tens of micrometres, and with them the largest effect of a Jacobian that misses the
// distortion.
void buildCalibrationField(Block& block) {
  block.options.singleRay = true;
  auto camera = std::make_unique<Camera>();
  camera->id_ = "cam1";
  camera->c = 0.1;
  camera->sx = camera->sy = 0.1;
  Camera* cam = camera.get();
  block.cameras.insert(std::move(camera));

  EOAnglesOPKRot truthEO("truth");
  truthEO.p = {0.2, -0.1, 5.0, 0.02, -0.03, 0.1};
  truthEO.refresh();
  auto eo = std::make_unique<EOAnglesOPKRot>("s1");
  eo->p = {0.25, -0.05, 5.1, 0.03, -0.02, 0.09};
  for (double& sd : eo->s) sd = block.settings.smaxu;
  eo->refresh();
  block.geometries.insert(std::move(eo));
  auto image = std::make_unique<BundleImage>("i1", "s1", "cam1", cam);

  const double corner = std::hypot(0.05, 0.05);
  APSetRadial truth;
  truth.a = {1e-3 / std::pow(corner, 3), -5e-4 / std::pow(corner, 5), 0.0};
  std::mt19937 random(21);
  std::normal_distribution<double> noise(0.0, 1e-6);
  std::uniform_real_distribution<double> depth(-1.0, 1.0);
  for (int row = 0; row < 11; ++row) {
    for (int column = 0; column < 11; ++column) {
      const std::string id = "f" + std::to_string(row * 11 + column);
      const Vec3 P{-2.2 + 0.44 * column, -2.2 + 0.44 * row, depth(random)};
      double u = 0.0;
      double v = 0.0;
      truthEO.projection(P, -cam->c, u, v);
      if (std::fabs(u) > 0.05 || std::fabs(v) > 0.05) continue;
      double dx = 0.0;
      double dy = 0.0;
      truth.correction(u, v, -cam->c, dx, dy);
      image->insertPoint({id, u + dx + noise(random), v + dy + noise(random), 1e-6, 1e-6});
      auto point = std::make_unique<ObjectPoint>(id, block.settings);
      point->xyz = P;
      point->sdev = {block.settings.sminu, block.settings.sminu, block.settings.sminu};
      point->type = kPointControl;
      point->coordinatesGiven = true;
      block.objectPoints.insert(std::move(point));
    }
  }
  block.images.insert(std::move(image));

  auto radial = std::make_unique<APSetRadial>();
  radial->setId("ap1");
  radial->cameraId = "cam1";
  radial->s = {block.settings.smaxu, block.settings.sminu, block.settings.sminu};
  block.apSets.insert(std::move(radial));
}

TEST_F(SelfCalibrationTest, UnmodelledDistortionOfOneImageStillEndsAtTheMinimum) {
  Block block(convergedSettings());
  buildCalibrationField(block);
  Adjustment adjustment(block);
  std::ostringstream report;
  ASSERT_EQ(adjustment.initialize(report), 1) << report.str();
  ASSERT_EQ(adjustment.iterate(report), 1) << report.str();
  ASSERT_TRUE(adjustment.state().converged) << report.str();
  EXPECT_GT(adjustment.state().sigma0,
            3e-6);  // the unmodelled K2 dominates the residuals

  const Minimality minimality = checkMinimality(block, lastNormalMatrix(adjustment));
  EXPECT_EQ(minimality.checked, 7);
  EXPECT_LT(minimality.worstGradient, 1e-6) << "at " << minimality.worstUnknown;
}

struct Values {
  std::vector<double> values;  // every parameter of every object, in list order
  std::vector<int> owner;      // the object each value belongs to
};

Values adjustedValues(AdjustmentInterface interface, int iterations) {
  SimulatedBlock simulated = distortedBlock({"gap", CameraKind::kFrame});
  simulated.block->settings.adjustmentInterface = interface;
  simulated.block->settings.maxIterations = iterations;
  Adjustment adjustment(*simulated.block);
  std::ostringstream report;
  EXPECT_EQ(adjustment.initialize(report), 1) << report.str();
  EXPECT_EQ(adjustment.iterate(report), 1) << report.str();
  Values result;
  int owner = 0;
  for (const AdjObject* object : simulated.block->adjObjects.objects()) {
    for (const ParamSlot& slot : object->slots()) {
      result.values.push_back(*slot.value);
      result.owner.push_back(owner);
    }
    ++owner;
  }
  return result;
}

// Steps are compared relative to the largest first step of their object: later steps shrink to the
// rounding both solvers carry along.
TEST(SelfCalibrationInterfacesTest, NativeAndSparseTakeTheSameStepsOnADistortedBlock) {
  Values dense = adjustedValues(AdjustmentInterface::kNative, 0);
  Values sparse = dense;
  std::vector<double> scale;
  for (int k = 1; k <= 4; ++k) {
    const Values nextDense = adjustedValues(AdjustmentInterface::kNative, k);
    const Values nextSparse = adjustedValues(AdjustmentInterface::kSparse, k);
    ASSERT_EQ(nextDense.values.size(), nextSparse.values.size());
    const std::size_t n = dense.values.size();
    if (k == 1) {
      std::vector<double> largest(dense.owner.back() + 1, 0.0);
      for (std::size_t i = 0; i < n; ++i) {
        double& value = largest[dense.owner[i]];
        value = std::max(value, std::fabs(nextDense.values[i] - dense.values[i]));
      }
      for (std::size_t i = 0; i < n; ++i) scale.push_back(largest[dense.owner[i]]);
    }
    for (std::size_t i = 0; i < n; ++i) {
      const double denseStep = nextDense.values[i] - dense.values[i];
      const double sparseStep = nextSparse.values[i] - sparse.values[i];
      ASSERT_NEAR(sparseStep, denseStep, 1e-9 * scale[i] + 1e-300)
          << "iteration " << k << ", value " << i;
    }
    dense = nextDense;
    sparse = nextSparse;
  }
}

}  // namespace
}  // namespace bravik
