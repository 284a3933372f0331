#include "aat/aat_process.h"

#include <ogr_spatialref.h>
#include <vtkLandmarkTransform.h>
#include <vtkMatrix4x4.h>
#include <vtkNew.h>
#include <vtkPoints.h>

#include <Eigen/Dense>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <opencv2/imgproc.hpp>
#include <optional>
#include <ostream>

#include "aat/srtm.h"
#include "aat/tie_point_search.h"
#include "photogrammetry/passport.h"
#include "project/preview_image.h"
#include "project/project.h"
#include "project/project_flows.h"
#include "ssba/ssba.h"
#include "system/files.h"
#include "system/text.h"
#include "ui_interface/ui.h"

namespace fs = std::filesystem;
using vantri::aat::DemCellLookup;
using vantri::aat::SearchImage;
using vantri::aat::SearchInput;

namespace {

constexpr double kDemSampleStep = 250.0;         // coordinate units between DEM samples
constexpr double kMaxTilt = 0.5235987755982988;  // 30 degrees
constexpr int kNearestCameras = 32;
constexpr double kSecondLandmarkDistance = 100.0;

bool IsUnoriented(const nvc::COrientation& orientation) {
  return orientation.GetN() == Eigen::Vector3d::Zero();
}

bool HasNoGpsImu(const CABAImage& image) {
  return image.x == 0 && image.y == 0 && image.z == 0 && image.omega == 0 && image.phi == 0 &&
         image.kappa == 0;
}

Eigen::Vector3d GpsPosition(const CABAImage& image) { return {image.x, image.y, image.z}; }

}  // namespace

CAerialPhotogrammetricProcess::CAerialPhotogrammetricProcess(CVantriProject& project,
                                                             vantri::UserInterface& ui)
    : project_(project), ui_(ui) {
  tie_points_folder_ = project.folder + "TiePoints/";
  bundle_folder_ = project.folder + "Bundle/";
  local_origin_ = {project.local_origin[0], project.local_origin[1], project.local_origin[2]};
  const int count = project.ImageCount();
  orientations_.assign(static_cast<size_t>(count), PassportOrientation());
  added_.assign(static_cast<size_t>(count), 0);
  tie_points_.Reset(count);
}

CAerialPhotogrammetricProcess::~CAerialPhotogrammetricProcess() = default;

void CAerialPhotogrammetricProcess::SetSrtmDem(GDALDataset* dataset,
                                               OGRCoordinateTransformation* project_to_dem) {
  srtm_ = dataset;
  srtm_transform_ = project_to_dem;
}

nvc::COrientation CAerialPhotogrammetricProcess::PassportOrientation() const {
  nvc::COrientation orientation;
  if (project_.passport != nullptr) orientation.BuildINTWithoutDistortion(*project_.passport, 0);
  return orientation;
}

void CAerialPhotogrammetricProcess::Log(const std::string& text) {
  last_message_ = text;
  ui_.Log(text);
}

void CAerialPhotogrammetricProcess::RefreshPreview(bool reset_camera) {
  if (!on_preview) return;
  on_preview(vantri::aat::BuildPreviewCloud(project_, tie_points_.Pointers(), local_origin_,
                                            reset_camera));
}

bool CAerialPhotogrammetricProcess::Aborted() {
  ui_.PumpMessages();
  return ui_.IsAborted();
}

std::string CAerialPhotogrammetricProcess::StepPath(int step, const std::string& extension) const {
  return vantri::aat::StepFilePath(tie_points_folder_, project_.name, step, extension);
}

// ---- Exchange files
// ---------------------------------------------------------------------------

int CAerialPhotogrammetricProcess::WriteBRO(const std::string& path) const {
  return WriteBRO(path, orientations_);
}

int CAerialPhotogrammetricProcess::WriteBRO(
    const std::string& path, const std::vector<nvc::COrientation>& orientations) const {
  if (project_.passport == nullptr) return 0;
  std::vector<const CSSBAPoint*> points;
  for (const auto& point : tie_points_.points) points.push_back(point.get());
  return vantri::aat::WriteBroFile(path, points, orientations, project_.passport->FocalPixels());
}

