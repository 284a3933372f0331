#pragma once
// The collimation of one control or check point as plain code: which images are proposed, where
// the marker sits, how keys and clicks move it, and what OK stores. The session window shows one
// image at a time around Marker() and forwards the operator's keys and clicks.
//
// Positions are image pixels (col, row) from the top-left corner of the raster. Stored
// measurements are relative to the image centre with y up (points/point_maps.h).

#include <Eigen/Core>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "photogrammetry/orientation.h"
#include "points/point_maps.h"

class CVantriProject;

namespace vantri {
class UserInterface;
}

namespace vantri::points {

// An image raster opened by the session (read-only, shared), closed when released.
class SessionRaster {
 public:
  virtual ~SessionRaster() = default;
  virtual int Width() const = 0;
  virtual int Height() const = 0;
  // Reads the pixel rectangle (col, row, width, height) into `rgb` as 8-bit R, G, B triples,
  // buffer_width x buffer_height of them row by row (resampled by averaging when smaller than
  // the rectangle); one-band rasters give grey triples. False when the rectangle leaves the
  // raster or the read fails; rasters that cannot show themselves always say false.
  virtual bool ReadRegion(int col, int row, int width, int height, int buffer_width,
                          int buffer_height, std::vector<uint8_t>* rgb) const;
};
// Null when the raster cannot be opened.
using RasterOpener = std::function<std::unique_ptr<SessionRaster>(const std::string& path)>;
// GDAL, shared read-only access.
std::unique_ptr<SessionRaster> OpenGdalRaster(const std::string& path);

// Marks a coordinate of an image that is not measured.
inline constexpr double kNotMeasured = -1234567890.0;
// A point is proposed in an image when it projects at most this far outside the raster (pixels).
inline constexpr double kProposalMargin = 500.0;
// Colour indices of the marker.
inline constexpr int kMeasuredColourIndex = 3;
inline constexpr int kNotMeasuredColourIndex = 2;

// Keys the session reacts to; the keypad digits move the marker in their direction.
enum class SessionKey {
  kPageUp,
  kPageDown,
  kDelete,
  kKeypad1,
  kKeypad2,
  kKeypad3,
  kKeypad4,
  kKeypad6,
  kKeypad7,
  kKeypad8,
  kKeypad9,
};
enum class ClickModifier { kNone, kShift, kCtrl };

struct SessionImage {
  int image_index = -1;   // in the project's image list
  std::string file_name;  // file name of the image (no folder)
  double kappa = 0.0;     // the image's kappa angle, radians
  int width = 0, height = 0;
  Eigen::Vector2d proposed{kNotMeasured, kNotMeasured};
  Eigen::Vector2d measured{kNotMeasured, kNotMeasured};
  int measurement = -1;  // index into the point's measurements it came from, -1 for none
  bool skip = false;
  std::unique_ptr<SessionRaster> raster;
  std::unique_ptr<SessionRaster> working_copy;

  bool IsMeasured() const { return measured.x() != kNotMeasured && measured.y() != kNotMeasured; }
  bool HasProposal() const { return proposed.x() != kNotMeasured && proposed.y() != kNotMeasured; }
};

struct SessionOptions {
  // The project's orientations, indexed like the images; used when every image has one (an
  // interior orientation is built from the passport where one is missing). Otherwise, or when
  // null, each image gets an approximate orientation from its GPS position and IMU angles.
  const std::vector<nvc::COrientation>* orientations = nullptr;
  // World position of the origin of those orientations (e.g. the project's local origin for
  // local ones); surveyed points are moved by it before projection. Unused for GPS/IMU.
  Eigen::Vector3d orientation_origin = Eigen::Vector3d::Zero();
  RasterOpener open_raster = OpenGdalRaster;
  // Redraws the point symbols of the main drawing after OK; may be empty.
  std::function<void()> redraw_symbols;
};

class CollimationSession {
 public:
  // Proposes the images of the point `point_name` of the given kind. A point that is not in the
  // map gives a session without images (IsValid() false).
  CollimationSession(PointKind kind, CVantriProject& project, const std::string& point_name,
                     UserInterface& ui, SessionOptions options = {});
  ~CollimationSession();
  CollimationSession(const CollimationSession&) = delete;
  CollimationSession& operator=(const CollimationSession&) = delete;

  bool IsValid() const { return valid_; }
  bool IsOpen() const { return open_; }
  // "GCP - %s" or "CP - %s".
  std::string WindowTitle() const;
  // "Image %d/%d - %s"; empty without images.
  std::string ImageLine() const;

  int ImageCount() const { return static_cast<int>(images_.size()); }
  int CurrentImage() const { return current_; }
  const SessionImage& Image(int k) const { return images_[k]; }

  // The marker: measured position, else proposed, else the image centre.
  Eigen::Vector2d Marker() const;
  int MarkerColourIndex() const;

  // Page Down / Page Up: the next / previous image not marked to skip, cyclically; shows
  // "No more image to display" when every image is marked.
  void NextImage();
  void PreviousImage();
  // Marks the current image to skip and moves on, or takes the mark away.
  void ToggleSkip();

  // Page keys, Delete (not measured) and the keypad moves by one screen pixel, which is
  // `image_pixels_per_screen_pixel` image pixels at the window's zoom. False for no effect.
  bool HandleKey(SessionKey key, double image_pixels_per_screen_pixel = 1.0);
  // Shift: the marker goes to the clicked image position; Ctrl: not measured.
  void Click(const Eigen::Vector2d& pixel, ClickModifier modifier);
  // The marker at `pixel`: proposed there, measured when inside the raster, else not measured.
  void PlaceMarker(const Eigen::Vector2d& pixel);
  void Unmeasure();

  // Stores the measurements into the point (update, remove, add), sets the use flag, saves the
  // collection file and redraws; closes the rasters. 1 on success, 0 when the file could not be
  // written (the map holds the new measurements).
  int Ok();
  // Closes the rasters; the point stays as it was.
  void Cancel();

 private:
  bool UsesProjectOrientations() const;
  std::vector<nvc::COrientation> Orientations() const;
  void ProposeImages(const CGCPCollEx& point);
  bool OpenRasters(int image_index, SessionImage* image) const;
  void Step(int direction);
  void Close();

  PointKind kind_;
  CVantriProject& project_;
  std::string point_name_;
  UserInterface& ui_;
  SessionOptions options_;
  std::vector<SessionImage> images_;
  int current_ = 0;
  bool valid_ = false;
  bool open_ = true;
};

}  // namespace vantri::points
