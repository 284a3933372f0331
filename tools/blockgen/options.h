#pragma once
// Options of one generated block and their command-line form.
#include <cstdint>
#include <string>
#include <vector>

#include "camera.h"

namespace blockgen {

enum class ImageFormat { kJpeg, kTiff };

struct BlockOptions {
  std::string out_dir;
  uint64_t seed = 1;
  // Flight.
  int strips = 3;
  int images_per_strip = 8;
  double forward_overlap = 0.60;
  double side_overlap = 0.30;
  double flying_height = 1000.0;  // m above the mean terrain height
  double speed = 60.0;            // m/s, for exposure times
  double easting = 512000.0;      // block centre in the projected system, m
  double northing = 5290000.0;
  int epsg = 32632;  // projected system of the world coordinates and the DEM
  // Camera.
  FrameCamera camera;
  // Terrain.
  double dem_cell = 2.0;       // m
  double base_height = 420.0;  // m
  double relief = 60.0;        // m, peak to peak over the DEM
  // Points.
  int tie_points = 300;
  int control_points = 6;
  int check_points = 4;
  // Noise (one standard deviation).
  double pixel_noise = 0.3;     // px, image measurements
  double gps_noise = 0.05;      // m, each coordinate
  double imu_noise = 0.005;     // degrees, each angle
  double gps_drift = 0.0;       // m, offset reached at the end of each strip (random direction)
  double control_noise = 0.02;  // m, surveyed control and check coordinates
  double exposure_variation = 0.08;  // relative spread of the image gains
  double pixel_grain = 1.5;          // grey levels, sensor noise
  // Output.
  ImageFormat format = ImageFormat::kJpeg;
  bool rgb = false;  // colour images (r g b) instead of grey
  bool write_images = true;
  int threads = 0;  // 0: all cores
};

struct ParsedArguments {
  bool ok = false;
  bool help = false;
  std::string error;  // set when !ok
  BlockOptions options;
};

ParsedArguments parse_arguments(const std::vector<std::string>& args);
std::string help_text();
// Empty when the options describe a block that can be generated; otherwise the reason.
std::string validate(const BlockOptions& options);

}  // namespace blockgen
