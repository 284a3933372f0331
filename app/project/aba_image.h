#pragma once
// One image of a project. Images are identified everywhere by their index in the project's list.

#include <array>
#include <cstdint>
#include <string>

#include "photogrammetry/point_collection.h"  // kUndefinedVariance

namespace vantri::project {
class ArchiveReader;
class ArchiveWriter;
}  // namespace vantri::project

class CABAImage {
 public:
  // `project_folder` ends with a separator; the preview path is built in it.
  CABAImage(const std::string& path, const std::string& project_folder);

  // Sets the path and recomputes name and preview path.
  void SetPath(const std::string& path);
  const std::string& Path() const { return path_; }
  // File title of the path (no folder, no extension); '\' and '/' both separate folders.
  const std::string& Name() const { return name_; }
  // <project folder><name>.bmp when the lower-cased extension contains "jpg", else .jpg.
  const std::string& PreviewPath() const { return preview_path_; }
  const std::string& ProjectFolder() const { return project_folder_; }

  // Record of the project file for format version `version` (200 .. 206). Read fails (false)
  // when the archive runs short; the image is then partly filled.
  void Write(vantri::project::ArchiveWriter& out, int version) const;
  bool Read(vantri::project::ArchiveReader& in, int version);

  // Position not (0, 0, 0) and attitude not (0, 0, 0).
  bool HasGpsImu() const;

  // Camera position (GPS) in the project system, attitude (IMU) in radians.
  double x = 0, y = 0, z = 0;
  double omega = 0, phi = 0, kappa = 0;
  // A-priori variances of planimetry, height, omega/phi and kappa.
  double var_xy = vantri::photogrammetry::kUndefinedVariance,
         var_z = vantri::photogrammetry::kUndefinedVariance;
  double var_op = vantri::photogrammetry::kUndefinedVariance,
         var_k = vantri::photogrammetry::kUndefinedVariance;
  int8_t level = 0;     // image class 0..2 of old text projects
  int32_t enabled = 1;  // 0 excludes the image from processing, reports and export
  int32_t footprint_handle = 0;
  // Stored in the project file and written back as read.
  int32_t reserved = 0;
  std::array<double, 3> reserved_point1{};
  std::array<double, 3> reserved_point2{};

 private:
  void DeriveNames();

  std::string path_;
  std::string name_;
  std::string preview_path_;
  std::string project_folder_;
};

namespace vantri::project {

// File title of a path: the text after the last '\' or '/' without its extension.
std::string FileTitle(const std::string& path);
// Extension of the file part without the dot ("" when none).
std::string FileExtension(const std::string& path);

}  // namespace vantri::project
