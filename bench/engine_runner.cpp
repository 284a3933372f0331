#include "engine_runner.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <limits>

#include "adjust/adjustment.h"
#include "input/params_io.h"
#include "input/readers.h"
#include "lsq/ls_params.h"
#include "lsq/sparse_normal_system.h"
#include "models/block.h"

namespace bench {
namespace {

namespace fs = std::filesystem;

std::string firstErrorLine(const std::vector<std::string>& files) {
  for (const std::string& file : files) {
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line))
      if (line.find("ERROR") != std::string::npos) return line;
  }
  return "the engine reported failure without an ERROR line";
}

// Sends standard output (C and C++ streams) to a file for its lifetime.
class StdoutToFile {
 public:
  explicit StdoutToFile(const std::string& path) {
    std::cout.flush();
    std::fflush(stdout);
    saved_ = dup(STDOUT_FILENO);
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) {
      dup2(fd, STDOUT_FILENO);
      close(fd);
    }
  }
  ~StdoutToFile() {
    std::cout.flush();
    std::fflush(stdout);
    if (saved_ < 0) return;
    dup2(saved_, STDOUT_FILENO);
    close(saved_);
  }
  StdoutToFile(const StdoutToFile&) = delete;
  StdoutToFile& operator=(const StdoutToFile&) = delete;

 private:
  int saved_ = -1;
};

std::vector<Point3> adjustedPoints(const bravik::Block& block, int point_count) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  std::vector<Point3> points(point_count, Point3{nan, nan, nan});
  for (int i = 0; i < point_count; ++i) {
    const bravik::ObjectPoint* point = block.objectPoints.find(pointId(i));
    if (point) points[i] = {point->xyz[0], point->xyz[1], point->xyz[2]};
  }
  return points;
}

}  // namespace

EngineRun runEngine(const std::string& main_file, const std::string& log_file, int point_count,
                    bool quality) {
  EngineRun run;
  const fs::path main_path = fs::absolute(main_file);
  const std::string log = fs::absolute(log_file).string();
  fs::current_path(main_path.parent_path());
  const std::string base = main_path.stem().string();
  std::ofstream report(base + ".out"), ext(base + ".ext"), ocs(base + ".ocs"), res(base + ".res"),
      apset(base + ".apset"), gcpres(base + ".gcpres"), chp(base + ".chp"), sdv, rel;
  if (quality) {
    sdv.open(base + ".sdv");
    rel.open(base + ".rel");
  }
  {
    const StdoutToFile redirect(log);
    bravik::Block block;
    std::ifstream main_input(main_path.filename());
    if (bravik::readInput(block, main_input) == 1) {
      block.options.qualityAnalysis = quality;
      bravik::printRunOptions(block.options, report);
      bravik::printLSParams(block.settings, report);
      bravik::Adjustment adjustment(block);
      if (adjustment.initialize(report) == 1) {
        const auto start = std::chrono::steady_clock::now();
        run.ok = adjustment.iterate(report) == 1;
        run.iteration_seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        run.iterations = adjustment.state().iterations;
        if (const auto* sparse =
                dynamic_cast<const bravik::SparseNormalSystem*>(adjustment.state().normals.get())) {
          run.reduced_factor = sparse->reducedFactorisationInUse() ==
                                       bravik::ReducedFactorisation::kSupernodal
                                   ? "supernodal"
                                   : "envelope";
          run.reduced_factor_entries = static_cast<double>(sparse->reducedFactorEntries());
        }
        if (run.ok && quality) {
          const auto analysis = std::chrono::steady_clock::now();
          adjustment.analyseQuality(&rel);
          run.analysis_seconds =
              std::chrono::duration<double>(std::chrono::steady_clock::now() - analysis).count();
        }
        if (run.ok) {
          bravik::OutputFiles files{report, ext, ocs, res, apset, gcpres, chp, base + ".cam"};
          if (quality) files.sdv = &sdv;
          adjustment.writeResults(files, false);
          run.points = adjustedPoints(block, point_count);
        }
      }
    }
  }
  for (std::ofstream* out : {&report, &ext, &ocs, &res, &apset, &gcpres, &chp, &sdv, &rel})
    out->close();
  if (!run.ok) run.failure = firstErrorLine({log, base + ".out"});
  return run;
}

}  // namespace bench