int CAerialPhotogrammetricProcess::ReadBRO(const std::string& path, bool cameras_only,
                                           bool stop_if_complete, bool no_patches) {
  if (project_.passport == nullptr) return -1;
  vantri::aat::BroContent content;
  std::string error;
  const int count = project_.ImageCount();
  if (!vantri::aat::ParseBroFile(path, count, cameras_only, &content, &error)) return -1;

  added_images_.clear();
  added_.assign(static_cast<size_t>(count), 0);
  orientations_ = vantri::aat::OrientationsFromBro(content, *project_.passport, count);
  for (int i = 0; i < static_cast<int>(content.cameras.size()); ++i)
    if (content.cameras[i].oriented) {
      added_images_.push_back(i);
      added_[i] = 1;
    }
  const int oriented = content.OrientedCount();
  if (cameras_only) return oriented;

  tie_points_.Reset(count);
  for (CSSBAPoint& point : content.points)
    tie_points_.Append(std::make_unique<CSSBAPoint>(std::move(point)));
  if (!no_patches) CutReferencePatches(stop_if_complete && oriented == count);
  return oriented;
}

// Reference patches for the added images whose 32 nearest camera positions
// include an image that is neither added nor of type 2: those images will be
// matched against them.
void CAerialPhotogrammetricProcess::CutReferencePatches(bool complete) {
  if (complete) return;
  const int side = static_cast<int>(std::lround(1.5 * project_.settings.typed.template_size));
  const int count = project_.ImageCount();
  for (int image : added_images_) {
    const Eigen::Vector3d position = GpsPosition(*project_.Image(image));
    std::vector<std::pair<double, int>> nearest;
    for (int other = 0; other < count; ++other)
      nearest.emplace_back((GpsPosition(*project_.Image(other)) - position).squaredNorm(), other);
    const size_t k = std::min<size_t>(kNearestCameras, nearest.size());
    std::partial_sort(nearest.begin(), nearest.begin() + k, nearest.end());
    bool needed = false;
    for (size_t n = 0; n < k; ++n) {
      const int other = nearest[n].second;
      if (!added_[other] && project_.Image(other)->level != 2) needed = true;
    }
    if (!needed) continue;
    cv::Mat working;
    if (vantri::project::LoadPreviewImage(*project_.Image(image), &working) == 0) continue;
    if (working.channels() == 3) cv::cvtColor(working, working, cv::COLOR_BGR2GRAY);
    if (project_.passport->width > 0)
      image_scale_ = double(working.cols) / project_.passport->width;
    for (const SIFTIndex& entry : tie_points_.measurements_by_image[image]) {
      if (entry.measurement_index != 0) continue;
      const CSSBAColl& first = tie_points_.points[entry.point_index]->measurements[0];
      tie_points_.reference_patches[entry.point_index] =
          vantri::aat::CutReferencePatch(working, first.x, first.y, image_scale_, side);
    }
  }
}

// ---- The run
// ----------------------------------------------------------------------------------

bool CAerialPhotogrammetricProcess::CheckInputs(const std::string& dem_path) {
  if (project_.passport == nullptr || project_.passport->FocalPixels() <= 0) {
    Log("Invalid camera passport");
    return false;
  }
  // With fewer than 4 the candidate grid would have fewer than 2 x 2 positions.
  if (project_.settings.typed.max_points_to_search < 4) {
    Log("Max points to search per image must be at least 4: tie-point search "
        "not started");
    return false;
  }
  if (project_.coordinate_system.wgs84_to_project() == nullptr ||
      project_.coordinate_system.project_to_wgs84() == nullptr) {
    Log("Unable to set coordinate transformation");
    return false;
  }
  if (!ChooseDem(dem_path)) {
    Log("Unable to load DEM");
    return false;
  }
  for (const auto& image : project_.images)
    if (HasNoGpsImu(*image)) {
      Log("All images must have GPS/IMU data");
      return false;
    }
  return true;
}

