#include "project/footprints.h"

#include <cmath>
#include <cstdio>

#include "photogrammetry/orientation.h"
#include "ui_interface/ui.h"

namespace vantri::project {

namespace {

constexpr double kNoHeight = -9999.0;

// Pixel positions along the raster edges, clockwise from the top-left corner.
std::vector<Eigen::Vector2d> OutlinePixels(int width, int height) {
  const Eigen::Vector2d corners[4] = {
      {0.0, 0.0}, {double(width), 0.0}, {double(width), double(height)}, {0.0, double(height)}};
  std::vector<Eigen::Vector2d> pixels;
  for (int edge = 0; edge < 4; ++edge) {
    const Eigen::Vector2d& from = corners[edge];
    const Eigen::Vector2d& to = corners[(edge + 1) % 4];
    for (int k = 0; k < kFootprintSamplesPerEdge; ++k)
      pixels.push_back(from + (to - from) * (double(k) / kFootprintSamplesPerEdge));
  }
  return pixels;
}

bool ApproximateOrientation(const CCameraPassport& passport, const CABAImage& image,
                            nvc::COrientation* orientation) {
  if (orientation->BuildINTWithoutDistortion(passport) == 0) return false;
  orientation->SetRotMat(FromEulerAnglesXYZ(image.omega, image.phi, image.kappa));
  orientation->SetN(Eigen::Vector3d(image.x, image.y, image.z));
  return true;
}

}  // namespace

std::vector<std::array<double, 2>> ImageFootprint(const CCameraPassport& passport,
                                                  const CABAImage& image,
                                                  const TerrainIntersector& terrain,
                                                  double fallback_height) {
  nvc::COrientation orientation;
  if (!ApproximateOrientation(passport, image, &orientation)) return {};
  std::vector<std::array<double, 2>> outline;
  for (const Eigen::Vector2d& pixel : OutlinePixels(passport.width, passport.height)) {
    const Eigen::Vector3d direction = orientation.PixToVec3d(pixel);
    Eigen::Vector3d ground;
    const bool on_terrain = terrain && terrain(orientation.GetN(), direction, &ground);
    if (!on_terrain && orientation.IntersectPlaneZ(pixel, fallback_height, &ground) == 0) continue;
    outline.push_back({ground.x(), ground.y()});
  }
  if (outline.size() < 3) outline.clear();
  return outline;
}

int UpdateImageBounds(CVantriProject& project, vantri::UserInterface& ui,
                      const TerrainIntersector& terrain,
                      const std::function<double(double x, double y)>& height_at) {
  project.footprints.assign(project.images.size(), {});
  int updated = 0;
  const CCameraPassport* passport =
      project.working_passport ? project.working_passport.get() : project.passport.get();
  for (size_t i = 0; i < project.images.size(); ++i) {
    CABAImage& image = *project.images[i];
    image.footprint_handle = 0;
    if (passport == nullptr || !image.HasGpsImu()) continue;
    double fallback = height_at ? height_at(image.x, image.y) : kNoHeight;
    if (fallback == kNoHeight) fallback = 0.0;
    project.footprints[i] = ImageFootprint(*passport, image, terrain, fallback);
    if (project.footprints[i].empty()) continue;
    image.footprint_handle = static_cast<int32_t>(i + 1);
    ++updated;
  }
  char text[64];
  std::snprintf(text, sizeof text, "%d image bounds updated", updated);
  ui.Log(text);
  return updated;
}

bool OutlineContains(const std::vector<std::array<double, 2>>& outline, double x, double y) {
  bool inside = false;
  for (size_t i = 0, j = outline.size() - 1; i < outline.size(); j = i++) {
    const auto& a = outline[i];
    const auto& b = outline[j];
    if ((a[1] > y) != (b[1] > y) && x < (b[0] - a[0]) * (y - a[1]) / (b[1] - a[1]) + a[0])
      inside = !inside;
  }
  return inside;
}

}  // namespace vantri::project
