#pragma once
// The project: one aerial-triangulation job with its images, camera passport, coordinate system,
// elevation-model choice and process settings, and its files in the project folder.
//
// Project file (.bun), little-endian, in this order (texts as in binary_archive.h):
//   int version (206 written); texts projection, datum, fuse, units;
//   version > 204: text user WKT, int user EPSG;
//   version > 202: int passport type code + passport form (codes 0, 1, 3), the same for the
//                  working passport, int undistortion flag;
//   version > 203: text passport file name;
//   int image count, image records (CABAImage::Write);
//   version > 205: int use external DEM, text external DEM path.
// Old text projects (.aba, versions 100 .. 104) are read always and written for versions < 200.

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "crs/coordinate_system.h"
#include "photogrammetry/passport.h"
#include "photogrammetry/point_collection.h"
#include "project/aba_image.h"
#include "project/process_settings.h"

namespace vantri {
class UserInterface;
}

namespace vantri::project {

inline constexpr int kProjectFormatVersion = 206;
inline constexpr int kOldestBinaryVersion = 200;
// Raster size up to which a distorted passport gets undistorted working images (megapixels,
// width * height / 1,048,576 with integer division).
inline constexpr long long kUndistortionMaxMegapixels = 60;

}  // namespace vantri::project

class CVantriProject {
 public:
  CVantriProject();
  CVantriProject(const CVantriProject&) = delete;
  CVantriProject& operator=(const CVantriProject&) = delete;

  bool IsOpen() const { return !folder.empty() && passport != nullptr; }

  int ImageCount() const { return static_cast<int>(images.size()); }
  // Null for an index outside 0 .. count - 1.
  CABAImage* Image(int index);
  const CABAImage* Image(int index) const;
  CABAImage& AppendImage(const std::string& path);

  // Sets the undistortion flag from the passport and, when set, makes the working passport
  // distortion-free. The working passport must be a fresh copy of the passport.
  void ApplyUndistortionRule();

  // Releases everything and returns to "no project" (coordinate system not defined, origin 0).
  void Close();

  std::string folder;     // with a trailing '/'; empty when no project is open
  std::string name;       // file title of the project file
  std::string file_path;  // full path of the .bun file
  int32_t format_version = vantri::project::kProjectFormatVersion;
  std::string passport_file_name;  // name and extension, lower case
  std::unique_ptr<CCameraPassport> passport;
  std::unique_ptr<CCameraPassport> working_passport;
  int32_t undistortion_flag = 0;
  std::vector<std::unique_ptr<CABAImage>> images;
  std::array<double, 3> local_origin{};  // subtracted from world coordinates
  vantri::crs::CoordinateSystem coordinate_system;
  int32_t use_external_dem = 0;
  std::string external_dem_path;
  CVantriSettings settings;

  // Control and check points of GCP.col and CP.col in the project folder.
  CGCPCollMap gcps;
  CGCPCollMap check_points;

  // Filled by the later layers (tie-point search, footprints); Project Info reports them.
  int used_tie_points = 0;
  // Set while a long process (the bundle run) works on the project; a second one is refused.
  bool busy = false;
  // Image footprints on the ground (closed outlines, project units), indexed like the images;
  // an empty outline means no footprint.
  std::vector<std::vector<std::array<double, 2>>> footprints;

  // Hooks of the later layers, called when set: choose the SRTM tile for the camera positions
  // (after a binary load), read the tie-point results at Open.
  std::function<void(CVantriProject&, const std::vector<std::array<double, 3>>&)> choose_dem;
  std::function<void(CVantriProject&)> load_tie_points;
};

namespace vantri::project {

// Reads a project file into `project` (whose folder, name and path are set by the caller):
// ".aba" (or "aba") extension: text reader, anything else: binary reader. Then settings.ini,
// GCP.col and CP.col (when present). 1 on success, 0 on failure; messages about a missing or
// unreadable passport of an old file go to `ui`.
int LoadProjectFile(CVantriProject& project, const std::string& path, vantri::UserInterface& ui);
// Writes the text form for versions below 200 and the binary form otherwise, through a temporary
// file and a rename. 0 when the path is empty or the write fails.
int SaveProjectFile(const CVantriProject& project, const std::string& path, int version);

// The two forms over bytes. Readers return 0 on a truncated or malformed input.
std::string WriteBinaryProject(const CVantriProject& project, int version);
int ReadBinaryProject(CVantriProject& project, std::string_view bytes, vantri::UserInterface& ui);
// Versions 100 .. 104.
std::string WriteTextProject(const CVantriProject& project, int version);
int ReadTextProject(CVantriProject& project, std::string_view text);

// "<folder><name>.off": three numbers; false (origin unchanged) when it cannot be read.
bool ReadLocalOrigin(const std::string& path, std::array<double, 3>& origin);

}  // namespace vantri::project
