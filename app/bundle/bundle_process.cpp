#include "bundle/bundle_process.h"

#include <vtkIdList.h>
#include <vtkLandmarkTransform.h>
#include <vtkMatrix4x4.h>
#include <vtkNew.h>
#include <vtkPointLocator.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <optional>
#include <ostream>

#include "bundle/bundle_report.h"
#include "bundle/completion_notice.h"
#include "photogrammetry/passport.h"
#include "points/point_maps.h"
#include "project/project.h"
#include "project/project_flows.h"
#include "report/bundle_report.h"
#include "system/nvtools.h"
#include "ui_interface/ui.h"

namespace fs = std::filesystem;

// Thin entry of the process object; the body lives with the rest of the bundle
// process.
int CAerialPhotogrammetricProcess::RunBundle(const std::string& bro_path) {
  return vantri::bundle::BundleRun(*this).Run(bro_path);
}

namespace vantri::bundle {
namespace {

constexpr int kNodeNeighbours = 100;
constexpr double kCellShare = 0.75;   // share of the block area covered by the cells
constexpr double kRadiusShare = 0.4;  // search radius over the cell size
constexpr int kRefinementMinIterations = 10;
constexpr int kRefinementMaxIterations = 100;
constexpr double kRefinementConvergence = 1e-05;
constexpr double kRefinementWeight = 2.0;

bool IsOriented(const nvc::COrientation& orientation) {
  return orientation.GetN() != Eigen::Vector3d::Zero();
}

Eigen::Vector3d GpsPosition(const CABAImage& image) { return {image.x, image.y, image.z}; }

Eigen::Matrix3d RotationOf(const NVSSBACameraParams& camera) {
  Eigen::Matrix3d rotation;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) rotation(r, c) = camera.rotation[3 * r + c];
  return rotation;
}

NVSSBACameraParams CameraRecord(int number, const Eigen::Vector3d& centre,
                                const Eigen::Matrix3d& rotation) {
  NVSSBACameraParams camera;
  camera.camera_number = number;
  for (int i = 0; i < 3; ++i) camera.centre[i] = centre[i];
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) camera.rotation[3 * r + c] = rotation(r, c);
  return camera;
}

std::vector<CSSBAPoint*> PointersTo(std::vector<CSSBAPoint>& points) {
  std::vector<CSSBAPoint*> pointers;
  for (CSSBAPoint& point : points) pointers.push_back(&point);
  return pointers;
}

