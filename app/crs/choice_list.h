#pragma once
// The state of one drop-down list of a window: its entries, the selected entry and whether the
// operator can use it. Window logic works on these; the Qt windows only draw them.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vantri::crs {

struct ChoiceList {
  std::vector<std::string> items;
  int selection = -1;  // index into items, -1 for none
  bool enabled = true;

  bool HasSelection() const { return selection >= 0 && selection < static_cast<int>(items.size()); }
  // The selected text, empty when nothing is selected.
  std::string Selected() const { return HasSelection() ? items[selection] : std::string(); }

  // Selects the first entry equal to `text`; when there is none the selection is unchanged and
  // the result is false.
  bool Select(std::string_view text) {
    for (size_t i = 0; i < items.size(); ++i) {
      if (items[i] == text) {
        selection = static_cast<int>(i);
        return true;
      }
    }
    return false;
  }
  // Selects by position; an index outside the list clears the selection.
  void SelectIndex(int index) {
    selection = (index >= 0 && index < static_cast<int>(items.size())) ? index : -1;
  }
  void ClearSelection() { selection = -1; }
  void Fill(std::vector<std::string> entries) {
    items = std::move(entries);
    selection = -1;
  }
  void Clear() { Fill({}); }
};

}  // namespace vantri::crs
