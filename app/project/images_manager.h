#pragma once
// Logic of the Images Manager window: adding images with their skip rules, removing them, the
// list rows and label, a-priori variances for all images, and the enabled flags.
//
// The layers above the project (elevation model, footprints) join through the hooks: they run
// after images were added, after a GPS/IMU import and when the list becomes empty.

#include <functional>
#include <string>
#include <vector>

#include "project/project.h"

namespace vantri {
class UserInterface;
}

class GDALDataset;

namespace vantri::project {

// Background of a disabled image's row.
inline constexpr int kDisabledRowGrey = 128;

// One row of the list. Variances and adjusted values show "-" when undefined / unknown.
struct ImageRow {
  std::string name;
  std::string gps_imu;  // "Yes" when the position is not (0, 0, 0), else "No"
  std::string var_xy, var_z, var_op, var_k;
  std::string adj_xy = "-", adj_z = "-", adj_op = "-", adj_k = "-";
  bool enabled = true;
  int background = 255;  // grey level of the row: 255 white, kDisabledRowGrey disabled
};

enum class VarianceColumn { kXY, kZ, kOP, kK };

// The main window's "Images Manager" button: false without a project passport (silently) and with
// "Set coordinate system before!" (exclamation) while the project has no coordinate
// transformation.
bool CanOpenImagesManager(const CVantriProject& project, vantri::UserInterface& ui);

// The undistorted-image check of Add is on when the passport has lens distortion and the
// project's undistortion flag is set.
bool ImageImportCheckOn(const CVantriProject& project);
// Metadata (default domain) of an undistorted image made for the passport file
// `passport_file_name`: "UNDISTORTED" = "yes" and "CAMERANAME" = the file name, or, when either
// item is missing, "TIFFTAG_SOFTWARE" = "Norvel Software UND" and "TIFFTAG_IMAGEDESCRIPTION" = the
// file name (values compared without regard to case).
bool IsUndistortedFor(GDALDataset* dataset, const std::string& passport_file_name);

// Parses the answer of 'Type new Var ... ("-" for undef value)': "-" or empty gives the undefined
// variance. Returns the refusal message ("Invalid value!" for a negative or non-numeric value,
// "Angular variance must be lower than 180 deg!" above pi for the angular columns), empty when
// `value` was set.
std::string ParseVarianceAnswer(const std::string& text, VarianceColumn column, double* value);

struct AddImagesResult {
  int added = 0;
  int skipped = 0;
};

class ImagesManager {
 public:
  ImagesManager(CVantriProject& project, vantri::UserInterface& ui);

  std::vector<ImageRow> Rows() const;
  // "%d images added (%d valid for process)".
  std::string Label() const;

  // Add: sorts the paths by name and adds each one that is not already listed (file title,
  // case-insensitive), opens with GDAL, passes the undistorted check when it is on and has the
  // passport's raster size. Logs "%d images added", logs and shows
  // "%d images skipped: invalid or already imported" when any was skipped, and runs
  // `after_images_added` when at least one was added. Nothing happens without a passport.
  AddImagesResult AddImages(std::vector<std::string> paths);
  // The same after the file window ("Images (*.tif;*.img;*.jpg;)").
  AddImagesResult AddImagesWithDialog();

  // Removes the images of the given rows (highest index first).
  void Remove(std::vector<int> rows);
  // Asks "Do you want to remove all image from project?"; true when removed.
  bool RemoveAll();

  // "Import": runs `import_window` (the GPS/IMU import, true for OK), then deletes
  // "<folder>srtm.tif" and runs `after_gps_import`. A cancelled import gets every image's position
  // and attitude back. True when the import was confirmed.
  bool ImportGpsImu(const std::function<bool(CVantriProject&)>& import_window);

  // "Set value to all": asks until the answer is accepted or cancelled; true when set.
  bool SetVarianceToAll(VarianceColumn column);
  void SetVariance(VarianceColumn column, double value);
  // "Clear all": the column becomes undefined.
  void ClearVariance(VarianceColumn column) {
    SetVariance(column, photogrammetry::kUndefinedVariance);
  }

  // The check box of a row: the same state for every given row.
  void SetEnabled(const std::vector<int>& rows, bool enabled);

  // "Input Mode" toggles between the narrow input layout (caption "Input Mode") and the wide
  // check layout (caption "Check Mode", 1.5 times the input width).
  void ToggleInputMode() { check_mode_ = !check_mode_; }
  bool IsCheckMode() const { return check_mode_; }
  const char* Caption() const { return check_mode_ ? "Check Mode" : "Input Mode"; }
  int WindowWidth(int input_width) const {
    return check_mode_ ? input_width + input_width / 2 : input_width;
  }

  std::function<void(CVantriProject&)> after_images_added;
  std::function<void(CVantriProject&)> after_gps_import;
  std::function<void(CVantriProject&)> after_list_emptied;

 private:
  // Not listed yet, readable, undistorted when required and of the passport's raster size.
  bool Acceptable(const std::string& path) const;
  bool IsListed(const std::string& path) const;
  void ListEmptied();

  CVantriProject& project_;
  vantri::UserInterface& ui_;
  bool check_mode_ = false;
};

}  // namespace vantri::project
