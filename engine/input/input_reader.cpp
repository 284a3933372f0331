// The main input file: keyword entries dispatched to the typed readers.
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <string>
#include <system_error>

#include "input/keywords.h"
#include "input/params_io.h"
#include "input/readers.h"
#include "util/diagnostics.h"
#include "util/tokens.h"

namespace bravik {
namespace {

struct EntryReader {
  std::function<int(std::istream&)> read;
  const char* failure;
};

// A replaced camera is destroyed: images read before bind its successor of the same ID.
void rebindCameras(Block& block) {
  for (BundleImage* image : block.images.items()) {
    image->camera = block.cameras.find(image->cameraId);
  }
}

// The reader of a main-file keyword; `read` is empty for keywords without a reader.
EntryReader readerFor(int keyword, Block& block) {
  switch (keyword) {
    case kKwParams:
      return {[&block](std::istream& in) { return readRunOptions(block.options, in); },
              "ERROR: Reading params./options file failed.\n"};
    case kKwLsParams:
      // Parsed into a copy: a file that fails half-way leaves the run's settings as they were.
      return {[&block](std::istream& in) {
                LSParams parsed = block.settings;
                const int result = readLSParams(parsed, in);
                if (result == 1) block.settings = parsed;
                return result;
              },
              "ERROR: Reading LS-parameters file failed.\n"};
    case kKwCamera:
      return {[&block](std::istream& in) {
                const int result = readCameraFile(in, block.cameras);
                rebindCameras(block);
                return result;
              },
              "ERROR: Reading camera file failed.\n"};
    case kKwImage:
      return {[&block](std::istream& in) { return readImageFile(in, block.images, block.cameras); },
              "ERROR: Reading image file failed.\n"};
    case kKwImageGeometry:
    case kKwExtOri:
      return {[&block](std::istream& in) {
                return readGeometryFile(in, block.geometries, block.settings);
              },
              "ERROR: Reading EO file failed.\n"};
    case kKwImageCrds:
      return {[&block](std::istream& in) { return readImageCoordinates(in, block.images); },
              "ERROR: Reading image coords. file failed.\n"};
    case kKwObjCrds:
      return {[&block](std::istream& in) {
                return readObjectCoordinates(in, block.objectPoints, block.settings);
              },
              "ERROR: Reading object coords. file failed.\n"};
    case kKwCtrlSupp:
      return {[&block](std::istream& in) {
                return readControlSupport(in, block.objectPoints, block.settings);
              },
              "ERROR: Reading CS file failed.\n"};
    case kKwApSet:
      return {[&block](std::istream& in) { return readAPSetFile(in, block.apSets); },
              "ERROR: Reading AP set file failed.\n"};
    case kKwPosCor:
      return {
          [&block](std::istream& in) { return readPosCorrectionFile(in, block.posCorrections); },
          "ERROR: Reading position correction file failed.\n"};
    case kKwAttCor:
      return {
          [&block](std::istream& in) { return readAttCorrectionFile(in, block.attCorrections); },
          "ERROR: Reading attitude correction file failed.\n"};
    default:
      return {nullptr, nullptr};
  }
}

}  // namespace

int readInput(Block& block, std::istream& in) {
  std::string word;
  while (readWord(in, word)) {
    const int keyword = keywordNumber(word);
    if (keyword == kKwUnknown) {
      messages() << "ERROR: Unknown keyword: '" << word << "'\n";
      return -1;
    }
    if (keyword == kKwStopDep) return 1;
    std::string name;
    if (!readWord(in, name)) {
      messages() << "ERROR: Missing file name after keyword: '" << word << "'\n";
      return -1;
    }
    // Only regular files (links followed): a folder, /dev/zero or a FIFO would fail, never end
    // or block the readers.
    std::error_code error;
    const bool regular = std::filesystem::is_regular_file(name, error);
    std::ifstream file;
    if (regular) file.open(name);
    if (!regular || !file) {
      messages() << "ERROR: Cannot open input file: " << name << "\n";
      return -1;
    }
    // Keywords without a reader are accepted: their file is opened and closed unread.
    const EntryReader reader = readerFor(keyword, block);
    if (reader.read && reader.read(file) != 1) {
      messages() << reader.failure;
      file.close();
      messages() << "ERROR: Reading input file failed: " << name << "\n";
      return -1;
    }
  }
  return 1;
}

}  // namespace bravik
