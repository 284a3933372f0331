#ifndef BRAVIK_MODELS_VEC3_H
#define BRAVIK_MODELS_VEC3_H

#include <array>
#include <cmath>

namespace bravik {

// A point or direction in object space, or a reduced image vector (u, v, z).
using Vec3 = std::array<double, 3>;
// 3 x 3 rotation matrix stored row-major: r11 r12 r13 r21 ... r33 = m[0] .. m[8].
using Mat3 = std::array<double, 9>;

inline Vec3 operator+(const Vec3& a, const Vec3& b) {
  return {a[0] + b[0], a[1] + b[1], a[2] + b[2]};
}
inline Vec3 operator-(const Vec3& a, const Vec3& b) {
  return {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
}
inline Vec3 operator*(double s, const Vec3& a) { return {s * a[0], s * a[1], s * a[2]}; }
inline double dot(const Vec3& a, const Vec3& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
inline Vec3 cross(const Vec3& a, const Vec3& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
inline double norm(const Vec3& a) { return std::sqrt(dot(a, a)); }
// Determinant of the matrix with columns a, b, c.
inline double det3(const Vec3& a, const Vec3& b, const Vec3& c) { return dot(a, cross(b, c)); }

inline Mat3 identity3() { return {1, 0, 0, 0, 1, 0, 0, 0, 1}; }
// R a.
inline Vec3 multiply(const Mat3& r, const Vec3& a) {
  return {r[0] * a[0] + r[1] * a[1] + r[2] * a[2], r[3] * a[0] + r[4] * a[1] + r[5] * a[2],
          r[6] * a[0] + r[7] * a[1] + r[8] * a[2]};
}
// R^T a.
inline Vec3 multiplyTransposed(const Mat3& r, const Vec3& a) {
  return {r[0] * a[0] + r[3] * a[1] + r[6] * a[2], r[1] * a[0] + r[4] * a[1] + r[7] * a[2],
          r[2] * a[0] + r[5] * a[1] + r[8] * a[2]};
}

}  // namespace bravik

#endif  // BRAVIK_MODELS_VEC3_H