bool CAerialPhotogrammetricProcess::ChooseDem(const std::string& dem_path) {
  dem_.reset();
  dem_file_.reset();
  if (!dem_path.empty()) {
    GDALDatasetUniquePtr file(
        GDALDataset::Open(dem_path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY));
    if (file != nullptr && file->GetRasterCount() == 1) {
      const GDALDataType type = file->GetRasterBand(1)->GetRasterDataType();
      if (type == GDT_Int16 || type == GDT_Float32) {
        auto lookup = std::make_unique<DemCellLookup>(file.get(), nullptr);
        if (lookup->IsUsable()) {
          dem_file_ = std::move(file);
          dem_ = std::move(lookup);
          return true;
        }
      }
    }
  }
  if (srtm_ == nullptr) return false;
  dem_ = std::make_unique<DemCellLookup>(srtm_, srtm_transform_);
  if (!dem_->IsUsable()) dem_.reset();
  return dem_ != nullptr;
}

bool CAerialPhotogrammetricProcess::StartFromResumeOrFresh(const std::string& resume_path) {
  const int count = project_.ImageCount();
  if (!resume_path.empty()) {
    if (ReadBRO(resume_path, false, true, true) < 0) {
      Log("Unable to read BRO file");
      return false;
    }
    return true;
  }
  orientations_.assign(static_cast<size_t>(count), PassportOrientation());
  added_images_.clear();
  added_.assign(static_cast<size_t>(count), 0);
  tie_points_.Reset(count);
  return true;
}

void CAerialPhotogrammetricProcess::DeleteTiePointFiles() const {
  std::error_code error;
  if (!fs::is_directory(tie_points_folder_, error)) return;
  for (const auto& entry : fs::directory_iterator(tie_points_folder_, error))
    if (!entry.is_directory(error)) fs::remove(entry.path(), error);
}

void CAerialPhotogrammetricProcess::SetApproximateOrientations(std::array<double, 4>* box) {
  block_set_ = orientations_;
  *box = {INFINITY, INFINITY, -INFINITY, -INFINITY};
  for (int i = 0; i < project_.ImageCount(); ++i) {
    const CABAImage& image = *project_.Image(i);
    nvc::COrientation orientation = PassportOrientation();
    orientation.SetN(GpsPosition(image));
    orientation.SetRotMat(FromEulerAnglesXYZ(image.omega, image.phi, image.kappa));
    orientations_[i] = orientation;
    *box = {std::min((*box)[0], image.x), std::min((*box)[1], image.y),
            std::max((*box)[2], image.x), std::max((*box)[3], image.y)};
  }
}

// Twice the ground diagonal of the first image whose principal point sees a DEM
// height.
bool CAerialPhotogrammetricProcess::FootprintMargin(double* margin) const {
  const CCameraPassport& passport = *project_.passport;
  for (const nvc::COrientation& orientation : orientations_) {
    // The principal ray met on the DEM: the height under the centre first, then
    // under the ray's point at that height.
    double height = 0;
    const Eigen::Vector3d centre = orientation.GetN();
    if (!dem_->Height(centre.x(), centre.y(), &height) || height == dem_->NoDataValue()) continue;
    Eigen::Vector3d ground;
    if (orientation.IntersectPlaneZ(orientation.FidToPix({0, 0}), height, &ground) &&
        (!dem_->Height(ground.x(), ground.y(), &height) || height == dem_->NoDataValue()))
      continue;
    const double gsd = (centre.z() - height) * passport.pixel_mm / passport.focal_mm;
    *margin = 2.0 * gsd * std::hypot(passport.width, passport.height);
    return true;
  }
  return false;
}

bool CAerialPhotogrammetricProcess::TriangulateDem(const std::array<double, 4>& box) {
  std::vector<Eigen::Vector3d> samples;
  const bool completed = vantri::aat::SampleDem(
      *dem_, box, kDemSampleStep, local_origin_, [this] { return !Aborted(); }, &samples);
  if (!completed) return false;
  if (!terrain_.Build(samples)) {
    Log("DEM and images does not match");
    return false;
  }
  return true;
}

