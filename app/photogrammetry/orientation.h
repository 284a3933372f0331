// Orientation geometry of the photogrammetry layer: pinhole orientations, rigid UCS -> WCS
// moves, multi-image ray intersection and the X-Y-Z Euler-angle pair.
//
// Frames and conventions (the whole core uses them):
// - Camera frame: x right, y up, z backwards; the camera looks along -z.
// - Rotation R maps camera to world: world = N + R * camera, N the projection centre.
// - X-Y-Z Euler angles: R = Rx(omega) * Ry(phi) * Rz(kappa); a vertical photo has
//   omega = phi = kappa = 0.
// - Pixel (col, row): origin at the top-left corner of the top-left pixel, col to the right, row
//   down; the principal point (ppx, ppy) is given in this frame.
// - Fiducial ("fid") image points: relative to the principal point, in pixels, x right, y up.
#pragma once

#include <Eigen/Core>
#include <optional>
#include <string>
#include <vector>

class CCameraPassport;

// R = Rx(omega) * Ry(phi) * Rz(kappa), angles in radians.
Eigen::Matrix3d FromEulerAnglesXYZ(double omega, double phi, double kappa);
// Inverse of FromEulerAnglesXYZ for a rotation matrix: (omega, phi, kappa) with
// phi in [-pi/2, pi/2] and omega, kappa in (-pi, pi]. At phi = +-pi/2 kappa is set to 0.
Eigen::Vector3d ToEulerAnglesXYZ(const Eigen::Matrix3d& rotation);

namespace nvc {

class COrientation {
 public:
  // `scale` is the object-space unit of the orientation (1.0: metres); kept, not applied.
  explicit COrientation(double scale = 1.0);

  // Interior orientation from focal length / pixel size (focal length in pixels), principal point
  // and raster size; the passport's distortion is ignored. `reserved` is passed as 0.0.
  // 0 when the focal length or the pixel size is not positive.
  int BuildINTWithoutDistortion(const CCameraPassport& passport, double reserved = 0.0);
  // Interior orientation given directly (focal length in pixels).
  void SetInterior(double focal_pixels, double ppx, double ppy, int width, int height,
                   double pixel_mm);

  void SetRotMat(const Eigen::Matrix3d& camera_to_world) { rotation_ = camera_to_world; }
  void SetN(const Eigen::Vector3d& centre) { centre_ = centre; }
  const Eigen::Matrix3d& GetRotMat() const { return rotation_; }
  const Eigen::Vector3d& GetN() const { return centre_; }
  double GetScale() const { return scale_; }
  double GetFocalPixels() const { return focal_pixels_; }
  double GetPixelSize() const { return pixel_mm_; }
  double GetPPX() const { return ppx_; }
  double GetPPY() const { return ppy_; }
  int GetWidth() const { return width_; }
  int GetHeight() const { return height_; }
  bool HasInterior() const { return focal_pixels_ > 0.0; }
  // Average ground sample distance of the image (object-space units per pixel); 0 when unknown.
  void SetAvgGSD(double gsd) { avg_gsd_ = gsd; }
  double GetAvgGSD() const { return avg_gsd_; }

  // Object point -> full-image pixel (col, row). NaN components when the point lies on or behind
  // the image plane (not in front of the camera) or without an interior orientation.
  Eigen::Vector2d Pt3dToPix(const Eigen::Vector3d& point) const;
  // Unit ray direction in the world frame through a pixel (col, row).
  Eigen::Vector3d PixToVec3d(const Eigen::Vector2d& pixel) const;
  // Unit ray direction in the world frame through a fiducial image point.
  Eigen::Vector3d FidToVec3d(const Eigen::Vector2d& fid) const;
  // The point at distance `distance` from the projection centre along that ray.
  Eigen::Vector3d FidToPt3d(const Eigen::Vector2d& fid, double distance) const;
  // Pixel <-> fiducial conversion of this interior orientation.
  Eigen::Vector2d PixToFid(const Eigen::Vector2d& pixel) const;
  Eigen::Vector2d FidToPix(const Eigen::Vector2d& fid) const;

  // Intersection of the pixel's ray with the plane {X : normal . X = offset}, in front of the
  // camera only; 0 when the ray is parallel to the plane or meets it behind the centre.
  int IntersectPlane(const Eigen::Vector2d& pixel, const Eigen::Vector3d& normal, double offset,
                     Eigen::Vector3d* point) const;
  // Same with the horizontal plane Z = height.
  int IntersectPlaneZ(const Eigen::Vector2d& pixel, double height, Eigen::Vector3d* point) const;

  // Interior (.int) and exterior (.est) orientation files, plain versioned text (docs/formats.md).
  // WriteINT takes the camera data from the passport (and this object's interior when built).
  int WriteINT(const std::string& path, const CCameraPassport& passport) const;
  int WriteEST(const std::string& path) const;
  int ReadINT(const std::string& path);
  int ReadEST(const std::string& path);

 private:
  double scale_ = 1.0;
  double focal_pixels_ = 0.0;
  double ppx_ = 0.0, ppy_ = 0.0;
  int width_ = 0, height_ = 0;
  double pixel_mm_ = 0.0;
  Eigen::Matrix3d rotation_ = Eigen::Matrix3d::Identity();
  Eigen::Vector3d centre_ = Eigen::Vector3d::Zero();
  double avg_gsd_ = 0.0;
};

// Least-squares intersection of the rays of several images: the point minimising the sum of
// squared perpendicular distances to the rays.
class CMultiImageIntersection {
 public:
  // Keeps a view of the orientations (not copied): they must outlive this object.
  CMultiImageIntersection(int count, const COrientation* orientations);
  explicit CMultiImageIntersection(const std::vector<COrientation>& orientations);

  // One optional pixel (col, row) per orientation, in the same order. Non-zero on success; 0
  // with fewer than two rays, a size mismatch or (nearly) parallel rays.
  int Intersect(const std::vector<std::optional<Eigen::Vector2d>>& pixels,
                Eigen::Vector3d* point) const;
  // Root-mean-square distance of the point to the rays of the last successful Intersect.
  double LastRms() const { return last_rms_; }

 private:
  int count_;
  const COrientation* orientations_;
  mutable double last_rms_ = 0.0;
};

}  // namespace nvc

// A user coordinate system: world = origin + rotation * ucs.
class CUCS {
 public:
  CUCS() = default;
  CUCS(std::string name, const Eigen::Vector3d& origin, const Eigen::Matrix3d& rotation);

  void SetUCSToWCSRotMat(const Eigen::Matrix3d& rotation) { rotation_ = rotation; }
  void SetOrigin(const Eigen::Vector3d& origin) { origin_ = origin; }
  const std::string& GetName() const { return name_; }
  const Eigen::Vector3d& GetOrigin() const { return origin_; }
  const Eigen::Matrix3d& GetUCSToWCSRotMat() const { return rotation_; }

  // Moves `count` orientations in place: centre -> origin + rotation * centre,
  // camera-to-world rotation R -> rotation * R.
  void UCSToWCS(nvc::COrientation* orientations, int count) const;
  Eigen::Vector3d UCSToWCS(const Eigen::Vector3d& point) const;
  Eigen::Vector3d WCSToUCS(const Eigen::Vector3d& point) const;

 private:
  std::string name_;
  Eigen::Vector3d origin_ = Eigen::Vector3d::Zero();
  Eigen::Matrix3d rotation_ = Eigen::Matrix3d::Identity();
};
