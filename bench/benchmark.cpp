#include "benchmark.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <thread>

#include "bench_output.h"
#include "block_generator.h"
#include "ceres_adjustment.h"
#include "child_process.h"
#include "engine_input.h"
#include "engine_runner.h"

namespace bench {
namespace {

namespace fs = std::filesystem;

const std::vector<std::string> kSolverOrder = {"ceres-sparse", "ceres-dense", "native", "sparse",
                                               "sparse-quality"};
constexpr int kNativeUnknownLimit = 6000;
constexpr int kDenseSchurImageLimit = 500;

bool parseCount(const char* text, long long minimum, long long& value) {
  char* end = nullptr;
  errno = 0;
  value = std::strtoll(text, &end, 10);
  return errno == 0 && end != text && *end == '\0' && value >= minimum;
}

std::vector<std::string> splitList(const std::string& text) {
  std::vector<std::string> items;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t comma = std::min(text.find(',', start), text.size());
    if (comma > start) items.push_back(text.substr(start, comma - start));
    start = comma + 1;
  }
  return items;
}

bool knownSolver(const std::string& name) {
  return std::find(kSolverOrder.begin(), kSolverOrder.end(), name) != kSolverOrder.end();
}

void printUsage() {
  std::cerr << "usage: engine_bench [--images N --points M] [--iterations K] "
               "[--solvers native,sparse,ceres-sparse,ceres-dense] [--seed S] [--repeat R] "
               "[--workdir DIR] [--overlap F/S]\n";
}

int threadCount() { return std::max(1u, std::thread::hardware_concurrency()); }

// "F/S" in percent, each in [1, 95] (a forward overlap of 100 % would put every image at one
// place).
bool parseOverlap(const std::string& text, int& forward, int& side) {
  const std::size_t slash = text.find('/');
  if (slash == std::string::npos) return false;
  long long f = 0, s = 0;
  if (!parseCount(text.substr(0, slash).c_str(), 1, f) ||
      !parseCount(text.substr(slash + 1).c_str(), 1, s) || f > 95 || s > 95)
    return false;
  forward = static_cast<int>(f);
  side = static_cast<int>(s);
  return true;
}

// Everything one size's runs share.
struct SizeRun {
  int images = 0;
  int points = 0;
  int iterations = 0;
  std::uint64_t seed = 1;
  int forward_overlap = 60;  // percent
  int side_overlap = 30;
  fs::path folder;  // engine input and result copies
  std::string main_file;
};

BlockSettings blockSettings(const SizeRun& run) {
  BlockSettings settings;
  settings.images = run.images;
  settings.points = run.points;
  settings.seed = run.seed;
  settings.forward_overlap = run.forward_overlap / 100.0;
  settings.side_overlap = run.side_overlap / 100.0;
  return settings;
}

bool writePoints(const fs::path& path, const std::vector<Point3>& points) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(points.data()),
            static_cast<std::streamsize>(points.size() * sizeof(Point3)));
  return static_cast<bool>(out.flush());
}

std::vector<Point3> readPoints(const fs::path& path, int count) {
  std::vector<Point3> points(count, Point3{NAN, NAN, NAN});
  std::ifstream in(path, std::ios::binary);
  in.read(reinterpret_cast<char*>(points.data()),
          static_cast<std::streamsize>(points.size() * sizeof(Point3)));
  return points;
}

fs::path resultPath(const SizeRun& run, const std::string& solver) {
  return run.folder / (solver + ".pts");
}

std::vector<Point3> adjustedPoints(const SizeRun& run, const std::string& solver) {
  const fs::path path = resultPath(run, solver);
  if (!fs::exists(path)) return {};
  return readPoints(path, run.points);
}

// Largest coordinate difference in mm; NaN when either side is missing or lacks a point.
double maxDifferenceMm(const std::vector<Point3>& a, const std::vector<Point3>& b) {
  if (a.empty() || a.size() != b.size()) return NAN;
  double largest = 0.0;
  for (std::size_t i = 0; i < a.size(); ++i)
    for (int k = 0; k < 3; ++k) {
      const double d = std::abs(a[i][k] - b[i][k]);
      if (!(d <= largest)) largest = d;  // also propagates NaN
    }
  return largest * 1000.0;
}

Measurement measureCeres(const SizeRun& run, CeresSolver solver, const std::string& name) {
  Measurement m{run.images, run.points, name, NAN, NAN, NAN};
  const ChildResult child = runInChild([&]() -> std::vector<double> {
    CeresOutcome outcome =
        adjustWithCeres(generateBlock(blockSettings(run)), solver, run.iterations, threadCount());
    if (!outcome.ok || !writePoints(resultPath(run, name), outcome.points)) return {};
    return {outcome.seconds_per_iteration, static_cast<double>(outcome.iterations)};
  });
  if (!child.ok) {
    std::cerr << "note: " << name << " failed for images=" << run.images << " points=" << run.points
              << "\n";
    return m;
  }
  if (child.values[1] != run.iterations)
    std::cerr << "note: " << name << " ran " << child.values[1] << " iterations\n";
  m.sec_per_iter = child.values[0];
  m.peak_mb = child.peak_mb;
  return m;
}

