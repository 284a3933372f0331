// Surveyed points (GCPs and check points) with their image measurements, and the .col files that
// keep them in the project folder (docs/formats.md).
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace vantri::photogrammetry {
// Variance value that means "not set".
constexpr double kUndefinedVariance = 1.7976931348623157e308;
}  // namespace vantri::photogrammetry

// One measurement of a point in an image: image index in the project's image list and the
// position relative to the image centre in pixels, x to the right, y up
// (pixel = (width / 2 + x, height / 2 - y)).
struct CSIFTColl {
  int image_index = 0;
  double x = 0.0;
  double y = 0.0;
  bool operator==(const CSIFTColl&) const = default;
};

class CGCPCollEx {
 public:
  int id = 0;
  std::string name;
  double x = 0.0, y = 0.0, z = 0.0;              // surveyed, project system
  double res_x = 0.0, res_y = 0.0, res_z = 0.0;  // residuals of the last bundle run
  double xy_var = vantri::photogrammetry::kUndefinedVariance;
  double z_var = vantri::photogrammetry::kUndefinedVariance;
  bool use = false;
  std::vector<CSIFTColl> measurements;

  bool operator==(const CGCPCollEx&) const = default;
};

namespace vantri::photogrammetry {
// Point names compare without regard to case.
struct CaseInsensitiveLess {
  bool operator()(const std::string& a, const std::string& b) const;
};
// Called after each point with (points done, total).
using PointProgress = std::function<void(int, int)>;
}  // namespace vantri::photogrammetry

using CGCPCollMap = std::map<std::string, CGCPCollEx, vantri::photogrammetry::CaseInsensitiveLess>;

// Replaces the map's content with the file's points; 0 (map unchanged) when the file is missing,
// of another format, truncated or holds two points of the same name.
int ReadPTCollFile(const std::string& path, CGCPCollMap* points,
                   const vantri::photogrammetry::PointProgress& progress = {});
// Writes every point in map order (temporary file + rename).
int WritePTCollFile(const std::string& path, const CGCPCollMap& points,
                    const vantri::photogrammetry::PointProgress& progress = {});
// <project folder>/GCP.col and <project folder>/CP.col (folder with or without trailing '/').
int ReadGcpFiles(const std::string& project_folder, CGCPCollMap* points,
                 const vantri::photogrammetry::PointProgress& progress = {});
int ReadCpFiles(const std::string& project_folder, CGCPCollMap* points,
                const vantri::photogrammetry::PointProgress& progress = {});
