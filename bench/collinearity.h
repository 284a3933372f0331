#pragma once
// Collinearity model of a frame image with the omega-phi-kappa "rotated axes" rotation, written
// once as templates so that the benchmark's Ceres cost function (with automatic derivatives) and
// the block generator project exactly as the engine's "ext-ori-opk-rot" exterior orientation does.
//
// Conventions (engine's): R = Rx(omega) Ry(phi) Rz(kappa), counter-clockwise elementary rotations,
// stored row-major; it maps camera axes to object axes. With d = P - X0 the camera-frame vector is
// (U, V, N) = R^T d and the image coordinates (m, origin at the image centre, y up) are
//   x = xp - c U / N,   y = yp - c V / N.
// A point in front of a nadir camera has N < 0.
#include <cmath>

namespace bench {

// Row-major 3 x 3 rotation matrix of the angles (radians).
template <typename T>
void rotationOpk(const T& omega, const T& phi, const T& kappa, T r[9]) {
  using std::cos;
  using std::sin;
  const T s1 = sin(omega), c1 = cos(omega);
  const T s2 = sin(phi), c2 = cos(phi);
  const T s3 = sin(kappa), c3 = cos(kappa);
  r[0] = c3 * c2;
  r[1] = -c2 * s3;
  r[2] = s2;
  r[3] = s2 * s1 * c3 + c1 * s3;
  r[4] = c3 * c1 - s2 * s1 * s3;
  r[5] = -c2 * s1;
  r[6] = s3 * s1 - s2 * c1 * c3;
  r[7] = c3 * s1 + s3 * s2 * c1;
  r[8] = c1 * c2;
}

// Interior orientation of a frame camera, metres.
struct FrameCamera {
  double focal = 0.1;
  double xp = 0.0;
  double yp = 0.0;
  double width = 0.096;   // image format in x
  double height = 0.064;  // image format in y
};

// Image coordinates (m) of `point` seen from `pose` = (Xo, Yo, Zo, omega, phi, kappa).
// Returns false when the point lies in the camera's plane (N = 0) or behind it.
template <typename T>
bool projectOpk(const FrameCamera& camera, const T* pose, const T* point, T image[2]) {
  T r[9];
  rotationOpk(pose[3], pose[4], pose[5], r);
  const T dx = point[0] - pose[0];
  const T dy = point[1] - pose[1];
  const T dz = point[2] - pose[2];
  const T u = r[0] * dx + r[3] * dy + r[6] * dz;
  const T v = r[1] * dx + r[4] * dy + r[7] * dz;
  const T n = r[2] * dx + r[5] * dy + r[8] * dz;
  if (!(n < T(0.0))) return false;
  image[0] = T(camera.xp) - T(camera.focal) * u / n;
  image[1] = T(camera.yp) - T(camera.focal) * v / n;
  return true;
}

}  // namespace bench
