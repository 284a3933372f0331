#include "adjust/approximations.h"

#include <algorithm>
#include <iostream>
#include <ostream>
#include <string>
#include <unordered_map>
#include <vector>

#include "lsq/ls_params.h"
#include "util/diagnostics.h"
#include "util/number_format.h"

namespace bravik {
namespace {

const char* onOff(bool value) { return value ? "on" : "off"; }

const ImagePoint* findImagePoint(const BundleImage& image, const std::string& id) {
  for (const ImagePoint& point : image.points) {
    if (point.id == id) return &point;
  }
  return nullptr;
}

bool removeImagePoint(BundleImage& image, const std::string& id) {
  auto it = std::find_if(image.points.begin(), image.points.end(),
                         [&](const ImagePoint& point) { return point.id == id; });
  if (it == image.points.end()) return false;
  image.points.erase(it);
  return true;
}

using RaysByPointId = std::unordered_map<std::string, std::vector<BundleImage*>>;

// For every image-point ID, the images, in list order, that hold an image point with that ID.
// One pass over the image points, instead of a search of every image per object point.
RaysByPointId imagesByPointId(const Block& block) {
  RaysByPointId index;
  for (BundleImage* image : block.images.items()) {
    for (const ImagePoint& point : image->points) {
      std::vector<BundleImage*>& images = index[point.id];
      if (images.empty() || images.back() != image) images.push_back(image);
    }
  }
  return index;
}

const std::vector<BundleImage*>& imagesObserving(const RaysByPointId& index,
                                                 const std::string& id) {
  static const std::vector<BundleImage*> kNone;
  const auto found = index.find(id);
  return found == index.end() ? kNone : found->second;
}

bool hasFreeCoordinate(const ObjectPoint& point, double smax) {
  return point.sdev[0] > smax || point.sdev[1] > smax || point.sdev[2] > smax;
}

bool keptAsSingleRay(const Block& block, const ObjectPoint& point, int rays) {
  return block.options.singleRay && rays == 1 && !hasFreeCoordinate(point, block.settings.smax);
}

void removeObjectPoint(Block& block, int index, std::ostream* report) {
  const std::string id = block.objectPoints.at(index)->id();
  block.objectPoints.remove(index);
  if (report) *report << " -> removed";
  for (BundleImage* image : block.images.items()) {
    if (removeImagePoint(*image, id) && report) {
      *report << "\nATTENTION: BundleImage " << image->id() << " point " << id << " removed.\n";
    }
  }
}

// Reduced image vector of the image's measurement of point `id`.
Vec3 reducedVectorOf(const BundleImage& image, const std::string& id) {
  const ImagePoint* point = findImagePoint(image, id);
  double x = 0.0;
  double y = 0.0;
  image.camera->cameraToImage(point->x, point->y, x, y);
  return image.camera->reducedImageVector(x, y);
}

void printCoordinates(std::ostream& out, const Vec3& P, double e) {
  out << formatFixed(P[0], 3, 12) << "   " << formatFixed(P[1], 3, 12) << "   "
      << formatFixed(P[2], 3, 12) << "   " << formatFixed(e, 3, 9);
}

// Mean of the pairwise intersections of one point; false after a failed intersection.
bool intersectPoint(const std::vector<BundleImage*>& rays, const std::string& id,
                    std::ostream* report, bool debug, Vec3& mean, double& meanE) {
  Vec3 sum{0.0, 0.0, 0.0};
  double sumE = 0.0;
  int pairs = 0;
  for (std::size_t i = 0; i < rays.size(); ++i) {
    for (std::size_t j = i + 1; j < rays.size(); ++j) {
      Vec3 P{0.0, 0.0, 0.0};
      double e = 0.0;
      const bool ok =
          rays[i]->geometry != nullptr && rays[j]->geometry != nullptr &&
          rays[i]->camera != nullptr && rays[j]->camera != nullptr &&
          rays[i]->geometry->intersection(*rays[j]->geometry, reducedVectorOf(*rays[i], id),
                                          reducedVectorOf(*rays[j], id), P, e) == 1;
      if (!ok) {
        messages() << "ERROR: Intersection failed.\n";
        return false;
      }
      sum = sum + P;
      sumE += e;
      ++pairs;
      if (report && debug) {
        *report << "  " << alignRight(rays[i]->id(), 12) << " - " << alignRight(rays[j]->id(), 12)
                << "\n"
                << std::string(22, ' ');
        printCoordinates(*report, P, e);
        *report << "\n";
      }
    }
  }
  mean = (1.0 / pairs) * sum;
  meanE = sumE / pairs;
  return true;
}

void printRemoved(std::ostream& report, const char* prefix, const std::string& id) {
  report << prefix << id << " removed.\n";
}

template <class T, class Pred>
int removeUnused(OwnedList<T>& list, Pred used, std::ostream& report, const char* prefix) {
  int removed = 0;
  for (int i = 0; i < list.entryCount(); ++i) {
    T* object = list.at(i);
    if (object == nullptr || used(*object)) continue;
    printRemoved(report, prefix, object->id());
    list.remove(i);
    ++removed;
  }
  return removed;
}

}  // namespace

int checkApproximations(Block& block, std::ostream* report) {
  if (report) {
    *report << "Check object point approximations\n"
            << "=================================\n\n";
  }
  int added = 0;
  for (BundleImage* image : block.images.items()) {
    for (const ImagePoint& point : image->points) {
      if (block.objectPoints.find(point.id) != nullptr) continue;
      if (report) *report << "Point " << point.id << " has no approximations.\n";
      block.objectPoints.insert(std::make_unique<ObjectPoint>(point.id, block.settings));
      ++added;
    }
  }
  if (report) *report << "\nNumber of additional object points: " << added << "\n\n";
  return 1;
}

void countRaysPerObjectPoint(Block& block, std::ostream* report) {
  if (report) {
    *report << "Check number of rays per object point\n"
            << "=====================================\n"
            << "(Count number of rays per object point)\n"
            << "Number of points to check : " << block.objectPoints.entryCount() << "\n"
            << "Single-ray option         : " << onOff(block.options.singleRay) << "\n\n"
            << "<point ID>: <image ID> ... [<number of rays>]\n\n";
  }
  // Removing a point removes only that point's image points: the index stays valid.
  const RaysByPointId index = imagesByPointId(block);
  int removed = 0;
  for (int i = 0; i < block.objectPoints.entryCount(); ++i) {
    ObjectPoint* point = block.objectPoints.at(i);
    if (point == nullptr) continue;
    if (report) *report << point->id() << ":";
    const std::vector<BundleImage*> rays = imagesObserving(index, point->id());
    if (report) {
      for (const BundleImage* image : rays) *report << " " << image->id();
      *report << " [" << rays.size() << "]";
    }
    const int n = static_cast<int>(rays.size());
    point->rays = n;
    if (n >= kMinRaysPerPoint) {
      // used
    } else if (keptAsSingleRay(block, *point, n)) {
      if (report) *report << " -> single ray";
    } else {
      removeObjectPoint(block, i, report);
      ++removed;
    }
    if (report) *report << "\n";
  }
  if (report) *report << "Number of removed object points: " << removed << "\n\n";
}

void countRaysPerImage(Block& block, std::ostream* report) {
  if (report) {
    *report << "Check number of rays per image\n"
            << "==============================\n"
            << "(Count number of rays per image)\n"
            << "Number of images to check : " << block.images.entryCount() << "\n"
            << "<image ID>: <number of rays>\n\n";
  }
  int removed = 0;
  for (int i = 0; i < block.images.entryCount(); ++i) {
    BundleImage* image = block.images.at(i);
    if (image == nullptr) continue;
    const int n = static_cast<int>(image->points.size());
    if (report) *report << image->id() << ": " << n;
    if (n < kMinPointsPerImage) {
      block.images.remove(i);
      ++removed;
      if (report) *report << " -> removed";
    }
    if (report) *report << "\n";
  }
  if (report) *report << "Number of removed images: " << removed << "\n\n";
}

int calculateApproximations(Block& block, std::ostream* report, bool debug) {
  if (report) {
    *report << "Calculate object point approximations\n"
            << "=====================================\n"
            << "(By spatial intersection)\n"
            << "\n"
            << "                             X/m            Y/m            Z/m         e/m\n"
            << "\n";
  }
  const RaysByPointId index = imagesByPointId(block);
  int computed = 0;
  double totalE = 0.0;
  for (ObjectPoint* point : block.objectPoints.items()) {
    if (point->coordinatesGiven) continue;
    const std::vector<BundleImage*>& rays = imagesObserving(index, point->id());
    if (report) {
      *report << "Point: " << point->id() << " by ";
      for (const BundleImage* image : rays) *report << image->id() << " ";
      *report << "[" << rays.size() << "]\n";
    }
    if (static_cast<int>(rays.size()) < kMinRaysPerPoint) {
      messages() << "ATTENTION: Too few rays to compute object coordinates.\n";
      continue;
    }
    Vec3 mean{0.0, 0.0, 0.0};
    double meanE = 0.0;
    if (!intersectPoint(rays, point->id(), report, debug, mean, meanE)) return -1;
    if (report) {
      *report << "            average : ";
      printCoordinates(*report, mean, meanE);
      *report << "\n\n";
    }
    point->xyz = mean;
    point->coordinatesGiven = true;
    ++computed;
    totalE += meanE;
  }
  if (report) {
    *report << "Number of intersection points : " << computed << "\n"
            << "Total average distance of rays: e_mean = ";
    if (computed == 0) {
      *report << "   ---   ";
    } else {
      *report << formatFixed(totalE / computed, 3, 9);
    }
    *report << " m\n\n";
  }
  return 1;
}

std::set<const Camera*> camerasBoundByImages(const Block& block) {
  std::set<const Camera*> cameras;
  for (const BundleImage* image : block.images.items()) {
    if (image->camera != nullptr) cameras.insert(image->camera);
  }
  return cameras;
}

void cleanUp(Block& block, std::ostream& report, const std::set<const Camera*>* boundCameras) {
  report << "Clean up\n"
         << "--------\n"
         << "(Remove unused object points, EOs, Apsets, etc.)\n"
         << "\n";
  const std::set<const Camera*> current = camerasBoundByImages(block);
  const std::set<const Camera*>& cameras = boundCameras ? *boundCameras : current;
  const int images = removeUnused(
      block.images, [](const BundleImage& image) { return image.attached; }, report,
      "ATTENTION: BundleImage ");
  const int cams = removeUnused(
      block.cameras,
      [&](const Camera& camera) { return cameras.count(&camera) > 0 || !camera.apSets.empty(); },
      report, "ATTENTION: Camera ");
  const int points = removeUnused(
      block.objectPoints, [](const ObjectPoint& point) { return point.rays > 0; }, report,
      "ATTENTION: Object point ");
  // A geometry is kept only while an image of the block still binds it: the geometry of an
  // image removed for too few points would otherwise stay with unknowns but no observations.
  std::set<const ImageGeometry*> bound;
  for (const BundleImage* image : block.images.items()) bound.insert(image->geometry);
  const int geometries = removeUnused(
      block.geometries,
      [&](const ImageGeometry& geometry) {
        return geometry.usedByImage && bound.count(&geometry) > 0;
      },
      report, "ATTENTION: Station ");
  const int apSets = removeUnused(
      block.apSets, [](const APSet& set) { return set.attached; }, report, "ATTENTION: AP set ");
  const int posCorrections = removeUnused(
      block.posCorrections, [](const PosCorrection& c) { return c.attached; }, report,
      "ATTENTION: position correction ");
  const int attCorrections = removeUnused(
      block.attCorrections, [](const AttCorrection& c) { return c.attached; }, report,
      "ATTENTION: attitude correction ");
  report << "\nNumber of removed ...\n"
         << "  - images            : " << images << "\n"
         << "  - cameras           : " << cams << "\n"
         << "  - object points     : " << points << "\n"
         << "  - EOs               : " << geometries << "\n"
         << "  - AP sets           : " << apSets << "\n"
         << "  - Position corr.    : " << posCorrections << "\n"
         << "  - Attitude corr.    : " << attCorrections << "\n"
         << "\n";
}

void setReferenceTime(Block& block, std::ostream& report) {
  double tMin = 0.0;
  double tMax = 0.0;
  bool first = true;
  for (const ImageGeometry* geometry : block.geometries.items()) {
    tMin = first ? geometry->t : std::min(tMin, geometry->t);
    tMax = first ? geometry->t : std::max(tMax, geometry->t);
    first = false;
  }
  report << "Time interval\n"
         << "-------------\n"
         << "t_min        = " << formatFixed(tMin, 4, 12) << " s\n"
         << "t_max        = " << formatFixed(tMax, 4, 12) << " s\n"
         << "duration dt  = " << formatFixed(tMax - tMin, 4, 12) << " s\n"
         << "\n"
         << "Reference time t0 (= t_min) = " << formatFixed(tMin, 4, 12) << " s\n"
         << "\n";
  for (PosCorrection* correction : block.posCorrections.items()) correction->t0 = tMin;
  for (AttCorrection* correction : block.attCorrections.items()) correction->t0 = tMin;
}

}  // namespace bravik
