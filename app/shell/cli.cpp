#include "shell/cli.h"

#include <gdal.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <map>
#include <set>

#include "aat/aat_process.h"
#include "aat/srtm.h"
#include "crs/coordinate_system.h"
#include "bundle/bundle_process.h"
#include "import/exif_import.h"
#include "import/import_command.h"
#include "platform/nvtools.h"
#include "platform/passport.h"
#include "platform/ui.h"
#include "points/measure_command.h"
#include "project/file_io.h"
#include "project/footprints.h"
#include "project/images_manager.h"
#include "project/passport_editor.h"
#include "project/project.h"
#include "project/project_flows.h"
#include "project/settings_window.h"
#include "shell/project_terrain.h"
#include "shell/report_command.h"

namespace vantri::cli {
namespace {

constexpr const char* kMainUsage =
    "Usage: vantri-cli [--yes|--no] <command> [options]\n"
    "Commands:\n"
    "  passport create   write a camera passport file\n"
    "  passport show     print a camera passport file\n"
    "  new               create a project folder and its project file\n"
    "  info              print the Project Info and Camera Info of a project\n"
    "  settings          print, change and validate the process settings of a project\n"
    "  crs               print the coordinate system of a project\n"
    "  import-gps        GPS/IMU data of the images from a delimited text file\n"
    "  import-gcp        control points from a delimited text file into GCP.col\n"
    "  import-cp         check points from a delimited text file into CP.col\n"
    "  import-exif       GPS positions (EXIF) and UAV attitudes (XMP) of the images\n"
    "  measure           image measurements of control or check points from a text file\n"
    "  dem               use an external DEM file in a project, or stop using it\n"
    "  srtm-folder       set the SRTM folder (and show the tile of a project)\n"
    "  add-images        add image files to a project\n"
    "  footprints        print the image footprints and the Project Info of a project\n"
    "  aat               automatic aerial triangulation: tie points, adjustment, georeference\n"
    "  bundle            bundle adjustment on the control points, report and result files\n"
    "  report            write the accuracy report (HTML) of the last bundle run\n"
    "--yes / --no answer every question; without them questions are read from the terminal.\n"
    "'vantri-cli <command> --help' describes a command.\n";

struct CommandSyntax {
  const char* usage;
  std::set<std::string> value_options;  // "--name VALUE"
  std::set<std::string> flags;          // "--name"
  std::set<std::string> repeated;       // value options that may repeat
  size_t positional = 0;                // exact number of positional arguments
};

const CommandSyntax kPassportCreate{
    "Usage: vantri-cli passport create --out FILE --model M --serial S --lens L\n"
    "         --date DD-MM-YYYY --focal MM --pixel MM --width PX --height PX --ppx PX --ppy PX\n"
    "         [--k1 V --k2 V --k3 V --p1 V --p2 V]\n"
    "Writes a passport with metric distortion coefficients (K1..P2, default 0) after the\n"
    "passport editor's checks. Without --out the file goes to the passport archive as\n"
    "<model>-<serial>-<lens>-<date>.bcc. An existing file is overwritten only with --yes.\n",
    {"--out", "--model", "--serial", "--lens", "--date", "--focal", "--pixel", "--width",
     "--height", "--ppx", "--ppy", "--k1", "--k2", "--k3", "--p1", "--p2"},
    {},
    {},
    0};
const CommandSyntax kPassportShow{
    "Usage: vantri-cli passport show FILE\n"
    "Prints every field of a passport file (bcc, cvc, rdr or ccb).\n",
    {},
    {},
    {},
    1};
const CommandSyntax kNew{
    "Usage: vantri-cli new --folder DIR --name NAME --passport FILE\n"
    "         [--projection NAME --datum NAME --fuse NAME | --epsg N | --wkt-file FILE]\n"
    "Creates DIR/NAME/ with a copy of the passport file and DIR/NAME/NAME.bun.\n"
    "Projection names: \"None (Local Coordinate System)\", \"UTM\", \"Transvers Mercator\",\n"
    "\"Geographic\", ...; datum names as in the datum table (\"World Geodetic System 1984\");\n"
    "fuse names \"32 N\", \"33 S\", \"W\", \"E\". Without a choice the system stays undefined.\n",
    {"--folder", "--name", "--passport", "--projection", "--datum", "--fuse", "--epsg",
     "--wkt-file"},
    {},
    {},
    0};
const CommandSyntax kInfo{
    "Usage: vantri-cli info PROJECT.bun\n"
    "Prints the Project Info and Camera Info messages.\n",
    {},
    {},
    {},
    1};
const CommandSyntax kSettings{
    "Usage: vantri-cli settings PROJECT.bun [--set \"PROPERTY=VALUE\"]... [--validate]\n"
    "Prints the process settings (settings.ini of the project folder). --set changes values as\n"
    "the Process Settings window does; the changes are validated and saved only when every rule\n"
    "holds. --validate checks the stored values.\n",
    {"--set"},
    {"--validate"},
    {"--set"},
    1};
const CommandSyntax kCrs{
    "Usage: vantri-cli crs PROJECT.bun\n"
    "Prints the coordinate-system names, the user WKT / EPSG and the WKT.\n",
    {},
    {},
    {},
    1};

struct Options {
  std::map<std::string, std::string> values;
  std::vector<std::string> sets;
  std::set<std::string> flags;
  std::vector<std::string> positional;
  bool help = false;

