#include "input/run.h"

#include <filesystem>
#include <iostream>
#include <system_error>

#include "input/params_io.h"
#include "input/readers.h"
#include "lsq/ls_params.h"

namespace bravik {
namespace {

namespace fs = std::filesystem;

// Makes `folder` the current directory for its lifetime and restores the previous one.
class DirectoryChange {
 public:
  explicit DirectoryChange(const fs::path& folder) {
    std::error_code error;
    previous_ = fs::current_path(error);
    if (error || folder.empty()) return;
    fs::current_path(folder, error);
    changed_ = !error;
  }
  ~DirectoryChange() {
    if (!changed_) return;
    std::error_code error;
    fs::current_path(previous_, error);
  }
  DirectoryChange(const DirectoryChange&) = delete;
  DirectoryChange& operator=(const DirectoryChange&) = delete;
  bool ok(const fs::path& folder) const { return folder.empty() || changed_; }

 private:
  fs::path previous_;
  bool changed_ = false;
};

bool openOutput(std::ofstream& stream, const std::string& name) {
  stream.open(name, std::ios::out | std::ios::trunc);
  if (stream) return true;
  std::cout << "ERROR: Cannot open output file: " << name << "\n";
  return false;
}

}  // namespace

int adjustBlock(Block&, RunFiles& files, bool) {
  const char* message = "ERROR: The adjustment is not available in this version.\n";
  std::cout << message;
  files.report << message;
  return -1;
}

int runBravik(const std::string& inputPath, bool writeCameraFile) {
  if (inputPath.empty()) return 0;
  std::error_code error;
  const fs::path path(inputPath);
  if (!fs::is_regular_file(path, error)) return 0;

  const fs::path folder = path.parent_path();
  const DirectoryChange directory(folder);
  if (!directory.ok(folder)) return 0;

  RunFiles files;
  files.baseName = path.stem().string();
  if (!openOutput(files.report, files.name("out"))) return 0;
  std::ifstream input(path.filename());
  if (!input) {
    std::cout << "ERROR: Cannot open input file: " << path.filename().string() << "\n";
    return 0;
  }
  const std::pair<std::ofstream*, const char*> results[] = {
      {&files.ext, "ext"},     {&files.ocs, "ocs"},       {&files.res, "res"},
      {&files.apset, "apset"}, {&files.gcpres, "gcpres"}, {&files.chp, "chp"},
  };
  for (const auto& [stream, extension] : results) {
    if (!openOutput(*stream, files.name(extension))) return 0;
  }

  Block block;
  if (readInput(block, input) != 1) return 0;
  printRunOptions(block.options, files.report);
  printLSParams(lsParams(), files.report);
  if (adjustBlock(block, files, writeCameraFile) != 1) return 0;
  return 1;
}

}  // namespace bravik
