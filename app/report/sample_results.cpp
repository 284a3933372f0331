#include "report/sample_results.h"

#include <Eigen/Geometry>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <regex>
#include <sstream>

#include "photogrammetry/passport.h"
#include "project/project.h"

namespace vantri::test_support {
namespace {

namespace fs = std::filesystem;
constexpr double kDegToRad = 3.14159265358979323846 / 180.0;

struct SurveyImage {
  std::string id;
  double gps[6] = {};    // X, Y, Z, omega, phi, kappa (radians)
  double truth[6] = {};  // same
};

struct SurveyPoint {
  std::string id;
  std::string type;  // "in", "co", "ch"
  Eigen::Vector3d truth{0, 0, 0};
  Eigen::Vector3d surveyed{0, 0, 0};
};

struct Ray {
  size_t point;
  double col, row;
};

std::string Format(const char* format, ...) {
  char buffer[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  return buffer;
}

bool ReadLines(const std::string& path, std::vector<std::string>& lines) {
  std::ifstream in(path);
  if (!in) return false;
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return true;
}

bool WriteText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
  return static_cast<bool>(out);
}

bool ReadTruth(const std::string& sample_dir, std::vector<SurveyImage>& images,
               std::vector<SurveyPoint>& points) {
  std::vector<std::string> lines;
  if (!ReadLines(sample_dir + "/truth.json", lines)) return false;
  const std::regex image_re(
      R"re("id": "(\w+)".*"X": ([-\d.]+), "Y": ([-\d.]+), "Z": ([-\d.]+), "omega": ([-\d.]+), "phi": ([-\d.]+), "kappa": ([-\d.]+))re");
  const std::regex point_re(
      R"re("id": "(\w+)", "truth": \[([-\d.]+), ([-\d.]+), ([-\d.]+)\](, "surveyed": \[([-\d.]+), ([-\d.]+), ([-\d.]+)\])?)re");
  std::string type;
  for (const std::string& line : lines) {
    if (line.find("\"control_points\"") != std::string::npos) type = "co";
    if (line.find("\"check_points\"") != std::string::npos) type = "ch";
    if (line.find("\"tie_points\"") != std::string::npos) type = "in";
    std::smatch m;
    if (std::regex_search(line, m, image_re) && line.find("\"strip\"") != std::string::npos) {
      SurveyImage image;
      image.id = m[1];
      for (int k = 0; k < 6; ++k) image.truth[k] = std::stod(m[2 + k]) * (k < 3 ? 1.0 : kDegToRad);
      images.push_back(image);
    } else if (!type.empty() && std::regex_search(line, m, point_re)) {
      SurveyPoint point{m[1], type, {std::stod(m[2]), std::stod(m[3]), std::stod(m[4])}, {}};
      point.surveyed = m[5].matched
                           ? Eigen::Vector3d(std::stod(m[6]), std::stod(m[7]), std::stod(m[8]))
                           : point.truth;
      points.push_back(point);
    }
  }
  // GPS/IMU values of the survey (degrees in the file).
  std::vector<std::string> gps;
  if (!ReadLines(sample_dir + "/gps_imu.txt", gps)) return false;
  std::map<std::string, SurveyImage*> by_id;
  for (SurveyImage& image : images) by_id[image.id] = &image;
  for (const std::string& line : gps) {
    if (line.empty() || line[0] == '#') continue;
    std::stringstream in(line);
    std::string id, field;
    std::getline(in, id, ',');
    if (by_id.count(id) == 0) continue;
    for (int k = 0; k < 6 && std::getline(in, field, ','); ++k)
      by_id[id]->gps[k] = std::stod(field) * (k < 3 ? 1.0 : kDegToRad);
  }
  return !images.empty() && !points.empty();
}

// Projection of the blockgen camera: R = Rx(omega) Ry(phi) Rz(kappa) camera to world, the camera
// looks along -z, y up; pixels from the top-left corner.
bool Project(const SurveyImage& image, const CCameraPassport& camera, const Eigen::Vector3d& point,
             double* col, double* row) {
  const Eigen::Matrix3d r = (Eigen::AngleAxisd(image.truth[3], Eigen::Vector3d::UnitX()) *
                             Eigen::AngleAxisd(image.truth[4], Eigen::Vector3d::UnitY()) *
                             Eigen::AngleAxisd(image.truth[5], Eigen::Vector3d::UnitZ()))
                                .toRotationMatrix();
  const Eigen::Vector3d d =
      r.transpose() * (point - Eigen::Vector3d(image.truth[0], image.truth[1], image.truth[2]));
  if (d.z() >= 0) return false;
  const double f = camera.FocalPixels();
  *col = camera.ppx - f * d.x() / d.z();
  *row = camera.ppy + f * d.y() / d.z();
  return *col >= 0 && *row >= 0 && *col < camera.width && *row < camera.height;
}

std::string Header(const std::string& title) { return "# Vantri - v 0.1.0\n" + title; }

}  // namespace

std::string SampleBlockDir() {
  for (const char* candidate :
       {"../../examples/sample-block", "../examples/sample-block", "examples/sample-block"})
    if (fs::exists(std::string(candidate) + "/truth.json")) return fs::absolute(candidate).string();
  return {};
}

bool WriteSampleProject(const std::string& sample_dir, const std::string& folder,
                        const std::string& name, const SampleOptions& options, std::string* error) {
  std::vector<SurveyImage> images;
  std::vector<SurveyPoint> points;
  if (!ReadTruth(sample_dir, images, points)) {
    *error = "cannot read the sample survey in " + sample_dir;
    return false;
  }
  std::error_code ec;
  fs::create_directories(folder + "/Bundle", ec);

  // The project.
  CVantriProject project;
  project.folder = folder + "/";
  project.name = name;
  project.file_path = folder + "/" + name + ".bun";
  project.passport = CCameraPassport::New(sample_dir + "/camera.bcc");
  if (!project.passport) {
    *error = "cannot read camera.bcc";
    return false;
  }
  project.working_passport = project.passport->Clone();
  project.passport_file_name = "camera.bcc";
  fs::copy_file(sample_dir + "/camera.bcc", folder + "/camera.bcc",
                fs::copy_options::overwrite_existing, ec);
  project.coordinate_system.SetFromNames("UTM", "World Geodetic System 1984", "32 N", "Meters");
  for (const SurveyImage& image : images) {
    CABAImage& added = project.AppendImage(folder + "/images/" + image.id + ".jpg");
    added.x = image.gps[0];
    added.y = image.gps[1];
    added.z = image.gps[2];
    added.omega = image.gps[3];
    added.phi = image.gps[4];
    added.kappa = image.gps[5];
  }
  for (const char* file : {"GCP.col", "CP.col"})
    fs::copy_file(sample_dir + "/" + file, folder + "/" + file,
                  fs::copy_options::overwrite_existing, ec);
  if (project::SaveProjectFile(project, project.file_path, project::kProjectFormatVersion) == 0 ||
      project.settings.Save(folder + "/settings.ini") == 0) {
    *error = "cannot write the project";
    return false;
  }

  // Rays and simulated residuals.
  const CCameraPassport& camera = *project.passport;
  const double um_per_px = camera.pixel_mm * 1000.0;
  std::mt19937 random(options.seed);
  std::normal_distribution<double> unit(0.0, 1.0);
  std::vector<std::vector<Ray>> rays(images.size());
  std::vector<int> point_rays(points.size(), 0);
  for (size_t i = 0; i < images.size(); ++i)
    for (size_t p = 0; p < points.size(); ++p) {
      double col = 0, row = 0;
      if (!Project(images[i], camera, points[p].truth, &col, &row)) continue;
      rays[i].push_back({p, col, row});
      ++point_rays[p];
    }
  // Residuals in um per ray, drawn once so that .ptres, .ptics and the .atout agree.
  std::map<std::pair<size_t, size_t>, std::array<double, 2>> residual;
  for (size_t i = 0; i < images.size(); ++i) {
    const bool noisy = images[i].id == options.noisy_image;
    int outliers = noisy ? 3 : 0;
    for (const Ray& ray : rays[i]) {
      double sigma = options.image_noise_px * (noisy ? 2.2 : 1.0);
      double vx = unit(random) * sigma, vy = unit(random) * sigma;
      if (outliers > 0 && points[ray.point].type == "in") {
        vx += 3.1 * (outliers % 2 ? 1 : -1);
        vy += 1.6;
        --outliers;
      }
      residual[{i, ray.point}] = {vx * um_per_px, vy * um_per_px};
    }
  }

  const std::string base = folder + "/Bundle/" + name;
  const auto row_type = [](const std::string& type) { return type; };

  // gcpres / cpres.
  std::map<std::string, Eigen::Vector3d> point_residuals;
  for (const std::string& type : {std::string("co"), std::string("ch")}) {
    const bool control = type == "co";
    std::string text = Header(
        control ? "# Aerial Triangulation Ground Control Points Coordinates and Residuals\n#\n"
                : "# Aerial Triangulation Check Points Coordinates and Residuals\n#\n");
    text += Format("#%15s %16s %16s %16s %12s %12s %12s\n\n", "Point ID", "X/m", "Y/m", "Z/m",
                   "vX/m", "vY/m", "vZ/m");
    for (const SurveyPoint& p : points) {
      if (p.type != type) continue;
      const Eigen::Vector3d v =
          control
              ? Eigen::Vector3d(unit(random), unit(random), unit(random)) * options.control_noise_m
              : Eigen::Vector3d(unit(random) * options.check_noise_xy_m,
                                unit(random) * options.check_noise_xy_m,
                                unit(random) * options.check_noise_z_m);
      point_residuals[p.id] = v;
      const Eigen::Vector3d adjusted = p.surveyed + v;
      text += Format("%16s %16.6lf %16.6lf %16.6lf %12.6lf %12.6lf %12.6lf\n", p.id.c_str(),
                     adjusted.x(), adjusted.y(), adjusted.z(), v.x(), v.y(), v.z());
    }
    if (!WriteText(base + (control ? ".gcpres" : ".cpres"), text)) return false;
  }

  // ptres and ptics: per image, tie then control then check points.
  std::string ptres = Header("# Aerial Triangulation Reprojection Residuals\n#\n") +
                      Format("# %s\n# %14s %12s %12s %12s %10s\n# .\n# .\n# .\n\n", "Image",
                             "Point ID", "vx/um", "vy/um", "|v|/um", "Point Type");
  std::string ptics = Header("# Aerial Triangulation Image Coordinates\n#\n") +
                      Format("# %s\n# %14s %12s %12s %10s\n# .\n# .\n# .\n\n", "Image", "Point ID",
                             "x/pix", "y/pix", "Point Type");
  for (size_t i = 0; i < images.size(); ++i) {
    ptres += Format("\n%s\n", images[i].id.c_str());
    ptics += Format("\n%s\n", images[i].id.c_str());
    for (const char* type : {"in", "co", "ch"})
      for (const Ray& ray : rays[i]) {
        const SurveyPoint& p = points[ray.point];
        if (p.type != type) continue;
        const auto& v = residual[{i, ray.point}];
        ptres += Format("%16s %12.6lf %12.6lf %12.6lf %10s\n", p.id.c_str(), v[0], v[1],
                        std::hypot(v[0], v[1]), row_type(p.type).c_str());
        ptics += Format("%16s %12.3lf %12.3lf %10s\n", p.id.c_str(), ray.col + v[0] / um_per_px,
                        ray.row + v[1] / um_per_px, p.type.c_str());
      }
  }
  if (!WriteText(base + ".ptres", ptres) || !WriteText(base + ".ptics", ptics)) return false;

  // ptocs: tie, control, check points.
  std::string ptocs =
      Header("# Aerial Triangulation Object Point Coordinates\n#\n") +
      Format("#%15s %16s %16s %16s %10s\n\n", "Point ID", "X/m", "Y/m", "Z/m", "Point Type");
  for (const char* type : {"in", "co", "ch"})
    for (const SurveyPoint& p : points) {
      if (p.type != type) continue;
      Eigen::Vector3d x =
          p.truth + Eigen::Vector3d(unit(random), unit(random), unit(random)) * 0.05;
      if (point_residuals.count(p.id)) x = p.surveyed + point_residuals[p.id];
      ptocs +=
          Format("%16s %16.6lf %16.6lf %16.6lf %10s\n", p.id.c_str(), x.x(), x.y(), x.z(), type);
    }
  if (!WriteText(base + ".ptocs", ptocs)) return false;

  // extor: the truth with a little noise.
  std::string extor = Header("# Aerial Triangulation External Orientation Result\n\n") +
                      "# Projection : UTM\n# Datum      : World Geodetic System 1984\n"
                      "# Fuse       : 32 N\n# Units      : Meters\n\n\n" +
                      Format("# %28s %16s %16s %16s %12s %12s %12s\n\n", "Image", "X/m", "Y/m",
                             "Z/m", "Omega/rad", "Phi/rad", "Kappa/rad");
  std::vector<std::array<double, 6>> adjusted(images.size());
  for (size_t i = 0; i < images.size(); ++i) {
    for (int k = 0; k < 6; ++k)
      adjusted[i][k] = images[i].truth[k] + unit(random) * (k < 3 ? 0.01 : 0.00001);
    extor += Format("%30s ", images[i].id.c_str()) +
             Format("%16.6lf %16.6lf %16.6lf ", adjusted[i][0], adjusted[i][1], adjusted[i][2]) +
             Format("%12.6lf %12.6lf %12.6lf\n", adjusted[i][3], adjusted[i][4], adjusted[i][5]);
  }
  if (!WriteText(base + ".extor", extor)) return false;

  // The .atout, section by section.
  int ties = 0, controls = 0, checks = 0, measurements = 0;
  for (size_t p = 0; p < points.size(); ++p) {
    ties += points[p].type == "in";
    controls += points[p].type == "co";
    checks += points[p].type == "ch";
    if (points[p].type != "ch") measurements += point_rays[p];
  }
  const project::VantriTypedSettings& s = project.settings.typed;
  std::string a = "# Vantri - v 0.1.0\n# Aerial Triangulation Output Report\n";
  a += "\nCoordinate system\n=================\nProjection : UTM\nDatum      : World Geodetic "
       "System 1984\n"
       "Fuse       : 32 N\nUnits      : Meters\n";
  a += "\nIntersection points search parameters\n=====================================\n";
  a += Format("Number of points to search per images :  %d\n", s.max_points_to_search);
  a += Format("Template area size (pix)              :  %d\n", s.template_size);
  a += Format("Search area size (pix)                :  %d\n", s.search_area_size);
  a += Format("Cross correlation coefficient (0-1)   :  %.3lf\n", s.correlation_threshold);
  a += "\nIntersection points filtering parameters\n========================================\n";
  a += Format("Maximum number of points per image       :  %d\n", s.max_points_per_image);
  a += Format("Minimum number of measurements per point :  %d\n", s.min_measurements_per_point);
  a += Format("Maximum reprojection error (pix)         :  %d\n", s.max_reprojection_error);
  a += "\nLeast-squares parameters\n========================\n";
  a += Format("Convergence limit                       :  %e\n", s.convergence_threshold);
  a += Format("GCPs weight                             :  %.3lf\n", s.gcps_weight);
  a +=
      Format("Minimum number of iterations            :  %d\n", static_cast<int>(s.min_iterations));
  a +=
      Format("Maximum number of iterations            :  %d\n", static_cast<int>(s.max_iterations));
  a += Format("Standard deviation of unit weight (pix) :  %d\n", s.max_reprojection_error);
  a += "\nNumber of rays per object point\n===============================\n\n";
  a += Format("%16s: <Image ID> ... [<number of rays>]\n\n", "<Point ID>");
  for (size_t p = 0; p < points.size(); ++p) {
    a += Format("%16s: ", points[p].id.c_str());
    for (size_t i = 0; i < images.size(); ++i)
      for (const Ray& ray : rays[i])
        if (ray.point == p) a += Format("%s ", images[i].id.c_str());
    a += Format("[%d]\n", point_rays[p]);
  }
  a += "\nNumber of rays per image\n===============================\n\n";
  a += Format("%16s: <number of rays>\n\n", "<Image ID>");
  for (size_t i = 0; i < images.size(); ++i)
    a += Format("%16s: %d\n", images[i].id.c_str(), static_cast<int>(rays[i].size()));
  const int images_count = static_cast<int>(images.size());
  a += "\nData defined for adjustment\n===========================\n\n";
  a += Format("Images                : %d\n", images_count);
  a += Format("Exterior orientations : %d\n", images_count);
  a += Format("Object points (total) : %d\n", ties + controls);
  a += Format("Intersection points   : %d\n", ties);
  a += Format("Control points        : %d\n", controls);
  a += Format("Check points          : %d\n", checks);
  const int t = ties + controls;
  a += "\nNumber of observations, unknowns and "
       "redundancy\n===============================================\n\n";
  a += "Observations:\n" + Format("   Total number of observations :%8d\n", 2 * measurements);
  a += "\nUnknowns:                           total        thereof\n";
  a += "                                              obs.     eli.\n";
  a += Format("   Object point coordinates     :%8d %8d %8d\n", 3 * t, 3 * controls, 0);
  a += Format("   Exterior orientations        :%8d %8d %8d\n", 6 * images_count, 6 * images_count,
              0);
  a += Format("   Total number of unknowns     :%8d %8d %8d\n", 3 * t + 6 * images_count,
              3 * controls + 6 * images_count, 0);
  a += Format("\nRedundancy                      :%8d\n", 2 * measurements + 3 * controls - 3 * t);
  a += "\n===============================================\n*** Iteration criterion limit has been "
       "reached.\n"
       "===============================================\n\n";
  a += Format("Number of iterations: %d\n", 12) +
       Format("Total cpu time for bundle adjustment : %.1lf\n\n", 0.4);
  a += "Cameras\n=======\n\n";
  a += Format("Camera Name            : %s\n", camera.model.c_str());
  a += Format("Camera S/N             : %s\n", camera.camera_serial.c_str());
  a += Format("Calibration Date       : %s\n", camera.calibration_date.c_str());
  a += "Camera type            : frame - pinhole\n";
  a += Format("Focal length (mm)      : %lf\n", camera.focal_mm);
  a += Format("Principal point X (mm) : %lf\n", 0.0);
  a += Format("Principal point Y (mm) : %lf\n", 0.0);
  a += Format("Pixel size (mm)        : %lf\n", camera.pixel_mm);
  a += Format("Image width (mm)       : %lf\n", camera.width * camera.pixel_mm);
  a += Format("Image height (mm)      : %lf\n", camera.height * camera.pixel_mm);
  a += "\nExterior orientations\n=====================\n";
  const char* eo_names[] = {"Xo", "Yo", "Zo", "Omega", "Phi", "Kappa"};
  for (size_t i = 0; i < images.size(); ++i) {
    a += Format("\nImage ID: %s\n\n", images[i].id.c_str());
    a += Format("   Name       %16s %16s %16s\n\n", "Approx.", "Change", "Adjusted");
    for (int k = 0; k < 6; ++k)
      a += Format("   %-10s %16.6lf %16.6lf %16.6lf\n", eo_names[k], images[i].gps[k],
                  adjusted[i][k] - images[i].gps[k], adjusted[i][k]);
  }
  a += "\nObject point coordinates\n========================\nObject point type:\n"
       "in=intersection, co=control point, ch=check point\n\n";
  a += Format("%16s %16s %16s %16s %10s\n\n", "Point ID", "X/m", "Y/m", "Z/m", "Point Type");
  a += ptocs.substr(ptocs.find("\n\n") + 2);  // the same rows
  a += "\nResiduals of image coords\n=========================\n";
  double all_x = 0, all_y = 0, mean_x = 0, mean_y = 0;
  int all = 0;
  for (size_t i = 0; i < images.size(); ++i) {
    a += Format("\nImage ID : %s\n\n", images[i].id.c_str());
    a += Format("%16s %12s %12s %12s %10s\n\n", "Point ID", "vx/um", "vy/um", "|v|/um",
                "Point Type");
    double sx = 0, sy = 0, mx = 0, my = 0;
    for (const Ray& ray : rays[i]) {
      const auto& v = residual[{i, ray.point}];
      a += Format("%16s %12.6lf %12.6lf %12.6lf %10s\n", points[ray.point].id.c_str(), v[0], v[1],
                  std::hypot(v[0], v[1]), points[ray.point].type.c_str());
      sx += v[0] * v[0];
      sy += v[1] * v[1];
      mx += v[0];
      my += v[1];
    }
    const int n = std::max<int>(1, static_cast<int>(rays[i].size()));
    a += Format("\nNumber of points     : %d\n", static_cast<int>(rays[i].size()));
    a += Format("RMS of residuals     : %12.6lf %12.6lf\n", std::sqrt(sx / n), std::sqrt(sy / n));
    a += Format("Average of residuals : %12.6lf %12.6lf\n", mx / n, my / n);
    all_x += sx;
    all_y += sy;
    mean_x += mx;
    mean_y += my;
    all += static_cast<int>(rays[i].size());
  }
  all = std::max(all, 1);
  a += "\nSummary for all image points of all "
       "images\n==========================================\n\n";
  a += Format("Total number of points : %d\n", all);
  a += Format("                         %12s %12s\n", "vx/um", "vy/um");
  a += Format("RMS of residuals       : %12.6lf %12.6lf\n", std::sqrt(all_x / all),
              std::sqrt(all_y / all));
  a += Format("Average of residuals   : %12.6lf %12.6lf\n", mean_x / all, mean_y / all);
  for (const bool control : {true, false}) {
    a += control ? "\n\nControl point residuals\n=======================\n\n"
                 : "\n\nCheck point residuals\n=====================\n\n";
    a += Format("%16s %16s %16s %16s %12s %12s %12s\n\n", "Point ID", "X/m", "Y/m", "Z/m", "vX/m",
                "vY/m", "vZ/m");
    for (const SurveyPoint& p : points) {
      if (p.type != (control ? "co" : "ch")) continue;
      const Eigen::Vector3d v = point_residuals[p.id], x = p.surveyed + v;
      a += Format("%16s %16.6lf %16.6lf %16.6lf %12.6lf %12.6lf %12.6lf\n", p.id.c_str(), x.x(),
                  x.y(), x.z(), v.x(), v.y(), v.z());
    }
  }
  if (!WriteText(base + ".atout", a)) {
    *error = "cannot write the .atout";
    return false;
  }
  return true;
}

}  // namespace vantri::test_support
