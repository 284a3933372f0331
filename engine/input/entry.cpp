#include <exception>
#include <string>

#include "bravik.h"
#include "input/run.h"

namespace {

// The one state the exports keep between calls: the least-squares settings, which a run
// without an "ls-params" file takes over from the previous run in the process. Their
// defaults hold until the first run that reads such a file completely.
bravik::RunContext& processRunContext() {
  static bravik::RunContext context;
  return context;
}

}  // namespace

int BravikScan(const char* inputPath, int writeCameraFile) {
  if (inputPath == nullptr) return 0;
  bravik::RunContext& context = processRunContext();
  try {
    return bravik::runBravik(inputPath, writeCameraFile != 0, context);
  } catch (const std::exception& error) {
    *context.diagnostics.messages << "ERROR: " << error.what() << "\n";
  } catch (...) {
    *context.diagnostics.messages << "ERROR: Unexpected failure.\n";
  }
  return 0;
}

int Bravik(const char* inputPath, int writeCameraFile) {
  if (inputPath == nullptr) return 0;
  const std::string copy(inputPath);
  return BravikScan(copy.c_str(), writeCameraFile);
}
