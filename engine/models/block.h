#ifndef BRAVIK_MODELS_BLOCK_H
#define BRAVIK_MODELS_BLOCK_H

#include <string>

#include "lsq/adj_object.h"
#include "lsq/ls_params.h"
#include "models/ap_set.h"
#include "models/bundle_image.h"
#include "models/camera.h"
#include "models/corrections.h"
#include "models/image_geometry.h"
#include "models/object_point.h"
#include "models/owned_list.h"

namespace bravik {

inline constexpr double kDefaultSnoopingLimit = 3.29;

// Run options of one run ("params" file), with their defaults.
struct RunOptions {
  bool singleRay = false;
  bool printCheckApproximations = false;
  bool printCheckRays = false;
  bool printIntersection = false;
  bool printImageCoords = false;
  bool printObjectCoords = false;
  bool printExtOrientations = false;
  bool printAPSets = false;
  bool printPosCorrections = false;
  bool printAttCorrections = false;
  bool debugUnknownsTable = false;
  bool debugIntersection = false;
  int apGridX = 5;
  int apGridY = 5;
  // Normal-equation dump files; "none" writes nothing.
  std::string normalStructureFile = "none";
  std::string normalMatrixFile = "none";
  std::string rhsFile = "none";
  std::string solutionFile = "none";
  // Optional trailing "quality-analysis" entry: precision of the unknowns, correlations, AP
  // significance and data snooping after the adjustment. Off unless the entry switches it on.
  bool qualityAnalysis = false;
  // Normalised residuals above this are flagged (3.29: two-sided test at alpha 0.001).
  double snoopingLimit = kDefaultSnoopingLimit;
};

// Everything one run reads and adjusts. The lists own their objects and keep input
// order; cross references between objects are non-owning.
struct Block {
  Block() = default;
  // A block whose run starts with the settings left by the previous run.
  explicit Block(const LSParams& startSettings) : settings(startSettings) {}

  RunOptions options;
  // The least-squares settings of this run: the ones it started with until an "ls-params"
  // file was read completely, then that file's. Every step of the run reads them here.
  LSParams settings;
  OwnedList<BundleImage> images;
  OwnedList<Camera> cameras;
  OwnedList<ObjectPoint> objectPoints;
  OwnedList<ImageGeometry> geometries;
  OwnedList<APSet> apSets;
  OwnedList<PosCorrection> posCorrections;
  OwnedList<AttCorrection> attCorrections;
  AdjObjectList adjObjects;
  int observationCount = 0;
  int constraintCount = 0;
  int iterationCount = 0;
};

}  // namespace bravik

#endif  // BRAVIK_MODELS_BLOCK_H
