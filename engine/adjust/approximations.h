#ifndef BRAVIK_ADJUST_APPROXIMATIONS_H
#define BRAVIK_ADJUST_APPROXIMATIONS_H

#include <iosfwd>
#include <set>

#include "models/block.h"

namespace bravik {

// Block checks run once before the unknowns are numbered, in this order: check of
// approximations, rays per object point, rays per image, (image-geometry
// approximations), spatial intersection, clean-up. A null `report` prints nothing
// there; notices that belong to the diagnostics sink still go there. Removal never shifts a
// list: the object is destroyed and its entry left empty.

// Minimum rays of an object point and image points of an image.
constexpr int kMinRaysPerPoint = 2;
constexpr int kMinPointsPerImage = 3;

// Creates a default intersection point for every image-point ID that names no object
// point and appends it to the object points. Result 1.
int checkApproximations(Block& block, std::ostream* report);

// Stores the number of observing images in every object point's ray counter and removes
// the points that cannot be adjusted (fewer than 2 rays, unless a single-ray point with
// no free coordinate is allowed by the single-ray option), together with their image
// points.
void countRaysPerObjectPoint(Block& block, std::ostream* report);

// Removes every image with fewer than 3 image points.
void countRaysPerImage(Block& block, std::ostream* report);

// Approximates every object point without given coordinates by the mean of all pairwise
// two-ray intersections of its images. 1, or -1 when an intersection failed (points
// computed before keep their results).
int calculateApproximations(Block& block, std::ostream* report, bool debug);

// The cameras bound by the images as they stand now; taken before images are removed so
// that the clean-up keeps a camera whose images were dropped by the checks.
std::set<const Camera*> camerasBoundByImages(const Block& block);

// Removes every object that takes no part in the adjustment and prints what was removed.
// An object point counts as used when the ray check left it a ray. `boundCameras` are the
// cameras bound while reading; null takes the cameras of the images left.
void cleanUp(Block& block, std::ostream& report,
             const std::set<const Camera*>* boundCameras = nullptr);

// Reference time of the corrections: prints the "Time interval" section for the exposure
// times of all image geometries and sets t0 = t_min in every correction.
void setReferenceTime(Block& block, std::ostream& report);

}  // namespace bravik

#endif  // BRAVIK_ADJUST_APPROXIMATIONS_H
