// A block with every image-geometry class (the exterior orientations, DLT and affine PMF
// images), an AP set, position and attitude corrections, observed and eliminated parameters
// and a quaternion constraint gives the same increments in every iteration, and the same
// report, through the dense ("native") and the block-sparse ("sparse") adjustment interfaces.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "adjust/adjustment.h"
#include "adjust/block_simulation_test_support.h"
#include "lsq/ls_params.h"
#include "models/ap_set.h"
#include "models/bundle_image.h"
#include "models/camera.h"
#include "models/corrections.h"
#include "models/image_geometry.h"
#include "models/object_point.h"
#include "report/report_sections.h"

namespace bravik {
namespace {

const LSParams kDefaults;  // the settings a run starts with

using testing_support::BlockSimulator;
using testing_support::SimulatedBlock;
using testing_support::SimulationSettings;

// The class that replaces image number `index`; the truth rotation carries over.
std::unique_ptr<ExtOrientation> orientationOfClass(int index, const std::string& id) {
  switch (index % 5) {
    case 0:
      return std::make_unique<EOAnglesOPKRot>(id);
    case 1:
      return std::make_unique<EOAnglesPOKRot>(id);
    case 2:
      return std::make_unique<EOAnglesOPKFix>(id);
    case 3:
      return std::make_unique<EOAustralis>(id);
    default:
      return std::make_unique<EOQuaternion>(id);
  }
}

// The simulator's truth rotation of an image: strip 0 is omega-phi-kappa, the others
// phi-omega-kappa.
Mat3 truthRotation(const std::string& id, const std::vector<double>& values) {
  std::unique_ptr<ExtOrientation3> eo;
  if (id[3] == '0') {
    eo = std::make_unique<EOAnglesOPKRot>(id);
  } else {
    eo = std::make_unique<EOAnglesPOKRot>(id);
  }
  eo->p = values;
  eo->refresh();
  return eo->rotation();
}

// Replaces each geometry by one of another class with the same exposure time, centres
// observed (GPS, 5 cm) and three angles observed (IMU, 0.1 mrad) near the truth; the
// quaternion's parameters stay free.
void mixOrientationClasses(Block& block, const testing_support::Truth& truth) {
  blockgen::Rng random(3, "gps imu");
  int index = 0;
  for (ImageGeometry* geometry : block.geometries.items()) {
    const std::vector<double>& values = truth.orientations.at(geometry->id());
    auto replacement = orientationOfClass(index++, geometry->id());
    const bool angles = dynamic_cast<ExtOrientation3*>(replacement.get()) != nullptr;
    for (int j = 0; j < 3; ++j) {
      replacement->p[j] = values[j] + random.gaussian(0.05);
      replacement->s[j] = 0.05;
    }
    replacement->setRotationMatrix(truthRotation(geometry->id(), values));
    for (int k = 3; k < replacement->paramCount(); ++k) {
      replacement->p[k] += random.gaussian(1e-4);
      replacement->s[k] = angles ? 1e-4 : kDefaults.smaxu;
    }
    replacement->t = geometry->t;
    replacement->refresh();
    block.geometries.insert(std::move(replacement));
  }
}

void addApSet(Block& block) {
  auto gap = std::make_unique<APSetGAP>();
  gap->setId("ap1");
  gap->cameraId = "cam1";
  const double smaxu = kDefaults.smaxu;
  gap->s = {smaxu, smaxu, smaxu, 1e-6, 1e-6, smaxu, smaxu, kDefaults.sminu, smaxu, smaxu};
  block.apSets.insert(std::move(gap));
}

// Per strip a position correction (offset free, drift observed) and an attitude
// correction (constant, observed) on the strip's three-angle orientations.
void addCorrections(Block& block) {
  for (int strip = 0; strip < 2; ++strip) {
    auto position = std::make_unique<PosCorrection>("pc" + std::to_string(strip));
    std::istringstream positionRecord(
        "stop-dep 0 2  0.3 1e31 -0.2 1e31 0.1 1e31  0 0.01 0 0.01 0 0.01");
    position->readRecord(positionRecord);
    auto attitude = std::make_unique<AttCorrection>("ac" + std::to_string(strip));
    std::istringstream attitudeRecord("stop-dep 0 1  0 0.001 0 0.001 0 0.001");
    attitude->readRecord(attitudeRecord);
    for (const ImageGeometry* geometry : block.geometries.items()) {
      if (geometry->id()[3] != '0' + strip) continue;
      position->eoIds.push_back(geometry->id());
      if (dynamic_cast<const ExtOrientation3*>(geometry)) attitude->eoIds.push_back(geometry->id());
    }
    block.posCorrections.insert(std::move(position));
    block.attCorrections.insert(std::move(attitude));
  }
}

// Reduced image coordinates are taken as the image coordinates: a frame camera with its
// principal point at the origin.
Camera* addPlainCamera(Block& block, const std::string& id) {
  auto camera = std::make_unique<Camera>();
  camera->id_ = id;
  camera->c = 0.153;
  camera->sx = camera->sy = 0.23;
  Camera* raw = camera.get();
  block.cameras.insert(std::move(camera));
  return raw;
}

// Affine image of a vertical camera at X0: scale c / H, with a height parallax that grows
// with the distance from the block centre (xc, yc).
std::vector<double> affineOfVerticalCamera(const Vec3& X0, double xc, double yc) {
  const double scale = 0.153 / X0[2];
  return {-scale * X0[0], scale, 0.0,   scale * (X0[0] - xc) / X0[2],
          -scale * X0[1], 0.0,   scale, scale * (X0[1] - yc) / X0[2]};
}

// A sub-block of 2 x 3 images of one list geometry over its own point grid,
// with its own camera. Every point carries an approximation (DLT images cannot intersect);
// every fourth point is an observed control point.
template <typename Geometry>
void addListGeometrySubBlock(Block& block, const std::string& prefix,
                             const std::vector<std::vector<double>>& truthParams,
                             double relativeError, blockgen::Rng& random) {
  auto gauss = [](blockgen::Rng& stream) { return stream.gaussian(); };
  Camera* camera = addPlainCamera(block, "cam" + prefix);
  const double smaxu = kDefaults.smaxu;
  std::vector<std::unique_ptr<Geometry>> truths;
  std::vector<BundleImage*> images;
  for (std::size_t i = 0; i < truthParams.size(); ++i) {
    const std::string id = prefix + std::to_string(i);
    auto truth = std::make_unique<Geometry>(id);
    truth->p = truthParams[i];
    auto geometry = std::make_unique<Geometry>(id);
    for (std::size_t j = 0; j < geometry->p.size(); ++j) {
      geometry->p[j] = truthParams[i][j] * (1.0 + relativeError * gauss(random));
      geometry->s[j] = smaxu;
    }
    geometry->t = 1000.0 + i;
    block.geometries.insert(std::move(geometry));
    auto image = std::make_unique<BundleImage>(id, id, camera->id(), camera);
    images.push_back(image.get());
    block.images.insert(std::move(image));
    truths.push_back(std::move(truth));
  }
  for (int row = 0; row < 8; ++row) {
    for (int column = 0; column < 10; ++column) {
      const std::string id = prefix + "p" + std::to_string(row * 10 + column);
      const Vec3 P{-500.0 + 250.0 * column, -450.0 + 240.0 * row, 20.0 * gauss(random)};
      int rays = 0;
      for (std::size_t i = 0; i < images.size(); ++i) {
        double u = 0.0;
        double v = 0.0;
        truths[i]->projection(P, -0.153, u, v);
        if (std::fabs(u) > 0.115 || std::fabs(v) > 0.115) continue;
        images[i]->insertPoint(
            {id, u + 3e-6 * gauss(random), v + 3e-6 * gauss(random), 1e-6, 1e-6});
        ++rays;
      }
      if (rays < 2) continue;
      auto point = std::make_unique<ObjectPoint>(id, kDefaults);
      const bool control = (row % 2 == 0) && (column % 2 == 0);
      for (int j = 0; j < 3; ++j) {
        point->xyz[j] = P[j] + (control ? 0.01 : 2.0) * gauss(random);
        point->sdev[j] = control ? 0.01 : smaxu;
      }
      point->type = control ? kPointControl : kPointIntersection;
      point->coordinatesGiven = true;
      block.objectPoints.insert(std::move(point));
    }
  }
}

void addDltAndAffineImages(Block& block) {
  blockgen::Rng random(11, "dlt and affine images");
  std::vector<std::vector<double>> dlt;
  std::vector<std::vector<double>> affine;
  for (int strip = 0; strip < 2; ++strip) {
    for (int k = 0; k < 3; ++k) {
      const Vec3 X0{k * 900.0, strip * 1100.0, 1500.0};
      const double omega = random.gaussian(0.01);
      const double phi = random.gaussian(0.01);
      dlt.push_back(testing_support::dltOfCamera(X0, omega, phi, 0.153));
      affine.push_back(affineOfVerticalCamera(X0, 900.0, 550.0));
    }
  }
  addListGeometrySubBlock<DirectLinearTransf>(block, "dlt", dlt, 2e-4, random);
  addListGeometrySubBlock<PMFLinear>(block, "pmf", affine, 2e-4, random);
}

struct Snapshot {
  std::vector<double> values;  // every parameter of every object, in list order
  std::vector<int> owner;      // index of the object each value belongs to
  double sigma0 = 0.0;
  std::string sections;
};

Snapshot adjustMixedBlock(AdjustmentInterface interface, int iterations) {
  SimulationSettings settings;
  settings.imagesPerStrip = 5;
  settings.gridColumns = 18;
  settings.gridRows = 14;
  SimulatedBlock simulated = BlockSimulator(settings).build();
  Block& block = *simulated.block;
  block.settings.adjustmentInterface = interface;
  block.settings.maxIterations = iterations;
  // The default penalty weight (1e10) leaves the quaternion block so ill-conditioned that
  // two exact factorisations differ far above 1e-9; the constraint still binds at 1e4.
  block.settings.weightConstraints = 1e4;
  mixOrientationClasses(block, simulated.truth);
  addApSet(block);
  addCorrections(block);
  addDltAndAffineImages(block);
  Adjustment adjustment(block);
  std::ostringstream report;
  EXPECT_EQ(adjustment.initialize(report), 1) << report.str();
  EXPECT_EQ(adjustment.iterate(report), 1) << report.str();

  Snapshot snapshot;
  snapshot.sigma0 = adjustment.state().sigma0;
  int owner = 0;
  auto keep = [&](auto begin, auto end) {
    for (auto it = begin; it != end; ++it) {
      snapshot.values.push_back(*it);
      snapshot.owner.push_back(owner);
    }
    ++owner;
  };
  for (const ImageGeometry* g : block.geometries.items()) keep(g->p.begin(), g->p.end());
  for (const ObjectPoint* point : block.objectPoints.items()) {
    keep(point->xyz.begin(), point->xyz.end());
  }
  for (const APSet* set : block.apSets.items()) keep(set->a.begin(), set->a.end());
  for (const PosCorrection* c : block.posCorrections.items()) keep(c->c.begin(), c->c.end());
  for (const AttCorrection* c : block.attCorrections.items()) keep(c->c.begin(), c->c.end());
  std::ostringstream sections;
  writeAPSetsSection(block, sections);
  writeExtOrientationsSection(block, sections);
  writeObjectPointsSection(block, sections);
  snapshot.sections = sections.str();
  return snapshot;
}

std::vector<double> steps(const Snapshot& before, const Snapshot& after) {
  std::vector<double> result(after.values.size());
  for (std::size_t i = 0; i < result.size(); ++i) result[i] = after.values[i] - before.values[i];
  return result;
}

// For each value, the largest increment of the object it belongs to: the scale against
// which the difference of two solvers is relative.
std::vector<double> largestStepPerObject(const Snapshot& snapshot,
                                         const std::vector<double>& increments) {
  std::vector<double> largest(snapshot.owner.back() + 1, 0.0);
  for (std::size_t i = 0; i < increments.size(); ++i) {
    double& value = largest[snapshot.owner[i]];
    value = std::max(value, std::fabs(increments[i]));
  }
  std::vector<double> result(increments.size());
  for (std::size_t i = 0; i < increments.size(); ++i) result[i] = largest[snapshot.owner[i]];
  return result;
}

// The comparison is relative to the largest first-iteration increment of each object:
// later increments shrink towards the solvers' rounding, which both carry along. The dense and
// the envelope factorisation round differently; on this block (a quaternion constraint, DLT
// and PMF sub-blocks, AP columns taken at the projections) they agree to about 1.5e-9.
TEST(MixedBlockInterfacesTest, NativeAndSparseGiveTheSameIncrementsInEveryIteration) {
  std::vector<Snapshot> dense;
  std::vector<Snapshot> sparse;
  dense.push_back(adjustMixedBlock(AdjustmentInterface::kNative, 0));
  sparse.push_back(dense.back());
  std::vector<double> scale;
  for (int k = 1; k <= 3; ++k) {
    dense.push_back(adjustMixedBlock(AdjustmentInterface::kNative, k));
    sparse.push_back(adjustMixedBlock(AdjustmentInterface::kSparse, k));
    ASSERT_EQ(dense[k].values.size(), sparse[k].values.size());
    const std::vector<double> denseSteps = steps(dense[k - 1], dense[k]);
    const std::vector<double> sparseSteps = steps(sparse[k - 1], sparse[k]);
    if (k == 1) scale = largestStepPerObject(dense[k], denseSteps);
    for (std::size_t i = 0; i < denseSteps.size(); ++i) {
      ASSERT_NEAR(sparseSteps[i], denseSteps[i], 3e-9 * scale[i] + 1e-300)
          << "iteration " << k << ", value " << i;
    }
    EXPECT_NEAR(sparse[k].sigma0, dense[k].sigma0, 1e-9 * dense[k].sigma0) << "iteration " << k;
  }
  EXPECT_EQ(sparse.back().sections, dense.back().sections);
}

}  // namespace
}  // namespace bravik