  std::string get(const std::string& name) const {
    const auto it = values.find(name);
    return it == values.end() ? std::string() : it->second;
  }
  bool has(const std::string& name) const { return values.count(name) != 0; }
};

class Cli {
 public:
  Cli(std::istream& in, std::ostream& out, std::ostream& err, ConsoleUi::Policy policy)
      : out_(out), err_(err), ui_(policy, in, out, err) {
    ui_.set_quiet_log(true);
  }

  int run(std::vector<std::string> args);

 private:
  int usageError(const std::string& message, const CommandSyntax* syntax) {
    err_ << "vantri-cli: " << message << "\n" << (syntax ? syntax->usage : kMainUsage);
    return kExitUsage;
  }
  int failure(const std::string& message) {
    ui_.ShowMessage(message, MessageIcon::kExclamation, {});
    return kExitFailure;
  }
  int parse(const std::vector<std::string>& args, size_t first, const CommandSyntax& syntax,
            Options& options);
  int openProject(const std::string& path, CVantriProject& project);

  int passportCreate(const Options& o);
  int passportShow(const Options& o);
  int newProject(const Options& o);
  int info(const Options& o);
  int settings(const Options& o);
  int crs(const Options& o);
  int addImages(const std::vector<std::string>& args);
  int footprints(const std::vector<std::string>& args);

  std::ostream& out_;
  std::ostream& err_;
  ConsoleUi ui_;
};

int Cli::parse(const std::vector<std::string>& args, size_t first, const CommandSyntax& syntax,
               Options& options) {
  for (size_t i = first; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") {
      options.help = true;
    } else if (syntax.value_options.count(arg) != 0) {
      if (i + 1 >= args.size()) return usageError("option " + arg + " needs a value", &syntax);
      const std::string& value = args[++i];
      if (syntax.repeated.count(arg) != 0)
        options.sets.push_back(value);
      else if (!options.values.emplace(arg, value).second)
        return usageError("option " + arg + " given twice", &syntax);
    } else if (syntax.flags.count(arg) != 0) {
      options.flags.insert(arg);
    } else if (arg.size() > 1 && arg[0] == '-') {
      return usageError("unknown option '" + arg + "'", &syntax);
    } else {
      options.positional.push_back(arg);
    }
  }
  if (!options.help && options.positional.size() != syntax.positional)
    return usageError(syntax.positional == 0
                          ? "unexpected argument '" + options.positional[0] + "'"
                          : "expected " + std::to_string(syntax.positional) + " file argument",
                      &syntax);
  return kExitOk;
}

int Cli::run(std::vector<std::string> args) {
  if (args.empty()) return usageError("no command given", nullptr);
  if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    out_ << kMainUsage;
    return kExitOk;
  }
  // The import and DEM commands parse their own arguments.
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  using vantri::import::ImportMode;
  if (args[0] == "import-gps")
    return vantri::import::runImportCommand(ImportMode::kGpsImu, rest, ui_, out_, err_);
  if (args[0] == "import-gcp")
    return vantri::import::runImportCommand(ImportMode::kGcp, rest, ui_, out_, err_);
  if (args[0] == "import-cp")
    return vantri::import::runImportCommand(ImportMode::kCheckPoints, rest, ui_, out_, err_);
  if (args[0] == "import-exif") return vantri::import::RunImportExifCommand(rest, ui_, out_, err_);
  if (args[0] == "measure") return vantri::points::RunMeasureCommand(rest, ui_, out_, err_);
  if (args[0] == "dem") return vantri::aat::runDemCommand(rest, ui_, out_, err_);
  if (args[0] == "srtm-folder") return vantri::aat::runSrtmFolderCommand(rest, ui_, out_, err_);
  if (args[0] == "aat") {
    ui_.set_quiet_log(false);  // the run's log lines are its progress report
    return vantri::aat::runAatCommand(rest, ui_, out_, err_);
  }
  if (args[0] == "bundle") {
    ui_.set_quiet_log(false);
    return vantri::bundle::RunBundleCommand(rest, ui_, out_, err_);
  }
  if (args[0] == "add-images") return addImages(rest);
  if (args[0] == "footprints") return footprints(rest);
  if (args[0] == "report") return RunReportCommand(rest, ui_, out_, err_);
  struct Command {
    std::vector<std::string> words;
    const CommandSyntax* syntax;
    int (Cli::*handler)(const Options&);
  };
  const std::vector<Command> commands = {
      {{"passport", "create"}, &kPassportCreate, &Cli::passportCreate},
      {{"passport", "show"}, &kPassportShow, &Cli::passportShow},
      {{"new"}, &kNew, &Cli::newProject},
      {{"info"}, &kInfo, &Cli::info},
      {{"settings"}, &kSettings, &Cli::settings},
      {{"crs"}, &kCrs, &Cli::crs}};
  for (const Command& command : commands) {
    if (args.size() < command.words.size() ||
        !std::equal(command.words.begin(), command.words.end(), args.begin()))
      continue;
    Options options;
    if (const int parsed = parse(args, command.words.size(), *command.syntax, options);
        parsed != kExitOk)
      return parsed;
    if (options.help) {
      out_ << command.syntax->usage;
      return kExitOk;
    }
    return (this->*command.handler)(options);
  }
  if (args[0] == "passport") return usageError("'passport' needs 'create' or 'show'", nullptr);
  return usageError("unknown command '" + args[0] + "'", nullptr);
}

