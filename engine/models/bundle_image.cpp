#include "models/bundle_image.h"

#include <iostream>
#include <utility>

#include "lsq/ls_params.h"
#include "lsq/normal_system.h"
#include "models/ap_set.h"
#include "models/camera.h"
#include "models/corrections.h"
#include "models/image_geometry.h"
#include "models/object_point.h"
#include "util/diagnostics.h"

namespace bravik {

BundleImage::BundleImage(std::string id, std::string geometryId, std::string cameraId,
                         Camera* camera)
    : cameraId(std::move(cameraId)),
      geometryId(std::move(geometryId)),
      camera(camera),
      id_(std::move(id)) {}

bool BundleImage::insertPoint(const ImagePoint& point) {
  for (ImagePoint& existing : points) {
    if (existing.id == point.id) {
      existing = point;
      return true;
    }
  }
  points.push_back(point);
  return false;
}

int BundleImage::projection(const Vec3& P, double& x, double& y) const {
  if (geometry == nullptr || camera == nullptr) return -1;
  double u = 0.0;
  double v = 0.0;
  if (geometry->projection(P, -camera->c, u, v) != 1) return -1;
  double dx = 0.0;
  double dy = 0.0;
  camera->distortion(u, v, dx, dy);
  x = camera->xp + u + dx;
  y = camera->yp + v + dy;
  return 1;
}

int BundleImage::imageToObject() const {
  messages() << "ERROR: image_to_object() not implemented yet!\n";
  return -1;
}

namespace {

Matrix identity2() {
  Matrix m(2, 2);
  m(0, 0) = m(1, 1) = 1.0;
  return m;
}

}  // namespace

const ObjectPoint* BundleImage::lookUpObjectPoint(std::size_t k,
                                                  const OwnedList<ObjectPoint>& objectPoints,
                                                  int& entry) const {
  const std::string& id = points[k].id;
  entry = k < objectEntries_.size() ? objectEntries_[k] : -1;
  if (entry >= 0 && entry < objectPoints.entryCount()) {
    const ObjectPoint* candidate = objectPoints.at(entry);
    if (candidate != nullptr && candidate->id() == id) return candidate;
  }
  entry = objectPoints.indexOf(id);
  return entry < 0 ? nullptr : objectPoints.at(entry);
}

const ObjectPoint* BundleImage::objectPointOf(std::size_t k,
                                              const OwnedList<ObjectPoint>& objectPoints) const {
  if (objectEntries_.size() != points.size()) objectEntries_.assign(points.size(), -1);
  int entry = -1;
  const ObjectPoint* object = lookUpObjectPoint(k, objectPoints, entry);
  objectEntries_[k] = entry;
  return object;
}

void BundleImage::prepareForLanes(const OwnedList<ObjectPoint>& objectPoints) const {
  findObjectPointsForLanes(objectPoints);
  if (geometry != nullptr) geometry->prepareDerivatives();
}

void BundleImage::findObjectPointsForLanes(const OwnedList<ObjectPoint>& objectPoints) const {
  laneObjects_.resize(points.size());
  lanePoints_.resize(points.size());
  if (objectEntries_.size() != points.size()) objectEntries_.assign(points.size(), -1);
  for (std::size_t k = 0; k < points.size(); ++k) {
    // The remembered entries of the next points are requested early: the look-up compares IDs.
    constexpr std::size_t kAhead = 8;
    if (k + kAhead < points.size() && objectEntries_[k + kAhead] >= 0 &&
        objectEntries_[k + kAhead] < objectPoints.entryCount()) {
      if (const ObjectPoint* next = objectPoints.at(objectEntries_[k + kAhead]))
        __builtin_prefetch(next);
    }
    const ObjectPoint* object = objectPointOf(k, objectPoints);
    laneObjects_[k] = object;
    lanePoints_[k] =
        object == nullptr || object->firstUnknown() < 0 ? -1 : object->firstUnknown() / 3;
  }
}

namespace {

// A = (I + J) A for the 2 x k block A: the derivatives of the collinearity coordinates u
// become those of the corrected projection u + D(u) a.
void chainThroughDistortion(const double (&J)[2][2], Matrix& A) {
  for (int k = 0; k < A.cols(); ++k) {
    const double du = A(0, k);
    const double dv = A(1, k);
    A(0, k) = du + J[0][0] * du + J[0][1] * dv;
    A(1, k) = dv + J[1][0] * du + J[1][1] * dv;
  }
}

}  // namespace

// The model of a measured point is x = xp + u(P, geometry) + D(u) a summed over the camera's AP
// sets, linearised at the projection u: the geometry's derivatives are chained through
// I + d(D a)/du and every set's D is taken at u, so that Gauss-Newton converges to the
// minimum of vtpv. Without AP sets the chain factor is the identity and is skipped.
int BundleImage::buildObservationGroup(std::size_t k, const ObjectPoint& object, const LSParams& ls,
                                       ObservationGroup& group) const {
  const ImagePoint& point = points[k];
  const double sigma0 = ls.sigma0;
  double sx = 0.0;
  double sy = 0.0;
  camera->scaleStdDevs(point.sx, point.sy, sx, sy);
  group.Q.resize(2, 2);
  group.Q(0, 0) = (sx / sigma0) * (sx / sigma0);
  group.Q(1, 1) = (sy / sigma0) * (sy / sigma0);

  double x = 0.0;
  double y = 0.0;
  camera->cameraToImage(point.x, point.y, x, y);
  const double z = -camera->c;
  double u = 0.0;
  double v = 0.0;
  if (geometry->projection(object.xyz, z, u, v) != 1) return -1;
  const Vec3 projected{u, v, z};

  // The derivative blocks are swapped into the group, so the matrices of the previous point come
  // back to be refilled: no allocation per point once the sizes are known.
  thread_local GeometryDerivs derivs;
  for (Matrix* A : {&derivs.objectPoint, &derivs.params, &derivs.posCorrection,
                    &derivs.attCorrection, &derivs.observations})
    A->resize(0, 0);
  if (geometry->getDerivs(projected, object.xyz, derivs) != 1) return -1;
  if (!camera->apSets.empty()) {
    double J[2][2];
    if (!camera->distortionJacobian(u, v, J)) return -1;
    for (Matrix* A :
         {&derivs.objectPoint, &derivs.params, &derivs.posCorrection, &derivs.attCorrection}) {
      if (A->rows() == 2) chainThroughDistortion(J, *A);
    }
  }
  std::size_t used = 0;
  auto put = [&](Matrix& A, int offset) {
    if (group.blocks.size() <= used) group.blocks.emplace_back();
    std::swap(group.blocks[used].A, A);
    group.blocks[used].offset = offset;
    ++used;
  };
  put(derivs.objectPoint, object.firstUnknown());
  put(derivs.params, geometry->firstUnknown());
  if (geometry->posCorrection() != nullptr && derivs.posCorrection.rows() == 2)
    put(derivs.posCorrection, geometry->posCorrection()->firstUnknown());
  if (geometry->attCorrection() != nullptr && derivs.attCorrection.rows() == 2)
    put(derivs.attCorrection, geometry->attCorrection()->firstUnknown());
  for (const APSet* set : camera->apSets) {
    if (set == nullptr) {
      numericMessages() << "ERROR: Camera::get_derivs: null pointer!\n";
      continue;
    }
    Matrix D;
    if (set->derivatives(u, v, z, D) != 1) return -1;
    put(D, set->firstUnknown());
  }
  group.blocks.resize(used);
  if (derivs.observations.rows() == 2) {
    std::swap(group.B, derivs.observations);
  } else {
    group.B = identity2();
  }

  double dx = 0.0;
  double dy = 0.0;
  camera->distortion(u, v, dx, dy);  // a set that cannot evaluate failed above
  group.l = {x - (camera->xp + u + dx), y - (camera->yp + v + dy)};
  return 1;
}

int BundleImage::addPointToNormals(std::size_t k, const ObjectPoint& object, NormalSystem& normals,
                                   int lane, const LSParams& ls, ObservationGroup& group) const {
  if (buildObservationGroup(k, object, ls, group) != 1) return -1;
  const bool added = lane < 0 ? normals.accumulate(group) : normals.accumulateInLane(group, lane);
  return added ? 1 : -1;
}

int BundleImage::observationGroup(std::size_t k, const OwnedList<ObjectPoint>& objectPoints,
                                  const LSParams& ls, ObservationGroup& group) const {
  if (geometry == nullptr || camera == nullptr || k >= points.size()) return -1;
  const ObjectPoint* object = objectPointOf(k, objectPoints);
  if (object == nullptr) return 0;
  return buildObservationGroup(k, *object, ls, group);
}

int BundleImage::addToNormals(NormalSystem& normals, const OwnedList<ObjectPoint>& objectPoints,
                              const LSParams& ls, int& observations) const {
  if (geometry == nullptr || camera == nullptr) return -1;
  ObservationGroup group;  // reused: its block list keeps its capacity between points
  for (std::size_t k = 0; k < points.size(); ++k) {
    const ObjectPoint* object = objectPointOf(k, objectPoints);
    if (object == nullptr) {
      messages() << "ATTENTION: Object point " << points[k].id << " not found.\n";
      continue;
    }
    if (addPointToNormals(k, *object, normals, -1, ls, group) != 1) return -1;
    observations += 2;
  }
  return 1;
}

int BundleImage::addToNormalsInLane(NormalSystem& normals, const OwnedList<ObjectPoint>&, int lane,
                                    const LSParams& ls, int& observations) const {
  if (geometry == nullptr || camera == nullptr) return -1;
  ObservationGroup group;
  if (laneObjects_.size() != points.size()) return -1;  // prepareForLanes() was not called
  for (std::size_t k = 0; k < points.size(); ++k) {
    // The lane is decided from the remembered index: the other lanes' object points stay out
    // of this thread's cache.
    if (normals.laneOfPoint(lanePoints_[k]) != lane) continue;
    // Object points lie anywhere in memory: the next ones of this lane are requested early.
    constexpr std::size_t kAhead[3] = {16, 8, 4};  // per stage of NormalSystem::prefetchPoint
    for (int stage = 0; stage < 3; ++stage) {
      const std::size_t ahead = k + kAhead[stage];
      if (ahead >= points.size() || normals.laneOfPoint(lanePoints_[ahead]) != lane) continue;
      if (stage == 1 && laneObjects_[ahead] != nullptr)
        __builtin_prefetch(&laneObjects_[ahead]->xyz);
      normals.prefetchPoint(lanePoints_[ahead], stage);
    }
    const ObjectPoint* object = laneObjects_[k];
    if (object == nullptr) {
      messages() << "ATTENTION: Object point " << points[k].id << " not found.\n";
      continue;
    }
    if (addPointToNormals(k, *object, normals, lane, ls, group) != 1) return -1;
    observations += 2;
  }
  return 1;
}

}  // namespace bravik
