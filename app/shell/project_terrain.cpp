#include "shell/project_terrain.h"

#include <ogr_spatialref.h>

#include "ui_interface/ui.h"

namespace vantri::shell {

namespace {

// Project system -> DEM system; null when either is unknown or they are the same.
OGRCoordinateTransformation* ProjectToDem(const CVantriProject& project, GDALDataset* dem) {
  const OGRSpatialReference* dem_srs = dem->GetSpatialRef();
  const std::string wkt = project.coordinate_system.BuildWkt();
  if (dem_srs == nullptr || dem_srs->IsEmpty() || wkt.empty()) return nullptr;
  OGRSpatialReference source;
  if (source.importFromWkt(wkt.c_str()) != OGRERR_NONE) return nullptr;
  OGRSpatialReference target(*dem_srs);
  source.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
  target.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
  if (source.IsSame(&target)) return nullptr;
  return OGRCreateCoordinateTransformation(&source, &target);
}

}  // namespace

void ProjectTerrain::Release() {
  model_.Release();
  project_to_dem_.reset();
  external_ = false;
}

bool ProjectTerrain::LoadForProject(const CVantriProject& project) {
  if (project.use_external_dem != 0 && !project.external_dem_path.empty() &&
      LoadExternal(project, project.external_dem_path))
    return true;
  return LoadForImages(project);
}

bool ProjectTerrain::LoadForImages(const CVantriProject& project) {
  Release();
  return aat::LoadSrtmForProjectImages(project, &model_);
}

bool ProjectTerrain::LoadExternal(const CVantriProject& project, const std::string& path) {
  Release();
  GDALDatasetUniquePtr dataset(GDALDataset::Open(path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY,
                                                 nullptr, nullptr, nullptr));
  if (dataset == nullptr || !aat::IsValidExternalDem(dataset.get())) return false;
  project_to_dem_.reset(ProjectToDem(project, dataset.get()));
  model_.sampler = std::make_unique<aat::CDemUtils>(dataset.get(), project_to_dem_.get());
  model_.dataset = std::move(dataset);
  model_.path = path;
  external_ = true;
  return true;
}

project::TerrainIntersector ProjectTerrain::Intersector() const {
  return [this](const Eigen::Vector3d& origin, const Eigen::Vector3d& direction,
                Eigen::Vector3d* ground) {
    if (!model_.IsLoaded() || model_.sampler == nullptr) return false;
    return aat::IntersectTerrain(origin, direction, aat::kNoHeight, *model_.sampler, ground);
  };
}

double ProjectTerrain::HeightAt(double x, double y) const {
  if (!model_.IsLoaded() || model_.sampler == nullptr) return aat::kNoHeight;
  return model_.sampler->HeightAt(x, y);
}

int ProjectTerrain::UpdateFootprints(CVantriProject& project, UserInterface& ui) const {
  return project::UpdateImageBounds(project, ui, Intersector(),
                                    [this](double x, double y) { return HeightAt(x, y); });
}

void ProjectTerrain::BindHooks(project::ImagesManager& manager, UserInterface& ui) {
  manager.after_images_added = [this, &ui](CVantriProject& project) {
    if (!IsLoaded()) LoadForProject(project);
    UpdateFootprints(project, ui);
  };
  manager.after_gps_import = [this, &ui](CVantriProject& project) {
    LoadForProject(project);
    UpdateFootprints(project, ui);
  };
  manager.after_list_emptied = [this](CVantriProject&) { Release(); };
}

}  // namespace vantri::shell
