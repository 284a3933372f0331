#pragma once
// Logic of the "Process settings" window: the rows of the property grid, edits with their checks,
// "Sort Alphabetical", "Restore" and OK. The window only draws the rows and forwards the edits.

#include <string>
#include <vector>

#include "process_settings.h"

namespace vantri::project {

class SettingsWindowModel {
 public:
  struct Row {
    bool is_group = false;
    std::string group;        // group name (group rows and property rows)
    std::string property;     // empty on group rows
    std::string value;        // shown value
    std::string description;  // first description element
    TextList choices;         // fixed choice when not empty; free editing is then off
    bool modified = false;    // differs from the value shown at opening
  };

  // Takes the values shown at opening from `settings`; messages go to the settings' UI.
  explicit SettingsWindowModel(CVantriSettings& settings);

  // Grouped: one group row followed by its property rows, groups in table order. Alphabetical:
  // property rows only, sorted by property name.
  std::vector<Row> Rows() const;
  void SetAlphabetical(bool alphabetical) { alphabetical_ = alphabetical; }
  bool Alphabetical() const { return alphabetical_; }

  // Edits one value. Refused (0, with a message) for an unknown property, a value outside the
  // fixed choice, or a value holding ':' (the settings file separates list elements with it).
  int SetValue(const std::string& property, const std::string& value);
  std::string ShownValue(const std::string& property) const;
  // Puts back the values shown when the window opened.
  void Restore();
  // Rebuilds the value table from the grid (shown value followed by its choices) and validates.
  // On success the settings receive the new table and 1 is returned (the window closes); on
  // failure the settings are left unchanged and the validation message has been shown.
  int Ok();

 private:
  struct Shown {
    std::string property;
    std::string value;
  };
  const Shown* Find(const std::string& property) const;

  CVantriSettings& settings_;
  std::vector<Shown> opening_;
  std::vector<Shown> shown_;
  bool alphabetical_ = false;
};

}  // namespace vantri::project