std::string Formatted(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Formatted(const char* format, ...) {
  char buffer[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  return buffer;
}

// Sum over the measurements of the reprojection distance, over the squared
// number of measurements.
double ThinningScore(const CSSBAPoint& point, const std::vector<nvc::COrientation>& orientations) {
  const double count = static_cast<double>(point.measurements.size());
  double sum = 0.0;
  for (const CSSBAColl& m : point.measurements) {
    if (m.camera < 0 || static_cast<size_t>(m.camera) >= orientations.size())
      return std::numeric_limits<double>::infinity();
    const Eigen::Vector2d projected = orientations[m.camera].Pt3dToPix({point.X, point.Y, point.Z});
    const double distance = (projected - Eigen::Vector2d(m.x, m.y)).norm();
    if (!std::isfinite(distance)) return std::numeric_limits<double>::infinity();
    sum += distance;
  }
  return sum / (count * count);
}

}  // namespace

bool NeedsThinning(int tie_points, int oriented_images, int max_points_per_image) {
  if (oriented_images <= 0) return false;
  return static_cast<double>(tie_points) / oriented_images > max_points_per_image;
}

int PickThinningCandidate(const std::vector<ThinningCandidate>& candidates) {
  int best = -1;
  for (int i = 0; i < static_cast<int>(candidates.size()); ++i) {
    if (best < 0) {
      best = i;
      continue;
    }
    const ThinningCandidate& c = candidates[i];
    const ThinningCandidate& b = candidates[best];
    if (c.measurements > b.measurements || (c.measurements == b.measurements && c.score < b.score))
      best = i;
  }
  return best;
}

std::vector<CSSBAPoint> ThinTiePoints(const std::vector<CSSBAPoint*>& points,
                                      const std::vector<nvc::COrientation>& orientations,
                                      int oriented_images, int max_points_per_image,
                                      int min_measurements,
                                      const std::function<bool()>& visit_node) {
  std::vector<CSSBAPoint> selected;
  if (points.empty() || oriented_images <= 0 || max_points_per_image <= 0) return selected;
  vtkNew<vtkPoints> plane;
  plane->SetDataTypeToDouble();
  for (const CSSBAPoint* point : points) plane->InsertNextPoint(point->X, point->Y, 0.0);
  vtkNew<vtkPolyData> cloud;
  cloud->SetPoints(plane);
  vtkNew<vtkPointLocator> locator;
  locator->SetDataSet(cloud);
  locator->BuildLocator();
  double bounds[6];
  plane->GetBounds(bounds);

  const double area = (bounds[1] - bounds[0]) * (bounds[3] - bounds[2]);
  const double cell =
      std::sqrt(kCellShare * area / (double(oriented_images) * double(max_points_per_image)));
  if (!(cell > 0.0) || !std::isfinite(cell)) {
    // All points on one line or one spot: a single node keeps one of them.
    std::vector<ThinningCandidate> candidates;
    std::vector<int> ids;
    for (size_t i = 0; i < points.size(); ++i) {
      if (points[i]->point_index < 0 ||
          static_cast<int>(points[i]->measurements.size()) < min_measurements)
        continue;
      candidates.push_back({static_cast<int>(points[i]->measurements.size()),
                            ThinningScore(*points[i], orientations)});
      ids.push_back(static_cast<int>(i));
    }
    const int pick = PickThinningCandidate(candidates);
    if (pick >= 0) selected.push_back(*points[ids[pick]]);
    return selected;
  }
  const double radius = kRadiusShare * cell;
  vtkNew<vtkIdList> nearest;
  for (int j = 0; bounds[2] + j * cell <= bounds[3]; ++j) {
    const double y = bounds[2] + j * cell;
    for (int i = 0; bounds[0] + i * cell <= bounds[1]; ++i) {
      if (visit_node && !visit_node()) return selected;
      const double node[3] = {bounds[0] + i * cell, y, 0.0};
      locator->FindClosestNPoints(kNodeNeighbours, node, nearest);
      std::vector<ThinningCandidate> candidates;
      std::vector<vtkIdType> ids;
      for (vtkIdType k = 0; k < nearest->GetNumberOfIds(); ++k) {
        const vtkIdType id = nearest->GetId(k);
        const CSSBAPoint& point = *points[id];
        if (std::hypot(point.X - node[0], point.Y - node[1]) > radius) continue;
        if (point.point_index < 0 || static_cast<int>(point.measurements.size()) < min_measurements)
          continue;
        candidates.push_back(
            {static_cast<int>(point.measurements.size()), ThinningScore(point, orientations)});
        ids.push_back(id);
      }
      const int pick = PickThinningCandidate(candidates);
      if (pick >= 0) selected.push_back(*points[ids[pick]]);
    }
  }
  return selected;
}

// ---- The run
// ----------------------------------------------------------------------------------

struct BundleRun::State {
  State(CVantriProject& project, UserInterface& ui) : project(project), ui(ui) {}
  CVantriProject& project;
  UserInterface& ui;
  int progress = 0;
  Eigen::Vector3d origin = Eigen::Vector3d::Zero();
  std::vector<CSSBAPoint> selected;

  // Cameras of the control-point adjustment: camera number -> image and image
  // -> camera number.
  std::vector<int> camera_images;
  std::vector<int> camera_of_image;
  std::vector<NVSSBACameraParams> cameras;

  CGCPCollMap gcps;
  CGCPCollMap check_points;
  std::vector<std::string> control_names;  // control points of the adjustment, in order
  std::vector<CSSBAPoint> controls;        // their records (local), measurements by camera

  std::chrono::steady_clock::time_point adjustment_start;
  AdjustmentFigures figures;
};

BundleRun::BundleRun(CAerialPhotogrammetricProcess& process)
    : process_(process), state_(std::make_unique<State>(process.project_, process.ui_)) {
  state_->origin = process.local_origin_;
}

BundleRun::~BundleRun() = default;

void BundleRun::Log(const std::string& text) { process_.Log(text); }

bool BundleRun::Fail(const std::string& text) {
  Log(text);
  return false;
}

void BundleRun::Advance() {
  state_->ui.PumpMessages();
  state_->ui.SetProgressPosition(std::min(++state_->progress, kProgressSteps));
}

int BundleRun::Run(const std::string& bro_path) {
  CVantriProject& project = state_->project;
  UserInterface& ui = state_->ui;
  if (project.busy || project.folder.empty() || project.passport == nullptr) return 0;
  // The project stays flagged while the run works on it; every exit clears the
  // progress bar.
  struct Guard {
    CVantriProject& project;
    UserInterface& ui;
    ~Guard() {
      project.busy = false;
      ui.SetProgressPosition(0);
    }
  } guard{project, ui};
  project.busy = true;
  ui.SetProgressRange(0, kProgressSteps);
  ui.SetProgressPosition(0);

  std::error_code error;
  fs::create_directories(process_.bundle_folder_, error);
  fs::remove(process_.bundle_folder_ + project.name + ".atout", error);
  Advance();

  if (!LoadBlock(bro_path)) return 0;
  if (process_.ReadBRO(project.folder + project.name + ".bro", false, true, false) < 0) {
    Log("invalid input BRO file!");
    return 0;
  }
  Advance();
  GeoreferenceBlock();
  Advance();
  if (!Refine()) return 0;
  Advance();
  const std::string cloud = process_.bundle_folder_ + "TiePoints.vtp";
  fs::remove(cloud, error);
  vantri::aat::WriteTiePointCloud(cloud, PointersTo(state_->selected), state_->origin);
  Advance();

  Log("start Bundle process");
  state_->adjustment_start = std::chrono::steady_clock::now();
  const int added = static_cast<int>(process_.added_images_.size());
  if (process_.ReadBRO(project.folder + project.name + ".bro", true, true, true) != added) {
    Log("Bundle process failed! Unable to open BRO file");
    return 0;
  }
  Advance();
  if (ui.IsAborted()) return Fail("Bundle process aborted"), 0;
  if (!AdjustOnControlPoints()) return 0;
  Advance();

  ReintersectSelection();
  std::vector<const CSSBAPoint*> selected;
  for (const CSSBAPoint& point : state_->selected) selected.push_back(&point);
  vantri::aat::WriteBroFile(project.folder + project.name + ".wcsbro", selected,
                            process_.orientations_, project.passport->FocalPixels());
  std::vector<CSSBAPoint> local = state_->selected;
  for (CSSBAPoint& point : local) {
    point.X -= state_->origin.x(), point.Y -= state_->origin.y(), point.Z -= state_->origin.z();
  }
  vantri::aat::WriteTiePointCloud(cloud, PointersTo(local), state_->origin);
  Advance();

  if (!WriteReportAndResults()) {
    ui.ShowMessage("Unable to write output files!", MessageIcon::kWarning);
    process_.last_message_ = "Unable to write output files!";
    return 0;
  }
  Advance();
  WriteOrientationFiles();
  Advance();
  Log("end Bundle process");
  return 1;
}

// Step 3: the selected tie points, from the given exchange file or thinned from
// the project's.
bool BundleRun::LoadBlock(const std::string& bro_path) {
  if (!bro_path.empty()) {
    if (process_.ReadBRO(bro_path, false, true, false) < 0) return Fail("invalid input BRO file!");
    for (const auto& point : process_.tie_points_.points) state_->selected.push_back(*point);
    Advance();
    return true;
  }
  if (!SelectFromProjectBlock()) return false;
  Advance();
  if (!RoundTripSelection()) return false;
  Advance();
  return true;
}

bool BundleRun::SelectFromProjectBlock() {
  CVantriProject& project = state_->project;
  if (process_.ReadBRO(project.folder + project.name + ".bro", false, true, false) < 0)
    return Fail("invalid input BRO file!");
  const std::vector<CSSBAPoint*> points = process_.tie_points_.Pointers();
  int oriented = 0;
  for (const nvc::COrientation& orientation : process_.orientations_)
    oriented += IsOriented(orientation) ? 1 : 0;
  std::error_code error;
  fs::create_directories(process_.tie_points_folder_, error);
  vantri::aat::WriteTiePointCloud(
      vantri::aat::StepFilePath(process_.tie_points_folder_, project.name, oriented, "vtp"), points,
      state_->origin);
  if (points.empty()) return Fail("run SSBA process before!");

  const project::VantriTypedSettings& settings = project.settings.typed;
  if (NeedsThinning(static_cast<int>(points.size()), oriented, settings.max_points_per_image)) {
    state_->selected =
        ThinTiePoints(points, process_.orientations_, oriented, settings.max_points_per_image,
                      settings.min_measurements_per_point, [this] {
                        state_->ui.PumpMessages();
                        return !state_->ui.IsAborted();
                      });
    if (state_->ui.IsAborted()) return Fail("Bundle process aborted");
    Log(Formatted("Tie points thinned: %d of %d kept", static_cast<int>(state_->selected.size()),
                  static_cast<int>(points.size())));
  } else {
    for (const CSSBAPoint* point : points) state_->selected.push_back(*point);
  }
  return true;
}

// The selection goes through the exchange files: .dgapbro keeps it, .refdgapbro
// is read back.
bool BundleRun::RoundTripSelection() {
  CVantriProject& project = state_->project;
  std::vector<const CSSBAPoint*> selected;
  for (const CSSBAPoint& point : state_->selected) selected.push_back(&point);
  const double focal = project.passport->FocalPixels();
  const std::string base = project.folder + project.name;
  if (vantri::aat::WriteBroFile(base + ".dgapbro", selected, process_.orientations_, focal) == 0 ||
      vantri::aat::WriteBroFile(base + ".refdgapbro", selected, process_.orientations_, focal) ==
          0 ||
      process_.ReadBRO(base + ".refdgapbro", false, true, false) < 0)
    return Fail("invalid inpunt BRO file!");
  state_->selected.clear();
  for (const auto& point : process_.tie_points_.points) state_->selected.push_back(*point);
  return true;
}

void BundleRun::GeoreferenceBlock() {
  std::vector<Eigen::Vector3d> positions;
  for (int image : process_.added_images_)
    positions.push_back(GpsPosition(*state_->project.Image(image)) - state_->origin);
  vantri::aat::Georeference(process_.added_images_, positions, &process_.orientations_,
                            process_.tie_points_.Pointers());
}

// Step 6: one adjustment of the selection on the GPS centres; rejected and weak
// points go.
bool BundleRun::Refine() {
  CVantriProject& project = state_->project;
  const CCameraPassport& passport = *project.passport;
  const double f = passport.FocalPixels();
  const double camera_matrix[9] = {f, 0, passport.ppx, 0, f, passport.ppy, 0, 0, 1};
  std::vector<NVSSBACameraParams> cameras;
  for (int image : process_.added_images_)
    cameras.push_back(CameraRecord(image, GpsPosition(*project.Image(image)) - state_->origin,
                                   process_.orientations_[image].GetRotMat()));
  std::vector<CSSBAPoint*> points = PointersTo(state_->selected);
  int state = -1;
  // The camera centres are the GPS positions: observations when a GPS accuracy is set.
  const double residual =
      NVSSBA(camera_matrix, points, cameras, -1, project.settings.typed.max_reprojection_error,
             kRefinementMinIterations, kRefinementMaxIterations, kRefinementConvergence, state,
             nullptr, nullptr, nullptr, nullptr, nullptr, 0, 0, kRefinementWeight, nullptr, nullptr,
             nullptr, vantri::aat::GpsCentrePriors(project.settings.typed));
  Log(Formatted("SSBA --- nTiePoints=%d - avgRes=%lf", static_cast<int>(points.size()), residual));
  if (!(residual >= 0)) return Fail("DGAP process failed (SSBA)!");

  const int min_measurements = project.settings.typed.min_measurements_per_point;
  std::vector<CSSBAPoint> kept;
  for (CSSBAPoint& point : state_->selected) {
    if (point.point_index == -1 || static_cast<int>(point.measurements.size()) < min_measurements)
      continue;
    point.point_index = static_cast<int32_t>(kept.size());
    kept.push_back(std::move(point));
  }
  state_->selected = std::move(kept);
  return true;
}

// Steps 8 and 9: the block adjusted with the measured control points.
bool BundleRun::AdjustOnControlPoints() {
  CVantriProject& project = state_->project;
  const int added = static_cast<int>(process_.added_images_.size());
  if (process_.ReadBRO(project.folder + project.name + ".bro", true, true, true) != added)
    return Fail("Bundle process failed!");
  ReadControlPoints();
  FitControlRigidly();
  if (!BuildCameraList() || !RunControlAdjustment()) return Fail("Bundle process failed!");
  StoreAdjustedOrientations();
  // Every tie point of the process follows the new orientations (project
  // coordinates).
  const nvc::CMultiImageIntersection intersection(process_.orientations_);
  for (const auto& point : process_.tie_points_.points) {
    std::vector<std::optional<Eigen::Vector2d>> pixels(process_.orientations_.size());
    for (const CSSBAColl& m : point->measurements)
      if (state_->camera_of_image[m.camera] >= 0) pixels[m.camera] = Eigen::Vector2d(m.x, m.y);
    Eigen::Vector3d position;
    if (intersection.Intersect(pixels, &position) != 0)
      point->X = position.x(), point->Y = position.y(), point->Z = position.z();
  }
  state_->figures.cpu_seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - state_->adjustment_start)
          .count();
  return true;
}