GDALDataset* CAerialPhotogrammetricProcess::OpenRaster(int image) {
  GDALDatasetUniquePtr& slot = open_rasters_[image];
  if (slot == nullptr)
    slot.reset(GDALDataset::Open(project_.Image(image)->Path().c_str(),
                                 GDAL_OF_RASTER | GDAL_OF_READONLY));
  return slot.get();
}

bool CAerialPhotogrammetricProcess::AddImage(int image) {
  const CCameraPassport& passport = *project_.passport;
  const nvc::COrientation& own = orientations_[image];
  GDALDataset* raster = OpenRaster(image);
  if (raster == nullptr) return true;  // skipped
  Eigen::Vector3d hit;
  if (!terrain_.IntersectRay(own.GetN() - local_origin_, own.FidToVec3d({0, 0}), &hit)) return true;
  const Eigen::Vector3d ground = hit + local_origin_;
  const double gsd = (own.GetN().z() - ground.z()) * passport.pixel_mm / passport.focal_mm;
  const double diagonal = gsd * std::hypot(passport.width, passport.height);

  SearchInput input;
  input.image = {image, &own, raster, project_.Image(image)->Path()};
  for (int other = 0; other < project_.ImageCount(); ++other) {
    if (other == image) continue;
    const Eigen::Vector3d& centre = orientations_[other].GetN();
    if (std::hypot(centre.x() - ground.x(), centre.y() - ground.y()) <= diagonal) {
      if (GDALDataset* neighbour = OpenRaster(other))
        input.neighbours.push_back(
            {other, &orientations_[other], neighbour, project_.Image(other)->Path()});
    } else {
      open_rasters_[other].reset();
      worker_rasters_.Close(other);
    }
  }
  input.terrain = &terrain_;
  input.local_origin = local_origin_;
  input.settings = vantri::aat::SearchSettingsFrom(project_.settings.typed);
  input.keep_going = [this] { return !Aborted(); };
  input.threads = search_threads_;
  input.worker_rasters = &worker_rasters_;
  vantri::aat::SearchResult result = vantri::aat::SearchTiePoints(input);
  if (result.aborted) return false;
  for (auto& point : result.points) tie_points_.Append(std::move(point));
  const int found = static_cast<int>(result.points.size());

  added_images_.push_back(image);
  added_[image] = 1;
  char line[512];
  std::snprintf(line, sizeof line, "nAddedImages: %d - Last Added Image: %s - Added TiePoints: %d",
                Step(), project_.Image(image)->Name().c_str(), found);
  Log(line);

  nvc::COrientation block = own;
  block.SetN(own.GetN() - local_origin_);
  block_set_[image] = block;
  fs::create_directories(tie_points_folder_);
  vantri::aat::WriteTiePointCloud(StepPath(Step(), "vtp"), tie_points_.Pointers(), local_origin_);
  if (WriteBRO(StepPath(Step(), "bro"), block_set_) == 0 ||
      vantri::aat::WriteStepFile(StepPath(Step(), "abai"), image) == 0)
    Log("Unable to write " + StepPath(Step(), "bro"));
  RefreshPreview(Step() == 1);
  if (on_image_added) on_image_added(Step(), image, found);
  return true;
}

bool CAerialPhotogrammetricProcess::AddImages() {
  const int count = project_.ImageCount();
  open_rasters_.clear();
  open_rasters_.resize(static_cast<size_t>(count));
  ui_.SetProgressRange(0, count);
  bool completed = true;
  for (int image = 0; image < count && completed; ++image) {
    ui_.SetProgressPosition(image);
    if (Aborted()) {
      completed = false;
      break;
    }
    if (!IsUnoriented(block_set_[image])) continue;
    completed = AddImage(image);
  }
  open_rasters_.clear();
  worker_rasters_.Clear();
  return completed;
}

