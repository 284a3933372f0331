#include "shell/cli.h"

#include <gdal.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <limits>
#include <map>
#include <optional>
#include <set>
#include <streambuf>

#include "aat/aat_process.h"
#include "bundle/bundle_process.h"
#include "crs/coordinate_system.h"
#include "import/exif_import.h"
#include "photogrammetry/passport.h"
#include "points/measure_command.h"
#include "project/footprints.h"
#include "project/images_manager.h"
#include "project/passport_editor.h"
#include "project/project.h"
#include "project/project_flows.h"
#include "project/settings_window.h"
#include "shell/commands.h"
#include "shell/project_terrain.h"
#include "shell/report_command.h"
#include "shell/results_commands.h"
#include "system/files.h"
#include "system/nvtools.h"
#include "ui_interface/ui.h"

namespace vantri::shell {
namespace {

constexpr std::size_t kAnyCount = std::numeric_limits<std::size_t>::max();

// The parsed command line of one command.
struct Options {
  std::map<std::string, std::string> values;
  std::vector<std::string> sets;  // values of the repeatable option
  std::set<std::string> flags;
  std::vector<std::string> positional;
  bool help = false;

  std::string Get(const std::string& name) const {
    const auto it = values.find(name);
    return it == values.end() ? std::string() : it->second;
  }
  bool Has(const std::string& name) const { return values.count(name) != 0; }
  std::optional<std::string> Optional(const std::string& name) const {
    return Has(name) ? std::optional<std::string>(Get(name)) : std::nullopt;
  }
  bool Flag(const std::string& name) const { return flags.count(name) != 0; }
};

class Cli;

// One row of the command table: the command's words, its usage text, the options it takes, the
// number of positional arguments and the member that runs it.
struct Command {
  std::vector<std::string> words;
  const char* summary;
  const char* usage;
  std::set<std::string> value_options;  // "--name VALUE"
  std::set<std::string> flags;          // "--name"
  std::set<std::string> repeated;       // value options that may repeat
  std::size_t min_positional = 0;
  std::size_t max_positional = 0;    // kAnyCount: no limit
  const char* positional_text = "";  // what is expected, for the usage error
  int (Cli::*handler)(const Options&);
};

// Counts what a command writes to the error stream, so that a failure that printed nothing gets
// a line of its own.
class CountingBuffer : public std::streambuf {
 public:
  explicit CountingBuffer(std::streambuf* target) : target_(target) {}
  std::size_t count() const { return count_; }

 protected:
  int overflow(int c) override {
    if (c == traits_type::eof()) return traits_type::not_eof(c);
    ++count_;
    return target_->sputc(static_cast<char>(c));
  }
  std::streamsize xsputn(const char* text, std::streamsize n) override {
    count_ += static_cast<std::size_t>(n);
    return target_->sputn(text, n);
  }
  int sync() override { return target_->pubsync(); }

 private:
  std::streambuf* target_;
  std::size_t count_ = 0;
};

// The console form that also counts the messages shown.
class CountingConsoleUi : public ConsoleUi {
 public:
  using ConsoleUi::ConsoleUi;
  void ShowMessage(std::string_view text, MessageIcon icon, std::string_view caption) override {
    ++message_count_;
    ConsoleUi::ShowMessage(text, icon, caption);
  }
  int message_count() const { return message_count_; }

 private:
  int message_count_ = 0;
};

class Cli {
 public:
  Cli(std::istream& in, std::ostream& out, std::ostream& err, ConsoleUi::Policy policy)
      : out_(out), err_buffer_(err.rdbuf()), err_(&err_buffer_), ui_(policy, in, out, err_) {
    ui_.set_quiet_log(true);
  }

  int Run(const std::vector<std::string>& args);

