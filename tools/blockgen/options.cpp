#include "options.h"

#include <charconv>
#include <cmath>
#include <functional>
#include <limits>
#include <map>
#include <sstream>

namespace blockgen {
namespace {

bool parse_double(const std::string& text, double* value) {
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, *value);
  return ec == std::errc() && ptr == end && std::isfinite(*value);
}

bool parse_int(const std::string& text, long long* value) {
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, *value);
  return ec == std::errc() && ptr == end;
}

struct OptionSpec {
  std::string value_name;  // empty for a flag
  std::string help;
  // Applies the value; returns an error text or "".
  std::function<std::string(const std::string&, BlockOptions&)> apply;
};

std::function<std::string(const std::string&, BlockOptions&)> real(double BlockOptions::*field) {
  return [field](const std::string& v, BlockOptions& o) -> std::string {
    return parse_double(v, &(o.*field)) ? "" : "expected a number";
  };
}

std::function<std::string(const std::string&, BlockOptions&)> camera_real(
    double FrameCamera::*field) {
  return [field](const std::string& v, BlockOptions& o) -> std::string {
    return parse_double(v, &(o.camera.*field)) ? "" : "expected a number";
  };
}

std::function<std::string(const std::string&, BlockOptions&)> distortion(
    double Distortion::*field) {
  return [field](const std::string& v, BlockOptions& o) -> std::string {
    return parse_double(v, &(o.camera.distortion.*field)) ? "" : "expected a number";
  };
}

template <typename Int>
std::function<std::string(const std::string&, BlockOptions&)> integer(Int BlockOptions::*field) {
  return [field](const std::string& v, BlockOptions& o) -> std::string {
    long long n = 0;
    if (!parse_int(v, &n)) return "expected an integer";
    if (n < 0) return "expected a non-negative integer";
    o.*field = static_cast<Int>(n);
    return "";
  };
}