bool BundleRun::BuildCameraList() {
  CVantriProject& project = state_->project;
  state_->camera_of_image.assign(static_cast<size_t>(project.ImageCount()), -1);
  state_->camera_images.clear();
  state_->cameras.clear();
  for (int image : process_.added_images_) {
    if (project.Image(image)->enabled == 0 || !IsOriented(process_.orientations_[image])) continue;
    const int number = static_cast<int>(state_->cameras.size());
    state_->camera_of_image[image] = number;
    state_->camera_images.push_back(image);
    state_->cameras.push_back(CameraRecord(number,
                                           GpsPosition(*project.Image(image)) - state_->origin,
                                           process_.orientations_[image].GetRotMat()));
  }
  return state_->cameras.size() >= 2;
}

// Pixel positions of a surveyed point's measurements in the enabled, oriented
// images; one entry per project image.
static std::vector<std::optional<Eigen::Vector2d>> SurveyedPixels(
    const CGCPCollEx& point, const CVantriProject& project,
    const std::vector<nvc::COrientation>& orientations) {
  std::vector<std::optional<Eigen::Vector2d>> pixels(orientations.size());
  for (const CSIFTColl& m : point.measurements) {
    if (m.image_index < 0 || m.image_index >= project.ImageCount()) continue;
    if (project.Image(m.image_index)->enabled == 0 || !IsOriented(orientations[m.image_index]))
      continue;
    pixels[m.image_index] = vantri::points::PixelFromCentred(m.x, m.y, project.passport->width,
                                                             project.passport->height);
  }
  return pixels;
}