  int PassportCreate(const Options& o);
  int PassportShow(const Options& o);
  int NewProject(const Options& o);
  int Info(const Options& o);
  int Settings(const Options& o);
  int Crs(const Options& o);
  int ImportGps(const Options& o) { return Import(import::ImportMode::kGpsImu, o); }
  int ImportGcp(const Options& o) { return Import(import::ImportMode::kGcp, o); }
  int ImportCp(const Options& o) { return Import(import::ImportMode::kCheckPoints, o); }
  int Dem(const Options& o);
  int SrtmFolder(const Options& o);
  int AddImages(const Options& o);
  int Footprints(const Options& o);
  int Export(const Options& o) {
    return RunExport(o.positional[0], o.Flag("--launch"), ui_, out_, err_);
  }
  int DisplaySettings(const Options& o) {
    return RunDisplaySettings(o.positional[0], o.sets, ui_, out_, err_);
  }
  int Display(const Options& o) { return RunDisplay(o.positional[0], ui_, out_, err_); }
  int ImportExif(const Options& o);
  int Measure(const Options& o);
  int Aat(const Options& o);
  int Bundle(const Options& o);
  int Report(const Options& o) {
    return ExitCode(WriteReportOfProjectFile(o.positional[0], ui_, out_, err_));
  }

 private:
  int UsageError(const std::string& message, const Command* command);
  static int ExitCode(bool succeeded) { return succeeded ? kExitOk : kExitFailure; }
  // The AAT and bundle runs' log lines are their progress report, so the console shows them.
  void ShowLog() { ui_.set_quiet_log(false); }
  int Failure(const std::string& message) {
    ui_.ShowMessage(message, MessageIcon::kExclamation, {});
    return kExitFailure;
  }
  int Parse(const std::vector<std::string>& args, const Command& command, Options& options);
  int RunCommand(const Command& command, const std::vector<std::string>& args);
  int OpenProject(const std::string& path, CVantriProject& project);
  int Import(import::ImportMode mode, const Options& o);

