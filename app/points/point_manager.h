#pragma once
// The point managers ("GCPs Manager", "Check-Points Manager") as plain code: the list's columns,
// rows and colours, import, removal, the use flags and the variances of control points. Every
// change is saved to GCP.col or CP.col at once and the point symbols of the main drawing are
// redrawn. The window only shows Rows() and forwards the operator's commands.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "import/point_import.h"
#include "points/point_maps.h"
#include "project/quality_thresholds.h"

class CVantriProject;

namespace vantri {
class UserInterface;
}

namespace vantri::points {

// Row colours, RGB values with red in the low byte.
inline constexpr int32_t kNotAdjustedColour = 0x808080;  // grey
inline constexpr int32_t kNoResultColour = 0xFFFFFF;     // white

// The undefined variance as the list and the value prompt show it.
inline constexpr const char* kUndefinedText = "-";

struct PointRow {
  std::string name;
  std::vector<std::string> cells;  // one per column, the first is the name
  bool use = false;                // the row's check box
  int32_t colour = kNotAdjustedColour;
};

// The colour of a point's row: grey unless the point is used and has more than one measurement;
// then white without a result of the last run, otherwise the quality colour of its residual.
int32_t RowColour(const CGCPCollEx& point, const PointResults& results,
                  const project::QualityClass& quality);

// A variance as the list shows it: "%lf", or "-" when undefined.
std::string VarianceText(double variance);

class PointManager {
 public:
  // Hooks into the main drawing; each may be empty.
  struct DrawingHooks {
    std::function<void()> redraw_symbols;
    std::function<void(int id)> remove_entity;
  };
  // The import window for the list's kind: true on OK with the records it produced.
  using ImportWindow =
      std::function<bool(import::ImportMode mode, std::vector<import::SFIO_ControlPoint>*)>;
  enum class VarianceColumn { kXY, kZ };

  // `results` holds the last run's residuals of this kind by point ID (may be null) and loses
  // the records of removed points; `quality` is the GCP class of the user profile's thresholds
  // (QualityThresholds::LoadFromProfile().gcps), which check points share.
  PointManager(PointKind kind, CVantriProject& project, UserInterface& ui,
               PointResults* results = nullptr, project::QualityClass quality = {},
               DrawingHooks hooks = {});

  // False when there is no project: the window closes at once.
  bool CanOpen() const;
  const char* Title() const;
  PointKind Kind() const { return kind_; }

  std::vector<std::string> Columns() const;
  // Equal columns; for control points the last one 18 pixels narrower.
  std::vector<int> ColumnWidths(int list_width) const;
  std::vector<PointRow> Rows() const;
  // "%d points added" with the number of rows.
  std::string CountLabel() const;
  // The remove buttons are enabled while the list is not empty.
  bool CanRemove() const;

  // Runs the import window; on OK adds the new points (AddImported). False when cancelled or
  // nothing was added.
  bool Import(const ImportWindow& window);
  // Adds every record whose name is not in the list yet; shows "%d control points imported" or
  // "No valid point to import or points already imported!" (warning), saves and redraws.
  // Returns the number of points added.
  int AddImported(const std::vector<import::SFIO_ControlPoint>& records);

  // After "Remove selected points?" / "Remove all points?" answered Yes. False when declined.
  bool RemoveSelected(const std::vector<std::string>& names);
  bool RemoveAll();

  // The row's check box. False for an unknown name.
  bool SetUse(const std::string& name, bool use);

  // Right click on the "XY var" or "Z var" header (control points only).
  std::vector<std::string> VarianceMenu() const;
  // "Set value to all": asks until the text is "-" (undefined), a number >= 0, or cancelled.
  bool SetVarianceToAll(VarianceColumn column);
  // "Clear all": the column becomes undefined for every point.
  bool ClearVariance(VarianceColumn column);

  // Writes the map to its collection file; shows a message and returns false when it fails.
  bool Save();

 private:
  CGCPCollMap& Points() const;
  void Changed();
  bool Remove(const std::vector<std::string>& names);

  PointKind kind_;
  CVantriProject& project_;
  UserInterface& ui_;
  PointResults* results_;
  project::QualityClass quality_;
  DrawingHooks hooks_;
};

}  // namespace vantri::points
