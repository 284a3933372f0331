#include "ssba/ssba.h"

#include <gtest/gtest.h>

#include <Eigen/Geometry>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>

#include "photogrammetry/orientation.h"

namespace {

constexpr double kFocal = 3000.0;  // pixels
constexpr double kCx = 1510.0, kCy = 990.0;
constexpr int kWidth = 3000, kHeight = 2000;
constexpr double kPi = 3.14159265358979323846;
// Map-sized coordinates, as the callers pass them after subtracting nothing but a rough origin.
const Eigen::Vector3d kOrigin(500000.0, 5000000.0, 200.0);

// A block of 3 strips x 6 images at 300 m over gently rolling ground, the truth of every camera and
// point, and measurements made with nvc::COrientation::Pt3dToPix: a block that NVSSBA fits only if
// its projection agrees with the orientation's.
struct Block {
  std::vector<nvc::COrientation> truth_cameras;
  std::vector<Eigen::Vector3d> truth_points;  // one per point of `points`
  std::vector<CSSBAPoint> points;             // control points first when the block has any
  std::vector<NVSSBACameraParams> cameras;
  std::vector<char> outlier;  // per point: one measurement carries a gross error
  int n_control = 0;

  std::vector<CSSBAPoint*> Pointers() {
    std::vector<CSSBAPoint*> p;
    for (CSSBAPoint& point : points) p.push_back(&point);
    return p;
  }
};

struct BlockOptions {
  double noise_px = 0.0;
  double outlier_share = 0.0;
  int n_control = 0;
  bool perturb = false;
  unsigned seed = 7;
};

nvc::COrientation MakeCamera(const Eigen::Vector3d& centre, const Eigen::Vector3d& angles) {
  nvc::COrientation o;
  o.SetInterior(kFocal, kCx, kCy, kWidth, kHeight, 0.004);
  o.SetN(centre);
  o.SetRotMat(FromEulerAnglesXYZ(angles[0], angles[1], angles[2]));
  return o;
}

NVSSBACameraParams Record(int number, const Eigen::Vector3d& centre, const Eigen::Matrix3d& r) {
  NVSSBACameraParams c;
  c.camera_number = number;
  for (int i = 0; i < 3; ++i) c.centre[i] = centre[i];
  for (int i = 0; i < 9; ++i) c.rotation[i] = r(i / 3, i % 3);
  return c;
}

Eigen::Vector3d CentreOf(const NVSSBACameraParams& c) {
  return {c.centre[0], c.centre[1], c.centre[2]};
}
Eigen::Matrix3d RotationOf(const NVSSBACameraParams& c) {
  return Eigen::Map<const Eigen::Matrix<double, 3, 3, Eigen::RowMajor>>(c.rotation);
}
Eigen::Vector3d PositionOf(const CSSBAPoint& p) { return {p.X, p.Y, p.Z}; }

double AngleBetween(const Eigen::Matrix3d& a, const Eigen::Matrix3d& b) {
  return Eigen::AngleAxisd(a.transpose() * b).angle();
}

// One measurement of share x (number of points) tie points displaced by 10 to 50 px. Two rays
// cannot show an error along their epipolar line, so the errors go to points with three or more
// measurements, where they are detectable at all.
void AddGrossErrors(double share, std::mt19937& random, Block* block) {
  std::uniform_real_distribution<double> uniform(0.0, 1.0);
  block->outlier.assign(block->points.size(), 0);
  std::vector<size_t> eligible;
  for (size_t i = block->n_control; i < block->points.size(); ++i)
    if (block->points[i].measurements.size() >= 3) eligible.push_back(i);
  std::shuffle(eligible.begin(), eligible.end(), random);
  const size_t count = std::lround(share * static_cast<double>(block->points.size()));
  ASSERT_GE(eligible.size(), count);
  for (size_t n = 0; n < count; ++n) {
    CSSBAPoint& point = block->points[eligible[n]];
    const double size = 10.0 + 40.0 * uniform(random), direction = 2.0 * kPi * uniform(random);
    CSSBAColl& m = point.measurements[random() % point.measurements.size()];
    m.x += size * std::cos(direction);
    m.y += size * std::sin(direction);
    block->outlier[eligible[n]] = 1;
  }
}

Block MakeBlock(const BlockOptions& options) {
  std::mt19937 random(options.seed);
  std::normal_distribution<double> gauss(0.0, 1.0);
  std::uniform_real_distribution<double> uniform(0.0, 1.0);
  Block block;
  // Camera numbers are not slots: 10, 11, ... as project image indices would be.
  for (int strip = 0; strip < 3; ++strip) {
    for (int i = 0; i < 6; ++i) {
      const double kappa = strip == 1 ? kPi : 0.0;  // the middle strip flies back
      const Eigen::Vector3d angles(0.02 * gauss(random), 0.02 * gauss(random),
                                   kappa + 0.03 * gauss(random));
      const Eigen::Vector3d centre =
          kOrigin + Eigen::Vector3d(100.0 * i, 130.0 * strip, 300.0 + 3.0 * gauss(random));
      block.truth_cameras.push_back(MakeCamera(centre, angles));
    }
  }
  for (int i = 0; i < 700; ++i) {
    const double x = -100.0 + 700.0 * uniform(random), y = -80.0 + 420.0 * uniform(random);
    block.truth_points.push_back(
        kOrigin + Eigen::Vector3d(x, y, 15.0 * std::sin(x / 90.0) * std::cos(y / 70.0)));
  }
  // Control points: spread over the block, the first ones in the list.
  std::vector<Eigen::Vector3d> control;
  for (int i = 0; i < options.n_control; ++i)
    control.push_back(kOrigin + Eigen::Vector3d(50.0 + 400.0 * (i % 3) / 2.0,
                                                20.0 + 220.0 * (i / 3), 5.0 * (i % 2)));
  std::vector<Eigen::Vector3d> candidates = std::move(block.truth_points);
  candidates.insert(candidates.begin(), control.begin(), control.end());
  block.truth_points.clear();  // from here on: one per kept point

  for (size_t index = 0; index < candidates.size(); ++index) {
    const Eigen::Vector3d& truth = candidates[index];
    const bool is_control = static_cast<int>(index) < options.n_control;
    CSSBAPoint point;
    for (size_t c = 0; c < block.truth_cameras.size(); ++c) {
      const Eigen::Vector2d pixel = block.truth_cameras[c].Pt3dToPix(truth);
      if (!(pixel.x() > 0 && pixel.x() < kWidth && pixel.y() > 0 && pixel.y() < kHeight)) continue;
      point.measurements.emplace_back(static_cast<int>(10 + c), 0,
                                      pixel.x() + options.noise_px * gauss(random),
                                      pixel.y() + options.noise_px * gauss(random));
    }
    if (point.measurements.size() < 2) {
      if (is_control) ADD_FAILURE() << "control point " << index << " is not seen twice";
      continue;
    }
    const Eigen::Vector3d start =
        options.perturb && !is_control
            ? truth + Eigen::Vector3d(gauss(random), gauss(random), 2.0 * gauss(random))
            : truth;
    point.X = start.x();
    point.Y = start.y();
    point.Z = start.z();
    if (is_control) {
      point.xy_variance = 1e-4;
      point.z_variance = 4e-4;
    }
    point.point_index = static_cast<int>(block.points.size());
    block.points.push_back(point);
    block.truth_points.push_back(truth);
  }
  block.n_control = options.n_control;
  AddGrossErrors(options.outlier_share, random, &block);

  for (size_t c = 0; c < block.truth_cameras.size(); ++c) {
    const nvc::COrientation& truth = block.truth_cameras[c];
    Eigen::Vector3d centre = truth.GetN();
    Eigen::Matrix3d rotation = truth.GetRotMat();
    if (options.perturb) {
      centre += Eigen::Vector3d(2.0 * gauss(random), 2.0 * gauss(random), 2.0 * gauss(random));
      rotation = rotation * FromEulerAnglesXYZ(0.01 * gauss(random), 0.01 * gauss(random),
                                               0.01 * gauss(random));
    }
    block.cameras.push_back(Record(static_cast<int>(10 + c), centre, rotation));
  }
  return block;
}

const double kCameraMatrix[9] = {kFocal, 0, kCx, 0, kFocal, kCy, 0, 0, 1};

struct Result {
  double average;
  int state;
};

Result Adjust(Block& block, int mode, double threshold = 2.0, int min_iterations = 0) {
  std::vector<CSSBAPoint*> pointers = block.Pointers();
  int state = 0;
  const double average =
      NVSSBA(kCameraMatrix, pointers, block.cameras, mode, threshold, min_iterations, 100, 1e-5,
             state, nullptr, nullptr, nullptr, nullptr, nullptr, block.n_control, 0, 2.0, nullptr,
             nullptr, nullptr);
  return {average, state};
}

// The similarity that maps the adjusted centres onto the true ones: the datum of a free network is
// arbitrary, its shape is what the adjustment recovers.
Eigen::Matrix4d FitToTruth(const Block& block) {
  Eigen::Matrix3Xd from(3, block.cameras.size()), to(3, block.cameras.size());
  for (size_t c = 0; c < block.cameras.size(); ++c) {
    from.col(c) = CentreOf(block.cameras[c]);
    to.col(c) = block.truth_cameras[c].GetN();
  }
  return Eigen::umeyama(from, to, true);
}

Eigen::Vector3d Move(const Eigen::Matrix4d& s, const Eigen::Vector3d& p) {
  return s.topLeftCorner<3, 3>() * p + s.topRightCorner<3, 1>();
}

TEST(NVSSBA, ExactMeasurementsOfTheTruthAreFittedToMachinePrecision) {
  // Measurements from COrientation::Pt3dToPix of cameras with tilts, a reversed strip and an
  // off-centre principal point: any difference in the projection convention shows here.
  Block block = MakeBlock({});
  const Block before = block;
  const Result result = Adjust(block, -2);
  ASSERT_GE(result.average, 0.0);
  EXPECT_LT(result.average, 1e-6);
  EXPECT_EQ(result.state, 0);
  for (size_t c = 0; c < block.cameras.size(); ++c)
    EXPECT_LT((CentreOf(block.cameras[c]) - CentreOf(before.cameras[c])).norm(), 1e-5);
  for (size_t i = 0; i < block.points.size(); ++i) {
    EXPECT_NE(block.points[i].point_index, -1);
    EXPECT_LT((PositionOf(block.points[i]) - PositionOf(before.points[i])).norm(), 1e-5);
  }
}

TEST(NVSSBA, RecoversANoisyBlockAndRejectsTheGrossErrors) {
  Block block = MakeBlock({.noise_px = 0.3, .outlier_share = 0.05, .perturb = true});
  const Result result = Adjust(block, -1);
  ASSERT_GE(result.average, 0.0);
  // Mean length of a 2-D residual with 0.3 px per axis is 0.3 * sqrt(pi / 2) =
  // 0.38 px, a little less after the fit has absorbed its share.
  EXPECT_GT(result.average, 0.25);
  EXPECT_LT(result.average, 0.42);

  int outliers = 0, outliers_rejected = 0, good = 0, good_rejected = 0;
  for (size_t i = 0; i < block.points.size(); ++i) {
    const bool rejected = block.points[i].point_index == -1;
    if (block.outlier[i]) {
      ++outliers;
      outliers_rejected += rejected;
    } else {
      ++good;
      good_rejected += rejected;
    }
  }
  ASSERT_GT(outliers, 10);
  EXPECT_EQ(outliers_rejected, outliers);
  EXPECT_LE(good_rejected, good / 100);
  EXPECT_EQ(result.state, outliers_rejected + good_rejected);

  // Over gentle relief a projection centre and its attitude are strongly correlated: with 0.3 px
  // noise (1e-4 rad a ray) the free network of this block is good to about 0.2 m and 0.05 deg per
  // camera (the errors scale with the noise); a wrong model would miss by metres.
  const Eigen::Matrix4d fit = FitToTruth(block);
  const Eigen::Matrix3d fit_rotation =
      fit.topLeftCorner<3, 3>() / std::cbrt(fit.topLeftCorner<3, 3>().determinant());
  for (size_t c = 0; c < block.cameras.size(); ++c) {
    EXPECT_LT((Move(fit, CentreOf(block.cameras[c])) - block.truth_cameras[c].GetN()).norm(), 0.4);
    EXPECT_LT(AngleBetween(fit_rotation * RotationOf(block.cameras[c]),
                           block.truth_cameras[c].GetRotMat()),
              0.1 * kPi / 180.0);
  }
  for (size_t i = 0; i < block.points.size(); ++i) {
    if (block.points[i].point_index == -1) continue;
    EXPECT_LT((Move(fit, PositionOf(block.points[i])) - block.truth_points[i]).norm(), 0.5) << i;
  }
}

TEST(NVSSBA, FreeNetworkDatum) {
  // Mode -2 holds the first camera and the distance to the farthest one; mode
  // -1 leaves the adjusted centres where no similarity transform would fit them better to the given
  // ones.
  for (int mode : {-2, -1}) {
    Block block = MakeBlock({.noise_px = 0.3, .perturb = true, .seed = 11});
    const Block before = block;
    ASSERT_GE(Adjust(block, mode).average, 0.0);
    Eigen::Vector3d mean_before = Eigen::Vector3d::Zero(), mean_after = Eigen::Vector3d::Zero();
    for (size_t c = 0; c < block.cameras.size(); ++c) {
      mean_before += CentreOf(before.cameras[c]) / block.cameras.size();
      mean_after += CentreOf(block.cameras[c]) / block.cameras.size();
    }
    // Stationarity of sum |given - (s R adjusted + t)|^2 at s = 1, R = I, t = 0: no shift, no scale
    // and no rotation would bring the adjusted centres closer to the given ones.
    double scale_gradient = 0.0, spread = 0.0;
    Eigen::Vector3d rotation_gradient = Eigen::Vector3d::Zero();
    for (size_t c = 0; c < block.cameras.size(); ++c) {
      const Eigen::Vector3d a = CentreOf(block.cameras[c]) - mean_after;
      const Eigen::Vector3d g = CentreOf(before.cameras[c]) - mean_before;
      scale_gradient += (g - a).dot(a);
      rotation_gradient += a.cross(g);
      spread += a.squaredNorm();
    }
    if (mode == -2) {
      EXPECT_LT((CentreOf(block.cameras[0]) - CentreOf(before.cameras[0])).norm(), 1e-9);
      EXPECT_LT(AngleBetween(RotationOf(block.cameras[0]), RotationOf(before.cameras[0])), 1e-12);
      double far_before = 0.0, far_after = 0.0;
      for (size_t c = 1; c < block.cameras.size(); ++c) {
        far_before = std::max(far_before,
                              (CentreOf(before.cameras[c]) - CentreOf(before.cameras[0])).norm());
        far_after =
            std::max(far_after, (CentreOf(block.cameras[c]) - CentreOf(block.cameras[0])).norm());
      }
      EXPECT_NEAR(far_after, far_before, 1e-6);
    } else {
      EXPECT_LT((mean_after - mean_before).norm(), 1e-6);
      EXPECT_LT(std::abs(scale_gradient), 1e-9 * spread);
      EXPECT_LT(rotation_gradient.norm(), 1e-9 * spread);
    }
  }
}

TEST(NVSSBA, ControlPointsPutTheBlockOnTheirCoordinates) {
  Block block = MakeBlock({.noise_px = 0.3, .n_control = 6, .perturb = true, .seed = 3});
  // Start the whole block 20 m off, turned by 1 degree and 1 % too large, as an approximate
  // georeference would; the control points keep their surveyed coordinates.
  const Eigen::Matrix3d turn = FromEulerAnglesXYZ(0.0, 0.0, kPi / 180.0);
  auto displace = [&](const Eigen::Vector3d& p) {
    return Eigen::Vector3d(kOrigin + 1.01 * turn * (p - kOrigin) + Eigen::Vector3d(20, -15, 5));
  };
  for (NVSSBACameraParams& c : block.cameras) {
    block.cameras[&c - &block.cameras[0]] =
        Record(c.camera_number, displace(CentreOf(c)), turn * RotationOf(c));
  }
  for (size_t i = block.n_control; i < block.points.size(); ++i) {
    const Eigen::Vector3d p = displace(PositionOf(block.points[i]));
    block.points[i].X = p.x(), block.points[i].Y = p.y(), block.points[i].Z = p.z();
  }
  // A control point without variance is held exactly.
  block.points[0].xy_variance = block.points[0].z_variance = 0.0;
  const CSSBAPoint held = block.points[0];
  const Result result = Adjust(block, -2);
  ASSERT_GE(result.average, 0.0);
  EXPECT_LT(result.average, 0.42);
  EXPECT_EQ(PositionOf(block.points[0]), PositionOf(held));
  for (size_t c = 0; c < block.cameras.size(); ++c)
    EXPECT_LT((CentreOf(block.cameras[c]) - block.truth_cameras[c].GetN()).norm(), 0.4) << c;
  for (int i = 0; i < block.n_control; ++i)
    EXPECT_LT((PositionOf(block.points[i]) - block.truth_points[i]).norm(), 0.03) << i;
}

Result AdjustWithOptions(Block& block, int mode, const vantri::ssba::NVSSBAOptions& options) {
  std::vector<CSSBAPoint*> pointers = block.Pointers();
  int state = 0;
  const double average =
      NVSSBA(kCameraMatrix, pointers, block.cameras, mode, 2.0, 0, 100, 1e-5, state, nullptr,
             nullptr, nullptr, nullptr, nullptr, block.n_control, 0, 2.0, nullptr, nullptr, nullptr,
             options);
  return {average, state};
}

TEST(NVSSBA, SigmaZeroAndRedundancyOfTheLastSolve) {
  // Free network: 2 per measurement, minus 3 per point and 6 per camera, plus the 7 datum
  // parameters that are held (first camera, scale).
  Block block = MakeBlock({.noise_px = 0.3, .perturb = true, .seed = 5});
  int measurements = 0;
  for (const CSSBAPoint& p : block.points) measurements += static_cast<int>(p.measurements.size());
  const int points = static_cast<int>(block.points.size());
  const int cameras = static_cast<int>(block.cameras.size());
  ASSERT_GE(Adjust(block, -2).average, 0.0);
  const vantri::ssba::NVSSBARunInfo info = vantri::ssba::LastRunInfo();
  EXPECT_EQ(info.redundancy, 2 * measurements - 3 * points - 6 * cameras + 7);
  // 0.3 px per axis of noise; the redundancy is in the thousands, so sigma 0 is close to it.
  EXPECT_NEAR(info.sigma0_px, 0.3, 0.02);
  EXPECT_TRUE(info.converged);

  // With centre priors: 3 more observations per camera and nothing held.
  Block with_priors = MakeBlock({.noise_px = 0.3, .perturb = true, .seed = 5});
  ASSERT_GE(AdjustWithOptions(with_priors, -2, {.centre_sigma_xy = 2.0, .centre_sigma_z = 2.0})
                .average,
            0.0);
  EXPECT_EQ(vantri::ssba::LastRunInfo().redundancy,
            2 * measurements - 3 * points - 6 * cameras + 3 * cameras);

  // A failed call leaves no figures of an earlier one behind.
  Block one_camera = MakeBlock({});
  one_camera.cameras.resize(1);
  EXPECT_LT(Adjust(one_camera, -2).average, 0.0);
  EXPECT_EQ(vantri::ssba::LastRunInfo().redundancy, 0);
  EXPECT_EQ(vantri::ssba::LastRunInfo().sigma0_px, 0.0);
}

TEST(NVSSBA, CentrePriorsGiveTheDatumAndPullTheBlockOntoTheTruth) {
  // GPS-like centres: the truth plus 5 cm per axis; the rotations start 0.6 degrees off and the
  // points metres off. The free network would sit wherever the first camera's GPS error puts it;
  // with the priors the block averages the GPS errors away.
  for (int mode : {-2, -1}) {
    Block block = MakeBlock({.noise_px = 0.3, .perturb = true, .seed = 21});
    std::mt19937 random(99);
    std::normal_distribution<double> gps(0.0, 0.05);
    for (size_t c = 0; c < block.cameras.size(); ++c) {
      const Eigen::Vector3d centre =
          block.truth_cameras[c].GetN() + Eigen::Vector3d(gps(random), gps(random), gps(random));
      block.cameras[c] = Record(block.cameras[c].camera_number, centre, RotationOf(block.cameras[c]));
    }
    const Block given = block;
    ASSERT_GE(AdjustWithOptions(block, mode, {.centre_sigma_xy = 0.05, .centre_sigma_z = 0.05})
                  .average,
              0.0)
        << mode;
    double sum_truth = 0.0, sum_gps = 0.0;
    for (size_t c = 0; c < block.cameras.size(); ++c) {
      const Eigen::Vector3d adjusted = CentreOf(block.cameras[c]);
      sum_truth += (adjusted - block.truth_cameras[c].GetN()).squaredNorm();
      sum_gps += (CentreOf(given.cameras[c]) - block.truth_cameras[c].GetN()).squaredNorm();
      EXPECT_LT((adjusted - block.truth_cameras[c].GetN()).norm(), 0.2) << mode << " " << c;
      EXPECT_LT(AngleBetween(RotationOf(block.cameras[c]), block.truth_cameras[c].GetRotMat()),
                0.05 * kPi / 180.0)
          << mode << " " << c;
    }
    // Closer to the truth than the GPS positions are, and the first camera is not held on its GPS
    // position.
    EXPECT_LT(sum_truth, sum_gps) << mode;
    EXPECT_GT((CentreOf(block.cameras[0]) - CentreOf(given.cameras[0])).norm(), 1e-4) << mode;
  }
}

TEST(NVSSBA, CentrePriorsOnOneStripLeaveTheFreeNetworkDatum) {
  // The first strip only: its centres lie nearly on a line, which fixes no roll about it. The
  // priors are not used; the first camera is held as in a free network and nothing drifts.
  Block block = MakeBlock({.noise_px = 0.3, .perturb = true, .seed = 4});
  block.cameras.resize(6);
  const Block given = block;
  ASSERT_GE(
      AdjustWithOptions(block, -2, {.centre_sigma_xy = 0.05, .centre_sigma_z = 0.05}).average,
      0.0);
  EXPECT_LT(AngleBetween(RotationOf(block.cameras[0]), RotationOf(given.cameras[0])), 1e-12);
  EXPECT_LT((CentreOf(block.cameras[0]) - CentreOf(given.cameras[0])).norm(), 1e-9);
}

// Records compared byte by byte: a failed call must not touch them.
bool SameRecords(const Block& a, const Block& b) {
  if (a.points.size() != b.points.size() || a.cameras.size() != b.cameras.size()) return false;
  for (size_t i = 0; i < a.points.size(); ++i) {
    const CSSBAPoint &p = a.points[i], &q = b.points[i];
    if (std::memcmp(&p.X, &q.X, sizeof(double)) || std::memcmp(&p.Y, &q.Y, sizeof(double)) ||
        std::memcmp(&p.Z, &q.Z, sizeof(double)) || p.point_index != q.point_index)
      return false;
  }
  return std::memcmp(a.cameras.data(), b.cameras.data(),
                     a.cameras.size() * sizeof(NVSSBACameraParams)) == 0;
}

TEST(NVSSBA, DegenerateInputFailsAndChangesNothing) {
  const Block reference = MakeBlock({.noise_px = 0.3, .perturb = true});
  auto expect_refused = [&](Block block, const char* what, int mode = -2, double threshold = 2.0) {
    const Block before = block;
    const Result result = Adjust(block, mode, threshold);
    EXPECT_LT(result.average, 0.0) << what;
    EXPECT_LT(result.state, 0) << what;
    EXPECT_TRUE(SameRecords(block, before)) << what;
  };
  Block no_points = reference;
  no_points.points.clear();
  expect_refused(no_points, "no points");
  Block one_camera = reference;
  one_camera.cameras.resize(1);
  expect_refused(one_camera, "one camera");
  Block nan_point = reference;
  nan_point.points[5].Z = std::nan("");
  expect_refused(nan_point, "non-finite point");
  Block nan_camera = reference;
  nan_camera.cameras[3].rotation[4] = INFINITY;
  expect_refused(nan_camera, "non-finite rotation");
  Block skewed = reference;
  skewed.cameras[2].rotation[0] = 1.5;
  expect_refused(skewed, "not a rotation");
  Block twin = reference;
  twin.cameras[1].camera_number = twin.cameras[0].camera_number;
  expect_refused(twin, "duplicate camera number");
  Block nan_measurement = reference;
  nan_measurement.points[0].measurements[0].x = std::nan("");
  expect_refused(nan_measurement, "non-finite measurement");
  Block unmeasured = reference;
  for (CSSBAPoint& p : unmeasured.points) p.measurements.resize(1);
  expect_refused(unmeasured, "no point measured twice");
  expect_refused(reference, "unknown mode", 0);
  expect_refused(reference, "zero threshold", -2, 0.0);
  Block negative_sigma = reference;
  const Block before_sigma = negative_sigma;
  EXPECT_LT(AdjustWithOptions(negative_sigma, -2, {.centre_sigma_xy = -1.0, .centre_sigma_z = 1.0})
                .average,
            0.0);
  EXPECT_TRUE(SameRecords(negative_sigma, before_sigma));

  Block copy = reference;
  std::vector<CSSBAPoint*> with_null = copy.Pointers();
  with_null.push_back(nullptr);
  std::vector<NVSSBACameraParams> cameras = reference.cameras;
  int state = 0;
  EXPECT_LT(NVSSBA(kCameraMatrix, with_null, cameras, -2, 2.0, 0, 100, 1e-5, state, nullptr,
                   nullptr, nullptr, nullptr, nullptr, 0, 0, 2.0, nullptr, nullptr, nullptr),
            0.0);
}

TEST(NVSSBA, SameInputGivesTheSameBytesAndHonoursTheMinimumIterations) {
  Block first = MakeBlock({.noise_px = 0.3, .outlier_share = 0.05, .perturb = true});
  Block second = first;
  const Result a = Adjust(first, -1, 2.0, 10);
  const Result b = Adjust(second, -1, 2.0, 10);
  EXPECT_EQ(std::memcmp(&a.average, &b.average, sizeof(double)), 0);
  EXPECT_TRUE(SameRecords(first, second));
}

}  // namespace
