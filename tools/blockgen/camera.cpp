#include "camera.h"

#include <Eigen/Geometry>
#include <algorithm>
#include <cmath>
#include <numbers>

namespace blockgen {

MetricDistortion metric_distortion(const Distortion& d) {
  // dx_m = 1e-3 dx_mm with u_mm = 1e3 u_m: a term of degree n in u scales by 1e3^(n - 1).
  return {d.k1 * 1e6, d.k2 * 1e12, d.k3 * 1e18, d.p1 * 1e3, d.p2 * 1e3};
}

Centred FrameCamera::centred_from_pixel(Pixel p) const {
  return {(p.col - 0.5 * width) * pixel_mm, (0.5 * height - p.row) * pixel_mm};
}

Pixel FrameCamera::pixel_from_centred(Centred c) const {
  return {c.x_mm / pixel_mm + 0.5 * width, 0.5 * height - c.y_mm / pixel_mm};
}

Centred FrameCamera::principal_point() const { return centred_from_pixel({pp_col, pp_row}); }

Eigen::Vector2d FrameCamera::distortion_at(double u, double v) const {
  const Distortion& d = distortion;
  const double r2 = u * u + v * v;
  const double radial = d.k1 * r2 + d.k2 * r2 * r2 + d.k3 * r2 * r2 * r2;
  return {u * radial + d.p1 * (3 * u * u + v * v) + 2 * d.p2 * u * v,
          v * radial + 2 * d.p1 * u * v + d.p2 * (u * u + 3 * v * v)};
}

std::optional<Centred> FrameCamera::image_from_camera(const Eigen::Vector3d& p) const {
  if (p.z() >= 0) return std::nullopt;
  const double u = -focal_mm * p.x() / p.z();
  const double v = -focal_mm * p.y() / p.z();
  const Eigen::Vector2d d = distortion_at(u, v);
  const Centred pp = principal_point();
  return Centred{pp.x_mm + u + d.x(), pp.y_mm + v + d.y()};
}

Eigen::Vector3d FrameCamera::ray_from_image(Centred c) const {
  const Centred pp = principal_point();
  const double du = c.x_mm - pp.x_mm;
  const double dv = c.y_mm - pp.y_mm;
  double u = du, v = dv;
  if (distortion.any()) {
    // Fixed-point inversion of u + d(u) = du; converges for the mild distortions of a
    // metric camera (|d'| << 1).
    for (int i = 0; i < 50; ++i) {
      const Eigen::Vector2d d = distortion_at(u, v);
      const double step = std::abs(du - d.x() - u) + std::abs(dv - d.y() - v);
      u = du - d.x();
      v = dv - d.y();
      if (step < 1e-13) break;
    }
  }
  return {u, v, -focal_mm};
}

bool FrameCamera::contains(Pixel p, double margin_px) const {
  return p.col >= margin_px && p.row >= margin_px && p.col <= width - margin_px &&
         p.row <= height - margin_px;
}

Eigen::Matrix3d rotation_from_opk(double omega, double phi, double kappa) {
  using Eigen::AngleAxisd;
  using Eigen::Vector3d;
  return (AngleAxisd(omega, Vector3d::UnitX()) * AngleAxisd(phi, Vector3d::UnitY()) *
          AngleAxisd(kappa, Vector3d::UnitZ()))
      .toRotationMatrix();
}

Eigen::Vector3d opk_from_rotation(const Eigen::Matrix3d& r) {
  return {std::atan2(-r(1, 2), r(2, 2)), std::asin(std::clamp(r(0, 2), -1.0, 1.0)),
          std::atan2(-r(0, 1), r(0, 0))};
}

std::optional<Pixel> project(const FrameCamera& camera, const Pose& pose,
                             const Eigen::Vector3d& point_in_world) {
  const Eigen::Vector3d in_camera =
      pose.world_from_camera().transpose() * (point_in_world - pose.centre);
  const std::optional<Centred> c = camera.image_from_camera(in_camera);
  if (!c) return std::nullopt;
  return camera.pixel_from_centred(*c);
}

double degrees(double r) { return r * 180.0 / std::numbers::pi; }
double radians(double d) { return d * std::numbers::pi / 180.0; }

}  // namespace blockgen