void BundleRun::ReadControlPoints() {
  CVantriProject& project = state_->project;
  // A missing file leaves the map empty: a block without control or check
  // points.
  ReadPTCollFile(project.folder + "GCP.col", &state_->gcps);
  ReadPTCollFile(project.folder + "CP.col", &state_->check_points);
}

// The block is turned and moved rigidly onto the control points it intersects
// before the adjustment, so that it starts from the control points' frame.
void BundleRun::FitControlRigidly() {
  const nvc::CMultiImageIntersection intersection(process_.orientations_);
  vtkNew<vtkPoints> source, target;
  source->SetDataTypeToDouble();
  target->SetDataTypeToDouble();
  for (const auto& [name, point] : state_->gcps) {
    if (!point.use || point.measurements.empty()) continue;
    Eigen::Vector3d position;
    if (intersection.Intersect(SurveyedPixels(point, state_->project, process_.orientations_),
                               &position) == 0)
      continue;
    const Eigen::Vector3d surveyed = Eigen::Vector3d(point.x, point.y, point.z) - state_->origin;
    source->InsertNextPoint(position.data());
    target->InsertNextPoint(surveyed.data());
  }
  if (source->GetNumberOfPoints() < 3) return;
  vtkNew<vtkLandmarkTransform> landmarks;
  landmarks->SetSourceLandmarks(source);
  landmarks->SetTargetLandmarks(target);
  landmarks->SetModeToRigidBody();
  landmarks->Update();
  vtkMatrix4x4* matrix = landmarks->GetMatrix();
  Eigen::Matrix3d rotation;
  Eigen::Vector3d translation;
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) rotation(r, c) = matrix->GetElement(r, c);
    translation[r] = matrix->GetElement(r, 3);
  }
  if (!rotation.allFinite() || !translation.allFinite()) return;
  const CUCS ucs("GCP", translation, rotation);
  for (int image : process_.added_images_) ucs.UCSToWCS(&process_.orientations_[image], 1);
  for (CSSBAPoint& point : state_->selected) {
    const Eigen::Vector3d moved = ucs.UCSToWCS({point.X, point.Y, point.Z});
    point.X = moved.x(), point.Y = moved.y(), point.Z = moved.z();
  }
}

