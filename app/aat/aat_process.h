#pragma once
// The automatic aerial triangulation (AAT) of a project whose images carry
// GPS/IMU data: the images are added one by one with tie points matched against
// their neighbours, the block is adjusted once by the sparse bundle adjustment,
// georeferenced on the GPS positions, and the exchange files, orientations and
// point clouds are left in the project folder.
//
// Frames: the project orientations hold the approximate orientations (project
// coordinates) while images are added; the block set and the tie points are in
// local coordinates (project minus the local origin), and so are the project
// orientations after the adjustment.

#include <gdal_priv.h>

#include <Eigen/Core>
#include <array>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "aat/dem_triangulation.h"
#include "aat/exchange_files.h"
#include "aat/preview_cloud.h"
#include "aat/tie_point_search.h"
#include "photogrammetry/orientation.h"

class CVantriProject;
class OGRCoordinateTransformation;

namespace vantri::project {
struct VantriTypedSettings;
}  // namespace vantri::project

namespace vantri {
class UserInterface;
namespace bundle {
class BundleRun;
}
}  // namespace vantri

// The processing object of one AAT run (the bundle process builds on it later).
class CAerialPhotogrammetricProcess {
 public:
  // `project` and `ui` must outlive the process. The log, the progress and the
  // abort flag go through `ui`.
  CAerialPhotogrammetricProcess(CVantriProject& project, vantri::UserInterface& ui);
  ~CAerialPhotogrammetricProcess();
  CAerialPhotogrammetricProcess(const CAerialPhotogrammetricProcess&) = delete;
  CAerialPhotogrammetricProcess& operator=(const CAerialPhotogrammetricProcess&) = delete;

  // The project's SRTM elevation raster (not owned) and its project -> raster
  // transformation, the default DEM of the run.
  void SetSrtmDem(GDALDataset* dataset, OGRCoordinateTransformation* project_to_dem);

  // The AAT run. `resume_path`: exchange file to resume from (empty: fresh
  // run); `dem_path`: external DEM file (empty: none). 1 on success, 0 on
  // failure or abort (the reason logged).
  int RunAAT(const std::string& resume_path, const std::string& dem_path);
  // The bundle process on the block the AAT left (defined in app/bundle,
  // library vantri_bundle). `bro_path`: exchange file to start from (empty:
  // the project's own). 1 on success, 0 on failure (the reason logged).
  int RunBundle(const std::string& bro_path);

  // Reads an exchange file into the orientations, the added images and (unless
  // `cameras_only`) the tie points. Reference patches are cut unless
  // `no_patches`, or `stop_if_complete` and every image came back oriented. The
  // number of oriented images, or -1 when the file cannot be read or is
  // malformed (the process is then unchanged).
  int ReadBRO(const std::string& path, bool cameras_only, bool stop_if_complete, bool no_patches);
  // Writes the tie points with the project orientations, or with the given
  // orientations. 1 / 0.
  int WriteBRO(const std::string& path) const;
  int WriteBRO(const std::string& path, const std::vector<nvc::COrientation>& orientations) const;

  const std::vector<nvc::COrientation>& Orientations() const { return orientations_; }
  const vantri::aat::TiePointList& TiePoints() const { return tie_points_; }
  const std::vector<int>& AddedImages() const { return added_images_; }
  const std::string& TiePointsFolder() const { return tie_points_folder_; }
  const std::string& BundleFolder() const { return bundle_folder_; }
  // The last text logged (why a failed run stopped).
  const std::string& LastMessage() const { return last_message_; }

  // What the control-point adjustment of a bundle run reported (NVSSBA's run figures): the
  // a-posteriori sigma 0 in pixels, the iterations run and whether the last solve converged.
  // `adjusted` is false until an adjustment succeeded.
  struct AdjustmentSummary {
    bool adjusted = false;
    double sigma0_px = 0.0;
    int iterations = 0;
    bool converged = false;
  };
  const AdjustmentSummary& LastAdjustment() const { return last_adjustment_; }

  // Worker threads of the tie-point search of each added image (0, the
  // default: the hardware threads). The files are the same for any count.
  void SetSearchThreads(int threads) { search_threads_ = threads; }