  std::ostream& out_;
  CountingBuffer err_buffer_;
  std::ostream err_;
  CountingConsoleUi ui_;
  const Command* current_ = nullptr;
};

const std::set<std::string> kImportValueOptions = {"--separators", "--comments", "--columns",
                                                   "--angles"};

// The command table: every command of vantri-cli, in the order of the main usage text.
const std::vector<Command>& Commands() {
  static const std::vector<Command> commands = {
      {{"passport", "create"},
       "write a camera passport file",
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
       0,
       0,
       "",
       &Cli::PassportCreate},
      {{"passport", "show"},
       "print a camera passport file",
       "Usage: vantri-cli passport show FILE\n"
       "Prints every field of a passport file (bcc, cvc, rdr or ccb).\n",
       {},
       {},
       {},
       1,
       1,
       "1 file argument",
       &Cli::PassportShow},
      {{"new"},
       "create a project folder and its project file",
       "Usage: vantri-cli new --folder DIR --name NAME --passport FILE\n"
       "         [--projection NAME --datum NAME --fuse NAME | --epsg N | --wkt-file FILE]\n"
       "Creates DIR/NAME/ with a copy of the passport file and DIR/NAME/NAME.bun.\n"
       "Projection names: \"None (Local Coordinate System)\", \"UTM\", \"Transvers Mercator\",\n"
       "\"Geographic\", ...; datum names as in the datum table (\"World Geodetic System 1984\");\n"
       "fuse names \"32 N\", \"33 S\", \"W\", \"E\". Without a choice the system stays "
       "undefined.\n",
       {"--folder", "--name", "--passport", "--projection", "--datum", "--fuse", "--epsg",
        "--wkt-file"},
       {},
       {},
       0,
       0,
       "",
       &Cli::NewProject},
      {{"info"},
       "print the Project Info and Camera Info of a project",
       "Usage: vantri-cli info PROJECT.bun\n"
       "Prints the Project Info and Camera Info messages.\n",
       {},
       {},
       {},
       1,
       1,
       "1 file argument",
       &Cli::Info},
      {{"settings"},
       "print, change and validate the process settings of a project",
       "Usage: vantri-cli settings PROJECT.bun [--set \"PROPERTY=VALUE\"]... [--validate]\n"
       "Prints the process settings (settings.ini of the project folder). --set changes values\n"
       "as the Process Settings window does; the changes are validated and saved only when every\n"
       "rule holds. --validate checks the stored values.\n",
       {"--set"},
       {"--validate"},
       {"--set"},
       1,
       1,
       "1 file argument",
       &Cli::Settings},
      {{"crs"},
       "print the coordinate system of a project",
       "Usage: vantri-cli crs PROJECT.bun\n"
       "Prints the coordinate-system names, the user WKT / EPSG and the WKT.\n",
       {},
       {},
       {},
       1,
       1,
       "1 file argument",
       &Cli::Crs},
      {{"import-gps"},
       "GPS/IMU data of the images from a delimited text file",
       "Usage: vantri-cli import-gps PROJECT.bun FILE [--separators TEXT] [--comments TEXT]\n"
       "         [--columns id,x,y,z,omega,phi,kappa,varxy,varz,varop,vark]\n"
       "         [--angles deg|grad|rad] [--geographic]\n"
       "Sets position, attitude and variances of every image whose file title matches a\n"
       "row's ID, writes GPS_coordinates.vtp and saves the project. --angles gives the unit of\n"
       "omega, phi, kappa in the file (default rad).\n",
       kImportValueOptions,
       {"--geographic"},
       {},
       2,
       2,
       "PROJECT.bun and FILE",
       &Cli::ImportGps},
      {{"import-gcp"},
       "control points from a delimited text file into GCP.col",
       "Usage: vantri-cli import-gcp PROJECT.bun FILE [--separators TEXT] [--comments TEXT]\n"
       "         [--columns id,x,y,z,varxy,varz] [--geographic]\n"
       "Adds the file's points not yet present to GCP.col; empty IDs become ptc_000, ...\n",
       kImportValueOptions,
       {"--geographic"},
       {},
       2,
       2,
       "PROJECT.bun and FILE",
       &Cli::ImportGcp},
      {{"import-cp"},
       "check points from a delimited text file into CP.col",
       "Usage: vantri-cli import-cp PROJECT.bun FILE [--separators TEXT] [--comments TEXT]\n"
       "         [--columns id,x,y,z] [--geographic]\n"
       "Adds the file's points not yet present to CP.col; empty IDs become ptc_000, ...\n",
       kImportValueOptions,
       {"--geographic"},
       {},
       2,
       2,
       "PROJECT.bun and FILE",
       &Cli::ImportCp},
      {{"import-exif"},
       "GPS positions (EXIF) and UAV attitudes (XMP) of the images",
       "Usage: vantri-cli import-exif PROJECT.bun [--attitude xmp|none]\n"
       "Sets each image's GPS position from the EXIF GPS tags of its file (WGS 84, "
       "transformed into\n"
       "the project system) and, with --attitude xmp (the default), its omega, phi, kappa "
       "from the\n"
       "UAV attitude in the XMP packet (DJI gimbal or flight angles, senseFly angles). Images "
       "without\n"
       "GPS tags are listed and left unchanged. Saves the project.\n",
       {"--attitude"},
       {},
       {},
       1,
       1,
       "PROJECT.bun",
       &Cli::ImportExif},
      {{"measure"},
       "image measurements of control or check points from a text file",
       "Usage: vantri-cli measure PROJECT.bun --gcp FILE | --cp FILE [--separators S]\n"
       "         [--comments C] [--columns point,image,col,row]\n"
       "Stores image measurements of control (--gcp) or check points (--cp) into GCP.col or\n"
       "CP.col. Each line: point name, image (file title), col and row in pixels from the\n"
       "top-left corner of the image. --columns gives the meaning of each field in order\n"
       "(\"skip\" leaves one out). Unknown points or images are listed and skipped.\n",
       {"--gcp", "--cp", "--separators", "--comments", "--columns"},
       {},
       {},
       1,
       1,
       "PROJECT.bun",
       &Cli::Measure},
      {{"dem"},
       "use an external DEM file in a project, or stop using it",
       "Usage: vantri-cli dem PROJECT.bun --external FILE | --off\n"
       "Uses FILE (one Float32 or Int16 band with a geotransform) as the project's DEM, or stops\n"
       "using an external DEM; the project is saved.\n",
       {"--external"},
       {"--off"},
       {},
       1,
       1,
       "1 project file",
       &Cli::Dem},
      {{"srtm-folder"},
       "set the SRTM folder (and show the tile of a project)",
       "Usage: vantri-cli srtm-folder [PROJECT.bun] DIR\n"
       "Stores DIR as the SRTM folder when it holds a valid elevation raster (*.tif); with a\n"
       "project, prints the SRTM tile that covers its image positions.\n",
       {},
       {},
       {},
       1,
       2,
       "[PROJECT.bun] DIR",
       &Cli::SrtmFolder},
      {{"add-images"},
       "add image files to a project",
       "Usage: vantri-cli add-images PROJECT.bun FILES...\n"
       "Adds the images as the Images Manager's Add does: files already listed (same file\n"
       "title), unreadable files, files of another raster size than the passport and, when the\n"
       "project works on undistorted images, files without the undistortion metadata are\n"
       "skipped. Then the SRTM tile is chosen and the footprints are updated; the project is\n"
       "saved.\n",
       {},
       {},
       {},
       2,
       kAnyCount,
       "a project file and at least one image",
       &Cli::AddImages},
      {{"footprints"},
       "print the image footprints and the Project Info of a project",
       "Usage: vantri-cli footprints PROJECT.bun\n"
       "Computes the footprint of every image with GPS/IMU data on the project's external DEM\n"
       "(when switched on) or SRTM tile and prints its vertices (project units), then the\n"
       "Project Info with the total area.\n",
       {},
       {},
       {},
       1,
       1,
       "one project file",
       &Cli::Footprints},
      {{"aat"},
       "automatic aerial triangulation: tie points, adjustment, georeference",
       "Usage: vantri-cli aat PROJECT.bun [--resume FILE.bro] [--threads N]\n",
       {"--resume", "--threads"},
       {},
       {},
       1,
       1,
       "PROJECT.bun",
       &Cli::Aat},
      {{"bundle"},
       "bundle adjustment on the control points, report and result files",
       "Usage: vantri-cli bundle PROJECT.bun [--notify]\n",
       {},
       {"--notify"},
       {},
       1,
       1,
       "PROJECT.bun",
       &Cli::Bundle},
      {{"report"},
       "write the accuracy report (HTML) of the last bundle run",
       "Usage: vantri-cli report PROJECT.bun\n"
       "Writes the accuracy report Bundle/<project name>.html (one self-contained HTML file) from "
       "the\n"
       "project and the result files of its last bundle run. Missing or damaged result files are\n"
       "named in the report and on standard error.\n",
       {},
       {},
       {},
       1,
       1,
       "one project file",
       &Cli::Report},
      {{"display"},
       "print the graphic display of the last bundle run",
       "Usage: vantri-cli display PROJECT.bun\n"
       "Builds the result display from Bundle/<name>.{ptres,ptocs,gcpres,cpres,extor} with the\n"
       "project's display settings (<name>.grs) and the quality settings of the profile, and\n"
       "prints its layers, the tie points per quality class, the control and check points with\n"
       "their residuals and classes, and how far each image moved from its GPS/IMU values.\n",
       {},
       {},
       {},
       1,
       1,
       "one project file",
       &Cli::Display},
      {{"display-settings"},
       "print or change the display settings (.grs) of a project",
       "Usage: vantri-cli display-settings PROJECT.bun [--set \"Section.Key=VALUE\"]...\n"
       "Prints every display setting as Section.Key=VALUE (the defaults where <name>.grs has\n"
       "none). Each --set changes one value (booleans 0/1, colours as Windows colour values,\n"
       "scales as numbers, kept absolute), e.g. --set ImageResXYEllipse.Visible=1; the file is\n"
       "written when every value converts, else nothing changes.\n",
       {"--set"},
       {},
       {"--set"},
       1,
       1,
       "one project file",
       &Cli::DisplaySettings},
      {{"export"},
       "export the oriented block to the stereo plotter Plotara",
       "Usage: vantri-cli [--yes|--no] export PROJECT.bun [--launch]\n"
       "Writes Stereo/<name>.sti and <image>.int / .est next to every enabled image oriented by\n"
       "the last bundle run (Bundle/<name>.extor) that has a footprint. The Stereo folder is\n"
       "built beside and swapped in when complete; an existing Plotara project is replaced only\n"
       "with --yes. --launch then starts Plotara (the profile's [Plotara] ExecutablePath, else\n"
       "'plotara' on the PATH) with the .sti file as its argument.\n",
       {},
       {"--launch"},
       {},
       1,
       1,
       "one project file",
       &Cli::Export},
  };
  return commands;
}

std::string Words(const Command& command) {
  std::string words;
  for (const std::string& word : command.words) words += (words.empty() ? "" : " ") + word;
  return words;
}

std::string MainUsage() {
  std::string usage = "Usage: vantri-cli [--yes|--no] <command> [options]\nCommands:\n";
  for (const Command& command : Commands()) {
    std::string words = Words(command);
    words.resize(std::max<std::size_t>(words.size(), 16), ' ');
    usage += "  " + words + "  " + command.summary + "\n";
  }
  usage +=
      "--yes / --no answer every question; without them questions are read from the terminal.\n"
      "'vantri-cli <command> --help' describes a command.\n";
  return usage;
}

int Cli::UsageError(const std::string& message, const Command* command) {
  err_ << "vantri-cli: " << message << "\n" << (command ? command->usage : MainUsage());
  return kExitUsage;
}

int Cli::Parse(const std::vector<std::string>& args, const Command& command, Options& options) {
  for (std::size_t i = command.words.size(); i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") {
      options.help = true;
    } else if (command.value_options.count(arg) != 0) {
      if (i + 1 >= args.size()) return UsageError("option " + arg + " needs a value", &command);
      const std::string& value = args[++i];
      if (command.repeated.count(arg) != 0)
        options.sets.push_back(value);
      else if (!options.values.emplace(arg, value).second)
        return UsageError("option " + arg + " given twice", &command);
    } else if (command.flags.count(arg) != 0) {
      options.flags.insert(arg);
    } else if (arg.size() > 1 && arg[0] == '-') {
      return UsageError("unknown option '" + arg + "'", &command);
    } else {
      options.positional.push_back(arg);
    }
  }
  if (options.help) return kExitOk;
  const std::size_t count = options.positional.size();
  if (count > 0 && command.max_positional == 0)
    return UsageError("unexpected argument '" + options.positional[0] + "'", &command);
  if (count < command.min_positional || count > command.max_positional)
    return UsageError(std::string("expected ") + command.positional_text, &command);
  return kExitOk;
}

int Cli::RunCommand(const Command& command, const std::vector<std::string>& args) {
  current_ = &command;
  const std::size_t printed_before = err_buffer_.count();
  const int messages_before = ui_.message_count();
  Options options;
  if (const int parsed = Parse(args, command, options); parsed != kExitOk) return parsed;
  if (options.help) {
    out_ << command.usage;
    return kExitOk;
  }
  const int result = (this->*command.handler)(options);
  // Every failure says why: a step that failed without a message gets the command's own line.
  if (result != kExitOk && err_buffer_.count() == printed_before &&
      ui_.message_count() == messages_before)
    err_ << "vantri-cli: " << Words(command) << " failed\n";
  return result;
}

int Cli::Run(const std::vector<std::string>& args) {
  if (args.empty()) return UsageError("no command given", nullptr);
  if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    out_ << MainUsage();
    return kExitOk;
  }
  for (const Command& command : Commands()) {
    if (args.size() >= command.words.size() &&
        std::equal(command.words.begin(), command.words.end(), args.begin()))
      return RunCommand(command, args);
  }
  if (args[0] == "passport") return UsageError("'passport' needs 'create' or 'show'", nullptr);
  return UsageError("unknown command '" + args[0] + "'", nullptr);
}

