#include "settings_window.h"

#include <algorithm>

#include "ui_interface/ui.h"

namespace vantri::project {

SettingsWindowModel::SettingsWindowModel(CVantriSettings& settings) : settings_(settings) {
  for (const SettingsGroup& group : settings_.groups)
    for (const std::string& property : group.properties)
      opening_.push_back({property, settings_.Value(property)});
  shown_ = opening_;
}

const SettingsWindowModel::Shown* SettingsWindowModel::Find(const std::string& property) const {
  for (const Shown& s : shown_)
    if (s.property == property) return &s;
  return nullptr;
}

std::string SettingsWindowModel::ShownValue(const std::string& property) const {
  const Shown* s = Find(property);
  return s == nullptr ? std::string() : s->value;
}

std::vector<SettingsWindowModel::Row> SettingsWindowModel::Rows() const {
  auto propertyRow = [this](const std::string& group, const std::string& property) {
    Row row;
    row.group = group;
    row.property = property;
    row.value = ShownValue(property);
    row.description = settings_.Description(property);
    row.choices = settings_.Choices(property);
    for (const Shown& s : opening_)
      if (s.property == property) row.modified = s.value != row.value;
    return row;
  };
  std::vector<Row> rows;
  for (const SettingsGroup& group : settings_.groups) {
    if (!alphabetical_) rows.push_back(Row{true, group.name, {}, {}, {}, {}, false});
    for (const std::string& property : group.properties)
      rows.push_back(propertyRow(group.name, property));
  }
  if (alphabetical_)
    std::stable_sort(rows.begin(), rows.end(),
                     [](const Row& a, const Row& b) { return a.property < b.property; });
  return rows;
}

int SettingsWindowModel::SetValue(const std::string& property, const std::string& value) {
  auto refuse = [this](const std::string& message) {
    if (settings_.GetUi() != nullptr)
      settings_.GetUi()->ShowMessage(message, vantri::MessageIcon::kExclamation);
    return 0;
  };
  auto it = std::find_if(shown_.begin(), shown_.end(),
                         [&](const Shown& s) { return s.property == property; });
  if (it == shown_.end()) return refuse("Unknown property '" + property + "'!");
  if (value.find(':') != std::string::npos)
    return refuse("The value of '" + property + "' cannot contain ':'!");
  const TextList choices = settings_.Choices(property);
  if (!choices.empty() && std::find(choices.begin(), choices.end(), value) == choices.end()) {
    std::string allowed;
    for (const std::string& c : choices) allowed += (allowed.empty() ? "" : ", ") + c;
    return refuse("Invalid value for '" + property + "'! Allowed values: " + allowed);
  }
  it->value = value;
  return 1;
}

void SettingsWindowModel::Restore() { shown_ = opening_; }

int SettingsWindowModel::Ok() {
  CVantriSettings candidate(settings_);
  candidate.values.clear();
  for (const Shown& s : shown_) {
    TextList list{s.value};
    for (const std::string& choice : settings_.Choices(s.property)) list.push_back(choice);
    candidate.values[s.property] = list;
  }
  if (candidate.Validate() == 0) return 0;
  settings_.values = candidate.values;
  return 1;
}

}  // namespace vantri::project
