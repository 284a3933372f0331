#pragma once
// Frame camera and exterior orientation of the synthetic blocks.
//
// Frames and conventions (the same as the desktop program's core):
// - World: a projected system (easting X, northing Y, height Z up), metres.
// - Camera: x right, y up, z backwards; the camera looks along -z.
// - Rotation: world_from_camera = Rx(omega) * Ry(phi) * Rz(kappa) (X-Y-Z Euler angles,
//   counter-clockwise elementary rotations); a vertical photo has omega = phi = kappa = 0.
// - Pixel: (col, row) with the origin at the top-left corner of the top-left pixel,
//   so the centre of pixel (0, 0) is (0.5, 0.5).
// - Centred image coordinates, y up, mm: x = (col - W/2) * pixel, y = (H/2 - row) * pixel.
#include <Eigen/Core>
#include <optional>
#include <string>

namespace blockgen {

struct Pixel {
  double col = 0;
  double row = 0;
};

struct Centred {
  double x_mm = 0;
  double y_mm = 0;
};

// Lens distortion in centred, reduced coordinates (u, v) = (x - xp, y - yp), in mm:
//   dx = u (k1 r2 + k2 r2^2 + k3 r2^3) + p1 (3u^2 + v^2) + 2 p2 u v
//   dy = v (k1 r2 + k2 r2^2 + k3 r2^3) + 2 p1 u v + p2 (u^2 + 3v^2),   r2 = u^2 + v^2,
// added to the ideal projection: x = xp + u + dx(u, v). k1 is in mm^-2, k2 in mm^-4,
// k3 in mm^-6, p1 and p2 in mm^-1 (the engine's radial and decentering AP sets in mm).
struct Distortion {
  double k1 = 0, k2 = 0, k3 = 0, p1 = 0, p2 = 0;
  bool any() const { return k1 != 0 || k2 != 0 || k3 != 0 || p1 != 0 || p2 != 0; }
};

// The same model with u, v and the corrections in metres (the engine's AP sets and the
// passport's metric convention): k1 in m^-2, k2 in m^-4, k3 in m^-6, p1 and p2 in m^-1.
struct MetricDistortion {
  double k1 = 0, k2 = 0, k3 = 0, p1 = 0, p2 = 0;
};
MetricDistortion metric_distortion(const Distortion& mm);

struct FrameCamera {
  std::string id = "CAM1";
  std::string model = "Blockgen-SYN-1500";
  std::string camera_serial = "SYN-0001";
  std::string lens_serial = "LNS-0001";
  double focal_mm = 12.0;
  double pixel_mm = 0.006;
  int width = 1500;
  int height = 1000;
  // Principal point in pixels (top-left corner convention); default the image centre.
  double pp_col = 750.0;
  double pp_row = 500.0;
  Distortion distortion;

  Centred centred_from_pixel(Pixel p) const;
  Pixel pixel_from_centred(Centred c) const;
  // Principal point in centred coordinates, mm.
  Centred principal_point() const;
  // Distortion correction (dx, dy) in mm at reduced coordinates (u, v) in mm.
  Eigen::Vector2d distortion_at(double u, double v) const;
  // Ideal camera-frame point -> centred image coordinates (with distortion).
  // Empty when the point is not in front of the camera (z >= 0).
  std::optional<Centred> image_from_camera(const Eigen::Vector3d& point_in_camera) const;
  // Centred image coordinates -> ray direction (u, v, -f) in the camera frame, mm.
  Eigen::Vector3d ray_from_image(Centred c) const;
  bool contains(Pixel p, double margin_px) const;
};

// Rotation world_from_camera = Rx(omega) Ry(phi) Rz(kappa), angles in radians.
Eigen::Matrix3d rotation_from_opk(double omega, double phi, double kappa);
// Inverse of rotation_from_opk for |phi| < pi/2: (omega, phi, kappa) in radians.
Eigen::Vector3d opk_from_rotation(const Eigen::Matrix3d& world_from_camera);

struct Pose {
  Eigen::Vector3d centre = Eigen::Vector3d::Zero();  // projection centre in the world, m
  double omega = 0, phi = 0, kappa = 0;              // radians
  Eigen::Matrix3d world_from_camera() const { return rotation_from_opk(omega, phi, kappa); }
};

// World point -> pixel in the image of pose; empty when behind the camera.
std::optional<Pixel> project(const FrameCamera& camera, const Pose& pose,
                             const Eigen::Vector3d& point_in_world);

double degrees(double radians);
double radians(double degrees);

}  // namespace blockgen