// ---- passport ----------------------------------------------------------------------------------

int Cli::passportCreate(const Options& o) {
  for (const char* required : {"--model", "--serial", "--lens", "--date", "--focal", "--pixel",
                               "--width", "--height", "--ppx", "--ppy"})
    if (!o.has(required))
      return usageError(std::string("missing option ") + required, &kPassportCreate);
  for (const char* numeric :
       {"--focal", "--pixel", "--ppx", "--ppy", "--k1", "--k2", "--k3", "--p1", "--p2"}) {
    double value = 0;
    if (o.has(numeric) && NVT_StringToDouble(o.get(numeric), &value) == 0)
      return usageError(std::string(numeric) + ": '" + o.get(numeric) + "' is not a number",
                        &kPassportCreate);
  }
  for (const char* integer : {"--width", "--height"}) {
    int value = 0;
    if (NVT_StringToInt(o.get(integer), &value) == 0)
      return usageError(std::string(integer) + ": '" + o.get(integer) + "' is not an integer",
                        &kPassportCreate);
  }
  PassportEditorValues values;
  values.model = o.get("--model");
  values.camera_serial = o.get("--serial");
  values.lens_serial = o.get("--lens");
  values.calibration_date = o.get("--date");
  values.focal_mm = o.get("--focal");
  values.pixel_mm = o.get("--pixel");
  values.width = o.get("--width");
  values.height = o.get("--height");
  values.ppx = o.get("--ppx");
  values.ppy = o.get("--ppy");
  values.k1 = o.get("--k1");
  values.k2 = o.get("--k2");
  values.k3 = o.get("--k3");
  values.p1 = o.get("--p1");
  values.p2 = o.get("--p2");
  CBCCCameraPassport passport;
  if (CheckPassportEditor(ui_, values, passport) == 0) return kExitFailure;
  const std::string path =
      o.has("--out") ? o.get("--out")
                     : passport_archive_folder() + "/" + PassportEditorFileName(passport) + ".bcc";
  if (SavePassportFromEditor(ui_, passport, path) == 0)
    return failure("Passport not saved: " + path);
  out_ << "Passport saved: " << path << "\n";
  return kExitOk;
}

