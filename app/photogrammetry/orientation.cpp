#include "photogrammetry/orientation.h"

#include <Eigen/Dense>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "photogrammetry/passport.h"
#include "system/nvtools.h"
#include "system/text_record.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr const char* kIntHeader = "VANTRI-INT";
constexpr const char* kEstHeader = "VANTRI-EST";
constexpr int kOrientationFileVersion = 1;

}  // namespace

Eigen::Matrix3d FromEulerAnglesXYZ(double omega, double phi, double kappa) {
  return (Eigen::AngleAxisd(omega, Eigen::Vector3d::UnitX()) *
          Eigen::AngleAxisd(phi, Eigen::Vector3d::UnitY()) *
          Eigen::AngleAxisd(kappa, Eigen::Vector3d::UnitZ()))
      .toRotationMatrix();
}

// With R = Rx(w) Ry(p) Rz(k):
//   R(0,2) = sin p,  R(1,2) = -sin w cos p,  R(2,2) = cos w cos p,
//   R(0,0) = cos p cos k,  R(0,1) = -cos p sin k.
// At the gimbal lock (cos p = 0) only w + k (p = pi/2) or w - k (p = -pi/2) is defined; k is set
// to 0 and then R(2,1) = sin w, R(1,1) = cos w for both signs of p.
Eigen::Vector3d ToEulerAnglesXYZ(const Eigen::Matrix3d& r) {
  // atan2 rather than asin: asin loses half the digits near phi = +-pi/2.
  const double cos_phi = std::hypot(r(0, 0), r(0, 1));
  const double phi = std::atan2(r(0, 2), cos_phi);
  if (cos_phi > 1e-12) {
    return {std::atan2(-r(1, 2), r(2, 2)), phi, std::atan2(-r(0, 1), r(0, 0))};
  }
  return {std::atan2(r(2, 1), r(1, 1)), phi, 0.0};
}