bool CAerialPhotogrammetricProcess::AdjustBlock() {
  const CCameraPassport& passport = *project_.passport;
  const double f = passport.FocalPixels();
  const double camera_matrix[9] = {f, 0, passport.ppx, 0, f, passport.ppy, 0, 0, 1};
  std::vector<NVSSBACameraParams> cameras;
  for (int i = 0; i < static_cast<int>(block_set_.size()); ++i) {
    if (IsUnoriented(block_set_[i])) continue;
    NVSSBACameraParams camera;
    camera.camera_number = i;
    const Eigen::Vector3d& centre = block_set_[i].GetN();
    std::copy(centre.data(), centre.data() + 3, camera.centre);
    const Eigen::Matrix3d& rotation = block_set_[i].GetRotMat();
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 3; ++c) camera.rotation[3 * r + c] = rotation(r, c);
    cameras.push_back(camera);
  }
  std::vector<CSSBAPoint*> points = tie_points_.Pointers();
  int state = 0;
  // The block-set centres are the GPS positions: with a GPS accuracy set they are observations that
  // give the block its datum, instead of the first image.
  const double residual =
      NVSSBA(camera_matrix, points, cameras, -2, project_.settings.typed.max_reprojection_error, 0,
             100, 1e-05, state, nullptr, nullptr, nullptr, nullptr, nullptr, 0, 0, 2.0, nullptr,
             nullptr, nullptr, vantri::aat::GpsCentrePriors(project_.settings.typed));
  char line[160];
  std::snprintf(line, sizeof line, "SSBA --- nTiePoints=%d - avgRes=%lf",
                static_cast<int>(points.size()), residual);
  Log(line);
  if (!(residual >= 0)) return false;

  // Images the run did not add keep no orientation: their approximate one is in
  // another frame.
  for (size_t i = 0; i < orientations_.size(); ++i) orientations_[i] = PassportOrientation();
  for (const NVSSBACameraParams& camera : cameras) {
    nvc::COrientation& orientation = orientations_[camera.camera_number];
    Eigen::Matrix3d rotation;
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 3; ++c) rotation(r, c) = camera.rotation[3 * r + c];
    orientation.SetRotMat(rotation);
    orientation.SetN({camera.centre[0], camera.centre[1], camera.centre[2]});
  }
  return true;
}

void CAerialPhotogrammetricProcess::RecomputeTiePoints() {
  const nvc::CMultiImageIntersection intersection(orientations_);
  for (const auto& point : tie_points_.points) {
    std::vector<std::optional<Eigen::Vector2d>> pixels(orientations_.size());
    for (const CSSBAColl& measurement : point->measurements) {
      const auto image = static_cast<size_t>(measurement.camera);
      if (image < pixels.size() && project_.Image(measurement.camera)->enabled != 0 &&
          !IsUnoriented(orientations_[image]))
        pixels[image] = Eigen::Vector2d(measurement.x, measurement.y);
    }
    Eigen::Vector3d position;
    if (intersection.Intersect(pixels, &position) == 0) continue;
    point->X = position.x(), point->Y = position.y(), point->Z = position.z();
  }
}

bool CAerialPhotogrammetricProcess::WriteFinalFiles() {
  const int step = Step();
  const std::string final_bro = StepPath(step, "bro");
  if (WriteBRO(final_bro) == 0 ||
      vantri::aat::WriteStepFile(StepPath(step, "abai"), added_images_.back()) == 0)
    return false;
  const std::string copy = project_.folder + project_.name + ".bro";
  std::string bytes;
  if (!vantri::system::ReadWholeFile(final_bro, bytes) ||
      !vantri::system::WriteFileAtomically(copy, bytes))
    return false;

  std::string list;
  char line[1024];
  for (const auto& image : project_.images) {
    const std::string file = fs::path(image->Path()).filename().string();
    std::snprintf(line, sizeof line, "%s 0 %lf\n", file.c_str(), project_.passport->FocalPixels());
    list += line;
  }
  if (!vantri::system::WriteFileAtomically(project_.folder + project_.name + ".iml", list))
    return false;
  for (int image : added_images_) {
    const std::string base = project_.folder + project_.Image(image)->Name();
    if (orientations_[image].WriteINT(base + ".int", *project_.passport) == 0 ||
        orientations_[image].WriteEST(base + ".est") == 0)
      return false;
  }
  return true;
}

