#include "engine_input.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace bench {
namespace {

constexpr const char* kFree = "1.0e+31";  // the engine's "unknown is free" marker (smaxu)
constexpr const char* kCameraId = "CAM";

std::string format(const char* pattern, double value) {
  char text[64];
  std::snprintf(text, sizeof text, pattern, value);
  return text;
}

// Written next to its final name and renamed, so an interrupted run leaves no partial file.
bool writeFile(const std::filesystem::path& path, const std::string& text) {
  const std::filesystem::path temporary = path.string() + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out.flush()) return false;
  }
  std::error_code error;
  std::filesystem::rename(temporary, path, error);
  return !error;
}

std::string paramsText() {
  // single ray; 4 output switches; 5 unknown-print switches; 2 debug switches; AP grid; dumps.
  return "0\n0 0 0 0\n0 0 0 0 0\n0 0\n5 5\nnone none none none\n";
}

std::string settingsText(double image_sigma, int iterations, EngineInterface kind) {
  std::ostringstream out;
  out << format("%.6e", image_sigma) << "\n"  // sigma_0 = one image coordinate's sigma
      << iterations << "\n"
      << "1 1 1 1\n"
      << "0 0 0 0\n"  // convergence limits: only an exactly zero increment converges
      << "1.0e-30 1.0e+30 1.0e-31 1.0e+31\n"
      << "1.0e+10 1.0e+10 0.80\n"
      << "1.0 0.001\n"
      << "1.96 0.0001 1000000\n"
      << "m rad " << (kind == EngineInterface::kSparse ? "sparse" : "native") << "\n";
  return out.str();
}

std::string cameraText(const FrameCamera& c) {
  std::ostringstream out;
  out << "camera-frame " << kCameraId << " synthetic " << format("%.6f", c.focal * 1e3) << ' '
      << format("%.6f", c.xp * 1e3) << ' ' << format("%.6f", c.yp * 1e3) << ' '
      << format("%.6f", c.width * 1e3) << ' ' << format("%.6f", c.height * 1e3) << "\nstop-dep\n";
  return out.str();
}

std::string imagesText(const SyntheticBlock& block) {
  std::ostringstream out;
  for (std::size_t i = 0; i < block.approximate_poses.size(); ++i) {
    const std::string id = imageId(static_cast<int>(i));
    out << "image-frame " << id << ' ' << id << ' ' << kCameraId << '\n';
  }
  out << "stop-dep\n";
  return out.str();
}

std::string orientationsText(const SyntheticBlock& block) {
  std::ostringstream out;
  out << "indiv-type\n";
  for (std::size_t i = 0; i < block.approximate_poses.size(); ++i) {
    const Pose& p = block.approximate_poses[i];
    out << "ext-ori-opk-rot " << imageId(static_cast<int>(i)) << " rad 0.0\n  "
        << format("%.6f", p[0]) << ' ' << format("%.6f", p[1]) << ' ' << format("%.6f", p[2])
        << "\n  " << kFree << ' ' << kFree << ' ' << kFree << "\n  " << format("%.12f", p[3]) << ' '
        << format("%.12f", p[4]) << ' ' << format("%.12f", p[5]) << "\n  " << kFree << ' ' << kFree
        << ' ' << kFree << '\n';
  }
  out << "stop-dep\n";
  return out.str();
}

std::string objectCoordinatesText(const SyntheticBlock& block) {
  std::vector<bool> is_control(block.approximate_points.size(), false);
  for (const ControlObservation& c : block.control) is_control[c.point] = true;
  const std::string control_sd = format("%.6f", block.control_sigma);
  std::string text = "indiv-sdev\n";
  text.reserve(block.approximate_points.size() * 80);
  for (std::size_t i = 0; i < block.approximate_points.size(); ++i) {
    const Point3& p = block.approximate_points[i];
    const std::string sd = is_control[i] ? control_sd : kFree;
    text += pointId(static_cast<int>(i)) + ' ' + format("%.6f", p[0]) + ' ' + format("%.6f", p[1]) +
            ' ' + format("%.6f", p[2]) + ' ' + sd + ' ' + sd + ' ' + sd + '\n';
  }
  return text + "stop-dep\n";
}

std::string imageCoordinatesText(const SyntheticBlock& block) {
  const std::string sd = format("%.7f", block.image_sigma * 1e3);
  std::string text;
  text.reserve(block.observations.size() * 48);
  int current = -1;
  for (const ImageObservation& ob : block.observations) {
    if (ob.image != current) {
      if (current >= 0) text += "stop-dep\n";
      current = ob.image;
      text += imageId(current) + " 0.001\n";
    }
    text += "  " + pointId(ob.point) + ' ' + format("%.7f", ob.x * 1e3) + ' ' +
            format("%.7f", ob.y * 1e3) + ' ' + sd + ' ' + sd + '\n';
  }
  if (current >= 0) text += "stop-dep\n";
  return text + "stop-dep\n";
}

}  // namespace

std::string pointId(int index) { return "P" + std::to_string(index + 1); }
std::string imageId(int index) { return "I" + std::to_string(index + 1); }

bool writeEngineSettings(double image_sigma, const std::string& folder, int iterations,
                         EngineInterface interface_kind) {
  return writeFile(std::filesystem::path(folder) / "lsparams.txt",
                   settingsText(image_sigma, iterations, interface_kind));
}

std::string writeEngineInput(const SyntheticBlock& block, const std::string& folder) {
  const std::filesystem::path dir(folder);
  const std::pair<const char*, std::string> files[] = {
      {"params.txt", paramsText()},
      {"camera.txt", cameraText(block.camera)},
      {"images.txt", imagesText(block)},
      {"orientations.txt", orientationsText(block)},
      {"objcoords.txt", objectCoordinatesText(block)},
      {"imagecoords.txt", imageCoordinatesText(block)},
  };
  for (const auto& [name, text] : files)
    if (!writeFile(dir / name, text)) return {};
  if (!writeEngineSettings(block.image_sigma, folder, 1, EngineInterface::kNative)) return {};
  const std::string main_text =
      "params params.txt\nls-params lsparams.txt\ncamera camera.txt\nimage images.txt\n"
      "ext-ori orientations.txt\nobj-crds objcoords.txt\nimage-crds imagecoords.txt\nstop-dep\n";
  if (!writeFile(dir / "block.inp", main_text)) return {};
  return (dir / "block.inp").string();
}

}  // namespace bench
