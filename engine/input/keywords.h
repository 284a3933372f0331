#ifndef BRAVIK_INPUT_KEYWORDS_H
#define BRAVIK_INPUT_KEYWORDS_H

#include <string>

namespace bravik {

// Numbers of the keyword table shared by the main input file and the typed files.
enum Keyword : int {
  kKwUnknown = 0,
  kKwParams = 1,
  kKwLsParams = 2,
  kKwCamera = 3,
  kKwCameraFrame = 4,
  kKwCameraCcd = 5,
  kKwCameraCcdTr = 6,
  kKwCameraPushbroom = 7,
  kKwImage = 8,
  kKwImageFrame = 9,
  kKwImageScanner = 10,
  kKwImageGeometry = 11,
  kKwExtOri = 12,
  kKwExtOriOpkRot = 13,
  kKwExtOriPokRot = 14,
  kKwExtOriOpkFix = 15,
  kKwExtOriAustralis = 16,
  kKwExtOriQuaternion = 17,
  kKwDlt = 18,
  kKwExtOriKratky = 19,
  kKwPmfLinear = 20,
  kKwImageCrds = 21,
  kKwObjCrds = 22,
  kKwCtrlSupp = 23,
  kKwApSet = 24,
  kKwGap = 25,
  kKwAustralis = 26,
  kKwP12 = 27,
  kKwP44 = 28,
  kKwInnerOr = 29,
  kKwRadialDist = 30,
  kKwDecenteringDist = 31,
  kKwInPlaneDist = 32,
  kKwOutOfPlaneDist = 33,
  kKwPosCor = 34,
  kKwAttCor = 35,
  kKwPatbParams = 36,
  kKwPatbPhotos = 37,
  kKwPatbControl = 38,
  kKwPatbOrient = 39,
  kKwOcTransform = 40,
  kKwStopDep = 41,
};

// Exact, case-sensitive lookup in table order; 0 when the word is no keyword.
int keywordNumber(const std::string& word);

}  // namespace bravik

#endif  // BRAVIK_INPUT_KEYWORDS_H