namespace nvc {

COrientation::COrientation(double scale) : scale_(scale) {}

int COrientation::BuildINTWithoutDistortion(const CCameraPassport& passport, double) {
  if (!(passport.focal_mm > 0.0) || !(passport.pixel_mm > 0.0)) return 0;
  SetInterior(passport.focal_mm / passport.pixel_mm, passport.ppx, passport.ppy, passport.width,
              passport.height, passport.pixel_mm);
  return 1;
}

void COrientation::SetInterior(double focal_pixels, double ppx, double ppy, int width, int height,
                               double pixel_mm) {
  focal_pixels_ = focal_pixels;
  ppx_ = ppx;
  ppy_ = ppy;
  width_ = width;
  height_ = height;
  pixel_mm_ = pixel_mm;
}

Eigen::Vector2d COrientation::PixToFid(const Eigen::Vector2d& pixel) const {
  return {pixel.x() - ppx_, ppy_ - pixel.y()};
}

Eigen::Vector2d COrientation::FidToPix(const Eigen::Vector2d& fid) const {
  return {ppx_ + fid.x(), ppy_ - fid.y()};
}

// Collinearity: camera = R^T (X - N); the image point lies at camera * (F / -camera.z).
Eigen::Vector2d COrientation::Pt3dToPix(const Eigen::Vector3d& point) const {
  const Eigen::Vector3d camera = rotation_.transpose() * (point - centre_);
  if (!HasInterior() || !(camera.z() < 0.0)) return {kNaN, kNaN};
  const double factor = focal_pixels_ / -camera.z();
  return FidToPix({camera.x() * factor, camera.y() * factor});
}

Eigen::Vector3d COrientation::FidToVec3d(const Eigen::Vector2d& fid) const {
  return (rotation_ * Eigen::Vector3d(fid.x(), fid.y(), -focal_pixels_)).normalized();
}

Eigen::Vector3d COrientation::PixToVec3d(const Eigen::Vector2d& pixel) const {
  return FidToVec3d(PixToFid(pixel));
}

Eigen::Vector3d COrientation::FidToPt3d(const Eigen::Vector2d& fid, double distance) const {
  return centre_ + distance * FidToVec3d(fid);
}

int COrientation::IntersectPlane(const Eigen::Vector2d& pixel, const Eigen::Vector3d& normal,
                                 double offset, Eigen::Vector3d* point) const {
  if (!HasInterior()) return 0;
  const Eigen::Vector3d direction = PixToVec3d(pixel);
  const double denominator = normal.dot(direction);
  if (std::abs(denominator) < 1e-15 * normal.norm()) return 0;
  const double distance = (offset - normal.dot(centre_)) / denominator;
  if (!(distance > 0.0)) return 0;
  *point = centre_ + distance * direction;
  return 1;
}

int COrientation::IntersectPlaneZ(const Eigen::Vector2d& pixel, double height,
                                  Eigen::Vector3d* point) const {
  return IntersectPlane(pixel, Eigen::Vector3d::UnitZ(), height, point);
}

int COrientation::WriteINT(const std::string& path, const CCameraPassport& passport) const {
  vantri::system::TextRecord record(kIntHeader, kOrientationFileVersion);
  record.SetText("model", passport.model);
  record.SetText("camera_serial", passport.camera_serial);
  record.SetDouble("focal_mm", passport.focal_mm);
  record.SetDouble("pixel_mm", HasInterior() ? pixel_mm_ : passport.pixel_mm);
  record.SetDouble("focal_pixels", HasInterior() ? focal_pixels_ : passport.FocalPixels());
  record.SetDouble("ppx", HasInterior() ? ppx_ : passport.ppx);
  record.SetDouble("ppy", HasInterior() ? ppy_ : passport.ppy);
  record.SetInt("width", HasInterior() ? width_ : passport.width);
  record.SetInt("height", HasInterior() ? height_ : passport.height);
  const vantri::photogrammetry::DistortionCoefficients metric = passport.MetricCoefficients();
  record.SetDoubles("distortion_metric", {metric.k1, metric.k2, metric.k3, metric.p1, metric.p2});
  return record.Save(path);
}

int COrientation::ReadINT(const std::string& path) {
  vantri::system::TextRecord record(kIntHeader, kOrientationFileVersion);
  double focal = 0.0, pixel = 0.0, ppx = 0.0, ppy = 0.0;
  int width = 0, height = 0;
  if (!record.Load(path) || !record.GetDouble("focal_pixels", &focal) ||
      !record.GetDouble("pixel_mm", &pixel) || !record.GetDouble("ppx", &ppx) ||
      !record.GetDouble("ppy", &ppy) || !record.GetInt("width", &width) ||
      !record.GetInt("height", &height))
    return 0;
  SetInterior(focal, ppx, ppy, width, height, pixel);
  return 1;
}

int COrientation::WriteEST(const std::string& path) const {
  vantri::system::TextRecord record(kEstHeader, kOrientationFileVersion);
  record.SetDouble("scale", scale_);
  record.SetDoubles("centre", {centre_.x(), centre_.y(), centre_.z()});
  const Eigen::Vector3d angles = ToEulerAnglesXYZ(rotation_);
  record.SetDoubles("omega_phi_kappa", {angles.x(), angles.y(), angles.z()});
  for (int row = 0; row < 3; ++row) {
    record.SetDoubles("rotation_row" + std::to_string(row),
                      {rotation_(row, 0), rotation_(row, 1), rotation_(row, 2)});
  }
  if (avg_gsd_ > 0.0) record.SetDouble("avg_gsd", avg_gsd_);
  return record.Save(path);
}

int COrientation::ReadEST(const std::string& path) {
  vantri::system::TextRecord record(kEstHeader, kOrientationFileVersion);
  std::vector<double> centre;
  double scale = 1.0;
  if (!record.Load(path) || !record.GetDoubles("centre", 3, &centre) ||
      !record.GetDouble("scale", &scale))
    return 0;
  Eigen::Matrix3d rotation;
  for (int row = 0; row < 3; ++row) {
    std::vector<double> values;
    if (!record.GetDoubles("rotation_row" + std::to_string(row), 3, &values)) return 0;
    rotation.row(row) << values[0], values[1], values[2];
  }
  double gsd = 0.0;
  if (!record.GetDouble("avg_gsd", &gsd)) gsd = 0.0;  // files before the export wrote it
  scale_ = scale;
  centre_ = {centre[0], centre[1], centre[2]};
  rotation_ = rotation;
  avg_gsd_ = gsd;
  return 1;
}

// --- Multi-image intersection ------------------------------------------------------------------

CMultiImageIntersection::CMultiImageIntersection(int count, const COrientation* orientations)
    : count_(count), orientations_(orientations) {}

CMultiImageIntersection::CMultiImageIntersection(const std::vector<COrientation>& orientations)
    : count_(static_cast<int>(orientations.size())), orientations_(orientations.data()) {}

// Minimises sum_i |(I - d_i d_i^T)(X - C_i)|^2: the normal equations are
// sum_i (I - d_i d_i^T) X = sum_i (I - d_i d_i^T) C_i, with d_i the unit ray directions.
int CMultiImageIntersection::Intersect(const std::vector<std::optional<Eigen::Vector2d>>& pixels,
                                       Eigen::Vector3d* point) const {
  if (point == nullptr || static_cast<int>(pixels.size()) != count_) return 0;
  Eigen::Matrix3d normal = Eigen::Matrix3d::Zero();
  Eigen::Vector3d right = Eigen::Vector3d::Zero();
  std::vector<std::pair<Eigen::Vector3d, Eigen::Vector3d>> rays;
  for (int i = 0; i < count_; ++i) {
    if (!pixels[i] || !orientations_[i].HasInterior()) continue;
    const Eigen::Vector3d direction = orientations_[i].PixToVec3d(*pixels[i]);
    const Eigen::Matrix3d projector =
        Eigen::Matrix3d::Identity() - direction * direction.transpose();
    normal += projector;
    right += projector * orientations_[i].GetN();
    rays.emplace_back(orientations_[i].GetN(), direction);
  }
  if (rays.size() < 2) return 0;
  // The smallest eigenvalue of the normal matrix is 0 for parallel rays.
  const Eigen::SelfAdjointEigenSolver<Eigen::Matrix3d> eigen(normal);
  if (eigen.eigenvalues()(0) < 1e-12 * eigen.eigenvalues()(2)) return 0;
  const Eigen::Vector3d solution = normal.ldlt().solve(right);
  if (!solution.allFinite()) return 0;
  double sum = 0.0;
  for (const auto& [centre, direction] : rays) {
    const Eigen::Vector3d offset = solution - centre;
    sum += (offset - offset.dot(direction) * direction).squaredNorm();
  }
  last_rms_ = std::sqrt(sum / static_cast<double>(rays.size()));
  *point = solution;
  return 1;
}

}  // namespace nvc

// --- UCS ---------------------------------------------------------------------------------------

CUCS::CUCS(std::string name, const Eigen::Vector3d& origin, const Eigen::Matrix3d& rotation)
    : name_(std::move(name)), origin_(origin), rotation_(rotation) {}

void CUCS::UCSToWCS(nvc::COrientation* orientations, int count) const {
  for (int i = 0; i < count; ++i) {
    orientations[i].SetN(UCSToWCS(orientations[i].GetN()));
    orientations[i].SetRotMat(rotation_ * orientations[i].GetRotMat());
  }
}

Eigen::Vector3d CUCS::UCSToWCS(const Eigen::Vector3d& point) const {
  return origin_ + rotation_ * point;
}

Eigen::Vector3d CUCS::WCSToUCS(const Eigen::Vector3d& point) const {
  return rotation_.transpose() * (point - origin_);
}