bool BundleRun::RunControlAdjustment() {
  CVantriProject& project = state_->project;
  const CCameraPassport& passport = *project.passport;
  // The selection starts from its rays through the orientations the adjustment
  // starts from.
  ReintersectSelection();

  std::vector<CSSBAPoint> sequence;
  for (const auto& [name, gcp] : state_->gcps) {
    if (!gcp.use) continue;
    CSSBAPoint point;
    for (const CSIFTColl& m : gcp.measurements) {
      if (m.image_index < 0 || m.image_index >= project.ImageCount()) continue;
      const int camera = state_->camera_of_image[m.image_index];
      if (camera < 0) continue;
      const Eigen::Vector2d pixel =
          vantri::points::PixelFromCentred(m.x, m.y, passport.width, passport.height);
      point.measurements.emplace_back(camera, CSSBAColl::kDefaultKey, pixel.x(), pixel.y());
    }
    if (point.measurements.empty()) continue;
    point.point_index = static_cast<int32_t>(sequence.size());
    point.X = gcp.x - state_->origin.x();
    point.Y = gcp.y - state_->origin.y();
    point.Z = gcp.z - state_->origin.z();
    // An undefined variance holds the surveyed coordinate: the point is taken
    // as exact.
    point.xy_variance = gcp.xy_var == photogrammetry::kUndefinedVariance ? 0.0 : gcp.xy_var;
    point.z_variance = gcp.z_var == photogrammetry::kUndefinedVariance ? 0.0 : gcp.z_var;
    sequence.push_back(std::move(point));
    state_->control_names.push_back(name);
  }
  const int control_count = static_cast<int>(sequence.size());
  std::vector<size_t> selection_of;  // sequence position - control_count -> selection position
  for (size_t s = 0; s < state_->selected.size(); ++s) {
    const CSSBAPoint& tie = state_->selected[s];
    CSSBAPoint point = tie;
    point.measurements.clear();
    for (const CSSBAColl& m : tie.measurements) {
      const int camera = state_->camera_of_image[m.camera];
      if (camera >= 0) point.measurements.emplace_back(camera, m.key, m.x, m.y);
    }
    if (point.measurements.size() > 1) {
      sequence.push_back(std::move(point));
      selection_of.push_back(s);
    }
  }
  state_->controls.assign(sequence.begin(), sequence.begin() + control_count);

  const project::VantriTypedSettings& settings = project.settings.typed;
  const double f = passport.FocalPixels();
  const double camera_matrix[9] = {f, 0, passport.ppx, 0, f, passport.ppy, 0, 0, 1};
  std::vector<CSSBAPoint*> pointers = PointersTo(sequence);
  int state = 0;
  const double residual =
      NVSSBA(camera_matrix, pointers, state_->cameras, -2, settings.max_reprojection_error,
             static_cast<int>(settings.min_iterations), static_cast<int>(settings.max_iterations),
             settings.convergence_threshold, state, nullptr, nullptr, nullptr, nullptr, nullptr,
             control_count, 0, settings.gcps_weight, nullptr, nullptr, nullptr,
             vantri::aat::GpsCentrePriors(settings));
  const ssba::NVSSBARunInfo info = ssba::LastRunInfo();
  state_->figures.iterations = info.iterations;
  state_->figures.converged = info.converged;
  process_.last_adjustment_ = {residual >= 0, info.sigma0_px, info.iterations, info.converged};
  Log(Formatted("SSBA --- nTiePoints=%d - nGCP=%d - avgRes=%lf",
                static_cast<int>(sequence.size()) - control_count, control_count, residual));
  if (!(residual >= 0)) return false;
  // Tie points the adjustment rejected, or that it could not use, leave the
  // selection.
  std::vector<bool> adjusted(state_->selected.size(), false);
  for (size_t i = control_count; i < sequence.size(); ++i)
    if (sequence[i].point_index != -1) adjusted[selection_of[i - control_count]] = true;
  std::vector<CSSBAPoint> kept;
  for (size_t s = 0; s < state_->selected.size(); ++s)
    if (adjusted[s]) kept.push_back(std::move(state_->selected[s]));
  state_->selected = std::move(kept);
  WarnAboutWeaklyTiedImages();
  return true;
}