const std::map<std::string, OptionSpec>& option_table() {
  static const std::map<std::string, OptionSpec> table = {
      {"out",
       {"DIR", "output folder (created; existing files of a block are replaced)",
        [](const std::string& v, BlockOptions& o) -> std::string {
          o.out_dir = v;
          return v.empty() ? "expected a folder" : "";
        }}},
      {"seed",
       {"N", "random seed; the same seed gives the same bytes (default 1)",
        integer(&BlockOptions::seed)}},
      {"strips", {"S", "number of flight strips (default 3)", integer(&BlockOptions::strips)}},
      {"images-per-strip",
       {"N", "images per strip, at most 99 (default 8)", integer(&BlockOptions::images_per_strip)}},
      {"forward-overlap",
       {"F", "forward overlap, fraction 0.2..0.9 (default 0.60)",
        real(&BlockOptions::forward_overlap)}},
      {"side-overlap",
       {"F", "side overlap, fraction 0..0.8 (default 0.30)", real(&BlockOptions::side_overlap)}},
      {"flying-height",
       {"M", "flying height above the mean terrain, m (default 1000)",
        real(&BlockOptions::flying_height)}},
      {"speed",
       {"M/S", "ground speed for exposure times, m/s (default 60)", real(&BlockOptions::speed)}},
      {"easting", {"E", "block centre easting, m (default 512000)", real(&BlockOptions::easting)}},
      {"northing",
       {"N", "block centre northing, m (default 5290000)", real(&BlockOptions::northing)}},
      {"epsg",
       {"CODE", "EPSG code of the projected system (default 32632, WGS 84 / UTM 32N)",
        integer(&BlockOptions::epsg)}},
      {"focal-mm", {"F", "focal length, mm (default 12)", camera_real(&FrameCamera::focal_mm)}},
      {"pixel-um",
       {"P", "pixel size, um (default 6)",
        [](const std::string& v, BlockOptions& o) -> std::string {
          double um = 0;
          if (!parse_double(v, &um)) return "expected a number";
          o.camera.pixel_mm = um * 1e-3;
          return "";
        }}},
      {"width",
       {"PX", "image width, pixels (default 1500)",
        [](const std::string& v, BlockOptions& o) -> std::string {
          long long n = 0;
          if (!parse_int(v, &n) || n <= 0 || n > 20000) return "expected 1..20000";
          o.camera.width = static_cast<int>(n);
          return "";
        }}},
      {"height",
       {"PX", "image height, pixels (default 1000)",
        [](const std::string& v, BlockOptions& o) -> std::string {
          long long n = 0;
          if (!parse_int(v, &n) || n <= 0 || n > 20000) return "expected 1..20000";
          o.camera.height = static_cast<int>(n);
          return "";
        }}},
      {"pp-col",
       {"PX", "principal point column, pixels from the left edge (default: centre)",
        camera_real(&FrameCamera::pp_col)}},
      {"pp-row",
       {"PX", "principal point row, pixels from the top edge (default: centre)",
        camera_real(&FrameCamera::pp_row)}},
      {"k1", {"K", "radial distortion K1, mm^-2 (default 0)", distortion(&Distortion::k1)}},
      {"k2", {"K", "radial distortion K2, mm^-4 (default 0)", distortion(&Distortion::k2)}},
      {"k3", {"K", "radial distortion K3, mm^-6 (default 0)", distortion(&Distortion::k3)}},
      {"p1", {"P", "decentering distortion P1, mm^-1 (default 0)", distortion(&Distortion::p1)}},
      {"p2", {"P", "decentering distortion P2, mm^-1 (default 0)", distortion(&Distortion::p2)}},
      {"dem-cell", {"M", "DEM cell size, m (default 2)", real(&BlockOptions::dem_cell)}},
      {"base-height",
       {"M", "mean terrain height, m (default 420)", real(&BlockOptions::base_height)}},
      {"relief", {"M", "terrain relief peak to peak, m (default 60)", real(&BlockOptions::relief)}},
      {"tie-points",
       {"N", "number of tie points (default 300)", integer(&BlockOptions::tie_points)}},
      {"control-points",
       {"N", "number of ground control points (default 6)",
        integer(&BlockOptions::control_points)}},
      {"check-points",
       {"N", "number of check points (default 4)", integer(&BlockOptions::check_points)}},
      {"pixel-noise",
       {"PX", "std. dev. of image measurements, pixels (default 0.3)",
        real(&BlockOptions::pixel_noise)}},
      {"gps-noise",
       {"M", "std. dev. of GPS positions, m (default 0.05)", real(&BlockOptions::gps_noise)}},
      {"imu-noise",
       {"DEG", "std. dev. of IMU angles, degrees (default 0.005)", real(&BlockOptions::imu_noise)}},
      {"gps-drift",
       {"M", "GPS drift reached at the end of each strip, m (default 0: none)",
        real(&BlockOptions::gps_drift)}},
      {"control-noise",
       {"M", "std. dev. of surveyed control and check coordinates, m (default 0.02)",
        real(&BlockOptions::control_noise)}},
      {"exposure-variation",
       {"F", "relative spread of image exposure (default 0.08)",
        real(&BlockOptions::exposure_variation)}},
      {"format",
       {"jpg|tif", "image file format (default jpg)",
        [](const std::string& v, BlockOptions& o) -> std::string {
          if (v == "jpg")
            o.format = ImageFormat::kJpeg;
          else if (v == "tif")
            o.format = ImageFormat::kTiff;
          else
            return "expected jpg or tif";
          return "";
        }}},
      {"rgb",
       {"", "write colour (RGB) images instead of grey ones",
        [](const std::string&, BlockOptions& o) -> std::string {
          o.rgb = true;
          return "";
        }}},
      {"no-images",
       {"", "write everything but the image files (fast)",
        [](const std::string&, BlockOptions& o) -> std::string {
          o.write_images = false;
          return "";
        }}},
      {"threads", {"N", "render threads (default 0: all cores)", integer(&BlockOptions::threads)}},
  };
  return table;
}

}  // namespace

std::string help_text() {
  std::ostringstream out;
  out << "Usage: blockgen --out DIR [options]\n"
         "Generates a synthetic aerial block with known truth: terrain (DEM and SRTM-like tile),\n"
         "rendered images, GPS/IMU, control and check points, camera file, engine input and\n"
         "truth.json. The same options and seed always give the same bytes.\n\nOptions:\n";
  for (const auto& [name, spec] : option_table()) {
    std::string left = "  --" + name + (spec.value_name.empty() ? "" : " " + spec.value_name);
    if (left.size() < 30) left.resize(30, ' ');
    out << left << " " << spec.help << "\n";
  }
  out << "  --help                       show this text\n";
  return out.str();
}

