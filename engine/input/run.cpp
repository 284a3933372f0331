#include "input/run.h"

#include <filesystem>
#include <iostream>
#include <system_error>

#include "adjust/adjustment.h"
#include "input/params_io.h"
#include "input/readers.h"
#include "util/diagnostics.h"

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

}  // namespace

RunFiles::~RunFiles() {
  for (const auto& [stream, name] : opened_) {
    stream->close();
    std::error_code error;
    fs::remove(name + ".tmp", error);
  }
}

bool RunFiles::open(std::ofstream& stream, const char* extension) {
  const std::string final = name(extension);
  // The final file must be writable now, not only its temporary.
  const bool writable = !fs::is_directory(final) && std::ofstream(final, std::ios::app).good();
  if (writable) stream.open(final + ".tmp", std::ios::out | std::ios::trunc);
  if (!writable || !stream) {
    messages() << "ERROR: Cannot open output file: " << final << "\n";
    return false;
  }
  opened_.emplace_back(&stream, final);
  return true;
}

bool RunFiles::openReport() { return open(report, "out"); }

bool RunFiles::openResults() {
  return open(ext, "ext") && open(ocs, "ocs") && open(res, "res") && open(apset, "apset") &&
         open(gcpres, "gcpres") && open(chp, "chp");
}

bool RunFiles::openQuality() { return open(sdv, "sdv") && open(rel, "rel"); }

bool RunFiles::finish() {
  bool ok = true;
  for (const auto& [stream, final] : opened_) {
    stream->close();
    std::error_code error;
    if (stream->fail()) {
      ok = false;
    } else {
      fs::rename(final + ".tmp", final, error);
    }
    if (stream->fail() || error) {
      ok = false;
      messages() << "ERROR: Cannot write output file: " << final << "\n";
      fs::remove(final + ".tmp", error);
    }
  }
  opened_.clear();
  return ok;
}

int adjustBlock(Block& block, RunFiles& files, bool writeCameraFile) {
  OutputFiles outputs{files.report, files.ext,    files.ocs, files.res,
                      files.apset,  files.gcpres, files.chp, files.name("cam")};
  if (block.options.qualityAnalysis) {
    if (!files.openQuality()) return -1;
    outputs.sdv = &files.sdv;
    outputs.rel = &files.rel;
  }
  return runAdjustment(block, outputs, writeCameraFile);
}

namespace {

// The block starts with the caller's settings and hands back those it ended with, which
// differ only after an "ls-params" file that was read completely.
int readAndAdjust(std::istream& input, RunFiles& files, bool writeCameraFile, LSParams& settings) {
  Block block(settings);
  const int read = readInput(block, input);
  settings = block.settings;
  if (read != 1) return -1;
  printRunOptions(block.options, files.report);
  printLSParams(block.settings, files.report);
  return adjustBlock(block, files, writeCameraFile);
}

}  // namespace

int runBravik(const std::string& inputPath, bool writeCameraFile, RunContext& context) {
  const DiagnosticsScope sink(context.diagnostics);
  if (inputPath.empty()) return 0;
  std::error_code error;
  const fs::path path(inputPath);
  if (!fs::is_regular_file(path, error)) return 0;

  const fs::path folder = path.parent_path();
  const DirectoryChange directory(folder);
  if (!directory.ok(folder)) return 0;

  RunFiles files(path.stem().string());
  if (!files.openReport()) return 0;
  std::ifstream input(path.filename());
  if (!input) {
    messages() << "ERROR: Cannot open input file: " << path.filename().string() << "\n";
    return 0;
  }
  if (!files.openResults()) return 0;

  // The result files are written (renamed into place) whatever the outcome: a failed
  // run leaves them empty or with the report written so far.
  const int result = readAndAdjust(input, files, writeCameraFile, context.settings);
  const bool written = files.finish();
  return result == 1 && written ? 1 : 0;
}

}  // namespace bravik
