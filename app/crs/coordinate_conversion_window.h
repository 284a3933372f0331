#pragma once
// Logic of the "Coordinate Conversion" window of the point import: from a geographic source datum
// to a projected target system (UTM, the Monte Mario transverse Mercator zones, state plane). On
// OK the window holds the transformation source -> target; it is released with the window.
//
// Coordinates: x = longitude, y = latitude in degrees on the source side; x = easting,
// y = northing in metres on the target side.

#include <string>
#include <string_view>

#include "crs/choice_list.h"
#include "crs/coordinate_system.h"

class OGRSpatialReference;

namespace vantri {
class UserInterface;
}

namespace vantri::crs {

class CoordinateConversionWindow {
 public:
  enum class Outcome { kOpen, kOk, kCancel };

  // `latitude`, `longitude` in degrees: the mean position of the points to convert, used to
  // estimate the UTM zone.
  CoordinateConversionWindow(double latitude, double longitude, vantri::UserInterface& ui);

  const ChoiceList& source_datums() const { return source_datums_; }
  const ChoiceList& target_projections() const { return target_projections_; }
  const ChoiceList& target_datums() const { return target_datums_; }
  const ChoiceList& fuses() const { return fuses_; }
  Outcome outcome() const { return outcome_; }

  // Operator actions; a text that is not in the list changes nothing.
  void SelectSourceDatum(std::string_view name);
  void SelectTargetProjection(std::string_view name);
  void SelectTargetDatum(std::string_view name);
  void SelectFuse(std::string_view name);
  // Clears a list's selection, as an operator leaving it empty would.
  void ClearSourceDatum() { source_datums_.ClearSelection(); }
  void ClearTargetDatum() { target_datums_.ClearSelection(); }
  void ClearFuse() { fuses_.ClearSelection(); }
  void ClearTargetProjection() { target_projections_.ClearSelection(); }

  // UTM zone from the longitude, hemisphere from the latitude.
  void EstimateAutomatically();

  // Validates, builds the transformation and closes; on a message the window stays open.
  bool Ok();
  void Cancel() { outcome_ = Outcome::kCancel; }

  // Null until OK succeeded.
  OGRCoordinateTransformation* transformation() const { return transformation_.get(); }
  // Converts one point in place (x = longitude, y = latitude); 1 on success, 0 otherwise.
  int Convert(double& x, double& y) const;

 private:
  void RefillForProjection();
  std::string ValidationMessage() const;
  // Builds source and target; returns the failure message, empty on success.
  std::string BuildTransformation();
  bool SetTargetProjection(OGRSpatialReference& target) const;
  const EPSGDatum& SourceDatum() const;
  const EPSGDatum& TargetDatum() const;

  vantri::UserInterface& ui_;
  double latitude_;
  double longitude_;
  ChoiceList source_datums_;
  ChoiceList target_projections_;
  ChoiceList target_datums_;
  ChoiceList fuses_;
  std::vector<int> target_datum_rows_;  // datum-table row of each target datum entry
  TransformPtr transformation_;
  Outcome outcome_ = Outcome::kOpen;
};

// The UTM zone 1..60 of a longitude in degrees: floor(longitude / 6) + 31, wrapped into 1..60 so
// that 180 E and longitudes outside -180..180 still give a zone.
int UtmZoneOfLongitude(double longitude);

}  // namespace vantri::crs