// ---- images, measurements, runs ---------------------------------------------------------------

int Cli::ImportExif(const Options& o) {
  const std::string attitude = o.Has("--attitude") ? o.Get("--attitude") : "xmp";
  if (attitude != "xmp" && attitude != "none")
    return UsageError("--attitude takes xmp or none", current_);
  const import::AttitudeSource source =
      attitude == "xmp" ? import::AttitudeSource::kXmp : import::AttitudeSource::kNone;
  return ExitCode(import::ImportExifIntoProjectFile(o.positional[0], source, ui_, out_, err_));
}

int Cli::Measure(const Options& o) {
  if (o.Has("--gcp") && o.Has("--cp")) return UsageError("Give one of --gcp and --cp", current_);
  if (!o.Has("--gcp") && !o.Has("--cp"))
    return UsageError("Give --gcp FILE or --cp FILE", current_);
  points::MeasureFormat format = points::ProfileMeasureFormat();
  if (o.Has("--separators")) format.separators = o.Get("--separators").substr(0, 7);
  if (o.Has("--comments")) format.comments = o.Get("--comments");
  if (o.Has("--columns")) {
    if (const std::string problem = points::ParseMeasureColumns(o.Get("--columns"), &format);
        !problem.empty())
      return UsageError(problem, current_);
  }
  const bool gcp = o.Has("--gcp");
  return ExitCode(points::MeasureIntoProjectFile(
      o.positional[0], gcp ? points::PointKind::kGcp : points::PointKind::kCheckPoint,
      o.Get(gcp ? "--gcp" : "--cp"), format, ui_, out_, err_));
}

