// The engine's typed readers: the first byte chooses the reader, the rest is its file.
#include <cstddef>
#include <cstdint>
#include <iostream>
#include <sstream>

#include "fuzz_support.h"
#include "input/params_io.h"
#include "input/readers.h"
#include "lsq/ls_params.h"

namespace {

int ReadAs(uint8_t reader, bravik::Block& block, std::istream& in) {
  switch (reader % 11) {
    case 0:
      return bravik::readCameraFile(in, block.cameras);
    case 1:
      return bravik::readImageFile(in, block.images, block.cameras);
    case 2:
      return bravik::readGeometryFile(in, block.geometries, block.settings);
    case 3:
      return bravik::readAPSetFile(in, block.apSets);
    case 4:
      return bravik::readPosCorrectionFile(in, block.posCorrections);
    case 5:
      return bravik::readAttCorrectionFile(in, block.attCorrections);
    case 6:
      return bravik::readImageCoordinates(in, block.images);
    case 7:
      return bravik::readObjectCoordinates(in, block.objectPoints, block.settings);
    case 8:
      return bravik::readControlSupport(in, block.objectPoints, block.settings);
    case 9:
      return bravik::readRunOptions(block.options, in);
    default:
      return bravik::readLSParams(block.settings, in);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > fuzzing::kMaxFuzzInput) return 0;
  static const bool quiet = [] {
    std::cout.setstate(std::ios::failbit);  // the readers' messages are not the point here
    return true;
  }();
  (void)quiet;
  bravik::Block block;
  // A camera file first, so that image and image-coordinate records find something to bind.
  std::istringstream cameras(
      "camera-frame K1 a 100 0 0 230 230 camera-ccd K2 b 35 0 0 4000 3000 6 6");
  bravik::readCameraFile(cameras, block.cameras);
  std::istringstream images("image-frame I1 S1 K1 image-frame I2 S2 K2");
  bravik::readImageFile(images, block.images, block.cameras);
  std::istringstream in(std::string(fuzzing::AsText(data + 1, size - 1)));
  ReadAs(data[0], block, in);
  return 0;
}
