#include "engine_runner.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>
#include <sstream>

#include "bravik.h"

namespace bench {
namespace {

std::string firstErrorLine(const std::string& log_file) {
  std::ifstream in(log_file);
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("ERROR: ", 0) == 0 || line.rfind("*** ERROR", 0) == 0) return line;
  return "the engine reported failure without an ERROR line";
}

// Index of a point from its identifier "P<n>", or -1.
int pointIndex(const std::string& id, int point_count) {
  if (id.size() < 2 || id[0] != 'P') return -1;
  char* end = nullptr;
  const long n = std::strtol(id.c_str() + 1, &end, 10);
  if (*end != '\0' || n < 1 || n > point_count) return -1;
  return static_cast<int>(n - 1);
}

}  // namespace

EngineRun runEngine(const std::string& main_file, const std::string& log_file) {
  std::fflush(stdout);
  const int saved = dup(STDOUT_FILENO);
  const int log = open(log_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (log >= 0) dup2(log, STDOUT_FILENO);
  const auto start = std::chrono::steady_clock::now();
  const int status = BravikScan(main_file.c_str(), 0);
  const auto stop = std::chrono::steady_clock::now();
  std::fflush(stdout);
  if (saved >= 0) dup2(saved, STDOUT_FILENO);
  if (log >= 0) close(log);
  if (saved >= 0) close(saved);
  EngineRun run;
  run.ok = status == 1;
  run.wall_seconds = std::chrono::duration<double>(stop - start).count();
  if (!run.ok) run.failure = firstErrorLine(log_file);
  return run;
}

std::vector<Point3> readEnginePoints(const std::string& ocs_file, int point_count) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  std::vector<Point3> points(point_count, Point3{nan, nan, nan});
  std::ifstream in(ocs_file);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string id;
    Point3 p;
    if (!(fields >> id >> p[0] >> p[1] >> p[2])) continue;
    const int index = pointIndex(id, point_count);
    if (index >= 0) points[index] = p;
  }
  return points;
}

}  // namespace bench