int Cli::Aat(const Options& o) {
  int threads = 0;
  if (o.Has("--threads")) {
    const std::string count = o.Get("--threads");
    const auto [end, error] = std::from_chars(count.data(), count.data() + count.size(), threads);
    if (error != std::errc() || end != count.data() + count.size() || threads < 0)
      return UsageError("--threads takes a count of 0 or more (0: every core)", current_);
  }
  ShowLog();
  return ExitCode(
      aat::RunAatOnProjectFile(o.positional[0], o.Get("--resume"), threads, ui_, out_, err_));
}

int Cli::Bundle(const Options& o) {
  ShowLog();
  return ExitCode(
      bundle::RunBundleOnProjectFile(o.positional[0], o.Flag("--notify"), ui_, out_, err_));
}

// ---- passport ----------------------------------------------------------------------------------

int Cli::PassportCreate(const Options& o) {
  for (const char* required : {"--model", "--serial", "--lens", "--date", "--focal", "--pixel",
                               "--width", "--height", "--ppx", "--ppy"})
    if (!o.Has(required)) return UsageError(std::string("missing option ") + required, current_);
  for (const char* numeric :
       {"--focal", "--pixel", "--ppx", "--ppy", "--k1", "--k2", "--k3", "--p1", "--p2"}) {
    double value = 0;
    if (o.Has(numeric) && NVT_StringToDouble(o.Get(numeric), &value) == 0)
      return UsageError(std::string(numeric) + ": '" + o.Get(numeric) + "' is not a number",
                        current_);
  }
  for (const char* integer : {"--width", "--height"}) {
    int value = 0;
    if (NVT_StringToInt(o.Get(integer), &value) == 0)
      return UsageError(std::string(integer) + ": '" + o.Get(integer) + "' is not an integer",
                        current_);
  }
  project::PassportEditorValues values;
  values.model = o.Get("--model");
  values.camera_serial = o.Get("--serial");
  values.lens_serial = o.Get("--lens");
  values.calibration_date = o.Get("--date");
  values.focal_mm = o.Get("--focal");
  values.pixel_mm = o.Get("--pixel");
  values.width = o.Get("--width");
  values.height = o.Get("--height");
  values.ppx = o.Get("--ppx");
  values.ppy = o.Get("--ppy");
  values.k1 = o.Get("--k1");
  values.k2 = o.Get("--k2");
  values.k3 = o.Get("--k3");
  values.p1 = o.Get("--p1");
  values.p2 = o.Get("--p2");
  CBCCCameraPassport passport;
  if (project::CheckPassportEditor(ui_, values, passport) == 0) return kExitFailure;
  const std::string path = o.Has("--out") ? o.Get("--out")
                                          : system::PassportArchiveFolder() + "/" +
                                                project::PassportEditorFileName(passport) + ".bcc";
  if (project::SavePassportFromEditor(ui_, passport, path) == 0)
    return Failure("Passport not saved: " + path);
  out_ << "Passport saved: " << path << "\n";
  return kExitOk;
}

