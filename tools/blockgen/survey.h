#pragma once
// The planned survey of one block with its ground truth: terrain, true and observed
// orientations, ground points with their surveyed values, and every image measurement.
#include <memory>
#include <string>
#include <vector>

#include "camera.h"
#include "options.h"
#include "terrain.h"
#include "texture.h"

namespace blockgen {

struct ImageRecord {
  std::string id;    // strip number and exposure number: 101, 102, ..., 201, ...
  int strip = 0;     // 0-based
  int exposure = 0;  // 0-based position in the strip's flight order
  double time = 0;   // s since the first exposure
  Pose truth;
  Pose gps_imu;       // observed: truth + noise + drift
  double gain = 1.0;  // exposure: grey = gain * ground + offset
  double offset = 0.0;
};

enum class PointKind { kTie, kControl, kCheck };

struct GroundPoint {
  std::string id;
  PointKind kind = PointKind::kTie;
  Eigen::Vector3d truth = Eigen::Vector3d::Zero();
  Eigen::Vector3d surveyed = Eigen::Vector3d::Zero();  // truth + noise (control and check)
};

struct Observation {
  size_t point = 0;  // index into Survey::points
  size_t image = 0;  // index into Survey::images
  Pixel truth;
  Pixel measured;  // truth + Gaussian noise of pixel_noise
};

struct Survey {
  BlockOptions options;
  double gsd = 0;       // m per pixel at the mean terrain height
  GroundBox block_box;  // ground area of the planned footprints
  std::shared_ptr<const Terrain> terrain;
  std::shared_ptr<const GroundTexture> texture;
  std::vector<ImageRecord> images;
  std::vector<GroundPoint> points;
  std::vector<Observation> observations;

  const FrameCamera& camera() const { return options.camera; }
  size_t count(PointKind kind) const;
  // Images in which the point lies at least margin_px inside the frame.
  std::vector<size_t> images_seeing(const Eigen::Vector3d& point, double margin_px) const;
};

// Plans the block described by options (which must pass validate()).
Survey plan_survey(const BlockOptions& options);

}  // namespace blockgen
