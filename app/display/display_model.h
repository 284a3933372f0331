#pragma once
// The graphic result display as plain data: layers of entities in drawing coordinates, built by
// the core (display/result_display.h) and drawn 1:1 by a drawing scene. No window code.
//
// Drawing coordinates are project coordinates X (east) and Y (north), project units; the scene
// flips Y for the screen. Sizes of symbols are already scaled (drawing units). Screen-fixed sizes
// (label offsets, point markers, line widths) are in pixels or hundredths of a millimetre as
// stated and do not grow with the zoom.
//
// How a scene draws the model:
// - Layers in vector order; a layer with `visible` false is kept but hidden (the view toggles it
//   without a rebuild). An entity's colour is its own.
// - kPoint: a marker of kPointMarkerPx pixels at `centre`; `label`, when not empty, in the font
//   kLabelFont, kLabelOffsetPx[0] pixels right of and kLabelOffsetPx[1] above the point, in the
//   entity's colour (control and check points; tie points carry no label in the drawing).
// - kEllipse: semi-axes `radius_x` (along X) and `radius_y` (along Y) around `centre`; kCircle:
//   radius `radius_x`. kPolyline: `vertices` joined in order (open). Filled ellipses and circles
//   are filled with their colour at opacity kFillAlpha of 255 and outlined.
// - kImageChip: the raster region `chip` of an image resampled into the square of half width
//   `radius_x` around `centre`.
// - A click on (or near) a control-point or check-point marker or its label collimates that point
//   (HitTestPoint).

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace vantri::display {

struct Rgb {
  uint8_t r = 0, g = 0, b = 0;
  bool operator==(const Rgb&) const = default;
};
// A Windows colour value (0x00BBGGRR) as RGB, and back.
Rgb FromColorRef(int32_t color_ref);
int32_t ToColorRef(Rgb rgb);

// Colour of points that have no adjustment result.
inline constexpr Rgb kNoResultGrey{0x80, 0x80, 0x80};
// Colours of the vector layers (drawing-control colour indices 4 and 6).
inline constexpr Rgb kXyVectorCyan{0, 255, 255};
inline constexpr Rgb kZVectorMagenta{255, 0, 255};
inline constexpr const char* kLabelFont = "Curier New";
inline constexpr std::array<int, 2> kLabelOffsetPx{20, 13};  // right, up
inline constexpr int kPointMarkerPx = 7;
inline constexpr int kFillAlpha = 40;
// Line weight of the image symbols, hundredths of a millimetre.
inline constexpr int kImageSymbolLineWeight = 30;

enum class EntityKind { kPoint, kEllipse, kCircle, kPolyline, kImageChip };
enum class PointKind { kTie, kControl, kCheck };

// A region of an image to show as the chip of a control or check point: the square of `size_px`
// pixels centred on (col, row) of the image file (pixel frame: top-left corner origin, row down).
struct ImageChip {
  std::string image_path;
  double col = 0, row = 0;
  int size_px = 0;
};

struct Entity {
  EntityKind kind = EntityKind::kPoint;
  std::array<double, 2> centre{};
  double radius_x = 0, radius_y = 0;
  std::vector<std::array<double, 2>> vertices;
  bool filled = false;
  Rgb color;
  int line_weight = 0;  // hundredths of a millimetre; 0: the thinnest line
  std::string label;
  // Points and their symbols: which point they belong to.
  PointKind point_kind = PointKind::kTie;
  std::string point_id;
  ImageChip chip;  // kImageChip only
};

struct Layer {
  std::string name;
  bool visible = true;
  Rgb color;  // the layer's own colour (vector layers); entities carry theirs
  std::vector<Entity> entities;
};

// The display entities of the points: label, adjusted X, Y, Z, residual components and
// magnitude, colour. Tie points: mean image residual (vx, vy, 0) in the units of the .ptres file
// (micrometres); control and check points: adjusted minus surveyed coordinates (project units).
struct CEntBundlePt {
  std::string label;
  double x = 0, y = 0, z = 0;
  double res_x = 0, res_y = 0, res_z = 0;
  double magnitude = 0;
  bool has_result = false;
  Rgb color = kNoResultGrey;
};
struct CEntTP : CEntBundlePt {
  int rays = 0;  // residual rows averaged
};
// Control and check points link to their record (GCP.col / CP.col, by name) and image chip.
struct CEntGCP : CEntBundlePt {
  std::string point_name;
  bool has_chip = false;
  ImageChip chip;
};
struct CEntCP : CEntGCP {};

// Per image: the adjusted orientation minus the GPS/IMU values, angles wrapped into (-pi, pi],
// differences below 1e-6 in magnitude set to 0.
struct ImageMovement {
  std::string image;
  int image_index = -1;
  double x = 0, y = 0;  // adjusted projection centre, where the symbols stand
  double dx = 0, dy = 0, dz = 0;
  double d_omega = 0, d_phi = 0, d_kappa = 0;
};

struct DisplayModel {
  std::vector<Layer> layers;
  std::map<std::string, CEntTP> tie_points;  // by point ID
  std::map<std::string, CEntGCP> control_points;
  std::map<std::string, CEntCP> check_points;
  std::vector<ImageMovement> image_movements;

  Layer* FindLayer(const std::string& name);
  const Layer* FindLayer(const std::string& name) const;
};

// The layers of a fresh drawing, in drawing order: "TP", "CP", "GCP", "CP_Images",
// "GCP_Images", then the residual-symbol layers "TPResXYEllipse", "TPResXYVector",
// "CPResXYEllipse", "CPResZCircle", "CPResXYVector", "CPResZVector", "GCPResXYEllipse",
// "GCPResZCircle", "GCPResXYVector", "GCPResZVector". Per-image layers follow when results load.
std::vector<std::string> BaseLayerNames();

// The control or check point whose marker is within `tolerance` drawing units of (x, y) or whose
// label box (8 pixels per character, 16 pixels high, at the label offset) holds (x, y), for the
// click that opens its collimation; `units_per_pixel` is the scene's zoom. A marker wins over a
// label (a neighbour's label may cover it), and of several markers the nearest. False when none.
struct PointHit {
  PointKind kind = PointKind::kControl;
  std::string name;
};
bool HitTestPoint(const DisplayModel& model, double x, double y, double tolerance,
                  double units_per_pixel, PointHit* hit);

}  // namespace vantri::display