int Cli::passportShow(const Options& o) {
  const std::string& path = o.positional[0];
  std::unique_ptr<CCameraPassport> p = CCameraPassport::New(path);
  if (p == nullptr) return failure("Unable to open camera passport");
  const DistortionCoefficients metric = p->MetricCoefficients();
  const DistortionCoefficients normalised = p->NormalisedCoefficients();
  char line[256];
  out_ << "File: " << path << "\nClass: " << p->Extension() << " (type code " << p->TypeCode()
       << ")\nCamera Model: " << p->model << "\nCamera Serial Number: " << p->camera_serial
       << "\nLens Serial Number: " << p->lens_serial << "\nLens Nominal C: " << p->lens_constant
       << "\nCalibration Date: " << p->calibration_date << "\n";
  std::snprintf(line, sizeof line, "Focal Length: %.6f mm (%.3f pix)\nPixel Size (mm): %.12f\n",
                p->focal_mm, p->FocalPixels(), p->pixel_mm);
  out_ << line;
  std::snprintf(line, sizeof line,
                "Raster Dimension: %d x %d pix\nPrincipal Point: (%.3f, %.3f) pix\n", p->width,
                p->height, p->ppx, p->ppy);
  out_ << line;
  const char* names[5] = {"K1", "K2", "K3", "P1", "P2"};
  const double m[5] = {metric.k1, metric.k2, metric.k3, metric.p1, metric.p2};
  const double n[5] = {normalised.k1, normalised.k2, normalised.k3, normalised.p1, normalised.p2};
  for (int k = 0; k < 5; ++k) {
    std::snprintf(line, sizeof line, "%s: %.12g (normalised %.12g)\n", names[k], m[k], n[k]);
    out_ << line;
  }
  out_ << "Lens distortion: " << (p->HasLensDistortion() ? "yes" : "no") << "\n";
  return kExitOk;
}

// ---- project commands --------------------------------------------------------------------------

int Cli::openProject(const std::string& path, CVantriProject& project) {
  return OpenProjectPath(project, ui_, path) != 0 ? kExitOk : kExitFailure;
}

// Coordinate-system options of "new", checked before anything is created.
int chooseCoordinateSystem(const Options& o, crs::CoordinateSystem& cs, std::string& error) {
  const int choices = (o.has("--projection") || o.has("--datum") || o.has("--fuse")) +
                      o.has("--epsg") + o.has("--wkt-file");
  if (choices > 1) {
    error = "give either --projection/--datum/--fuse, --epsg or --wkt-file";
    return kExitUsage;
  }
  if (o.has("--epsg")) {
    int code = 0;
    if (NVT_StringToInt(o.get("--epsg"), &code) == 0 || crs::wkt_from_epsg(code).empty()) {
      error = "Invalid EPSG code!";
      return kExitFailure;
    }
    cs.set_user_epsg(code);
  } else if (o.has("--wkt-file")) {
    std::string text;
    if (!readWholeFile(o.get("--wkt-file"), text) || text.empty()) {
      error = "Unable to read selected file!";
      return kExitFailure;
    }
    if (crs::wkt_from_user_text(text).empty()) {
      error = "Invalid WKT string!";
      return kExitFailure;
    }
    cs.set_user_wkt(text);
  } else if (o.has("--projection")) {
    const int32_t projection = crs::projection_index(o.get("--projection"));
    if (projection < 0) {
      error = "Select a valid projection";
      return kExitFailure;
    }
    cs.projection = projection;
    cs.units = crs::kUnitsMeters;
    const bool needs_zone = projection == crs::kProjectionUtm ||
                            projection == crs::kProjectionTransverseMercator ||
                            projection == crs::kProjectionStatePlane;
    const bool needs_datum = needs_zone || projection == crs::kProjectionGeographic;
    if (needs_datum) {
      cs.datum = crs::datum_by_name(o.get("--datum"));
      if (cs.datum.code < 0) {
        error = "Select Datum!";
        return kExitFailure;
      }
    } else {
      cs.datum = crs::datum_not_defined();
    }
    cs.fuse = needs_zone ? crs::fuse_value(o.get("--fuse")) : crs::kFuseNotDefined;
    if (needs_zone && cs.fuse == crs::kFuseNotDefined) {
      error = "Select Fuse!";
      return kExitFailure;
    }
    if (projection != crs::kProjectionNone && cs.build_wkt().empty()) {
      error = "Unable to build the coordinate system '" + o.get("--projection") + "' with datum '" +
              o.get("--datum") + "' and fuse '" + o.get("--fuse") + "'!";
      return kExitFailure;
    }
  } else if (o.has("--datum") || o.has("--fuse")) {
    error = "--datum and --fuse need --projection";
    return kExitUsage;
  } else {
    return kExitOk;
  }
  if (cs.rebuild_transformations() == 0 && cs.projection != crs::kProjectionNone) {
    error = "Unable to set coordinate conversion!";
    return kExitFailure;
  }
  return kExitOk;
}

