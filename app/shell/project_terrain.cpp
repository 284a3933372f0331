#include "shell/project_terrain.h"

#include "platform/ui.h"

namespace vantri::cli {

bool ProjectTerrain::LoadForImages(const CVantriProject& project) {
  return aat::loadSrtmForProjectImages(project, &model_);
}

TerrainIntersector ProjectTerrain::Intersector() const {
  return [this](const Eigen::Vector3d& origin, const Eigen::Vector3d& direction,
                Eigen::Vector3d* ground) {
    if (!model_.isLoaded() || model_.sampler == nullptr) return false;
    return aat::intersectTerrain(origin, direction, aat::kNoHeight, *model_.sampler, ground);
  };
}

double ProjectTerrain::HeightAt(double x, double y) const {
  if (!model_.isLoaded() || model_.sampler == nullptr) return aat::kNoHeight;
  return model_.sampler->heightAt(x, y);
}

int ProjectTerrain::UpdateFootprints(CVantriProject& project, UserInterface& ui) const {
  return UpdateImageBounds(project, ui, Intersector(),
                           [this](double x, double y) { return HeightAt(x, y); });
}

void ProjectTerrain::BindHooks(ImagesManager& manager, UserInterface& ui) {
  manager.after_images_added = [this, &ui](CVantriProject& project) {
    if (!IsLoaded()) LoadForImages(project);
    UpdateFootprints(project, ui);
  };
  manager.after_gps_import = [this, &ui](CVantriProject& project) {
    LoadForImages(project);
    UpdateFootprints(project, ui);
  };
  manager.after_list_emptied = [this](CVantriProject&) { Release(); };
}

}  // namespace vantri::cli
