#include "points/collimation_session.h"

#include <gdal.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <set>

#include "project/project.h"
#include "ui_interface/ui.h"

namespace vantri::points {
namespace {

class GdalSessionRaster : public SessionRaster {
 public:
  explicit GdalSessionRaster(GDALDatasetH dataset) : dataset_(dataset) {}
  ~GdalSessionRaster() override { GDALClose(dataset_); }
  int Width() const override { return GDALGetRasterXSize(dataset_); }
  int Height() const override { return GDALGetRasterYSize(dataset_); }
  bool ReadRegion(int col, int row, int width, int height, int buffer_width, int buffer_height,
                  std::vector<uint8_t>* rgb) const override;

 private:
  GDALDatasetH dataset_;
};

// The largest buffer one read fills (pixels); the window never asks for more than its screen.
constexpr long long kMaxRegionBufferPixels = 1LL << 26;

bool GdalSessionRaster::ReadRegion(int col, int row, int width, int height, int buffer_width,
                                   int buffer_height, std::vector<uint8_t>* rgb) const {
  if (width <= 0 || height <= 0 || buffer_width <= 0 || buffer_height <= 0 || col < 0 || row < 0 ||
      col + static_cast<long long>(width) > Width() ||
      row + static_cast<long long>(height) > Height() ||
      static_cast<long long>(buffer_width) * buffer_height > kMaxRegionBufferPixels)
    return false;
  const int band_count = GDALGetRasterCount(dataset_);
  if (band_count < 1) return false;
  rgb->assign(static_cast<size_t>(buffer_width) * buffer_height * 3, 0);
  GDALRasterIOExtraArg extra;
  INIT_RASTERIO_EXTRA_ARG(extra);
  extra.eResampleAlg = buffer_width < width ? GRIORA_Average : GRIORA_NearestNeighbour;
  // Bands 1, 2, 3 into R, G, B; for grey rasters band 1 into R, copied to G and B.
  int bands[3] = {1, 2, 3};
  const int read_bands = band_count >= 3 ? 3 : 1;
  const CPLErr error = GDALDatasetRasterIOEx(
      dataset_, GF_Read, col, row, width, height, rgb->data(), buffer_width, buffer_height,
      GDT_Byte, read_bands, bands, 3, static_cast<GSpacing>(buffer_width) * 3, 1, &extra);
  if (error != CE_None) return false;
  if (read_bands == 1) {
    for (size_t i = 0; i < rgb->size(); i += 3) (*rgb)[i + 1] = (*rgb)[i + 2] = (*rgb)[i];
  }
  return true;
}

bool WithinProposalMargin(const Eigen::Vector2d& pixel, int width, int height) {
  // NaN (a point behind the camera) fails every comparison.
  return pixel.x() >= -kProposalMargin && pixel.x() < width + kProposalMargin &&
         pixel.y() >= -kProposalMargin && pixel.y() < height + kProposalMargin;
}

bool IsOriented(const nvc::COrientation& orientation) {
  return orientation.GetN() != Eigen::Vector3d::Zero();
}

// Screen directions of the keypad digits: x to the right, y down (image rows).
bool KeypadDirection(SessionKey key, Eigen::Vector2d* direction) {
  struct KeypadMove {
    SessionKey key;
    double dx, dy;
  };
  static constexpr KeypadMove kMoves[] = {
      {SessionKey::kKeypad1, -1, 1}, {SessionKey::kKeypad2, 0, 1}, {SessionKey::kKeypad3, 1, 1},
      {SessionKey::kKeypad4, -1, 0}, {SessionKey::kKeypad6, 1, 0}, {SessionKey::kKeypad7, -1, -1},
      {SessionKey::kKeypad8, 0, -1}, {SessionKey::kKeypad9, 1, -1}};
  for (const KeypadMove& move : kMoves) {
    if (move.key != key) continue;
    *direction = {move.dx, move.dy};
    return true;
  }
  return false;
}

}  // namespace

bool SessionRaster::ReadRegion(int, int, int, int, int, int, std::vector<uint8_t>*) const {
  return false;
}

std::unique_ptr<SessionRaster> OpenGdalRaster(const std::string& path) {
  static std::once_flag registered;
  std::call_once(registered, [] { GDALAllRegister(); });
  CPLPushErrorHandler(CPLQuietErrorHandler);
  GDALDatasetH dataset = GDALOpenShared(path.c_str(), GA_ReadOnly);
  CPLPopErrorHandler();
  if (dataset == nullptr) return nullptr;
  return std::make_unique<GdalSessionRaster>(dataset);
}

CollimationSession::CollimationSession(PointKind kind, CVantriProject& project,
                                       const std::string& point_name, UserInterface& ui,
                                       SessionOptions options)
    : kind_(kind),
      project_(project),
      point_name_(point_name),
      ui_(ui),
      options_(std::move(options)) {
  const CGCPCollMap& points = PointMap(project_, kind_);
  const auto point = points.find(point_name_);
  if (point == points.end()) return;
  valid_ = true;
  point_name_ = point->second.name;
  ProposeImages(point->second);
}

CollimationSession::~CollimationSession() { Close(); }

std::string CollimationSession::WindowTitle() const {
  return (kind_ == PointKind::kGcp ? "GCP - " : "CP - ") + point_name_;
}

std::string CollimationSession::ImageLine() const {
  if (images_.empty()) return {};
  char line[1024];
  std::snprintf(line, sizeof line, "Image %d/%d - %s", current_ + 1, ImageCount(),
                images_[current_].file_name.c_str());
  return line;
}

bool CollimationSession::UsesProjectOrientations() const {
  const int count = project_.ImageCount();
  const std::vector<nvc::COrientation>* given = options_.orientations;
  if (given == nullptr || count == 0 || static_cast<int>(given->size()) != count) return false;
  for (const nvc::COrientation& orientation : *given)
    if (!IsOriented(orientation)) return false;
  return true;
}

std::vector<nvc::COrientation> CollimationSession::Orientations() const {
  const bool project_orientations = UsesProjectOrientations();
  std::vector<nvc::COrientation> orientations;
  for (int i = 0; i < project_.ImageCount(); ++i) {
    nvc::COrientation orientation(1.0);
    if (project_orientations) {
      orientation = (*options_.orientations)[i];
    } else {
      const CABAImage& image = *project_.Image(i);
      orientation.SetRotMat(FromEulerAnglesXYZ(image.omega, image.phi, image.kappa));
      orientation.SetN({image.x, image.y, image.z});
    }
    if (!orientation.HasInterior() && project_.passport != nullptr)
      orientation.BuildINTWithoutDistortion(*project_.passport, 0.0);
    orientations.push_back(orientation);
  }
  return orientations;
}

bool CollimationSession::OpenRasters(int image_index, SessionImage* image) const {
  const CABAImage* project_image = project_.Image(image_index);
  if (project_image == nullptr || !options_.open_raster) return false;
  image->raster = options_.open_raster(project_image->Path());
  if (image->raster == nullptr) return false;
  image->working_copy = options_.open_raster(project_image->Path());
  image->image_index = image_index;
  image->file_name = std::filesystem::path(project_image->Path()).filename().string();
  image->kappa = project_image->kappa;
  image->width = image->raster->Width();
  image->height = image->raster->Height();
  return true;
}

void CollimationSession::ProposeImages(const CGCPCollEx& point) {
  std::set<int> measured_images;
  for (int k = 0; k < static_cast<int>(point.measurements.size()); ++k) {
    const CSIFTColl& measurement = point.measurements[k];
    measured_images.insert(measurement.image_index);
    SessionImage image;
    if (!OpenRasters(measurement.image_index, &image)) continue;
    image.measured = image.proposed =
        PixelFromCentred(measurement.x, measurement.y, image.width, image.height);
    image.measurement = k;
    images_.push_back(std::move(image));
  }
  const std::vector<nvc::COrientation> orientations = Orientations();
  const Eigen::Vector3d surveyed =
      Eigen::Vector3d(point.x, point.y, point.z) -
      (UsesProjectOrientations() ? options_.orientation_origin : Eigen::Vector3d::Zero());
  for (int i = 0; i < project_.ImageCount(); ++i) {
    if (measured_images.count(i) > 0) continue;
    const Eigen::Vector2d projection = orientations[i].Pt3dToPix(surveyed);
    // The interior orientation's raster size spares opening images far away; the opened
    // raster's own size decides.
    if (!WithinProposalMargin(projection, orientations[i].GetWidth(), orientations[i].GetHeight()))
      continue;
    SessionImage image;
    if (!OpenRasters(i, &image) || !WithinProposalMargin(projection, image.width, image.height))
      continue;
    image.proposed = projection;
    images_.push_back(std::move(image));
  }
}

Eigen::Vector2d CollimationSession::Marker() const {
  if (images_.empty()) return Eigen::Vector2d::Zero();
  const SessionImage& image = images_[current_];
  if (image.IsMeasured()) return image.measured;
  if (image.HasProposal()) return image.proposed;
  return {image.width / 2.0, image.height / 2.0};
}

int CollimationSession::MarkerColourIndex() const {
  return !images_.empty() && images_[current_].IsMeasured() ? kMeasuredColourIndex
                                                            : kNotMeasuredColourIndex;
}

void CollimationSession::Step(int direction) {
  const int count = ImageCount();
  for (int k = 1; k <= count; ++k) {
    const int candidate = ((current_ + direction * k) % count + count) % count;
    if (!images_[candidate].skip) {
      current_ = candidate;
      return;
    }
  }
  ui_.ShowMessage("No more image to display", MessageIcon::kInformation);
}

void CollimationSession::NextImage() { Step(1); }
void CollimationSession::PreviousImage() { Step(-1); }

void CollimationSession::ToggleSkip() {
  if (images_.empty()) return;
  SessionImage& image = images_[current_];
  image.skip = !image.skip;
  if (image.skip) NextImage();
}

bool CollimationSession::HandleKey(SessionKey key, double image_pixels_per_screen_pixel) {
  if (!open_ || images_.empty()) return false;
  switch (key) {
    case SessionKey::kPageUp:
      PreviousImage();
      return true;
    case SessionKey::kPageDown:
      NextImage();
      return true;
    case SessionKey::kDelete:
      Unmeasure();
      return true;
    default:
      break;
  }
  Eigen::Vector2d direction;
  if (!KeypadDirection(key, &direction)) return false;
  PlaceMarker(Marker() + direction * image_pixels_per_screen_pixel);
  return true;
}

void CollimationSession::Click(const Eigen::Vector2d& pixel, ClickModifier modifier) {
  if (modifier == ClickModifier::kShift) PlaceMarker(pixel);
  if (modifier == ClickModifier::kCtrl) Unmeasure();
}

void CollimationSession::PlaceMarker(const Eigen::Vector2d& pixel) {
  if (!open_ || images_.empty()) return;
  SessionImage& image = images_[current_];
  image.proposed = pixel;
  image.measured = InsideRaster(pixel, image.width, image.height)
                       ? pixel
                       : Eigen::Vector2d(kNotMeasured, kNotMeasured);
}

void CollimationSession::Unmeasure() {
  if (!open_ || images_.empty()) return;
  images_[current_].measured = {kNotMeasured, kNotMeasured};
}

int CollimationSession::Ok() {
  if (!open_) return 0;
  CGCPCollMap& points = PointMap(project_, kind_);
  const auto found = points.find(point_name_);
  if (found == points.end()) {
    Close();
    return 0;
  }
  CGCPCollEx& point = found->second;
  // Measurements in images the session could not open are kept as they are.
  std::vector<bool> removed(point.measurements.size(), false);
  std::vector<CSIFTColl> added;
  for (const SessionImage& image : images_) {
    const Eigen::Vector2d centred = CentredFromPixel(image.measured, image.width, image.height);
    if (image.measurement >= 0) {
      if (image.IsMeasured()) {
        point.measurements[image.measurement].x = centred.x();
        point.measurements[image.measurement].y = centred.y();
      } else {
        removed[image.measurement] = true;
      }
    } else if (image.IsMeasured()) {
      added.push_back({image.image_index, centred.x(), centred.y()});
    }
  }
  std::vector<CSIFTColl> measurements;
  for (size_t k = 0; k < point.measurements.size(); ++k)
    if (!removed[k]) measurements.push_back(point.measurements[k]);
  measurements.insert(measurements.end(), added.begin(), added.end());
  point.measurements = std::move(measurements);
  point.use = UseFlagFor(point);
  Close();

  const std::string path = CollectionPath(project_, kind_);
  const int saved = WritePTCollFile(path, points);
  if (!saved) ui_.ShowMessage("Unable to write '" + path + "'!", MessageIcon::kExclamation);
  if (options_.redraw_symbols) options_.redraw_symbols();
  return saved;
}

void CollimationSession::Cancel() { Close(); }

void CollimationSession::Close() {
  open_ = false;
  for (SessionImage& image : images_) {
    image.raster.reset();
    image.working_copy.reset();
  }
}

}  // namespace vantri::points
