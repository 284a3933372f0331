#ifndef BRAVIK_ADJUST_BLOCK_SIMULATION_TEST_SUPPORT_H
#define BRAVIK_ADJUST_BLOCK_SIMULATION_TEST_SUPPORT_H

// Test support: blocks of strips of vertical images over a known terrain, observed with
// Gaussian image noise. The truth is kept next to the block so that the adjusted values
// can be compared with it.

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "blockgen/random.h"
#include "lsq/ls_params.h"
#include "models/block.h"
#include "models/camera.h"
#include "models/ext_orientation.h"

namespace bravik::testing_support {

enum class CameraKind { kFrame, kCCD };

struct SimulationSettings {
  CameraKind camera = CameraKind::kFrame;
  int strips = 2;
  int imagesPerStrip = 4;
  int gridColumns = 24;  // tie-point grid over the block area
  int gridRows = 18;
  double imageNoise = 3e-6;     // m in the image plane
  double pointStdDev = 1e-6;    // stated std. dev. of the image points, m
  double controlStdDev = 0.01;  // stated std. dev. of observed control coordinates, m
  int observedControl = 4;      // control points with observed coordinates (corners)
  int fixedControl = 2;         // control points held fixed (sminu)
  int checkPoints = 2;
  double positionError = 5.0;  // error of the approximate projection centres, m
  double angleError = 0.005;   // error of the approximate angles, rad
  unsigned seed = 4711;
};

struct Truth {
  std::map<std::string, Vec3> points;
  std::map<std::string, std::vector<double>> orientations;  // Xo Yo Zo and three angles
};

struct SimulatedBlock {
  std::unique_ptr<Block> block = std::make_unique<Block>();
  Truth truth;
  int imagePointCount = 0;  // measured image points (two observations each)
  std::vector<std::string> controlIds;
  std::vector<std::string> checkIds;
};

class BlockSimulator {
 public:
  explicit BlockSimulator(SimulationSettings settings)
      : settings_(settings), random_(settings.seed, "engine test block") {}

  SimulatedBlock build() {
    SimulatedBlock result;
    Block& block = *result.block;
    Camera* camera = addCamera(block);
    addOrientations(block, result.truth);
    addTerrainPoints(result.truth);
    observe(block, *camera, result);
    addObjectPoints(block, result);
    return result;
  }

  double flyingHeight() const { return settings_.camera == CameraKind::kFrame ? 1500.0 : 300.0; }

 private:
  double focalLength() const { return settings_.camera == CameraKind::kFrame ? 0.153 : 0.024; }
  double halfFormatX() const { return settings_.camera == CameraKind::kFrame ? 0.115 : 0.012; }
  double halfFormatY() const { return settings_.camera == CameraKind::kFrame ? 0.115 : 0.009; }
  double footprintX() const { return 2 * halfFormatX() * flyingHeight() / focalLength(); }
  double footprintY() const { return 2 * halfFormatY() * flyingHeight() / focalLength(); }
  double base() const { return 0.4 * footprintX(); }          // 60 % forward overlap
  double stripSpacing() const { return 0.7 * footprintY(); }  // 30 % side overlap

  Camera* addCamera(Block& block) {
    std::unique_ptr<Camera> camera;
    if (settings_.camera == CameraKind::kFrame) {
      camera = std::make_unique<Camera>();
      camera->sx = camera->sy = 0.23;
    } else {
      auto ccd = std::make_unique<CameraCCD>();
      ccd->nc = 4000;
      ccd->nr = 3000;
      ccd->sc = ccd->sr = 6e-6;
      ccd->c0 = (ccd->nc - 1) * 0.5;
      ccd->r0 = (ccd->nr - 1) * 0.5;
      ccd->sx = ccd->sc * ccd->nc;
      ccd->sy = ccd->sr * ccd->nr;
      camera = std::move(ccd);
    }
    camera->id_ = "cam1";
    camera->comment = "simulated";
    camera->c = focalLength();
    Camera* raw = camera.get();
    block.cameras.insert(std::move(camera));
    return raw;
  }