// An image held by fewer than three tie points is barely tied to the block: its
// orientation then rests on the control points and the GPS/IMU alone and may be
// far off without the figures of the run showing it. Say so in the log.
void BundleRun::WarnAboutWeaklyTiedImages() {
  constexpr int kMinTiePoints = 3;
  const CVantriProject& project = state_->project;
  std::vector<int> ties(state_->camera_of_image.size(), 0);
  for (const CSSBAPoint& point : state_->selected)
    for (const CSSBAColl& m : point.measurements)
      if (m.camera >= 0 && m.camera < static_cast<int>(ties.size())) ++ties[m.camera];
  for (size_t i = 0; i < ties.size(); ++i)
    if (state_->camera_of_image[i] >= 0 && ties[i] < kMinTiePoints)
      Log(
          Formatted("WARNING: image %s has %d tie points: its orientation rests "
                    "on the control points and GPS/IMU only",
                    project.Image(static_cast<int>(i))->Name().c_str(), ties[i]));
}

// The adjusted cameras become the project's orientations (project coordinates)
// and the images' adjusted orientation.
void BundleRun::StoreAdjustedOrientations() {
  CVantriProject& project = state_->project;
  for (size_t i = 0; i < process_.orientations_.size(); ++i)
    if (state_->camera_of_image[i] < 0) process_.orientations_[i] = process_.PassportOrientation();
  for (const NVSSBACameraParams& camera : state_->cameras) {
    const int image = state_->camera_images[camera.camera_number];
    const Eigen::Vector3d centre =
        Eigen::Vector3d(camera.centre[0], camera.centre[1], camera.centre[2]) + state_->origin;
    const Eigen::Matrix3d rotation = RotationOf(camera);
    nvc::COrientation orientation = process_.PassportOrientation();
    orientation.SetN(centre);
    orientation.SetRotMat(rotation);
    process_.orientations_[image] = orientation;
    const Eigen::Vector3d angles = ToEulerAnglesXYZ(rotation);
    CABAImage& record = *project.Image(image);
    record.reserved = 1;
    record.reserved_point1 = {centre.x(), centre.y(), centre.z()};
    record.reserved_point2 = {angles.x(), angles.y(), angles.z()};
    state_->figures.exterior.push_back({image, centre, angles});
  }
}