std::string validate(const BlockOptions& o) {
  const FrameCamera& c = o.camera;
  if (o.out_dir.empty()) return "--out DIR is required";
  if (o.strips < 1 || o.strips > 99) return "--strips must be 1..99";
  if (o.images_per_strip < 2 || o.images_per_strip > 99) return "--images-per-strip must be 2..99";
  if (o.forward_overlap < 0.2 || o.forward_overlap > 0.9)
    return "--forward-overlap must be 0.2..0.9";
  if (o.side_overlap < 0.0 || o.side_overlap > 0.8) return "--side-overlap must be 0..0.8";
  if (o.strips > 1 && o.side_overlap < 0.05 && o.tie_points > 0)
    return "--side-overlap must be at least 0.05 to tie the strips together";
  if (o.flying_height < 20 || o.flying_height > 20000) return "--flying-height must be 20..20000 m";
  if (o.speed <= 0) return "--speed must be positive";
  if (c.focal_mm <= 0 || c.pixel_mm <= 0) return "--focal-mm and --pixel-um must be positive";
  if (c.width < 64 || c.height < 64) return "--width and --height must be at least 64 pixels";
  if (c.pp_col < 0 || c.pp_col > c.width || c.pp_row < 0 || c.pp_row > c.height)
    return "the principal point must lie inside the image";
  if (o.dem_cell <= 0 || o.dem_cell > 100) return "--dem-cell must be in (0, 100] m";
  if (o.relief < 0 || o.relief > 0.3 * o.flying_height)
    return "--relief must be 0..0.3 times the flying height";
  if (o.base_height < -400 || o.base_height > 8000) return "--base-height must be -400..8000 m";
  if (o.tie_points > 100000) return "--tie-points must be at most 100000";
  if (o.control_points > 50 || o.check_points > 50)
    return "--control-points and --check-points must be at most 50";
  if (o.pixel_noise < 0 || o.gps_noise < 0 || o.imu_noise < 0 || o.gps_drift < 0 ||
      o.control_noise < 0)
    return "noise levels must not be negative";
  if (o.exposure_variation < 0 || o.exposure_variation > 0.5)
    return "--exposure-variation must be 0..0.5";
  if (o.threads > 256) return "--threads must be at most 256";
  return "";
}

ParsedArguments parse_arguments(const std::vector<std::string>& args) {
  ParsedArguments result;
  BlockOptions& o = result.options;
  // NaN marks "not given": the image centre after parsing (values given are finite).
  o.camera.pp_col = std::numeric_limits<double>::quiet_NaN();
  o.camera.pp_row = std::numeric_limits<double>::quiet_NaN();
  for (size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    if (arg == "--help" || arg == "-h") {
      result.help = true;
      result.ok = true;
      return result;
    }
    if (arg.rfind("--", 0) != 0) {
      result.error = "unexpected argument '" + arg + "' (options start with --; see --help)";
      return result;
    }
    std::string name = arg.substr(2), value;
    bool has_value = false;
    if (const size_t eq = name.find('='); eq != std::string::npos) {
      value = name.substr(eq + 1);
      name = name.substr(0, eq);
      has_value = true;
    }
    const auto it = option_table().find(name);
    if (it == option_table().end()) {
      result.error = "unknown option '--" + name + "' (see --help)";
      return result;
    }
    const OptionSpec& spec = it->second;
    if (spec.value_name.empty()) {
      if (has_value) {
        result.error = "option --" + name + " takes no value";
        return result;
      }
    } else if (!has_value) {
      if (i + 1 >= args.size()) {
        result.error = "option --" + name + " needs a value " + spec.value_name;
        return result;
      }
      value = args[++i];
    }
    if (std::string why = spec.apply(value, o); !why.empty()) {
      result.error = "invalid value '" + value + "' for --" + name + ": " + why;
      return result;
    }
  }
  if (std::isnan(o.camera.pp_col)) o.camera.pp_col = 0.5 * o.camera.width;
  if (std::isnan(o.camera.pp_row)) o.camera.pp_row = 0.5 * o.camera.height;
  result.error = validate(o);
  result.ok = result.error.empty();
  return result;
}

}  // namespace blockgen