int CAerialPhotogrammetricProcess::RunAAT(const std::string& resume_path,
                                          const std::string& dem_path) {
  ui_.StartOperationClock();
  terrain_.Clear();
  if (!CheckInputs(dem_path) || !StartFromResumeOrFresh(resume_path)) return 0;
  DeleteTiePointFiles();
  std::array<double, 4> box;
  SetApproximateOrientations(&box);
  double margin = 0;
  if (!FootprintMargin(&margin)) {
    Log("DEM and images does not match");
    return 0;
  }
  box = {box[0] - margin, box[1] - margin, box[2] + margin, box[3] + margin};
  Log("start AAT process");
  if (!TriangulateDem(box)) return 0;

  std::error_code error;
  fs::create_directories(tie_points_folder_, error);
  fs::create_directories(bundle_folder_, error);
  vantri::aat::WriteTiePointCloud(StepPath(Step(), "vtp"), tie_points_.Pointers(), local_origin_);
  RefreshPreview(true);
  if (!AddImages()) return 0;
  if (added_images_.empty()) {
    Log("AAT process error");
    return 0;
  }

  if (!AdjustBlock()) {
    Log("AAT process error");
    return 0;
  }
  if (added_images_.size() >= 3) {
    std::vector<Eigen::Vector3d> positions;
    for (int image : added_images_)
      positions.push_back(GpsPosition(*project_.Image(image)) - local_origin_);
    vantri::aat::Georeference(added_images_, positions, &orientations_, tie_points_.Pointers());
  }
  RecomputeTiePoints();
  if (vantri::aat::WriteTiePointCloud(StepPath(Step(), "vtp"), tie_points_.Pointers(),
                                      local_origin_) == 0) {
    Log("AAT process error");
    return 0;
  }
  RefreshPreview(false);
  if (!WriteFinalFiles()) {
    Log("Unable to write the final files of the AAT process");
    return 0;
  }
  Log("end AAT process");
  char line[128];
  std::snprintf(line, sizeof line, "Process done. %d tie points tracked", tie_points_.Size());
  Log(line);
  return 1;
}

namespace vantri::aat {

vantri::ssba::NVSSBAOptions GpsCentrePriors(const project::VantriTypedSettings& settings) {
  vantri::ssba::NVSSBAOptions options;
  if (settings.gps_accuracy > 0.0 && std::isfinite(settings.gps_accuracy))
    options.centre_sigma_xy = options.centre_sigma_z = settings.gps_accuracy;
  return options;
}

namespace {

// Points (nearly) on a line fix no rotation about it: the second singular value
// of their spread is tiny against the first.
bool AreNearlyCollinear(const std::vector<Eigen::Vector3d>& points) {
  Eigen::Vector3d mean = Eigen::Vector3d::Zero();
  for (const Eigen::Vector3d& point : points) mean += point / double(points.size());
  Eigen::Matrix3d spread = Eigen::Matrix3d::Zero();
  for (const Eigen::Vector3d& point : points) spread += (point - mean) * (point - mean).transpose();
  const Eigen::SelfAdjointEigenSolver<Eigen::Matrix3d> eigen(spread);
  return eigen.eigenvalues()(1) <= 1e-6 * eigen.eigenvalues()(2);
}

}  // namespace

bool FitSimilarity(const std::vector<Eigen::Vector3d>& source,
                   const std::vector<Eigen::Vector3d>& target, Similarity* fit) {
  if (source.size() != target.size() || source.size() < 3) return false;
  vtkNew<vtkPoints> from, to;
  from->SetDataTypeToDouble();
  to->SetDataTypeToDouble();
  for (size_t i = 0; i < source.size(); ++i) {
    from->InsertNextPoint(source[i].data());
    to->InsertNextPoint(target[i].data());
  }
  vtkNew<vtkLandmarkTransform> landmarks;
  landmarks->SetSourceLandmarks(from);
  landmarks->SetTargetLandmarks(to);
  landmarks->SetModeToSimilarity();
  landmarks->Update();
  vtkMatrix4x4* matrix = landmarks->GetMatrix();
  Eigen::Matrix3d scaled;
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) scaled(r, c) = matrix->GetElement(r, c);
    fit->translation[r] = matrix->GetElement(r, 3);
  }
  fit->scale = std::cbrt(scaled.determinant());
  if (!(fit->scale > 0) || !scaled.allFinite()) return false;
  fit->rotation = scaled / fit->scale;
  return true;
}

