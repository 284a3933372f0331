#pragma once
// The elevation model of a project in vantri-cli and the project-layer hooks that use it: the
// SRTM tile chosen for the image positions, image footprints on it, and the images manager's
// hooks (after adding images, after a GPS/IMU import, when the list empties).

#include "aat/srtm.h"
#include "crs/coordinate_system.h"
#include "project/footprints.h"
#include "project/images_manager.h"

namespace vantri::shell {

class ProjectTerrain {
 public:
  // The project's terrain: its external DEM when "Use External DEM" is on and the file is a valid
  // external DEM, else the SRTM tile for the positions of its images. False when neither loads.
  bool LoadForProject(const CVantriProject& project);
  // Chooses the SRTM tile for the positions of the project's images; false when none covers them.
  bool LoadForImages(const CVantriProject& project);
  // Opens the DEM file, sampled through a project -> DEM transformation when the two systems are
  // known and differ.
  bool LoadExternal(const CVantriProject& project, const std::string& path);
  bool IsExternal() const { return external_; }
  void Release();
  bool IsLoaded() const { return model_.IsLoaded(); }
  const std::string& Path() const { return model_.path; }

  // Ray-terrain intersection on the loaded tile (always false without one).
  project::TerrainIntersector Intersector() const;
  // Height under (X, Y), -9999 without a tile or a height.
  double HeightAt(double x, double y) const;

  // Recomputes the footprints of every image with GPS/IMU data on the loaded tile.
  int UpdateFootprints(CVantriProject& project, UserInterface& ui) const;

  // Binds the images manager's hooks: after adding images the tile is chosen when none is loaded
  // yet and the footprints are updated; after a GPS/IMU import the tile is chosen again; an empty
  // list releases the tile.
  void BindHooks(project::ImagesManager& manager, UserInterface& ui);

 private:
  aat::ElevationModel model_;
  crs::TransformPtr project_to_dem_;
  bool external_ = false;
};

}  // namespace vantri::shell
