#include "import/import_options.h"

#include <cctype>

namespace vantri::import {
namespace {

// "varxy", "var_xy", "Var XY" -> "varxy".
std::string ColumnKey(const std::string& text) {
  std::string key;
  for (unsigned char c : text)
    if (std::isalnum(c)) key += static_cast<char>(std::tolower(c));
  return key;
}

// Target title of a column entry in this mode; "" for skip; "?" when unknown.
std::string TargetTitle(const std::string& entry, const std::vector<std::string>& titles) {
  const std::string key = ColumnKey(entry);
  if (key.empty() || key == "skip") return "";
  for (const auto& title : titles)
    if (ColumnKey(title) == key) return title;
  return "?";
}

}  // namespace

std::vector<std::string> SplitColumnList(const std::string& list) {
  std::vector<std::string> items;
  std::string current;
  for (char c : list) {
    if (c == ',') {
      items.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  items.push_back(current);
  return items;
}

std::string CheckImportOptions(ImportMode mode, const ImportOptions& options) {
  if (options.angles != "deg" && options.angles != "grad" && options.angles != "rad")
    return "--angles takes deg, grad or rad";
  if (mode != ImportMode::kGpsImu && options.angles != "rad")
    return "--angles applies to GPS/IMU data only";
  return {};
}

std::string ApplyImportOptions(const ImportOptions& options, PointImportModel* model) {
  if (options.has_separators || options.has_comments)
    model->SetParsingOptions(options.has_comments ? options.comments : model->comments(),
                             options.has_separators ? options.separators : model->separators());
  if (!options.columns.empty()) {
    const int count = static_cast<int>(model->target_columns().size());
    for (int k = 0; k < count; ++k) model->Assign(k, -1);
    for (std::size_t source = 0; source < options.columns.size(); ++source) {
      const std::string title = TargetTitle(options.columns[source], model->target_columns());
      if (title == "?") return "Unknown column \"" + options.columns[source] + "\"";
      if (!title.empty()) model->Assign(model->TargetColumn(title), static_cast<int>(source));
    }
  }
  if (model->mode() == ImportMode::kGpsImu && options.angles != "rad") {
    const char* command = options.angles == "deg" ? kDegToRad : kGradToRad;
    for (const char* angle : {"Omega", "Phi", "Kappa"})
      model->RunColumnCommand(model->TargetColumn(angle), command);
  }
  return {};
}

std::string TargetTitlesText(ImportMode mode, UserInterface& ui) {
  PointImportModel model(mode, ui);
  std::string text;
  for (const auto& title : model.target_columns()) text += (text.empty() ? "" : ", ") + title;
  return text;
}

}  // namespace vantri::import
