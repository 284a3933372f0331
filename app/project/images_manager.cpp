#include "project/images_manager.h"

#include <gdal_priv.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <tuple>

#include "system/nvtools.h"
#include "system/text.h"
#include "ui_interface/ui.h"

namespace vantri::project {

using vantri::MessageIcon;

namespace {

constexpr double kMaxAngularVariance = 3.141592653589793;

std::string VarianceText(double value) {
  if (value >= photogrammetry::kUndefinedVariance) return "-";
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%g", value);
  return buffer;
}

std::string MetadataItem(GDALDataset* dataset, const char* key) {
  const char* value = dataset->GetMetadataItem(key);
  return value == nullptr ? std::string() : std::string(value);
}

bool HasMetadataItem(GDALDataset* dataset, const char* key) {
  return dataset->GetMetadataItem(key) != nullptr;
}

const char* VariancePrompt(VarianceColumn column) {
  switch (column) {
    case VarianceColumn::kXY:
      return "Type new Var XY (\"-\" for undef value)";
    case VarianceColumn::kZ:
      return "Type new Var Z (\"-\" for undef value)";
    case VarianceColumn::kOP:
      return "Type new Var OP (\"-\" for undef value)";
    case VarianceColumn::kK:
      break;
  }
  return "Type new Var K (\"-\" for undef value)";
}

double& VarianceOf(CABAImage& image, VarianceColumn column) {
  switch (column) {
    case VarianceColumn::kXY:
      return image.var_xy;
    case VarianceColumn::kZ:
      return image.var_z;
    case VarianceColumn::kOP:
      return image.var_op;
    case VarianceColumn::kK:
      break;
  }
  return image.var_k;
}

struct GdalCloser {
  void operator()(GDALDataset* dataset) const { GDALClose(dataset); }
};
using DatasetPtr = std::unique_ptr<GDALDataset, GdalCloser>;

DatasetPtr OpenRaster(const std::string& path) {
  GDALAllRegister();
  return DatasetPtr(static_cast<GDALDataset*>(
      GDALOpenEx(path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY, nullptr, nullptr, nullptr)));
}

}  // namespace

bool CanOpenImagesManager(const CVantriProject& project, vantri::UserInterface& ui) {
  if (project.passport == nullptr) return false;
  if (!project.coordinate_system.HasTransformations()) {
    ui.ShowMessage("Set coordinate system before!", MessageIcon::kExclamation);
    return false;
  }
  return true;
}

bool ImageImportCheckOn(const CVantriProject& project) {
  return project.passport != nullptr && project.passport->HasLensDistortion() &&
         project.undistortion_flag != 0;
}

bool IsUndistortedFor(GDALDataset* dataset, const std::string& passport_file_name) {
  if (HasMetadataItem(dataset, "UNDISTORTED") && HasMetadataItem(dataset, "CAMERANAME"))
    return vantri::system::EqualsNoCase(MetadataItem(dataset, "UNDISTORTED"), "yes") &&
           vantri::system::EqualsNoCase(MetadataItem(dataset, "CAMERANAME"), passport_file_name);
  return vantri::system::EqualsNoCase(MetadataItem(dataset, "TIFFTAG_SOFTWARE"),
                                      "Norvel Software UND") &&
         vantri::system::EqualsNoCase(MetadataItem(dataset, "TIFFTAG_IMAGEDESCRIPTION"),
                                      passport_file_name);
}

std::string ParseVarianceAnswer(const std::string& text, VarianceColumn column, double* value) {
  if (text.empty() || text == "-") {
    *value = photogrammetry::kUndefinedVariance;
    return {};
  }
  double parsed = 0;
  if (NVT_StringToDouble(text, &parsed) == 0 || parsed < 0 || !std::isfinite(parsed))
    return "Invalid value!";
  const bool angular = column == VarianceColumn::kOP || column == VarianceColumn::kK;
  if (angular && parsed > kMaxAngularVariance)
    return "Angular variance must be lower than 180 deg!";
  *value = parsed;
  return {};
}

ImagesManager::ImagesManager(CVantriProject& project, vantri::UserInterface& ui)
    : project_(project), ui_(ui) {}

std::vector<ImageRow> ImagesManager::Rows() const {
  std::vector<ImageRow> rows;
  for (const auto& image : project_.images) {
    ImageRow row;
    row.name = image->Name();
    const bool has_position = image->x != 0 || image->y != 0 || image->z != 0;
    row.gps_imu = has_position ? "Yes" : "No";
    row.var_xy = VarianceText(image->var_xy);
    row.var_z = VarianceText(image->var_z);
    row.var_op = VarianceText(image->var_op);
    row.var_k = VarianceText(image->var_k);
    row.enabled = image->enabled != 0;
    row.background = row.enabled ? 255 : kDisabledRowGrey;
    rows.push_back(row);
  }
  return rows;
}

std::string ImagesManager::Label() const {
  const std::vector<ImageRow> rows = Rows();
  const auto valid = std::count_if(rows.begin(), rows.end(), [](const ImageRow& row) {
    return !vantri::system::EqualsNoCase(row.gps_imu, "no");
  });
  char buffer[128];
  std::snprintf(buffer, sizeof buffer, "%d images added (%d valid for process)",
                static_cast<int>(rows.size()), static_cast<int>(valid));
  return buffer;
}

bool ImagesManager::IsListed(const std::string& path) const {
  const std::string title = FileTitle(path);
  return std::any_of(project_.images.begin(), project_.images.end(), [&](const auto& image) {
    return vantri::system::EqualsNoCase(image->Name(), title);
  });
}

bool ImagesManager::Acceptable(const std::string& path) const {
  if (IsListed(path)) return false;
  const DatasetPtr dataset = OpenRaster(path);
  if (dataset == nullptr) return false;
  if (ImageImportCheckOn(project_) && !IsUndistortedFor(dataset.get(), project_.passport_file_name))
    return false;
  return dataset->GetRasterXSize() == project_.passport->width &&
         dataset->GetRasterYSize() == project_.passport->height;
}

AddImagesResult ImagesManager::AddImages(std::vector<std::string> paths) {
  AddImagesResult result;
  if (project_.passport == nullptr) return result;
  std::sort(paths.begin(), paths.end());
  ui_.SetAbort(false);
  ui_.SetProgressRange(0, static_cast<int>(paths.size()));
  for (size_t i = 0; i < paths.size(); ++i) {
    ui_.PumpMessages();
    if (ui_.IsAborted()) break;
    ui_.SetProgressPosition(static_cast<int>(i));
    if (Acceptable(paths[i])) {
      project_.AppendImage(paths[i]);
      ++result.added;
    } else {
      ++result.skipped;
    }
  }
  ui_.SetProgressPosition(0);
  char buffer[128];
  std::snprintf(buffer, sizeof buffer, "%d images added", result.added);
  ui_.Log(buffer);
  if (result.skipped > 0) {
    std::snprintf(buffer, sizeof buffer, "%d images skipped: invalid or already imported",
                  result.skipped);
    ui_.Log(buffer);
    ui_.ShowMessage(buffer, MessageIcon::kInformation);
  }
  if (result.added > 0 && after_images_added) after_images_added(project_);
  return result;
}

AddImagesResult ImagesManager::AddImagesWithDialog() {
  if (project_.passport == nullptr) return {};
  std::vector<std::string> paths;
  if (!ui_.PickOpenFiles("Add", {{"Images", "*.tif;*.img;*.jpg"}}, "", &paths)) return {};
  return AddImages(std::move(paths));
}

void ImagesManager::Remove(std::vector<int> rows) {
  std::sort(rows.rbegin(), rows.rend());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  for (const int row : rows) {
    if (row < 0 || row >= project_.ImageCount()) continue;
    project_.images.erase(project_.images.begin() + row);
    if (row < static_cast<int>(project_.footprints.size()))
      project_.footprints.erase(project_.footprints.begin() + row);
  }
  if (project_.images.empty()) ListEmptied();
}

bool ImagesManager::RemoveAll() {
  if (!ui_.AskYesNo("Do you want to remove all image from project?", MessageIcon::kQuestion))
    return false;
  project_.images.clear();
  project_.footprints.clear();
  ListEmptied();
  return true;
}

void ImagesManager::ListEmptied() {
  project_.footprints.clear();
  if (after_list_emptied) after_list_emptied(project_);
}

bool ImagesManager::ImportGpsImu(const std::function<bool(CVantriProject&)>& import_window) {
  if (!import_window) return false;
  std::vector<std::array<double, 6>> poses;
  for (const auto& image : project_.images)
    poses.push_back({image->x, image->y, image->z, image->omega, image->phi, image->kappa});
  if (!import_window(project_)) {
    // A cancelled import leaves every image where it was.
    for (size_t i = 0; i < poses.size() && i < project_.images.size(); ++i) {
      CABAImage& image = *project_.images[i];
      std::tie(image.x, image.y, image.z) = std::tie(poses[i][0], poses[i][1], poses[i][2]);
      std::tie(image.omega, image.phi, image.kappa) =
          std::tie(poses[i][3], poses[i][4], poses[i][5]);
    }
    return false;
  }
  std::error_code error;
  std::filesystem::remove(project_.folder + "srtm.tif", error);
  if (after_gps_import) after_gps_import(project_);
  return true;
}

bool ImagesManager::SetVarianceToAll(VarianceColumn column) {
  for (;;) {
    std::string answer;
    if (!ui_.PromptValue(VariancePrompt(column), "", &answer)) return false;
    double value = 0;
    const std::string refusal = ParseVarianceAnswer(answer, column, &value);
    if (refusal.empty()) {
      SetVariance(column, value);
      return true;
    }
    ui_.ShowMessage(refusal, MessageIcon::kInformation);
  }
}

void ImagesManager::SetVariance(VarianceColumn column, double value) {
  for (auto& image : project_.images) VarianceOf(*image, column) = value;
}

void ImagesManager::SetEnabled(const std::vector<int>& rows, bool enabled) {
  for (const int row : rows)
    if (CABAImage* image = project_.Image(row)) image->enabled = enabled ? 1 : 0;
}

}  // namespace vantri::project