// Every selected point from its rays through the current orientations of the
// enabled images.
void BundleRun::ReintersectSelection() {
  const nvc::CMultiImageIntersection intersection(process_.orientations_);
  for (CSSBAPoint& point : state_->selected) {
    std::vector<std::optional<Eigen::Vector2d>> pixels(process_.orientations_.size());
    for (const CSSBAColl& m : point.measurements) {
      if (m.camera < 0 || m.camera >= state_->project.ImageCount()) continue;
      if (state_->project.Image(m.camera)->enabled == 0 ||
          !IsOriented(process_.orientations_[m.camera]))
        continue;
      pixels[m.camera] = Eigen::Vector2d(m.x, m.y);
    }
    Eigen::Vector3d position;
    if (intersection.Intersect(pixels, &position) != 0)
      point.X = position.x(), point.Y = position.y(), point.Z = position.z();
  }
}

bool BundleRun::WriteReportAndResults() {
  CVantriProject& project = state_->project;
  ReportInput input{
      project,      process_.orientations_, state_->selected,      state_->camera_of_image,
      state_->gcps, state_->check_points,   state_->control_names, state_->figures};
  const ReportFiles files = ComposeReport(input);
  // The surveyed points keep the residuals of this run.
  for (const PointResidual& residual : files.control_residuals)
    if (auto found = project.gcps.find(residual.name); found != project.gcps.end())
      found->second.res_x = residual.v.x(), found->second.res_y = residual.v.y(),
      found->second.res_z = residual.v.z();
  for (const PointResidual& residual : files.check_residuals)
    if (auto found = project.check_points.find(residual.name); found != project.check_points.end())
      found->second.res_x = residual.v.x(), found->second.res_y = residual.v.y(),
      found->second.res_z = residual.v.z();
  return WriteReportFiles(process_.bundle_folder_, project.name, files);
}

