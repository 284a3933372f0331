#include "srtm.h"

#include <ogr_spatialref.h>

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "project/project.h"
#include "project/project_flows.h"
#include "system/nvtools.h"
#include "system/text.h"
#include "ui_interface/ui.h"

namespace vantri::aat {
namespace {

namespace fs = std::filesystem;

constexpr const char* kSection = "SRTM";

std::string WithSlashes(std::string path) {
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

std::string RelativeToProgram(const std::string& path) {
  fs::path p(WithSlashes(path));
  if (p.is_relative()) p = fs::path(NVT_GetSpecialFolder(NVT_FOLDER_PROGRAM_FILES)) / p;
  std::string text = p.lexically_normal().string();
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  return text;
}

bool HasTifExtension(const fs::path& path) {
  return system::ToLower(path.extension().string()) == ".tif";
}

GDALDatasetUniquePtr OpenReadOnly(const std::string& path) {
  return GDALDatasetUniquePtr(GDALDataset::FromHandle(
      GDALOpenEx(path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY, nullptr, nullptr, nullptr)));
}

// Paths of the folder's "*.tif" files, sorted by name.
std::vector<fs::path> TifFiles(const std::string& folder) {
  std::vector<fs::path> files;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(folder, error)) {
    if (entry.is_regular_file(error) && HasTifExtension(entry.path()))
      files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

bool CoversAnyPosition(GDALDataset* dataset, const std::vector<Eigen::Vector3d>& positions,
                       OGRCoordinateTransformation* project_to_raster) {
  double gt[6];
  if (dataset->GetGeoTransform(gt) != CE_None || gt[1] == 0.0 || gt[5] == 0.0) return false;
  for (const auto& position : positions) {
    if (position.isZero()) continue;
    double x = position.x(), y = position.y();
    if (!project_to_raster->Transform(1, &x, &y)) continue;
    const double col = std::round((x - gt[0]) / gt[1]);
    const double row = std::round((y - gt[3]) / gt[5]);
    if (col >= 0 && row >= 0 && col < dataset->GetRasterXSize() && row < dataset->GetRasterYSize())
      return true;
  }
  return false;
}

bool TakeFirstCoveringTile(const std::string& folder, const std::vector<Eigen::Vector3d>& positions,
                           OGRCoordinateTransformation* project_to_raster, ElevationModel* model) {
  for (const auto& path : TifFiles(folder)) {
    GDALDatasetUniquePtr dataset = OpenReadOnly(path.string());
    if (!IsValidElevationRaster(dataset.get())) continue;
    if (!CoversAnyPosition(dataset.get(), positions, project_to_raster)) continue;
    model->dataset = std::move(dataset);
    model->sampler = std::make_unique<CDemUtils>(model->dataset.get(), project_to_raster);
    model->path = path.string();
    return true;
  }
  return false;
}

}  // namespace

std::string SrtmFolder() {
  return RelativeToProgram(NVT_GetUserProfileString(kSection, "Folder", "../support"));
}

std::string SrtmFallbackFolder() { return RelativeToProgram("../../support"); }

std::vector<std::string> ListElevationRasters(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& path : TifFiles(folder)) {
    GDALDatasetUniquePtr dataset = OpenReadOnly(path.string());
    if (IsValidElevationRaster(dataset.get())) names.push_back(path.filename().string());
  }
  return names;
}

void ElevationModel::Release() {
  sampler.reset();
  dataset.reset();
  path.clear();
}

bool LoadSrtmTile(const std::string& folder, const std::string& name,
                  OGRCoordinateTransformation* project_to_raster, ElevationModel* model) {
  model->Release();
  const std::string path = WithSlashes(folder) + "/" + name + ".tif";
  GDALDatasetUniquePtr dataset = OpenReadOnly(path);
  if (!IsValidElevationRaster(dataset.get())) return false;
  model->dataset = std::move(dataset);
  model->sampler = std::make_unique<CDemUtils>(model->dataset.get(), project_to_raster);
  model->path = path;
  return true;
}

bool LoadSrtmForPositions(const std::vector<Eigen::Vector3d>& positions,
                          OGRCoordinateTransformation* project_to_raster, const std::string& folder,
                          const std::string& fallback_folder, ElevationModel* model) {
  model->Release();
  if (project_to_raster == nullptr) return false;
  return TakeFirstCoveringTile(folder, positions, project_to_raster, model) ||
         TakeFirstCoveringTile(fallback_folder, positions, project_to_raster, model);
}

bool LoadSrtmForProject(const CVantriProject& project,
                        const std::vector<Eigen::Vector3d>& positions, ElevationModel* model) {
  return LoadSrtmForPositions(positions, project.coordinate_system.project_to_wgs84(), SrtmFolder(),
                              SrtmFallbackFolder(), model);
}

bool LoadSrtmForProjectImages(const CVantriProject& project, ElevationModel* model) {
  std::vector<Eigen::Vector3d> positions;
  for (const auto& image : project.images) positions.emplace_back(image->x, image->y, image->z);
  return LoadSrtmForProject(project, positions, model);
}

SrtmSourceDialog::SrtmSourceDialog(UserInterface& ui) : ui_(ui), folder_(SrtmFolder()) {
  Refresh();
}

void SrtmSourceDialog::Refresh() {
  datasets_ = folder_.empty() ? std::vector<std::string>{} : ListElevationRasters(folder_);
}

void SrtmSourceDialog::SetFolderText(const std::string& folder) {
  folder_ = folder;
  Refresh();
}

bool SrtmSourceDialog::ChooseFolder() {
  std::string chosen;
  if (!ui_.PickFolder("Select SRTM folder", folder_, &chosen)) return false;
  SetFolderText(chosen);
  if (datasets_.empty())
    ui_.ShowMessage("No valid SRTM dataset found inside selected folder!", MessageIcon::kWarning);
  return true;
}

bool SrtmSourceDialog::Ok() {
  if (remote_checked_) {
    NVT_WriteUserProfileString(kSection, "UseRemoteSRTM", "1");
    return true;
  }
  NVT_WriteUserProfileString(kSection, "UseRemoteSRTM", "0");
  if (!folder_.empty() && !ListElevationRasters(folder_).empty()) {
    if (NVT_WriteUserProfileString(kSection, "Folder", folder_) != 0) return true;
    // Reporting success here would leave the old folder in force without a word.
    ui_.ShowMessage("Unable to save the SRTM folder in the user profile!",
                    MessageIcon::kExclamation);
    return false;
  }
  ui_.ShowMessage("Please select a valid SRTM folder!", MessageIcon::kInformation);
  return false;
}

}  // namespace vantri::aat