int Cli::PassportShow(const Options& o) {
  const std::string& path = o.positional[0];
  std::unique_ptr<CCameraPassport> p = CCameraPassport::New(path);
  if (p == nullptr) return Failure("Unable to open camera passport");
  const photogrammetry::DistortionCoefficients metric = p->MetricCoefficients();
  const photogrammetry::DistortionCoefficients normalised = p->NormalisedCoefficients();
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

int Cli::OpenProject(const std::string& path, CVantriProject& project) {
  return project::OpenProjectPath(project, ui_, path) != 0 ? kExitOk : kExitFailure;
}

// Coordinate-system options of "new", checked before anything is created.
int ChooseCoordinateSystem(const Options& o, crs::CoordinateSystem& cs, std::string& error) {
  const int choices = (o.Has("--projection") || o.Has("--datum") || o.Has("--fuse")) +
                      o.Has("--epsg") + o.Has("--wkt-file");
  if (choices > 1) {
    error = "give either --projection/--datum/--fuse, --epsg or --wkt-file";
    return kExitUsage;
  }
  if (o.Has("--epsg")) {
    int code = 0;
    if (NVT_StringToInt(o.Get("--epsg"), &code) == 0 || crs::WktFromEpsg(code).empty()) {
      error = "Invalid EPSG code!";
      return kExitFailure;
    }
    cs.SetUserEpsg(code);
  } else if (o.Has("--wkt-file")) {
    std::string text;
    if (!system::ReadWholeFile(o.Get("--wkt-file"), text) || text.empty()) {
      error = "Unable to read selected file!";
      return kExitFailure;
    }
    if (crs::WktFromUserText(text).empty()) {
      error = "Invalid WKT string!";
      return kExitFailure;
    }
    cs.SetUserWkt(text);
  } else if (o.Has("--projection")) {
    const int32_t projection = crs::ProjectionIndex(o.Get("--projection"));
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
      cs.datum = crs::DatumByName(o.Get("--datum"));
      if (cs.datum.code < 0) {
        error = "Select Datum!";
        return kExitFailure;
      }
    } else {
      cs.datum = crs::DatumNotDefined();
    }
    cs.fuse = needs_zone ? crs::FuseValue(o.Get("--fuse")) : crs::kFuseNotDefined;
    if (needs_zone && cs.fuse == crs::kFuseNotDefined) {
      error = "Select Fuse!";
      return kExitFailure;
    }
    if (projection != crs::kProjectionNone && cs.BuildWkt().empty()) {
      error = "Unable to build the coordinate system '" + o.Get("--projection") + "' with datum '" +
              o.Get("--datum") + "' and fuse '" + o.Get("--fuse") + "'!";
      return kExitFailure;
    }
  } else if (o.Has("--datum") || o.Has("--fuse")) {
    error = "--datum and --fuse need --projection";
    return kExitUsage;
  } else {
    return kExitOk;
  }
  if (cs.RebuildTransformations() == 0 && cs.projection != crs::kProjectionNone) {
    error = "Unable to set coordinate conversion!";
    return kExitFailure;
  }
  return kExitOk;
}