// One engine run in a child: reading, approximations and result files are not timed.
// "sparse-quality": the sparse adjustment followed by the quality analysis; its sec_per_iter is the
// time of the iterations and the analysis together divided by the iterations, so that its ratio to
// "sparse" is the total-time ratio.
Measurement measureEngine(const SizeRun& run, EngineInterface kind, const std::string& name) {
  const bool quality = name == "sparse-quality";
  Measurement m{run.images, run.points, name, NAN, NAN, NAN};
  if (run.main_file.empty()) return m;
  if (!writeEngineSettings(BlockSettings().image_sigma, run.folder.string(), run.iterations, kind))
    return m;
  const std::string log = (run.folder / (name + ".log")).string();
  const ChildResult child = runInChild([&]() -> std::vector<double> {
    const EngineRun result = runEngine(run.main_file, log, run.points, quality);
    if (!result.ok || !writePoints(resultPath(run, name), result.points)) {
      std::cerr << "note: engine solver " << name << " did not adjust: " << result.failure << "\n";
      return {};
    }
    if (quality)
      std::cerr << "note: " << name << " iterations " << result.iteration_seconds
                << " s, quality analysis " << result.analysis_seconds << " s\n";
    if (!result.reduced_factor.empty())
      std::cerr << "note: " << name << " reduced system: " << result.reduced_factor
                << " factor, " << result.reduced_factor_entries << " entries\n";
    return {(result.iteration_seconds + result.analysis_seconds) / std::max(result.iterations, 1),
            static_cast<double>(result.iterations)};
  });
  if (!child.ok) return m;
  if (child.values[1] != run.iterations)
    std::cerr << "note: " << name << " ran " << child.values[1] << " iterations\n";
  m.sec_per_iter = child.values[0];
  m.peak_mb = child.peak_mb;
  return m;
}

Measurement measureOnce(const SizeRun& run, const std::string& solver) {
  if (solver == "ceres-sparse") return measureCeres(run, CeresSolver::kSparseSchur, solver);
  if (solver == "ceres-dense") return measureCeres(run, CeresSolver::kDenseSchur, solver);
  if (solver == "native") return measureEngine(run, EngineInterface::kNative, solver);
  return measureEngine(run, EngineInterface::kSparse, solver);
}

// Generates the block in a child (so the parent stays small), notes its size on standard error
// and, when an engine solver runs, writes the engine input.
std::string prepareBlock(const SizeRun& run, bool engine_input) {
  const ChildResult child = runInChild([&]() -> std::vector<double> {
    const SyntheticBlock block = generateBlock(blockSettings(run));
    if (engine_input && writeEngineInput(block, run.folder.string()).empty()) return {};
    return {static_cast<double>(block.observations.size()),
            static_cast<double>(block.control.size())};
  });
  if (!child.ok) {
    std::cerr << "note: writing the engine input failed in " << run.folder << "\n";
    return {};
  }
  std::cerr << "note: block images=" << run.images << " points=" << run.points
            << " overlap=" << run.forward_overlap << "/" << run.side_overlap
            << " image observations=" << child.values[0] << " (" << child.values[0] / run.points
            << " rays per point) control points=" << child.values[1] << "\n";
  return engine_input ? (run.folder / "block.inp").string() : std::string();
}

// On a shared machine the fastest of several runs is the least disturbed one.
Measurement measure(const SizeRun& run, const std::string& solver, int repeat) {
  Measurement best = measureOnce(run, solver);
  for (int i = 1; i < repeat; ++i) {
    const Measurement m = measureOnce(run, solver);
    if (std::isfinite(m.sec_per_iter) && !(m.sec_per_iter >= best.sec_per_iter))
      best.sec_per_iter = m.sec_per_iter;
    if (std::isfinite(m.peak_mb) && !(m.peak_mb <= best.peak_mb)) best.peak_mb = m.peak_mb;
  }
  return best;
}

bool usesEngine(const std::vector<std::string>& solvers) {
  return std::any_of(solvers.begin(), solvers.end(),
                     [](const std::string& s) { return s.rfind("ceres", 0) != 0; });
}

