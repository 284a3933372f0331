#ifndef BRAVIK_ADJUST_TINY_BLOCK_TEST_SUPPORT_H
#define BRAVIK_ADJUST_TINY_BLOCK_TEST_SUPPORT_H

// Test support: a hand-made block of vertical frame images in one strip (c = 0.1 m,
// flying height 1000 m, base 300 m, all angles 0) whose image points are exact
// projections of given object points, so that intersections and residuals are known.

#include <memory>
#include <string>
#include <vector>

#include "lsq/ls_params.h"
#include "models/block.h"
#include "models/camera.h"
#include "models/ext_orientation.h"

namespace bravik::testing_support {

constexpr double kTinyFocalLength = 0.1;
constexpr double kTinyHeight = 1000.0;
constexpr double kTinyBase = 300.0;

class TinyBlock {
 public:
  TinyBlock() : block_(std::make_unique<Block>()) {
    auto camera = std::make_unique<Camera>();
    camera->id_ = "cam1";
    camera->comment = "tiny";
    camera->c = kTinyFocalLength;
    camera->sx = camera->sy = 0.23;
    block_->cameras.insert(std::move(camera));
  }

  Block& block() { return *block_; }
  Camera* camera() { return block_->cameras.find("cam1"); }

  // Image `id` with its own exterior orientation of the same ID at X = index * base.
  BundleImage* addImage(const std::string& id, int index) {
    auto eo = std::make_unique<EOAnglesOPKRot>(id);
    eo->p = {index * kTinyBase, 0.0, kTinyHeight, 0.0, 0.0, 0.0};
    for (double& s : eo->s) s = block_->settings.smaxu;
    eo->t = index;
    eo->refresh();
    block_->geometries.insert(std::move(eo));
    auto image = std::make_unique<BundleImage>(id, id, "cam1", camera());
    BundleImage* raw = image.get();
    block_->images.insert(std::move(image));
    return raw;
  }

  // Exact measurement of P in the image, displaced by (dx, dy) metres.
  void observe(BundleImage& image, const std::string& pointId, const Vec3& P, double dx = 0.0,
               double dy = 0.0) {
    ImageGeometry* geometry = block_->geometries.find(image.geometryId);
    double u = 0.0;
    double v = 0.0;
    geometry->projection(P, -kTinyFocalLength, u, v);
    ImagePoint point;
    point.id = pointId;
    point.x = u + dx;
    point.y = v + dy;
    point.sx = point.sy = 1e-6;
    image.insertPoint(point);
  }

  // Object point with given coordinates and the same std. dev. for X, Y and Z.
  ObjectPoint* addPoint(const std::string& id, const Vec3& P, double sdev, int type) {
    auto point = std::make_unique<ObjectPoint>(id, block_->settings);
    point->xyz = P;
    point->sdev = {sdev, sdev, sdev};
    point->type = type;
    point->coordinatesGiven = true;
    ObjectPoint* raw = point.get();
    block_->objectPoints.insert(std::move(point));
    return raw;
  }

  // Binds every image to its geometry, as the initialisation does.
  void attach() {
    for (BundleImage* image : block_->images.items()) {
      image->geometry = block_->geometries.find(image->geometryId);
      image->geometry->usedByImage = true;
      image->attached = true;
    }
  }

 private:
  std::unique_ptr<Block> block_;
};

}  // namespace bravik::testing_support

#endif  // BRAVIK_ADJUST_TINY_BLOCK_TEST_SUPPORT_H