  // Called after each image added by the run with (images added, image index,
  // new tie points).
  std::function<void(int, int, int)> on_image_added;
  // The 3-D preview: called when the run refreshes it (the start, each added image, the
  // adjusted block) with the camera positions and the tie points of the moment.
  std::function<void(const vantri::aat::PreviewCloud&)> on_preview;

 private:
  friend class vantri::bundle::BundleRun;
  bool CheckInputs(const std::string& dem_path);
  bool ChooseDem(const std::string& dem_path);
  bool StartFromResumeOrFresh(const std::string& resume_path);
  void DeleteTiePointFiles() const;
  void SetApproximateOrientations(std::array<double, 4>* box);
  bool FootprintMargin(double* margin) const;
  bool TriangulateDem(const std::array<double, 4>& box);
  bool AddImages();
  bool AddImage(int image);
  bool AdjustBlock();
  void RecomputeTiePoints();
  bool WriteFinalFiles();
  bool Aborted();
  void RefreshPreview(bool reset_camera);
  void Log(const std::string& text);
  int Step() const { return static_cast<int>(added_images_.size()); }
  std::string StepPath(int step, const std::string& extension) const;
  nvc::COrientation PassportOrientation() const;
  GDALDataset* OpenRaster(int image);
  void CutReferencePatches(bool stop_if_complete);

  CVantriProject& project_;
  vantri::UserInterface& ui_;
  std::string tie_points_folder_;
  std::string bundle_folder_;
  Eigen::Vector3d local_origin_ = Eigen::Vector3d::Zero();

  std::vector<nvc::COrientation> orientations_;  // the project's orientation array
  std::vector<nvc::COrientation> block_set_;
  std::vector<int> added_images_;
  std::vector<uint8_t> added_;
  vantri::aat::TiePointList tie_points_;
  double image_scale_ = 1.0;

  GDALDataset* srtm_ = nullptr;
  OGRCoordinateTransformation* srtm_transform_ = nullptr;
  GDALDatasetUniquePtr dem_file_;
  std::unique_ptr<vantri::aat::DemCellLookup> dem_;
  vantri::aat::DemTriangulation terrain_;
  std::vector<GDALDatasetUniquePtr> open_rasters_;
  vantri::aat::WorkerRasters worker_rasters_;
  int search_threads_ = 0;
  std::string last_message_;
  AdjustmentSummary last_adjustment_;
};

namespace vantri::aat {

// The similarity that carries `source` points onto `target` points
// (vtkLandmarkTransform): target = scale * rotation * source + translation.
struct Similarity {
  double scale = 1.0;
  Eigen::Matrix3d rotation = Eigen::Matrix3d::Identity();
  Eigen::Vector3d translation = Eigen::Vector3d::Zero();
  Eigen::Vector3d Apply(const Eigen::Vector3d& point) const {
    return scale * rotation * point + translation;
  }
};
bool FitSimilarity(const std::vector<Eigen::Vector3d>& source,
                   const std::vector<Eigen::Vector3d>& target, Similarity* fit);

// Georeferences adjusted orientations on GPS positions (both local): a
// similarity from the projection centres of `images` to their positions; when
// its rotation tilts by more than 30 degrees about X or Y, a second landmark
// per image (100 units down the principal ray, onto the position 100 lower) is
// added and the fit repeated. The images' orientations and every point with
// measurements are moved by it. False with fewer than 3 images or a failed fit.
bool Georeference(const std::vector<int>& images, const std::vector<Eigen::Vector3d>& positions,
                  std::vector<nvc::COrientation>* orientations,
                  const std::vector<CSSBAPoint*>& points, Similarity* applied = nullptr);

// The GPS positions as observations of the projection centres in NVSSBA, with the setting "GPS
// accuracy (m)" as their standard deviation per axis; no priors when it is 0.
vantri::ssba::NVSSBAOptions GpsCentrePriors(const project::VantriTypedSettings& settings);

// vantri-cli aat: opens the project file and runs the AAT (resumed from `resume` when given) with
// `threads` search threads (0: every core), a line per added image on `out`. False when the
// project cannot be opened or the run fails, its message printed on `err`.
bool RunAatOnProjectFile(const std::string& project_path, const std::string& resume, int threads,
                         UserInterface& ui, std::ostream& out, std::ostream& err);

}  // namespace vantri::aat
