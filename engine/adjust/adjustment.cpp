#include "adjust/adjustment.h"

#include <filesystem>
#include <fstream>
#include <ostream>
#include <set>

#include "adjust/approximations.h"
#include "adjust/quality_analysis.h"
#include "report/report_sections.h"
#include "util/diagnostics.h"

namespace bravik {
namespace {

int attachGeometries(Block& block, std::ostream& report) {
  for (BundleImage* image : block.images.items()) {
    ImageGeometry* geometry = block.geometries.find(image->geometryId);
    if (geometry == nullptr) {
      report << "ERROR: Attach EO for image " << image->id() << " failed.\n";
      return -1;
    }
    image->geometry = geometry;
    geometry->usedByImage = true;
    image->attached = true;
  }
  return 1;
}

int attachAPSets(Block& block, std::ostream& report) {
  for (APSet* set : block.apSets.items()) {
    if (set->attach(block.cameras) != 1) {
      report << "ERROR: Attach AP set " << set->id() << " failed.\n";
      return -1;
    }
  }
  return 1;
}

template <class T>
int attachCorrections(OwnedList<T>& corrections, const OwnedList<ImageGeometry>& geometries,
                      const char* kind, std::ostream& report) {
  for (T* correction : corrections.items()) {
    if (correction->attach(geometries) != 1) {
      report << "ERROR: Attach " << kind << " correction " << correction->id() << " failed.\n";
      return -1;
    }
  }
  return 1;
}

void refreshGeometries(Block& block) {
  for (ImageGeometry* geometry : block.geometries.items()) geometry->refresh();
}

void computeGeometryApproximations(Block& block) {
  for (ImageGeometry* geometry : block.geometries.items()) {
    geometry->computeApproximation();
    geometry->refresh();
  }
}

std::ostream* reportIf(bool on, std::ostream& report) { return on ? &report : nullptr; }

// Records, then the "Cameras" section, written to a temporary that is renamed over `path`
// only when every byte reached it; otherwise the run's "ERROR: " line for an output file.
bool writeCameraFileAt(const Block& block, const std::string& path) {
  const std::string temporary = path + ".tmp";
  std::ofstream cam(temporary, std::ios::trunc);
  if (!cam) {
    messages() << "ERROR: Cannot open output file: " << path << "\n";
    return false;
  }
  writeCameraRecords(block, cam);
  writeCamerasSection(block, cam);
  cam.close();
  std::error_code error;
  if (!cam.fail()) std::filesystem::rename(temporary, path, error);
  if (cam.fail() || error) {
    messages() << "ERROR: Cannot write output file: " << path << "\n";
    std::filesystem::remove(temporary, error);
    return false;
  }
  return true;
}

}  // namespace

int Adjustment::attachObjects(std::ostream& report) {
  if (attachGeometries(block_, report) != 1) return -1;
  if (attachAPSets(block_, report) != 1) return -1;
  if (attachCorrections(block_.posCorrections, block_.geometries, "position", report) != 1) {
    return -1;
  }
  return attachCorrections(block_.attCorrections, block_.geometries, "attitude", report);
}

int Adjustment::initialize(std::ostream& report) {
  const double start = processorSeconds();
  report << "*** Start initialize adjustment\n\n";
  const std::set<const Camera*> boundCameras = camerasBoundByImages(block_);
  if (attachObjects(report) != 1) return -1;

  const RunOptions& options = block_.options;
  checkApproximations(block_, reportIf(options.printCheckApproximations, report));
  countRaysPerObjectPoint(block_, reportIf(options.printCheckRays, report));
  countRaysPerImage(block_, reportIf(options.printCheckRays, report));
  computeGeometryApproximations(block_);
  if (calculateApproximations(block_, reportIf(options.printIntersection, report),
                              options.debugIntersection) != 1) {
    report << "ERROR: Calculation of object point approximations failed.\n";
  }
  cleanUp(block_, report, &boundCameras);
  setReferenceTime(block_, report);
  refreshGeometries(block_);
  return initializeAdjustmentTail(block_, state_, report, start);
}

int Adjustment::iterate(std::ostream& report) { return bravik::iterate(block_, state_, report); }

void Adjustment::analyseQuality(std::ostream* reliability) {
  bravik::analyseQuality(block_, state_, quality_, reliability);
  analysed_ = true;
}

bool Adjustment::writeResults(const OutputFiles& files, bool writeCameraFile) const {
  writeCamerasSection(block_, files.report);
  writeAPSetsSection(block_, files.report);
  writeAPSetRecords(block_, files.apset);
  writeGeometryRecords(block_, files.ext);
  writeExtOrientationsSection(block_, files.report);
  writeObjectPointRecords(block_, files.ocs);
  writeObjectPointsSection(block_, files.report);
  writeImagePointRecords(block_, files.res);
  writeImageResidualsSection(block_, state_.counts.redundancy(), files.report);
  const bool cameraFileWritten = !writeCameraFile || writeCameraFileAt(block_, files.camPath);
  writeControlPointResiduals(block_, files.gcpres);
  writeControlPointResiduals(block_, files.report);
  writeCheckPointAnalysis(block_, files.chp);
  writeCheckPointAnalysis(block_, files.report);
  if (analysed_) {
    writeQualitySections(block_, quality_, files.report);
    if (files.sdv != nullptr) writePrecisionRecords(block_, quality_, *files.sdv);
  }
  return cameraFileWritten;
}

int runAdjustment(Block& block, const OutputFiles& files, bool writeCameraFile) {
  Adjustment adjustment(block);
  if (adjustment.initialize(files.report) != 1) return -1;
  if (adjustment.iterate(files.report) != 1) return -1;
  if (block.options.qualityAnalysis) adjustment.analyseQuality(files.rel);
  return adjustment.writeResults(files, writeCameraFile) ? 1 : -1;
}

}  // namespace bravik