int Cli::newProject(const Options& o) {
  for (const char* required : {"--folder", "--name", "--passport"})
    if (!o.has(required)) return usageError(std::string("missing option ") + required, &kNew);
  const std::string name = o.get("--name");
  if (name.find_first_of("/\\") != std::string::npos || name == "." || name == "..")
    return failure("Invalid project name '" + name + "'!");

  crs::CoordinateSystem chosen;
  const bool has_choice = o.has("--projection") || o.has("--epsg") || o.has("--wkt-file");
  std::string error;
  if (const int result = chooseCoordinateSystem(o, chosen, error); result != kExitOk)
    return result == kExitUsage ? usageError(error, &kNew) : failure(error);

  NewProjectChoice choice;
  choice.parent_folder = o.get("--folder");
  choice.name = name;
  choice.passport_path = o.get("--passport");
  choice.passport = CCameraPassport::New(choice.passport_path);
  if (choice.passport == nullptr) return failure("Invalid camera passport!");

  CVantriProject project;
  const auto apply = [&](CVantriProject& p) {
    if (has_choice) p.coordinate_system = chosen;
  };
  RememberNewProjectFolder(o.get("--folder"));
  if (NewProject(project, ui_, std::move(choice), apply) == 0) return kExitFailure;
  out_ << "Project created: " << project.file_path << "\n";
  return kExitOk;
}

int Cli::info(const Options& o) {
  CVantriProject project;
  if (const int r = openProject(o.positional[0], project); r != kExitOk) return r;
  // As after Open in the desktop program: footprints on the terrain give the total area.
  ProjectTerrain terrain;
  terrain.LoadForProject(project);
  terrain.UpdateFootprints(project, ui_);
  ShowProjectInfo(project, ui_);
  out_ << "\n";
  ShowCameraInfo(project, ui_);
  return kExitOk;
}

int Cli::crs(const Options& o) {
  CVantriProject project;
  if (const int r = openProject(o.positional[0], project); r != kExitOk) return r;
  out_ << crs::describe(project.coordinate_system);
  return kExitOk;
}

void printSettings(const CVantriSettings& settings, std::ostream& out) {
  for (const SettingsGroup& group : settings.groups) {
    out << "[" << group.name << "]\n";
    for (const std::string& property : group.properties) {
      out << "  " << property << " = " << settings.Value(property);
      const TextList choices = settings.Choices(property);
      if (!choices.empty()) {
        out << "  (choices:";
        for (const std::string& c : choices) out << " " << c;
        out << ")";
      }
      out << "\n      " << settings.Description(property) << "\n";
    }
  }
}

int Cli::settings(const Options& o) {
  CVantriProject project;
  if (const int r = openProject(o.positional[0], project); r != kExitOk) return r;
  if (!o.sets.empty()) {
    std::string refused;
    const auto window = [&](CVantriSettings& settings) {
      SettingsWindowModel model(settings);
      for (const std::string& assignment : o.sets) {
        const size_t eq = assignment.find('=');
        if (eq == std::string::npos) {
          refused = "--set needs PROPERTY=VALUE, got '" + assignment + "'";
          return false;
        }
        if (model.SetValue(assignment.substr(0, eq), assignment.substr(eq + 1)) == 0) return false;
      }
      return model.Ok() != 0;
    };
    if (RunSettingsCommand(project, ui_, window) == 0) {
      if (!refused.empty()) return usageError(refused, &kSettings);
      return failure("Settings not saved.");
    }
    out_ << "Settings saved: " << SettingsPath(project) << "\n";
  }
  printSettings(project.settings, out_);
  if (o.flags.count("--validate") != 0) {
    if (project.settings.Validate() == 0) return kExitFailure;
    out_ << "Settings are valid.\n";
  }
  return kExitOk;
}

// ---- images and footprints ---------------------------------------------------------------------

constexpr const char* kAddImagesUsage =
    "Usage: vantri-cli add-images PROJECT.bun FILES...\n"
    "Adds the images as the Images Manager's Add does: files already listed (same file title),\n"
    "unreadable files, files of another raster size than the passport and, when the project\n"
    "works on undistorted images, files without the undistortion metadata are skipped. Then the\n"
    "SRTM tile is chosen and the footprints are updated; the project is saved.\n";
