#include "engine_input.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "text_outputs.h"

namespace blockgen {
namespace {

constexpr const char* kFree = "1.0e+31";   // smaxu: the value is a free unknown
constexpr const char* kFixed = "1.0e-31";  // sminu: the value is a fixed constant

std::string scientific(double value) {
  char text[40];
  std::snprintf(text, sizeof text, "%.9e", value);
  return text;
}

std::string params_text() {
  // Single-ray option; 4 output flags; 5 flags for unknowns; 2 debug flags; AP grid;
  // the four normal-equation dump files.
  return "0\n0 0 0 0\n0 0 0 0 0\n0 0\n5 5\nnone none none none\n";
}

std::string ls_params_text() {
  // sigma_0 (m); iterations; criterion switches (object points, centres, rotations, geometry);
  // convergence limits; smin smax sminu smaxu; weights for suppression and constraints;
  // correlation output limit; numeric increments (m, rad); significance limit; A'Pv limit;
  // residual print limit (um); object unit, angle unit, interface.
  return "1.0e-06\n20\n1 1 1 1\n0.0001 0.0001 1.0e-07 1.0e-08\n"
         "1.0e-30 1.0e+30 1.0e-31 1.0e+31\n1.0e+10 1.0e+10 0.80\n1.0 0.001\n1.96 0.0001 10\n"
         "m deg native\n";
}

std::string cameras_text(const FrameCamera& c) {
  const Centred pp = c.principal_point();
  std::ostringstream out;
  out << "camera-ccd " << c.id << " blockgen-synthetic " << fixed(c.focal_mm, 6) << ' '
      << fixed(pp.x_mm, 6) << ' ' << fixed(pp.y_mm, 6) << ' ' << c.width << ' ' << c.height << ' '
      << fixed(c.pixel_mm * 1000.0, 6) << ' ' << fixed(c.pixel_mm * 1000.0, 6) << "\nstop-dep\n";
  return out.str();
}

std::string images_text(const Survey& survey) {
  std::ostringstream out;
  for (const ImageRecord& im : survey.images)
    out << "image-frame " << im.id << ' ' << im.id << ' ' << survey.camera().id << '\n';
  out << "stop-dep\n";
  return out.str();
}

std::string orientations_text(const Survey& survey) {
  std::ostringstream out;
  out << "indiv-type\n";
  for (const ImageRecord& im : survey.images) {
    const Pose& g = im.gps_imu;
    out << "ext-ori-opk-rot " << im.id << " deg " << fixed(im.time, 4) << '\n'
        << "  " << fixed(g.centre.x(), 4) << ' ' << fixed(g.centre.y(), 4) << ' '
        << fixed(g.centre.z(), 4) << '\n'
        << "  " << kFree << ' ' << kFree << ' ' << kFree << '\n'
        << "  " << fixed(degrees(g.omega), 8) << ' ' << fixed(degrees(g.phi), 8) << ' '
        << fixed(degrees(g.kappa), 8) << '\n'
        << "  " << kFree << ' ' << kFree << ' ' << kFree << '\n';
  }
  out << "stop-dep\n";
  return out.str();
}

// Engine AP parameters act on reduced coordinates in metres.
std::string ap_sets_text(const FrameCamera& c) {
  const MetricDistortion m = metric_distortion(c.distortion);
  std::ostringstream out;
  out << "radial-dist RAD-" << c.id << ' ' << c.id << '\n'
      << "  " << scientific(m.k1) << ' ' << kFixed << '\n'
      << "  " << scientific(m.k2) << ' ' << kFixed << '\n'
      << "  " << scientific(m.k3) << ' ' << kFixed << '\n'
      << "decentering-dist DEC-" << c.id << ' ' << c.id << '\n'
      << "  " << scientific(m.p1) << ' ' << kFixed << '\n'
      << "  " << scientific(m.p2) << ' ' << kFixed << '\n'
      << "stop-dep\n";
  return out.str();
}

std::string object_coordinates_text(const Survey& survey) {
  const double s = survey.options.control_noise;
  const std::string control_sd = s > 0 ? fixed(s, 4) : kFixed;
  std::ostringstream out;
  out << "indiv-sdev\n";
  for (const GroundPoint& p : survey.points) {
    if (p.kind == PointKind::kTie) continue;
    const std::string sd = p.kind == PointKind::kControl ? control_sd : kFree;
    out << p.id << ' ' << fixed(p.surveyed.x(), 4) << ' ' << fixed(p.surveyed.y(), 4) << ' '
        << fixed(p.surveyed.z(), 4) << ' ' << sd << ' ' << sd << ' ' << sd << '\n';
  }
  out << "stop-dep\n";
  return out.str();
}

std::string control_support_text(const Survey& survey) {
  std::ostringstream out;
  out << "# Control points are observed with the std. devs. of objcoords.txt.\n"
         "# Check points: adjusted as new points, compared in X, Y and Z.\n";
  for (const GroundPoint& p : survey.points)
    if (p.kind == PointKind::kCheck) out << p.id << " ch xyz\n";
  out << "stop-dep\n";
  return out.str();
}

std::string image_coordinates_text(const Survey& survey) {
  // Standard deviation of a measurement; a zero noise level still needs a finite weight.
  const std::string sd = fixed(std::max(survey.options.pixel_noise, 0.05), 4);
  std::vector<std::vector<const Observation*>> per_image(survey.images.size());
  for (const Observation& ob : survey.observations) per_image[ob.image].push_back(&ob);
  std::ostringstream out;
  for (size_t i = 0; i < survey.images.size(); ++i) {
    out << survey.images[i].id << " 1.0\n";
    for (const Observation* ob : per_image[i]) {
      const Pixel p = engine_pixel(ob->measured);
      out << "  " << survey.points[ob->point].id << ' ' << fixed(p.col, 4) << ' ' << fixed(p.row, 4)
          << ' ' << sd << ' ' << sd << '\n';
    }
    out << "stop-dep\n";
  }
  out << "stop-dep\n";
  return out.str();
}

}  // namespace

Pixel engine_pixel(Pixel p) { return {p.col - 0.5, p.row - 0.5}; }

std::vector<NamedText> engine_input_files(const Survey& survey) {
  const bool distortion = survey.camera().distortion.any();
  std::vector<NamedText> files = {
      {"params.txt", params_text()},
      {"lsparams.txt", ls_params_text()},
      {"cameras.txt", cameras_text(survey.camera())},
      {"images.txt", images_text(survey)},
      {"orientations.txt", orientations_text(survey)},
      {"objcoords.txt", object_coordinates_text(survey)},
      {"control.txt", control_support_text(survey)},
      {"imagecoords.txt", image_coordinates_text(survey)},
  };
  if (distortion) files.push_back({"apsets.txt", ap_sets_text(survey.camera())});
  const char* keywords[] = {"params",   "ls-params", "camera",     "image", "ext-ori",
                            "obj-crds", "ctrl-supp", "image-crds", "ap-set"};
  std::string main;
  for (size_t i = 0; i < files.size(); ++i)
    main += std::string(keywords[i]) + ' ' + files[i].name + '\n';
  main += "stop-dep\n";
  files.insert(files.begin(), {"block.inp", main});
  return files;
}

}  // namespace blockgen
