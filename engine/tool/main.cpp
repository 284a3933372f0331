// bravik [--camera-file] INPUT: runs one adjustment through the engine library.
// Exit status: 0 when the library reports success, 1 when it reports failure,
// 2 for wrong usage.
#include <cstring>
#include <filesystem>
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

// Why INPUT cannot be a main input file, or empty when it can be read. The library itself fails
// silently in these cases.
std::string inputProblem(const std::string& input) {
  namespace fs = std::filesystem;
  if (input.empty()) return "the input path is empty";
  std::error_code error;
  const fs::file_status status = fs::status(input, error);
  if (status.type() == fs::file_type::not_found) return input + ": no such file";
  if (error) return input + ": " + error.message();
  if (status.type() == fs::file_type::directory)
    return input + ": is a folder, not a main input file";
  if (status.type() != fs::file_type::regular) return input + ": is not a regular file";
  return {};
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
  const std::string problem = inputProblem(input);
  if (!problem.empty()) {
    std::cerr << "bravik: " << problem << "\n";
    return 1;
  }
  const int result = Bravik(input, cameraFile ? 1 : 0);
  std::cout.flush();
  if (result != 1) std::cerr << "bravik: the run failed; see the messages above and the report\n";
  return result == 1 ? 0 : 1;
}