constexpr const char* kFootprintsUsage =
    "Usage: vantri-cli footprints PROJECT.bun\n"
    "Computes the footprint of every image with GPS/IMU data on the project's external DEM (when\n"
    "switched on) or SRTM tile and prints its vertices (project units), then the Project Info\n"
    "with the total area.\n";

bool wantsHelp(const std::vector<std::string>& args) {
  return std::find_if(args.begin(), args.end(), [](const std::string& a) {
           return a == "--help" || a == "-h";
         }) != args.end();
}

int Cli::addImages(const std::vector<std::string>& args) {
  if (wantsHelp(args)) {
    out_ << kAddImagesUsage;
    return kExitOk;
  }
  for (const std::string& arg : args)
    if (arg.size() > 1 && arg[0] == '-') {
      err_ << "vantri-cli: unknown option '" << arg << "'\n" << kAddImagesUsage;
      return kExitUsage;
    }
  if (args.size() < 2) {
    err_ << "vantri-cli: expected a project file and at least one image\n" << kAddImagesUsage;
    return kExitUsage;
  }
  CVantriProject project;
  if (const int r = openProject(args[0], project); r != kExitOk) return r;
  if (!CanOpenImagesManager(project, ui_)) return kExitFailure;
  ImagesManager manager(project, ui_);
  ProjectTerrain terrain;
  terrain.BindHooks(manager, ui_);
  std::vector<std::string> files(args.begin() + 1, args.end());
  for (std::string& file : files)
    file = std::filesystem::absolute(file).lexically_normal().string();
  const AddImagesResult result = manager.AddImages(files);
  out_ << result.added << " images added, " << result.skipped << " skipped\n"
       << manager.Label() << "\n";
  if (result.added == 0) return failure("No image added.");
  if (SaveProject(project) == 0) return failure("Unable to save project!");
  return kExitOk;
}

void printFootprint(const CABAImage& image, const std::vector<std::array<double, 2>>& outline,
                    std::ostream& out) {
  char line[128];
  out << "Footprint " << image.Name() << ": " << outline.size() << " vertices\n";
  for (const auto& vertex : outline) {
    std::snprintf(line, sizeof line, "  %.3f %.3f\n", vertex[0], vertex[1]);
    out << line;
  }
}

int Cli::footprints(const std::vector<std::string>& args) {
  if (wantsHelp(args)) {
    out_ << kFootprintsUsage;
    return kExitOk;
  }
  if (args.size() != 1 || (args[0].size() > 1 && args[0][0] == '-')) {
    err_ << "vantri-cli: expected one project file\n" << kFootprintsUsage;
    return kExitUsage;
  }
  CVantriProject project;
  if (const int r = openProject(args[0], project); r != kExitOk) return r;
  ProjectTerrain terrain;
  if (!terrain.LoadForProject(project))
    out_ << "No elevation model covers the image positions: footprints on height 0\n";
  else
    out_ << (terrain.IsExternal() ? "External DEM: " : "SRTM tile: ") << terrain.Path() << "\n";
  terrain.UpdateFootprints(project, ui_);
  for (int i = 0; i < project.ImageCount(); ++i) {
    const CABAImage& image = *project.Image(i);
    if (image.footprint_handle == 0)
      out_ << "Footprint " << image.Name() << ": none (no GPS/IMU data)\n";
    else
      printFootprint(image, project.footprints[i], out_);
  }
  out_ << ProjectInfoText(project) << "\n";
  return kExitOk;
}

}  // namespace

int Run(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
        std::ostream& err, bool interactive) {
  // Every command may open rasters (images, SRTM tiles, DEMs).
  GDALAllRegister();
  std::vector<std::string> rest = args;
  ConsoleUi::Policy policy =
      interactive ? ConsoleUi::Policy::kAskStdin : ConsoleUi::Policy::kAnswerNo;
  while (!rest.empty() && (rest.front() == "--yes" || rest.front() == "--no")) {
    policy = rest.front() == "--yes" ? ConsoleUi::Policy::kAnswerYes : ConsoleUi::Policy::kAnswerNo;
    rest.erase(rest.begin());
  }
  Cli cli(in, out, err, policy);
  return cli.run(std::move(rest));
}

}  // namespace vantri::cli
