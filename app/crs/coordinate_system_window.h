#pragma once
// Logic of the "Coordinate System" window: the Projection, Datum, Fuse and Units lists, the
// imports from a WKT file and from an EPSG code, Show WKT String and the OK validation. The
// window edits the project's coordinate system; imports change it immediately (Cancel does not
// undo them), OK stores the selections.

#include <string>
#include <string_view>

#include "crs/choice_list.h"
#include "crs/coordinate_system.h"

namespace vantri {
class UserInterface;
}

namespace vantri::crs {

class CoordinateSystemWindow {
 public:
  enum class Outcome { kOpen, kOk, kCancel };

  // Opening: fills the lists and selects the project's projection, datum, fuse and units. A
  // project on "User WKT String" without a WKT (or "User EPSG Code" without a code) asks for one
  // at once, as a change of projection does.
  CoordinateSystemWindow(CoordinateSystem& project, vantri::UserInterface& ui);

  const ChoiceList& projections() const { return projections_; }
  const ChoiceList& datums() const { return datums_; }
  const ChoiceList& fuses() const { return fuses_; }
  const ChoiceList& units() const { return units_; }
  Outcome outcome() const { return outcome_; }
  // The WKT text / EPSG code the window holds for the two user projections.
  const std::string& user_wkt() const { return user_wkt_; }
  int32_t user_epsg() const { return user_epsg_; }

  // Operator actions. Selecting a text that is not in the list changes nothing.
  void SelectProjection(std::string_view name);
  void SelectDatum(std::string_view name);
  // By row: the datum list holds the datum table in order (two rows share the name "Garoua").
  void SelectDatumRow(int row);
  void SelectFuse(std::string_view name);
  void SelectUnits(std::string_view name);

  // Shows the WKT of the current selections (an empty message when nothing can be built) and
  // returns it.
  std::string ShowWkt();
  void ImportFromWkt();
  void ImportFromEpsg();

  // Validates and stores; a validation message keeps the window open (outcome stays kOpen).
  // Returns true when the window closed.
  bool Ok();
  void Cancel() { outcome_ = Outcome::kCancel; }

 private:
  void OnProjectionChanged();
  void OnDatumChanged();
  void ShowDatumAndFuse();
  void DisableDatumAndFuse();
  void SelectProjectionIndex(int32_t projection);
  void RefillFuses();
  int32_t SelectedProjection() const;
  int32_t SelectedDatumCode() const;
  EPSGDatum SelectedDatum() const;
  int32_t SelectedFuse() const;
  std::string ValidationMessage() const;
  void Store();
  void ImportFailed();
  bool ReadWholeFile(const std::string& path, std::string* text);

  CoordinateSystem& project_;
  vantri::UserInterface& ui_;
  ChoiceList projections_;
  ChoiceList datums_;
  ChoiceList fuses_;
  ChoiceList units_;
  std::string user_wkt_;
  int32_t user_epsg_ = 0;
  // Datum row and fuse to select when the lists are shown again; follow the operator's choices.
  int current_datum_row_ = -1;
  int32_t current_fuse_ = kFuseNotDefined;
  Outcome outcome_ = Outcome::kOpen;
};

// The fuses offered for a datum: "W" and "E" for the Monte Mario datums, else the 120 UTM zones
// "60 S" .. "1 S", "1 N" .. "60 N".
std::vector<std::string> FuseNamesForDatum(std::string_view datum_name);

}  // namespace vantri::crs