int Cli::NewProject(const Options& o) {
  for (const char* required : {"--folder", "--name", "--passport"})
    if (!o.Has(required)) return UsageError(std::string("missing option ") + required, current_);
  const std::string name = o.Get("--name");
  if (name.find_first_of("/\\") != std::string::npos || name == "." || name == "..")
    return Failure("Invalid project name '" + name + "'!");

  crs::CoordinateSystem chosen;
  const bool has_choice = o.Has("--projection") || o.Has("--epsg") || o.Has("--wkt-file");
  std::string error;
  if (const int result = ChooseCoordinateSystem(o, chosen, error); result != kExitOk)
    return result == kExitUsage ? UsageError(error, current_) : Failure(error);

  project::NewProjectChoice choice;
  choice.parent_folder = o.Get("--folder");
  choice.name = name;
  choice.passport_path = o.Get("--passport");
  choice.passport = CCameraPassport::New(choice.passport_path);
  if (choice.passport == nullptr) return Failure("Invalid camera passport!");

  CVantriProject project;
  const auto apply = [&](CVantriProject& p) {
    if (has_choice) p.coordinate_system = chosen;
  };
  project::RememberNewProjectFolder(o.Get("--folder"));
  if (project::NewProject(project, ui_, std::move(choice), apply) == 0) return kExitFailure;
  out_ << "Project created: " << project.file_path << "\n";
  return kExitOk;
}

int Cli::Info(const Options& o) {
  CVantriProject project;
  if (const int r = OpenProject(o.positional[0], project); r != kExitOk) return r;
  // As after Open in the desktop program: footprints on the terrain give the total area.
  ProjectTerrain terrain;
  terrain.LoadForProject(project);
  terrain.UpdateFootprints(project, ui_);
  project::ShowProjectInfo(project, ui_);
  out_ << "\n";
  project::ShowCameraInfo(project, ui_);
  return kExitOk;
}

int Cli::Crs(const Options& o) {
  CVantriProject project;
  if (const int r = OpenProject(o.positional[0], project); r != kExitOk) return r;
  out_ << crs::Describe(project.coordinate_system);
  return kExitOk;
}

void PrintSettings(const CVantriSettings& settings, std::ostream& out) {
  for (const project::SettingsGroup& group : settings.groups) {
    out << "[" << group.name << "]\n";
    for (const std::string& property : group.properties) {
      out << "  " << property << " = " << settings.Value(property);
      const project::TextList choices = settings.Choices(property);
      if (!choices.empty()) {
        out << "  (choices:";
        for (const std::string& c : choices) out << " " << c;
        out << ")";
      }
      out << "\n      " << settings.Description(property) << "\n";
    }
  }
}

