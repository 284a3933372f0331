#include "srtm.h"

#include <ogr_spatialref.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <ostream>

#include "platform/nvtools.h"
#include "platform/ui.h"
#include "project/project.h"
#include "project/project_flows.h"

namespace vantri::aat {
namespace {

namespace fs = std::filesystem;

constexpr const char* kSection = "SRTM";

std::string withSlashes(std::string path) {
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

std::string relativeToProgram(const std::string& path) {
  fs::path p(withSlashes(path));
  if (p.is_relative()) p = fs::path(NVT_GetSpecialFolder(NVT_FOLDER_PROGRAM_FILES)) / p;
  std::string text = p.lexically_normal().string();
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  return text;
}

bool hasTifExtension(const fs::path& path) {
  std::string ext = path.extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(), ::tolower);
  return ext == ".tif";
}

GDALDatasetUniquePtr openReadOnly(const std::string& path) {
  return GDALDatasetUniquePtr(GDALDataset::FromHandle(
      GDALOpenEx(path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY, nullptr, nullptr, nullptr)));
}

// Paths of the folder's "*.tif" files, sorted by name.
std::vector<fs::path> tifFiles(const std::string& folder) {
  std::vector<fs::path> files;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(folder, error)) {
    if (entry.is_regular_file(error) && hasTifExtension(entry.path()))
      files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

bool coversAnyPosition(GDALDataset* dataset, const std::vector<Eigen::Vector3d>& positions,
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

bool takeFirstCoveringTile(const std::string& folder, const std::vector<Eigen::Vector3d>& positions,
                           OGRCoordinateTransformation* project_to_raster, ElevationModel* model) {
  for (const auto& path : tifFiles(folder)) {
    GDALDatasetUniquePtr dataset = openReadOnly(path.string());
    if (!isValidElevationRaster(dataset.get())) continue;
    if (!coversAnyPosition(dataset.get(), positions, project_to_raster)) continue;
    model->dataset = std::move(dataset);
    model->sampler = std::make_unique<CDemUtils>(model->dataset.get(), project_to_raster);
    model->path = path.string();
    return true;
  }
  return false;
}

}  // namespace

std::string srtmFolder() {
  return relativeToProgram(NVT_GetUserProfileString(kSection, "Folder", "../support"));
}

std::string srtmFallbackFolder() { return relativeToProgram("../../support"); }

std::vector<std::string> listElevationRasters(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& path : tifFiles(folder)) {
    GDALDatasetUniquePtr dataset = openReadOnly(path.string());
    if (isValidElevationRaster(dataset.get())) names.push_back(path.filename().string());
  }
  return names;
}

void ElevationModel::release() {
  sampler.reset();
  dataset.reset();
  path.clear();
}

bool loadSrtmTile(const std::string& folder, const std::string& name,
                  OGRCoordinateTransformation* project_to_raster, ElevationModel* model) {
  model->release();
  const std::string path = withSlashes(folder) + "/" + name + ".tif";
  GDALDatasetUniquePtr dataset = openReadOnly(path);
  if (!isValidElevationRaster(dataset.get())) return false;
  model->dataset = std::move(dataset);
  model->sampler = std::make_unique<CDemUtils>(model->dataset.get(), project_to_raster);
  model->path = path;
  return true;
}

bool loadSrtmForPositions(const std::vector<Eigen::Vector3d>& positions,
                          OGRCoordinateTransformation* project_to_raster, const std::string& folder,
                          const std::string& fallback_folder, ElevationModel* model) {
  model->release();
  if (project_to_raster == nullptr) return false;
  return takeFirstCoveringTile(folder, positions, project_to_raster, model) ||
         takeFirstCoveringTile(fallback_folder, positions, project_to_raster, model);
}

bool loadSrtmForProject(const CVantriProject& project,
                        const std::vector<Eigen::Vector3d>& positions, ElevationModel* model) {
  return loadSrtmForPositions(positions, project.coordinate_system.project_to_wgs84(), srtmFolder(),
                              srtmFallbackFolder(), model);
}

bool loadSrtmForProjectImages(const CVantriProject& project, ElevationModel* model) {
  std::vector<Eigen::Vector3d> positions;
  for (const auto& image : project.images) positions.emplace_back(image->x, image->y, image->z);
  return loadSrtmForProject(project, positions, model);
}

SrtmSourceDialog::SrtmSourceDialog(UserInterface& ui) : ui_(ui), folder_(srtmFolder()) {
  refresh();
}

void SrtmSourceDialog::refresh() {
  datasets_ = folder_.empty() ? std::vector<std::string>{} : listElevationRasters(folder_);
}

void SrtmSourceDialog::setFolderText(const std::string& folder) {
  folder_ = folder;
  refresh();
}

bool SrtmSourceDialog::chooseFolder() {
  std::string chosen;
  if (!ui_.PickFolder("Select SRTM folder", folder_, &chosen)) return false;
  setFolderText(chosen);
  if (datasets_.empty())
    ui_.ShowMessage("No valid SRTM dataset found inside selected folder!", MessageIcon::kWarning);
  return true;
}

bool SrtmSourceDialog::ok() {
  if (remote_checked_) {
    NVT_WriteUserProfileString(kSection, "UseRemoteSRTM", "1");
    return true;
  }
  NVT_WriteUserProfileString(kSection, "UseRemoteSRTM", "0");
  if (!folder_.empty() && !listElevationRasters(folder_).empty()) {
    NVT_WriteUserProfileString(kSection, "Folder", folder_);
    return true;
  }
  ui_.ShowMessage("Please select a valid SRTM folder!", MessageIcon::kInformation);
  return false;
}

namespace {

constexpr const char* kDemUsage =
    "Usage: vantri-cli dem PROJECT.bun --external FILE | --off\n"
    "Uses FILE (one Float32 or Int16 band with a geotransform) as the project's DEM, or stops\n"
    "using an external DEM; the project is saved.\n";
constexpr const char* kSrtmUsage =
    "Usage: vantri-cli srtm-folder [PROJECT.bun] DIR\n"
    "Stores DIR as the SRTM folder when it holds a valid elevation raster (*.tif); with a\n"
    "project, prints the SRTM tile that covers its image positions.\n";

bool wantsHelp(const std::vector<std::string>& args) {
  return std::find(args.begin(), args.end(), "--help") != args.end();
}

}  // namespace

int runDemCommand(const std::vector<std::string>& args, UserInterface& ui, std::ostream& out,
                  std::ostream& err) {
  if (wantsHelp(args)) {
    out << kDemUsage;
    return 0;
  }
  const bool off = args.size() == 2 && args[1] == "--off";
  const bool external = args.size() == 3 && args[1] == "--external";
  if (!off && !external) {
    err << kDemUsage;
    return 2;
  }
  CVantriProject project;
  if (!OpenProjectPath(project, ui, args[0])) return 1;
  if (off) {
    project.use_external_dem = 0;
  } else if (!setExternalDem(project, args[2], ui)) {
    return 1;
  }
  if (!SaveProject(project)) {
    err << "Unable to save the project " << project.file_path << "\n";
    return 1;
  }
  out << (off ? "External DEM off\n" : "External DEM: " + project.external_dem_path + "\n");
  return 0;
}

int runSrtmFolderCommand(const std::vector<std::string>& args, UserInterface& ui, std::ostream& out,
                         std::ostream& err) {
  if (wantsHelp(args)) {
    out << kSrtmUsage;
    return 0;
  }
  if (args.empty() || args.size() > 2 || args.back().rfind("--", 0) == 0) {
    err << kSrtmUsage;
    return 2;
  }
  SrtmSourceDialog dialog(ui);
  std::string folder = fs::absolute(withSlashes(args.back())).lexically_normal().string();
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  dialog.setFolderText(folder);
  if (!dialog.ok()) return 1;
  out << "SRTM folder: " << srtmFolder() << "\n";
  if (args.size() == 1) return 0;

  CVantriProject project;
  if (!OpenProjectPath(project, ui, args[0])) return 1;
  ElevationModel model;
  if (!loadSrtmForProjectImages(project, &model)) {
    out << "No SRTM tile covers the image positions\n";
    return 0;
  }
  out << "SRTM tile: " << model.path << "\n";
  return 0;
}

}  // namespace vantri::aat
