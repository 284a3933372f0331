#pragma once

// The SRTM elevation source of a project: the SRTM folder setting, the choice of the tile that
// covers the image positions, and the logic of the SRTM source dialog.
//
// Profile (section "SRTM"): "Folder" the SRTM folder, default "../support" relative to the
// program's folder (a relative value is taken relative to it; '\' separators are accepted);
// "UseRemoteSRTM" "1" or "0", only stored.

#include <gdal_priv.h>

#include <Eigen/Core>
#include <memory>
#include <string>
#include <vector>

#include "dem_utils.h"

class CVantriProject;
class OGRCoordinateTransformation;

namespace vantri {
class UserInterface;
}

namespace vantri::aat {

// The configured SRTM folder (absolute, '/' separators, no trailing separator).
std::string SrtmFolder();
// "../../support" relative to the program's folder, searched when the SRTM folder has no tile.
std::string SrtmFallbackFolder();

// File names (with extension) of the valid elevation rasters among the folder's "*.tif" files,
// sorted by name; folders are skipped.
std::vector<std::string> ListElevationRasters(const std::string& folder);

// An opened elevation raster and its sampler.
struct ElevationModel {
  GDALDatasetUniquePtr dataset;
  std::unique_ptr<CDemUtils> sampler;
  std::string path;

  bool IsLoaded() const { return dataset != nullptr; }
  void Release();
};

// Opens <folder>/<name>.tif as the model; false (model released) when it does not open or is no
// valid elevation raster.
bool LoadSrtmTile(const std::string& folder, const std::string& name,
                  OGRCoordinateTransformation* project_to_raster, ElevationModel* model);

// Takes the first valid elevation raster of `folder`, then of `fallback_folder`, on which at
// least one position other than (0, 0, 0), transformed into the raster's system, falls on a cell
// (rounded column and row). Needs the project's transformation: without one nothing is taken.
// False (model released) when no file is taken.
bool LoadSrtmForPositions(const std::vector<Eigen::Vector3d>& positions,
                          OGRCoordinateTransformation* project_to_raster, const std::string& folder,
                          const std::string& fallback_folder, ElevationModel* model);

// The project's SRTM tile for the given camera positions (project system): the configured folder,
// then the fallback folder, through the project's project -> WGS 84 transformation.
bool LoadSrtmForProject(const CVantriProject& project,
                        const std::vector<Eigen::Vector3d>& positions, ElevationModel* model);
// Same with the positions of the project's images.
bool LoadSrtmForProjectImages(const CVantriProject& project, ElevationModel* model);

// The SRTM source dialog as plain code.
class SrtmSourceDialog {
 public:
  // Shows the configured folder and lists its valid elevation rasters; the remote check box is
  // unchecked and disabled.
  explicit SrtmSourceDialog(UserInterface& ui);

  const std::string& folder() const { return folder_; }
  const std::vector<std::string>& datasets() const { return datasets_; }
  bool RemoteChecked() const { return remote_checked_; }
  bool RemoteEnabled() const { return false; }

  void SetFolderText(const std::string& folder);
  void SetRemoteChecked(bool checked) { remote_checked_ = checked; }
  // The folder button: picks a folder ("Select SRTM folder") and refreshes the list; an empty
  // list shows "No valid SRTM dataset found inside selected folder!" (warning).
  bool ChooseFolder();
  // OK: true when the dialog closes (settings stored), false when it stays open.
  bool Ok();

 private:
  void Refresh();

  UserInterface& ui_;
  std::string folder_;
  std::vector<std::string> datasets_;
  bool remote_checked_ = false;
};

}  // namespace vantri::aat
