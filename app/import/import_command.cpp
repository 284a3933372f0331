#include "import/import_command.h"

#include <algorithm>
#include <cctype>
#include <ostream>

#include "import/control_point_files.h"
#include "import/project_import.h"
#include "platform/ui.h"
#include "project/project.h"
#include "project/project_flows.h"

namespace vantri::import {
namespace {

constexpr int kExitOk = 0, kExitFailure = 1, kExitUsage = 2;

// "varxy", "var_xy", "Var XY" -> "varxy".
std::string columnKey(std::string text) {
  std::string key;
  for (unsigned char c : text)
    if (std::isalnum(c)) key += static_cast<char>(std::tolower(c));
  return key;
}

// Target title of a --columns entry in this mode; "" for skip; nullopt-like "?" when unknown.
std::string targetTitle(const std::string& entry, const std::vector<std::string>& titles) {
  const std::string key = columnKey(entry);
  if (key.empty() || key == "skip") return "";
  for (const auto& title : titles)
    if (columnKey(title) == key) return title;
  return "?";
}

std::vector<std::string> splitList(const std::string& list) {
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

std::string targetTitlesText(ImportMode mode, UserInterface& ui) {
  PointImportModel model(mode, ui);
  std::string text;
  for (const auto& title : model.targetColumns()) text += (text.empty() ? "" : ", ") + title;
  return text;
}

}  // namespace

const char* importCommandUsage(ImportMode mode) {
  switch (mode) {
    case ImportMode::kGpsImu:
      return "Usage: vantri-cli import-gps PROJECT.bun FILE [--separators TEXT] [--comments TEXT]\n"
             "         [--columns id,x,y,z,omega,phi,kappa,varxy,varz,varop,vark]\n"
             "         [--angles deg|grad|rad] [--geographic]\n"
             "Sets position, attitude and variances of every image whose file title matches a\n"
             "row's ID, writes GPS_coordinates.vtp and saves the project.\n";
    case ImportMode::kGcp:
      return "Usage: vantri-cli import-gcp PROJECT.bun FILE [--separators TEXT] [--comments TEXT]\n"
             "         [--columns id,x,y,z,varxy,varz] [--geographic]\n"
             "Adds the file's points not yet present to GCP.col; empty IDs become ptc_000, ...\n";
    case ImportMode::kCheckPoints:
      break;
  }
  return "Usage: vantri-cli import-cp PROJECT.bun FILE [--separators TEXT] [--comments TEXT]\n"
         "         [--columns id,x,y,z] [--geographic]\n"
         "Adds the file's points not yet present to CP.col; empty IDs become ptc_000, ...\n";
}

std::string parseImportOptions(ImportMode mode, const std::vector<std::string>& args,
                               ImportOptions* options) {
  std::vector<std::string> positional;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const bool has_value = i + 1 < args.size();
    if (arg == "--geographic") {
      options->geographic = true;
    } else if (arg == "--separators" || arg == "--comments" || arg == "--columns" ||
               arg == "--angles") {
      if (!has_value) return "Option " + arg + " needs a value";
      const std::string& value = args[++i];
      if (arg == "--separators") {
        options->separators = value;
        options->has_separators = true;
      } else if (arg == "--comments") {
        options->comments = value;
        options->has_comments = true;
      } else if (arg == "--columns") {
        options->columns = splitList(value);
      } else {
        options->angles = value;
      }
    } else if (arg.rfind("--", 0) == 0) {
      return "Unknown option " + arg;
    } else {
      positional.push_back(arg);
    }
  }
  if (positional.size() != 2) return "Expected PROJECT.bun and FILE";
  options->project_path = positional[0];
  options->file_path = positional[1];
  if (options->angles != "deg" && options->angles != "grad" && options->angles != "rad")
    return "--angles takes deg, grad or rad";
  if (mode != ImportMode::kGpsImu && options->angles != "rad")
    return "--angles applies to GPS/IMU data only";
  return {};
}

std::string applyImportOptions(const ImportOptions& options, PointImportModel* model) {
  if (options.has_separators || options.has_comments)
    model->setParsingOptions(options.has_comments ? options.comments : model->comments(),
                             options.has_separators ? options.separators : model->separators());
  if (!options.columns.empty()) {
    const int count = static_cast<int>(model->targetColumns().size());
    for (int k = 0; k < count; ++k) model->assign(k, -1);
    for (std::size_t source = 0; source < options.columns.size(); ++source) {
      const std::string title = targetTitle(options.columns[source], model->targetColumns());
      if (title == "?") return "Unknown column \"" + options.columns[source] + "\"";
      if (!title.empty()) model->assign(model->targetColumn(title), static_cast<int>(source));
    }
  }
  if (model->mode() == ImportMode::kGpsImu && options.angles != "rad") {
    const char* command = options.angles == "deg" ? kDegToRad : kGradToRad;
    for (const char* angle : {"Omega", "Phi", "Kappa"})
      model->runColumnCommand(model->targetColumn(angle), command);
  }
  return {};
}

int runImportCommand(ImportMode mode, const std::vector<std::string>& args, UserInterface& ui,
                     std::ostream& out, std::ostream& err) {
  if (std::find(args.begin(), args.end(), "--help") != args.end()) {
    out << importCommandUsage(mode);
    return kExitOk;
  }
  ImportOptions options;
  if (const std::string usage = parseImportOptions(mode, args, &options); !usage.empty()) {
    err << usage << "\n" << importCommandUsage(mode);
    return kExitUsage;
  }
  CVantriProject project;
  if (!OpenProjectPath(project, ui, options.project_path)) return kExitFailure;

  PointImportModel model(mode, ui);
  if (!model.openFile(options.file_path)) return kExitFailure;
  if (const std::string failure = applyImportOptions(options, &model); !failure.empty()) {
    err << failure << " (targets: " << targetTitlesText(mode, ui) << ")\n";
    return kExitUsage;
  }
  model.selectAll();
  if (options.geographic) {
    WindowCoordinateConversion conversion(ui, chooseUtmAutomatically);
    if (!model.convertCoordinates(conversion)) return kExitFailure;
  }

  if (mode == ImportMode::kGpsImu) {
    if (!importGpsImuIntoProject(model, project)) return kExitFailure;
    if (!SaveProject(project)) {
      err << "Unable to save the project " << project.file_path << "\n";
      return kExitFailure;
    }
    return kExitOk;
  }

  std::vector<SFIO_ControlPoint> records;
  if (!importControlPointsIntoProject(model, project, &records)) {
    err << "No valid data or already imported control points\n";
    return kExitFailure;
  }
  const std::string collection = project.folder + (mode == ImportMode::kGcp ? "GCP.col" : "CP.col");
  int added = 0;
  if (!addImportedPoints(collection, records, &added)) {
    err << "Unable to update " << collection << "\n";
    return kExitFailure;
  }
  if (added == 0) {
    ui.ShowMessage("No valid point to import or points already imported!", MessageIcon::kWarning);
    return kExitFailure;
  }
  ui.ShowMessage(std::to_string(added) + " control points imported", MessageIcon::kInformation);
  return kExitOk;
}

}  // namespace vantri::import
