// The sparse-adjustment exchange file (.bro): parse for a project of 64 images, points and cameras
// only, then the orientations and a re-write of what was read.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "aat/exchange_files.h"
#include "fuzz_support.h"
#include "photogrammetry/passport.h"

namespace {

constexpr int kProjectImages = 64;

void ReadBack(const std::string& path, bool cameras_only) {
  vantri::aat::BroContent content;
  std::string error;
  if (!vantri::aat::ParseBroFile(path, kProjectImages, cameras_only, &content, &error)) return;
  CBCCCameraPassport passport;
  passport.focal_mm = 12.0;
  passport.pixel_mm = 0.006;
  passport.width = 3000;
  passport.height = 2000;
  passport.ppx = 1500;
  passport.ppy = 1000;
  const std::vector<nvc::COrientation> orientations =
      vantri::aat::OrientationsFromBro(content, passport, kProjectImages);
  std::vector<const CSSBAPoint*> points;
  points.reserve(content.points.size());
  for (const CSSBAPoint& point : content.points) points.push_back(&point);
  vantri::aat::FormatBroFile(points, orientations, passport.FocalPixels());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > fuzzing::kMaxFuzzInput) return 0;
  const std::string path = fuzzing::WriteScratchFile("block.bro", fuzzing::AsText(data, size));
  ReadBack(path, false);
  ReadBack(path, true);
  return 0;
}