int Cli::Settings(const Options& o) {
  CVantriProject project;
  if (const int r = OpenProject(o.positional[0], project); r != kExitOk) return r;
  if (!o.sets.empty()) {
    std::string refused;
    const auto window = [&](CVantriSettings& settings) {
      project::SettingsWindowModel model(settings);
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
    if (project::RunSettingsCommand(project, ui_, window) == 0) {
      if (!refused.empty()) return UsageError(refused, current_);
      return Failure("Settings not saved.");
    }
    out_ << "Settings saved: " << project::SettingsPath(project) << "\n";
  }
  PrintSettings(project.settings, out_);
  if (o.Flag("--validate")) {
    if (project.settings.Validate() == 0) {
      // The rules show their own message; a property missing from settings.ini does not.
      const std::string missing = project.settings.MissingProperty();
      return missing.empty() ? kExitFailure
                             : Failure("The property \"" + missing + "\" is missing from " +
                                       project::SettingsPath(project) + "!");
    }
    out_ << "Settings are valid.\n";
  }
  return kExitOk;
}

// ---- import and elevation model ---------------------------------------------------------------

int Cli::Import(import::ImportMode mode, const Options& o) {
  import::ImportOptions options;
  options.has_separators = o.Has("--separators");
  options.separators = o.Get("--separators");
  options.has_comments = o.Has("--comments");
  options.comments = o.Get("--comments");
  if (o.Has("--columns")) options.columns = import::SplitColumnList(o.Get("--columns"));
  if (o.Has("--angles")) options.angles = o.Get("--angles");
  options.geographic = o.Flag("--geographic");
  if (const std::string problem = import::CheckImportOptions(mode, options); !problem.empty())
    return UsageError(problem, current_);
  return RunImport(mode, o.positional[0], o.positional[1], options, ui_, out_, err_);
}

int Cli::Dem(const Options& o) {
  if (o.Has("--external") == o.Flag("--off"))
    return UsageError("give either --external FILE or --off", current_);
  return RunDem(o.positional[0], o.Optional("--external"), ui_, out_, err_);
}

int Cli::SrtmFolder(const Options& o) {
  const std::optional<std::string> project =
      o.positional.size() == 2 ? std::optional<std::string>(o.positional[0]) : std::nullopt;
  return RunSrtmFolder(project, o.positional.back(), ui_, out_, err_);
}

// ---- images and footprints ---------------------------------------------------------------------

int Cli::AddImages(const Options& o) {
  const std::vector<std::string>& args = o.positional;
  CVantriProject project;
  if (const int r = OpenProject(args[0], project); r != kExitOk) return r;
  if (!project::CanOpenImagesManager(project, ui_)) return kExitFailure;
  project::ImagesManager manager(project, ui_);
  ProjectTerrain terrain;
  terrain.BindHooks(manager, ui_);
  std::vector<std::string> files(args.begin() + 1, args.end());
  for (std::string& file : files)
    file = std::filesystem::absolute(file).lexically_normal().string();
  const project::AddImagesResult result = manager.AddImages(files);
  out_ << result.added << " images added, " << result.skipped << " skipped\n"
       << manager.Label() << "\n";
  if (result.added == 0) return Failure("No image added.");
  if (project::SaveProject(project) == 0) return Failure("Unable to save project!");
  return kExitOk;
}

void PrintFootprint(const CABAImage& image, const std::vector<std::array<double, 2>>& outline,
                    std::ostream& out) {
  char line[128];
  out << "Footprint " << image.Name() << ": " << outline.size() << " vertices\n";
  for (const auto& vertex : outline) {
    std::snprintf(line, sizeof line, "  %.3f %.3f\n", vertex[0], vertex[1]);
    out << line;
  }
}

int Cli::Footprints(const Options& o) {
  const std::vector<std::string>& args = o.positional;
  CVantriProject project;
  if (const int r = OpenProject(args[0], project); r != kExitOk) return r;
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
      PrintFootprint(image, project.footprints[i], out_);
  }
  out_ << project::ProjectInfoText(project) << "\n";
  return kExitOk;
}

}  // namespace

int RunCommandLine(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
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
  return cli.Run(rest);
}

}  // namespace vantri::shell
