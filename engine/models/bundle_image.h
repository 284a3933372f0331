#ifndef BRAVIK_MODELS_BUNDLE_IMAGE_H
#define BRAVIK_MODELS_BUNDLE_IMAGE_H

#include <string>
#include <vector>

#include "models/object_point.h"
#include "models/owned_list.h"
#include "models/vec3.h"

namespace bravik {

class Camera;
class ImageGeometry;
class NormalSystem;
struct LSParams;
struct ObservationGroup;

// One measured point: coordinates and std. devs. in the camera's own units
// (metres for a frame camera, pixels for the CCD cameras).
struct ImagePoint {
  std::string id;
  double x = 0.0;
  double y = 0.0;
  double sx = 0.0;
  double sy = 0.0;
};

// One image: its camera, its image geometry and its measured points (IDs unique).
class BundleImage {
 public:
  BundleImage(std::string id, std::string geometryId, std::string cameraId, Camera* camera);

  const std::string& id() const { return id_; }
  // Inserts by point ID; true when an earlier record was replaced in place.
  bool insertPoint(const ImagePoint& point);

  // Image coordinates (x, y) of object point P: the geometry's reduced coordinates plus
  // principal point and AP corrections. 1, or -1 when no geometry is attached or the
  // projection fails.
  int projection(const Vec3& P, double& x, double& y) const;
  // Not provided: prints "ERROR: image_to_object() not implemented yet!" and returns -1.
  int imageToObject() const;
  // Adds two observation equations per point whose object point exists; counts them
  // in `observations`. 1 when all points were processed, -1 when a point failed.
  int addToNormals(NormalSystem& normals, const OwnedList<ObjectPoint>& points, const LSParams& ls,
                   int& observations) const;
  // Concurrent accumulation (see NormalSystem::beginLanes): prepareForLanes() on one thread first,
  // then addToNormalsInLane() adds the points whose object point belongs to `lane`, and may run
  // for different lanes at once.
  void prepareForLanes(const OwnedList<ObjectPoint>& points) const;
  // The part of prepareForLanes() that touches only this image: may run for different images at
  // once; prepareForLanes() is then still needed for the geometry (or call prepareDerivatives()).
  void findObjectPointsForLanes(const OwnedList<ObjectPoint>& points) const;
  // The two observation equations of points[k] as addToNormals() adds them, linearised at the
  // current values (misclosures l = measured minus modelled). 1, 0 when the object point does not
  // exist (the point is not used), -1 when the model cannot be evaluated.
  int observationGroup(std::size_t k, const OwnedList<ObjectPoint>& points, const LSParams& ls,
                       ObservationGroup& group) const;
  int addToNormalsInLane(NormalSystem& normals, const OwnedList<ObjectPoint>& points, int lane,
                         const LSParams& ls, int& observations) const;

  std::string cameraId;
  std::string geometryId;
  Camera* camera = nullptr;           // not owned, bound while the image is read
  ImageGeometry* geometry = nullptr;  // not owned, bound by the initialisation
  bool attached = false;
  std::vector<ImagePoint> points;

 private:
  // Object point of points[k], or nullptr. The list entry found last time is tried first and
  // accepted only when it still holds an object with that ID.
  const ObjectPoint* objectPointOf(std::size_t k, const OwnedList<ObjectPoint>& objectPoints) const;
  // As objectPointOf() without remembering: `entry` receives the list entry found, or -1.
  const ObjectPoint* lookUpObjectPoint(std::size_t k, const OwnedList<ObjectPoint>& objectPoints,
                                       int& entry) const;
  int buildObservationGroup(std::size_t k, const ObjectPoint& object, const LSParams& ls,
                            ObservationGroup& group) const;
  // lane < 0 accumulates directly, otherwise in that lane.
  int addPointToNormals(std::size_t k, const ObjectPoint& object, NormalSystem& normals, int lane,
                        const LSParams& ls, ObservationGroup& group) const;

  std::string id_;
  mutable std::vector<int> objectEntries_;  // per image point: remembered list entry, or -1
  // Per image point: its object point as prepareForLanes() found it, or nullptr.
  mutable std::vector<const ObjectPoint*> laneObjects_;
  mutable std::vector<int> lanePoints_;  // and the index of that object point, or -1
};

}  // namespace bravik

#endif  // BRAVIK_MODELS_BUNDLE_IMAGE_H