bool Georeference(const std::vector<int>& images, const std::vector<Eigen::Vector3d>& positions,
                  std::vector<nvc::COrientation>* orientations,
                  const std::vector<CSSBAPoint*>& points, Similarity* applied) {
  if (images.size() < 3 || positions.size() != images.size()) return false;
  std::vector<Eigen::Vector3d> source, target = positions;
  for (int image : images) source.push_back((*orientations)[image].GetN());
  Similarity fit;
  if (!FitSimilarity(source, target, &fit)) return false;
  const Eigen::Vector3d angles = ToEulerAnglesXYZ(fit.rotation);
  if (std::abs(angles.x()) > kMaxTilt || std::abs(angles.y()) > kMaxTilt ||
      AreNearlyCollinear(source)) {
    // Centres along a line leave the roll about it free: points below the
    // cameras fix it. The source point goes down the principal ray by the
    // target's 100 units in the block's own scale, so a block adjusted at
    // another scale is not bent by them.
    const double distance = kSecondLandmarkDistance / fit.scale;
    for (size_t i = 0; i < images.size(); ++i) {
      const nvc::COrientation& orientation = (*orientations)[images[i]];
      source.push_back(orientation.GetN() + distance * orientation.FidToVec3d({0, 0}));
      target.push_back(positions[i] - Eigen::Vector3d(0, 0, kSecondLandmarkDistance));
    }
    if (!FitSimilarity(source, target, &fit)) return false;
  }
  // The fitted scale is applied with the rotation: an adjusted free block has
  // no scale of its own, and a rigid move alone would leave its centres off the
  // GPS positions.
  const CUCS ucs("AAT", fit.translation, fit.rotation);
  for (int image : images) {
    nvc::COrientation& orientation = (*orientations)[image];
    orientation.SetN(fit.scale * orientation.GetN());
    ucs.UCSToWCS(&orientation, 1);
  }
  for (CSSBAPoint* point : points) {
    if (point->measurements.empty()) continue;
    const Eigen::Vector3d moved = fit.Apply({point->X, point->Y, point->Z});
    point->X = moved.x(), point->Y = moved.y(), point->Z = moved.z();
  }
  if (applied != nullptr) *applied = fit;
  return true;
}

bool RunAatOnProjectFile(const std::string& project_path, const std::string& resume, int threads,
                         UserInterface& ui, std::ostream& out, std::ostream& err) {
  CVantriProject project;
  if (project::OpenProjectPath(project, ui, project_path) == 0) {
    err << "Unable to open project!\n";
    return false;
  }
  ElevationModel srtm;
  LoadSrtmForProjectImages(project, &srtm);
  CAerialPhotogrammetricProcess process(project, ui);
  process.SetSrtmDem(srtm.dataset.get(), project.coordinate_system.project_to_wgs84());
  process.SetSearchThreads(threads);
  process.on_image_added = [&](int added, int image, int found) {
    out << "Added image " << added << "/" << project.ImageCount() << ": "
        << project.Image(image)->Name() << " (" << found << " tie points)\n";
    out.flush();
  };
  const std::string dem = project.use_external_dem != 0 ? project.external_dem_path : "";
  if (process.RunAAT(resume, dem) == 0) {
    err << process.LastMessage() << "\n";
    return false;
  }
  out << "AAT process done: " << process.AddedImages().size() << " images, "
      << process.TiePoints().Size() << " tie points\n";
  return true;
}

}  // namespace vantri::aat