  // Strip s uses the first EO class, the others the second one, so that every block mixes
  // two parametrizations.
  std::unique_ptr<ExtOrientation3> makeOrientation(int strip, const std::string& id) const {
    if (settings_.camera == CameraKind::kFrame) {
      if (strip == 0) return std::make_unique<EOAnglesOPKRot>(id);
      return std::make_unique<EOAnglesPOKRot>(id);
    }
    if (strip == 0) return std::make_unique<EOAnglesOPKFix>(id);
    return std::make_unique<EOAnglesPOKRot>(id);
  }

  void addOrientations(Block& block, Truth& truth) {
    for (int strip = 0; strip < settings_.strips; ++strip) {
      for (int k = 0; k < settings_.imagesPerStrip; ++k) {
        const std::string id = "img" + std::to_string(strip) + std::to_string(k);
        auto eo = makeOrientation(strip, id);
        std::vector<double> values = {k * base(),
                                      strip * stripSpacing(),
                                      flyingHeight() + 5.0 * k,
                                      random_.gaussian(0.01),
                                      random_.gaussian(0.01),
                                      random_.gaussian(0.01)};
        truth.orientations[id] = values;
        auto truthEO = makeOrientation(strip, id);
        truthEO->p = values;
        truthEO->refresh();
        truthGeometries_[id] = std::move(truthEO);

        for (int j = 0; j < 3; ++j)
          eo->p[j] = values[j] + random_.gaussian(settings_.positionError);
        for (int j = 3; j < 6; ++j) eo->p[j] = values[j] + random_.gaussian(settings_.angleError);
        for (double& s : eo->s) s = block.settings.smaxu;
        eo->t = 10.0 * (strip * settings_.imagesPerStrip + k);
        eo->refresh();
        block.geometries.insert(std::move(eo));
        block.images.insert(std::make_unique<BundleImage>(id, id, "cam1", nullptr));
      }
    }
  }

  void addTerrainPoints(Truth& truth) {
    const double x0 = -0.3 * footprintX();
    const double x1 = (settings_.imagesPerStrip - 1) * base() + 0.3 * footprintX();
    const double y0 = -0.3 * footprintY();
    const double y1 = (settings_.strips - 1) * stripSpacing() + 0.3 * footprintY();
    for (int r = 0; r < settings_.gridRows; ++r) {
      for (int c = 0; c < settings_.gridColumns; ++c) {
        const double X = x0 + (x1 - x0) * c / (settings_.gridColumns - 1);
        const double Y = y0 + (y1 - y0) * r / (settings_.gridRows - 1);
        truth.points["p" + std::to_string(r * settings_.gridColumns + c)] = {
            X, Y, random_.uniform(-20.0, 20.0)};
      }
    }
  }

  bool projectTruth(const std::string& image, const Vec3& P, double& x, double& y) const {
    double u = 0.0;
    double v = 0.0;
    truthGeometries_.at(image)->projection(P, -focalLength(), u, v);
    x = u;
    y = v;
    return std::fabs(x) < halfFormatX() && std::fabs(y) < halfFormatY();
  }

  void observe(Block& block, const Camera& camera, SimulatedBlock& result) {
    for (BundleImage* image : block.images.items()) image->camera = block.cameras.find("cam1");
    // Keep only the points that at least two images see, so that every point is adjusted.
    std::map<std::string, std::vector<std::pair<BundleImage*, ImagePoint>>> rays;
    for (const auto& [id, P] : result.truth.points) {
      for (BundleImage* image : block.images.items()) {
        double x = 0.0;
        double y = 0.0;
        if (!projectTruth(image->id(), P, x, y)) continue;
        ImagePoint point;
        point.id = id;
        const double noiseX = random_.gaussian(settings_.imageNoise);
        const double noiseY = random_.gaussian(settings_.imageNoise);
        camera.imageToCamera(x + noiseX, y + noiseY, point.x, point.y);
        double sx = 0.0;
        double sy = 0.0;
        camera.scaleStdDevs(1.0, 1.0, sx, sy);  // image units per camera unit
        point.sx = settings_.pointStdDev / sx;
        point.sy = settings_.pointStdDev / sy;
        rays[id].push_back({image, point});
      }
    }
    for (auto it = result.truth.points.begin(); it != result.truth.points.end();) {
      if (rays[it->first].size() < 2) {
        it = result.truth.points.erase(it);
        continue;
      }
      for (auto& [image, point] : rays[it->first]) {
        image->insertPoint(point);
        ++result.imagePointCount;
      }
      ++it;
    }
  }