void printResults(std::vector<Measurement>& results, const SizeRun& run) {
  const std::vector<Point3> reference = adjustedPoints(run, "ceres-sparse");
  for (Measurement& m : results) {
    m.max_diff_mm = maxDifferenceMm(adjustedPoints(run, m.solver), reference);
    std::cout << measurementLine(m) << "\n";
  }
  const Measurement* plain = nullptr;
  for (const Measurement& m : results)
    if (m.solver == "sparse") plain = &m;
  for (const Measurement& m : results)
    if (m.solver == "sparse-quality" && plain != nullptr)
      std::cout << qualityLine(m, *plain) << "\n";
  for (const Measurement& engine : results) {
    if (engine.solver.rfind("ceres", 0) == 0) continue;
    for (const Measurement& ceres : results)
      if (ceres.solver.rfind("ceres", 0) == 0) std::cout << ratioLine(engine, ceres) << "\n";
  }
  std::cout.flush();
}

void runSize(const BenchOptions& options, int images, int points, const fs::path& root) {
  SizeRun run{images,
              points,
              options.iterations,
              options.seed,
              options.forward_overlap,
              options.side_overlap,
              root,
              {}};
  run.folder =
      root / ("block_" + std::to_string(images) + "_" + std::to_string(points) + "_" +
              std::to_string(run.forward_overlap) + "_" + std::to_string(run.side_overlap));
  fs::create_directories(run.folder);
  const std::vector<std::string> solvers =
      options.solvers.empty() ? defaultSolvers(images, points) : options.solvers;
  for (const std::string& solver : kSolverOrder) fs::remove(resultPath(run, solver));
  run.main_file = prepareBlock(run, usesEngine(solvers));
  std::vector<Measurement> results;
  for (const std::string& solver : kSolverOrder)
    if (std::find(solvers.begin(), solvers.end(), solver) != solvers.end())
      results.push_back(measure(run, solver, options.repeat));
  printResults(results, run);
}

fs::path makeWorkdir(const BenchOptions& options, bool& temporary) {
  temporary = options.workdir.empty();
  if (!temporary) {
    fs::create_directories(options.workdir);
    return options.workdir;
  }
  std::string pattern = (fs::temp_directory_path() / "engine_bench.XXXXXX").string();
  if (!mkdtemp(pattern.data())) return {};
  return pattern;
}

}  // namespace

std::vector<std::string> defaultSolvers(int images, int points) {
  std::vector<std::string> solvers = {"ceres-sparse", "sparse", "sparse-quality"};
  if (images <= kDenseSchurImageLimit) solvers.push_back("ceres-dense");
  if (3LL * points + 6LL * images <= kNativeUnknownLimit) solvers.push_back("native");
  return solvers;
}

std::optional<BenchOptions> parseOptions(int argc, char** argv) {
  BenchOptions options;
  long long images = -1, points = -1, value = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string flag = argv[i];
    if (i + 1 >= argc) {
      std::cerr << "engine_bench: " << flag << " needs a value\n";
      printUsage();
      return std::nullopt;
    }
    const char* text = argv[++i];
    bool ok = true;
    if (flag == "--images")
      ok = parseCount(text, 2, images);
    else if (flag == "--points")
      ok = parseCount(text, 1, points);
    else if (flag == "--iterations")
      ok = parseCount(text, 1, value), options.iterations = value;
    else if (flag == "--repeat")
      ok = parseCount(text, 1, value), options.repeat = static_cast<int>(value);
    else if (flag == "--seed")
      ok = parseCount(text, 0, value), options.seed = value;
    else if (flag == "--overlap")
      ok = parseOverlap(text, options.forward_overlap, options.side_overlap);
    else if (flag == "--workdir")
      options.workdir = text;
    else if (flag == "--solvers") {
      options.solvers = splitList(text);
      ok = !options.solvers.empty() &&
           std::all_of(options.solvers.begin(), options.solvers.end(), knownSolver);
    } else {
      std::cerr << "engine_bench: unknown option " << flag << "\n";
      printUsage();
      return std::nullopt;
    }
    if (!ok) {
      std::cerr << "engine_bench: invalid value for " << flag << ": " << text << "\n";
      printUsage();
      return std::nullopt;
    }
  }
  if ((images < 0) != (points < 0)) {
    std::cerr << "engine_bench: --images and --points go together\n";
    printUsage();
    return std::nullopt;
  }
  if (images > 0) options.sizes.push_back({static_cast<int>(images), static_cast<int>(points)});
  return options;
}

int runBenchmark(const BenchOptions& options) {
  bool temporary = false;
  const fs::path root = makeWorkdir(options, temporary);
  if (root.empty()) {
    std::cerr << "engine_bench: cannot create a working folder\n";
    return 1;
  }
  std::vector<std::pair<int, int>> sizes = options.sizes;
  if (sizes.empty()) sizes = {{24, 500}, {200, 20000}, {1000, 100000}};
  for (const auto& [images, points] : sizes) runSize(options, images, points, root);
  std::error_code error;
  if (temporary) fs::remove_all(root, error);
  return 0;
}

}  // namespace bench