void BundleRun::WriteOrientationFiles() {
  CVantriProject& project = state_->project;
  std::error_code error;
  for (int image = 0; image < project.ImageCount(); ++image) {
    const std::string base = project.folder + project.Image(image)->Name();
    const nvc::COrientation& orientation = process_.orientations_[image];
    if (project.Image(image)->enabled != 0 && IsOriented(orientation)) {
      if (orientation.WriteINT(base + ".int", *project.passport) == 0 ||
          orientation.WriteEST(base + ".est") == 0)
        Log("Unable to write " + base + ".int/.est");
    } else {
      fs::remove(base + ".int", error);
      fs::remove(base + ".est", error);
    }
  }
}

}  // namespace vantri::bundle

namespace vantri::bundle {

int StartBundle(CVantriProject& project, UserInterface& ui, std::string* message) {
  std::error_code error;
  if (!fs::is_regular_file(project.folder + project.name + ".bro", error)) {
    ui.ShowMessage("Run tie points searching before!", MessageIcon::kWarning);
    if (message != nullptr) *message = "Run tie points searching before!";
    return 0;
  }
  ui.StartOperationClock();
  CAerialPhotogrammetricProcess process(project, ui);
  const int result = process.RunBundle("");
  if (message != nullptr) *message = result != 0 ? "" : process.LastMessage();
  // The HTML accuracy report follows every run that got going, with the adjustment's own figures;
  // it never fails the run.
  const report::BundleRunStatistics run = RunStatisticsOf(process, result != 0);
  report::WriteBundleHtmlReport(project, &run, ui);
  return result;
}

report::BundleRunStatistics RunStatisticsOf(const CAerialPhotogrammetricProcess& process,
                                            bool succeeded) {
  const CAerialPhotogrammetricProcess::AdjustmentSummary& adjustment = process.LastAdjustment();
  report::BundleRunStatistics run;
  run.recorded = true;
  run.run_succeeded = succeeded;
  run.sigma0_px = adjustment.adjusted ? adjustment.sigma0_px : 0.0;
  run.iterations = adjustment.adjusted ? adjustment.iterations : 0;
  run.converged = adjustment.adjusted && adjustment.converged;
  return run;
}

bool RunBundleOnProjectFile(const std::string& project_path, bool notify, UserInterface& ui,
                            std::ostream& out, std::ostream& err) {
  CVantriProject project;
  if (project::OpenProjectPath(project, ui, project_path) == 0) {
    err << "Unable to open project!\n";
    return false;
  }
  std::string message;
  const int result = StartBundle(project, ui, &message);
  // The adjusted orientations and the residuals of the control and check points are kept in the
  // project, as the desktop program keeps them.
  if (result != 0 && project::SaveProject(project) == 0) {
    err << "Unable to save the project " << project.file_path << "\n";
    return false;
  }
  if (notify) NotifyCompletion(project, result != 0, ui);
  if (result == 0) {
    err << (message.empty() ? "Bundle process failed!" : message) << "\n";
    return false;
  }
  out << "Bundle process done: report " << BundleReportPath(project) << "\n";
  return true;
}

}  // namespace vantri::bundle