  // Control and check points are the tie points nearest to chosen places; the others get
  // no object-coordinate record and are created and intersected by the engine.
  std::string nearestPoint(const Truth& truth, double X, double Y,
                           const std::vector<std::string>& taken) const {
    std::string best;
    double bestDistance = 1e300;
    for (const auto& [id, P] : truth.points) {
      if (std::find(taken.begin(), taken.end(), id) != taken.end()) continue;
      const double d = std::hypot(P[0] - X, P[1] - Y);
      if (d < bestDistance) {
        bestDistance = d;
        best = id;
      }
    }
    return best;
  }

  void addObjectPoints(Block& block, SimulatedBlock& result) {
    const double xMax = (settings_.imagesPerStrip - 1) * base();
    const double yMax = (settings_.strips - 1) * stripSpacing();
    const double places[6][2] = {{0, 0},       {xMax, 0},     {0, yMax},
                                 {xMax, yMax}, {xMax / 2, 0}, {xMax / 2, yMax}};
    std::vector<std::string> taken;
    const LSParams& settings = block.settings;
    const int control = settings_.observedControl + settings_.fixedControl;
    for (int i = 0; i < control; ++i) {
      const std::string id = nearestPoint(result.truth, places[i][0], places[i][1], taken);
      taken.push_back(id);
      auto point = std::make_unique<ObjectPoint>(id, block.settings);
      const bool observed = i < settings_.observedControl;
      for (int k = 0; k < 3; ++k) {
        point->xyz[k] = result.truth.points[id][k] +
                        (observed ? random_.gaussian(settings_.controlStdDev) : 0.0);
        point->sdev[k] = observed ? settings_.controlStdDev : settings.sminu;
      }
      point->type = kPointControl;
      point->coordinatesGiven = true;
      result.controlIds.push_back(id);
      block.objectPoints.insert(std::move(point));
    }
    for (int i = 0; i < settings_.checkPoints; ++i) {
      const double X = xMax * (i + 1) / (settings_.checkPoints + 1);
      const std::string id = nearestPoint(result.truth, X, yMax / 2, taken);
      taken.push_back(id);
      auto point = std::make_unique<ObjectPoint>(id, block.settings);
      point->xyz = result.truth.points[id];
      point->sdev = {settings.smaxu, settings.smaxu, settings.smaxu};
      point->type = kPointCheck;
      point->coordinatesGiven = true;
      point->checkComponents = {true, true, true};
      result.checkIds.push_back(id);
      block.objectPoints.insert(std::move(point));
    }
  }

  SimulationSettings settings_;
  // The sample generator's portable stream: the same block with every standard library.
  blockgen::Rng random_;
  std::map<std::string, std::unique_ptr<ExtOrientation3>> truthGeometries_;
};

// DLT coefficients of a camera with principal distance c at X0 whose rotation M maps
// object to image axes: u = -c (m1 (P - X0)) / (m3 (P - X0)), normalised so that the
// denominator is L9 X + L10 Y + L11 Z + 1.
inline std::vector<double> dltOfCamera(const Vec3& X0, double omega, double phi, double c) {
  const double co = std::cos(omega), so = std::sin(omega), cp = std::cos(phi), sp = std::sin(phi);
  const double m[3][3] = {{cp, 0.0, -sp}, {so * sp, co, so * cp}, {co * sp, -so, co * cp}};
  auto dot = [&](int row, const Vec3& v) {
    return m[row][0] * v[0] + m[row][1] * v[1] + m[row][2] * v[2];
  };
  const double d = -dot(2, X0);
  std::vector<double> L(11);
  for (int j = 0; j < 3; ++j) {
    L[j] = -c * m[0][j] / d;
    L[4 + j] = -c * m[1][j] / d;
    L[8 + j] = m[2][j] / d;
  }
  L[3] = c * dot(0, X0) / d;
  L[7] = c * dot(1, X0) / d;
  return L;
}

}  // namespace bravik::testing_support

#endif  // BRAVIK_ADJUST_BLOCK_SIMULATION_TEST_SUPPORT_H
