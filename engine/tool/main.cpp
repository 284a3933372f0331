// bravik [--camera-file] INPUT: runs one adjustment through the engine library.
// Exit status: 0 when the library reports success, 1 when it reports failure,
// 2 for wrong usage.
#include <cstring>
#include <iostream>
#include <string>

#include "bravik.h"

namespace {

const char* const kUsage =
    "Usage: bravik [--camera-file] INPUT\n"
    "       bravik --help | --version\n"
    "\n"
    "Runs one bundle adjustment described by the main input file INPUT and writes the\n"
    "report (.out) and the result files next to it.\n"
    "  --camera-file  also write the camera file (.cam)\n";

int usageError() {
  std::cerr << kUsage;
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  bool cameraFile = false;
  const char* input = nullptr;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return 0;
    }
    if (arg == "--version") {
      std::cout << "bravik " << BRAVIK_VERSION << "\n";
      return 0;
    }
    if (arg == "--camera-file") {
      cameraFile = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      std::cerr << "bravik: unknown option " << arg << "\n";
      return usageError();
    } else if (input == nullptr) {
      input = argv[i];
    } else {
      return usageError();
    }
  }
  if (input == nullptr) return usageError();
  const int result = Bravik(input, cameraFile ? 1 : 0);
  std::cout.flush();
  return result == 1 ? 0 : 1;
}
