// Readers of the typed object files: cameras, images, image geometries, AP sets and
// the position and attitude corrections.
#include <iostream>
#include <memory>
#include <string>

#include "input/keywords.h"
#include "input/readers.h"
#include "lsq/ls_params.h"
#include "models/ext_orientation.h"
#include "util/diagnostics.h"
#include "util/tokens.h"

namespace bravik {
namespace {

std::unique_ptr<Camera> makeCamera(const std::string& keyword) {
  switch (keywordNumber(keyword)) {
    case kKwCameraFrame:
      return std::make_unique<Camera>();
    case kKwCameraCcd:
      return std::make_unique<CameraCCD>();
    case kKwCameraCcdTr:
      return std::make_unique<CameraCCDTR>();
    case kKwCameraPushbroom:
      return std::make_unique<PBCamera>();
    default:
      return nullptr;
  }
}

std::unique_ptr<ExtOrientation> makeExtOrientation(const std::string& keyword) {
  switch (keywordNumber(keyword)) {
    case kKwExtOriOpkRot:
      return std::make_unique<EOAnglesOPKRot>();
    case kKwExtOriPokRot:
      return std::make_unique<EOAnglesPOKRot>();
    case kKwExtOriOpkFix:
      return std::make_unique<EOAnglesOPKFix>();
    case kKwExtOriAustralis:
      return std::make_unique<EOAustralis>();
    case kKwExtOriQuaternion:
      return std::make_unique<EOQuaternion>();
    default:
      return nullptr;
  }
}

std::unique_ptr<ImageGeometry> makeGeometry(const std::string& keyword) {
  switch (keywordNumber(keyword)) {
    case kKwDlt:
      return std::make_unique<DirectLinearTransf>();
    case kKwPmfLinear:
      return std::make_unique<PMFLinear>();
    default:
      return makeExtOrientation(keyword);
  }
}

int readIndividualGeometries(std::istream& in, OwnedList<ImageGeometry>& geometries,
                             const LSParams& ls) {
  std::string keyword;
  while (readWord(in, keyword) && !isStopDep(keyword)) {
    std::unique_ptr<ImageGeometry> geometry = makeGeometry(keyword);
    if (!geometry) {
      messages() << "ERROR: Unknown type of image geometry: " << keyword << "\n";
      return -1;
    }
    if (geometry->readRecord(in, ls) != 1) {
      messages() << "ERROR: Reading exterior orientation failed.\n";
      return -1;
    }
    const std::string id = geometry->id();
    if (geometries.insert(std::move(geometry))) {
      messages() << "ATTENTION: EO " << id << " was replaced.\n";
    }
  }
  return 1;
}

// Header of the common-type form.
struct CommonHeader {
  std::string keyword;
  UnitAngle unit;
  bool withTime = false;
  bool withMatrix = false;
  double centreSdev[3] = {0.0, 0.0, 0.0};
  double rotationSdev[4] = {0.0, 0.0, 0.0, 0.0};
};

int readCommonHeader(std::istream& in, CommonHeader& header, const LSParams& ls) {
  if (!readWord(in, header.keyword)) {
    messages() << "ERROR: Cannot read type of geometry.\n";
    return -1;
  }
  if (!makeExtOrientation(header.keyword)) {
    messages() << "ERROR: Unknown type of image geometry: " << header.keyword << "\n";
    return -1;
  }
  std::string word;
  if (!readWord(in, word)) {
    messages() << "ERROR: Cannot read unit of rotation angles.\n";
    return -1;
  }
  if (!header.unit.lookup(word)) {
    messages() << "ERROR: Invalid unit of rotation angles: " << word << "\n";
    return -1;
  }
  if (!readSwitch(in, header.withTime)) {
    messages() << "ERROR: Cannot read time flag.\n";
    return -1;
  }
  if (!readSwitch(in, header.withMatrix)) {
    messages() << "ERROR: Cannot read rotation matrix flag.\n";
    return -1;
  }
  // A quaternion has four rotation parameters and so four std. devs., not converted.
  const bool quaternion = keywordNumber(header.keyword) == kKwExtOriQuaternion;
  const int rotationCount = quaternion ? 4 : 3;
  bool ok = readTriple(in, header.centreSdev);
  for (int k = 0; ok && k < rotationCount; ++k) ok = readDouble(in, header.rotationSdev[k]);
  if (!ok) {
    messages() << "ERROR: Cannot read common std. devs.\n";
    return -1;
  }
  if (!quaternion) {
    for (int k = 0; k < 3; ++k) {
      double& s = header.rotationSdev[k];
      if (ls.isObserved(s)) s /= header.unit.factor();
    }
  }
  return 1;
}

// One record of the common-type form after its station ID.
int readCommonRecord(std::istream& in, const CommonHeader& header, ExtOrientation& eo) {
  if (header.withTime && !readDouble(in, eo.t)) {
    messages() << "ERROR: Cannot read exposure time.\n";
    return -1;
  }
  if (!readTriple(in, &eo.p[0])) {
    messages() << "ERROR: Cannot read projection centre coords.\n";
    return -1;
  }
  const int rotationCount = eo.rotationCount();
  if (header.withMatrix) {
    Mat3 R;
    for (double& element : R) {
      if (!readDouble(in, element)) {
        messages() << "ERROR: Cannot read rotation matrix.\n";
        return -1;
      }
    }
    eo.setRotationMatrix(R);
  } else {
    const bool angles = rotationCount == 3;
    for (int k = 0; k < rotationCount; ++k) {
      double value = 0.0;
      if (!readDouble(in, value)) {
        messages() << "ERROR: Cannot read rotation parameters.\n";
        return -1;
      }
      eo.p[3 + k] = angles ? value / header.unit.factor() : value;
    }
  }
  for (int k = 0; k < 3; ++k) eo.s[k] = header.centreSdev[k];
  for (int k = 0; k < rotationCount; ++k) eo.s[3 + k] = header.rotationSdev[k];
  if (auto* eo3 = dynamic_cast<ExtOrientation3*>(&eo)) eo3->angleUnit = header.unit;
  eo.refresh();
  return 1;
}

int readCommonGeometries(std::istream& in, OwnedList<ImageGeometry>& geometries,
                         const LSParams& ls) {
  CommonHeader header;
  if (readCommonHeader(in, header, ls) != 1) return -1;
  std::string station;
  while (readWord(in, station) && !isListEnd(station)) {
    std::unique_ptr<ExtOrientation> eo = makeExtOrientation(header.keyword);
    eo->setId(station);
    if (readCommonRecord(in, header, *eo) != 1) return -1;
    if (geometries.insert(std::move(eo))) {
      messages() << "ATTENTION: Exterior orientation " << station << " was replaced.\n";
    }
  }
  return 1;
}

template <class Correction>
int readCorrectionFile(std::istream& in, OwnedList<Correction>& corrections,
                       const char* replacedNotice) {
  std::string id;
  while (readWord(in, id) && !isStopDep(id)) {
    auto correction = std::make_unique<Correction>(id);
    if (correction->readRecord(in) != 1) return -1;
    if (corrections.insert(std::move(correction))) {
      messages() << "ATTENTION: " << replacedNotice << " " << id << " was replaced.\n";
    }
  }
  return 1;
}

}  // namespace

int readCameraFile(std::istream& in, OwnedList<Camera>& cameras) {
  std::string keyword;
  while (readWord(in, keyword) && !isStopDep(keyword)) {
    std::unique_ptr<Camera> camera = makeCamera(keyword);
    if (!camera) {
      messages() << "ERROR: Unknown camera type: " << keyword << "\n";
      return -1;
    }
    if (camera->readRecord(in) != 1) {
      messages() << "ERROR: Reading camera " << camera->id() << " failed.\n";
      return -1;
    }
    const std::string id = camera->id();
    if (cameras.insert(std::move(camera))) {
      messages() << "ATTENTION: Camera " << id << " was replaced.\n";
    }
  }
  return 1;
}

int readImageFile(std::istream& in, OwnedList<BundleImage>& images,
                  const OwnedList<Camera>& cameras) {
  std::string keyword;
  while (readWord(in, keyword) && !isStopDep(keyword)) {
    if (keyword != "image-frame") {
      messages() << "ERROR: Unknown image type: " << keyword << "\n";
      return -1;
    }
    std::string id, geometryId, cameraId;
    if (!readWord(in, id) || !readWord(in, geometryId) || !readWord(in, cameraId)) {
      messages() << "ERROR: Reading image " << id << " failed.\n";
      return -1;
    }
    Camera* camera = cameras.find(cameraId);
    if (camera == nullptr) {
      messages() << "ERROR: Attach camera " << cameraId << " for image " << id << " not failed.\n"
                 << "ERROR: Reading image " << id << " failed.\n";
      return -1;
    }
    if (images.insert(std::make_unique<BundleImage>(id, geometryId, cameraId, camera))) {
      messages() << "ATTENTION: BundleImage " << id << " was replaced.\n";
    }
  }
  return 1;
}

int readGeometryFile(std::istream& in, OwnedList<ImageGeometry>& geometries, const LSParams& ls) {
  std::string form;
  if (!readWord(in, form)) {
    messages() << "ERROR: Reading keyword failed.\n";
    return -1;
  }
  if (form == "indiv-type") {
    if (readIndividualGeometries(in, geometries, ls) == 1) return 1;
    messages() << "ERROR: Reading EO individual type failed.\n";
    return -1;
  }
  if (form == "common-type") {
    if (readCommonGeometries(in, geometries, ls) == 1) return 1;
    messages() << "ERROR: Reading EO common type failed.\n";
    return -1;
  }
  messages() << "ERROR: Unknown keyword: " << form << "\n";
  return -1;
}

int readAPSetFile(std::istream& in, OwnedList<APSet>& sets) {
  std::string keyword;
  while (readWord(in, keyword) && !isStopDep(keyword)) {
    std::unique_ptr<APSet> set = makeAPSet(keyword);
    if (!set) {
      messages() << "ERROR: Read AP set: Unknown type: " << keyword << "\n";
      return -1;
    }
    if (set->readRecord(in) != 1) {
      messages() << "ERROR: Read AP set " << set->id() << " failed.\n";
      return -1;
    }
    const std::string id = set->id();
    if (sets.insert(std::move(set))) {
      messages() << "ATTENTION: AP set " << id << " was replaced.\n";
    }
  }
  return 1;
}

int readPosCorrectionFile(std::istream& in, OwnedList<PosCorrection>& corrections) {
  return readCorrectionFile(in, corrections, "Position correction");
}

int readAttCorrectionFile(std::istream& in, OwnedList<AttCorrection>& corrections) {
  return readCorrectionFile(in, corrections, "Attitude correction");
}

}  // namespace bravik
