#include "text_outputs.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <sstream>

namespace blockgen {

std::string fixed(double value, int decimals) {
  if (value == 0) value = 0;  // no "-0.000"
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  std::string s = text;
  if (s.find_first_not_of("-0.") == std::string::npos && s[0] == '-') s.erase(0, 1);
  return s;
}

namespace {

const char* kOpkConvention =
    "angles in degrees, X-Y-Z Euler convention: R = Rx(omega)*Ry(phi)*Rz(kappa) maps camera to "
    "world; camera x right, y up, z backwards (looks along -z); a vertical photo has "
    "omega = phi = kappa = 0";

const char* kMeasurementConvention =
    "col,row in pixels from the top-left corner of the top-left pixel; x,y in mm relative to "
    "the image centre, y up: x = (col - W/2) * pixel, y = (H/2 - row) * pixel";

// Shortest form that reads back to the same double.
std::string g17(double v) {
  char text[40];
  std::snprintf(text, sizeof text, "%.17g", v);
  return text;
}

std::string crs_name(int epsg) { return "EPSG:" + std::to_string(epsg); }

std::string json_string(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string json_vector(const Eigen::Vector3d& v, int decimals) {
  return "[" + fixed(v.x(), decimals) + ", " + fixed(v.y(), decimals) + ", " +
         fixed(v.z(), decimals) + "]";
}

std::string json_pose(const Pose& p) {
  return "\"X\": " + fixed(p.centre.x(), 4) + ", \"Y\": " + fixed(p.centre.y(), 4) +
         ", \"Z\": " + fixed(p.centre.z(), 4) + ", \"omega\": " + fixed(degrees(p.omega), 8) +
         ", \"phi\": " + fixed(degrees(p.phi), 8) + ", \"kappa\": " + fixed(degrees(p.kappa), 8);
}

}  // namespace

std::string gps_imu_text(const Survey& survey) {
  const BlockOptions& o = survey.options;
  std::ostringstream out;
  out << "# ID,X,Y,Z,omega,phi,kappa - " << crs_name(o.epsg) << " metres; " << kOpkConvention
      << "; GPS noise " << fixed(o.gps_noise, 3) << " m, IMU noise " << fixed(o.imu_noise, 4)
      << " deg, GPS drift " << fixed(o.gps_drift, 3) << " m at the end of each strip\n";
  for (const ImageRecord& image : survey.images) {
    const Pose& g = image.gps_imu;
    out << image.id << ',' << fixed(g.centre.x(), 3) << ',' << fixed(g.centre.y(), 3) << ','
        << fixed(g.centre.z(), 3) << ',' << fixed(degrees(g.omega), 6) << ','
        << fixed(degrees(g.phi), 6) << ',' << fixed(degrees(g.kappa), 6) << '\n';
  }
  return out.str();
}

std::string points_text(const Survey& survey, PointKind kind) {
  std::ostringstream out;
  out << "# ID,X,Y,Z - surveyed " << (kind == PointKind::kControl ? "control" : "check")
      << " points, " << crs_name(survey.options.epsg) << " metres, std. dev. "
      << fixed(survey.options.control_noise, 3) << " m per coordinate\n";
  for (const GroundPoint& p : survey.points) {
    if (p.kind != kind) continue;
    out << p.id << ',' << fixed(p.surveyed.x(), 3) << ',' << fixed(p.surveyed.y(), 3) << ','
        << fixed(p.surveyed.z(), 3) << '\n';
  }
  return out.str();
}

std::string point_measurements_text(const Survey& survey, PointKind kind) {
  const FrameCamera& camera = survey.camera();
  std::ostringstream out;
  out << "# point ID,image ID,col,row,x,y - true image measurements; " << kMeasurementConvention
      << "; W = " << camera.width << ", H = " << camera.height
      << ", pixel = " << fixed(camera.pixel_mm, 6) << " mm\n";
  for (const Observation& ob : survey.observations) {
    const GroundPoint& p = survey.points[ob.point];
    if (p.kind != kind) continue;
    const Centred c = camera.centred_from_pixel(ob.truth);
    out << p.id << ',' << survey.images[ob.image].id << ',' << fixed(ob.truth.col, 4) << ','
        << fixed(ob.truth.row, 4) << ',' << fixed(c.x_mm, 6) << ',' << fixed(c.y_mm, 6) << '\n';
  }
  return out.str();
}

std::string point_collection_text(const Survey& survey, PointKind kind) {
  const FrameCamera& camera = survey.camera();
  std::vector<size_t> points;
  for (size_t i = 0; i < survey.points.size(); ++i)
    if (survey.points[i].kind == kind) points.push_back(i);
  // Name order, without regard to case.
  auto lower = [](std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
  };
  std::sort(points.begin(), points.end(), [&](size_t a, size_t b) {
    return lower(survey.points[a].id) < lower(survey.points[b].id);
  });
  const double variance = survey.options.control_noise * survey.options.control_noise;
  std::ostringstream out;
  out << "VANTRI-POINTS 1\npoints=" << points.size() << "\n";
  for (size_t n = 0; n < points.size(); ++n) {
    const GroundPoint& p = survey.points[points[n]];
    std::vector<const Observation*> seen;
    for (const Observation& ob : survey.observations)
      if (ob.point == points[n]) seen.push_back(&ob);
    out << "begin point\nid=" << n + 1 << "\nname=" << p.id << "\nxyz=" << g17(p.surveyed.x())
        << ' ' << g17(p.surveyed.y()) << ' ' << g17(p.surveyed.z()) << "\nresiduals=0 0 0\n"
        << "variances=" << g17(variance) << ' ' << g17(variance)
        << "\nuse=1\nmeasurements=" << seen.size() << "\n";
    for (const Observation* ob : seen)
      out << "m=" << ob->image << ' ' << g17(ob->truth.col - 0.5 * camera.width) << ' '
          << g17(0.5 * camera.height - ob->truth.row) << "\n";
    out << "end point\n";
  }
  return out.str();
}

std::string camera_passport_text(const FrameCamera& c) {
  const Distortion& d = c.distortion;
  std::ostringstream out;
  out << "VANTRI-PASSPORT-BCC 1\n"
         "# Synthetic camera of blockgen. Distortion in the metric convention (reduced image\n"
         "# coordinates u, v in metres about the principal point, added to the ideal ones):\n"
         "# dx = u (k1 r2 + k2 r2^2 + k3 r2^3) + p1 (3u^2 + v^2) + 2 p2 u v, r2 = u^2 + v^2,\n"
         "# dy = v (k1 r2 + k2 r2^2 + k3 r2^3) + 2 p1 u v + p2 (u^2 + 3v^2).\n";
  out << "model=" << c.model << "\n";
  out << "camera_serial=" << c.camera_serial << "\n";
  out << "lens_serial=" << c.lens_serial << "\n";
  out << "lens_constant=" << std::lround(c.focal_mm) << "\n";
  out << "calibration_date=01-01-2026\n";
  out << "focal_mm=" << g17(c.focal_mm) << "\n";
  out << "pixel_mm=" << g17(c.pixel_mm) << "\n";
  out << "ppx=" << g17(c.pp_col) << "\n";
  out << "ppy=" << g17(c.pp_row) << "\n";
  out << "width=" << c.width << "\n";
  out << "height=" << c.height << "\n";
  const MetricDistortion m = metric_distortion(d);
  out << "k1=" << g17(m.k1) << "\nk2=" << g17(m.k2) << "\nk3=" << g17(m.k3) << "\np1=" << g17(m.p1)
      << "\np2=" << g17(m.p2) << "\n";
  return out.str();
}

std::string truth_json(const Survey& survey, const std::vector<std::string>& image_files,
                       const std::string& srtm_file) {
  const BlockOptions& o = survey.options;
  const FrameCamera& c = survey.camera();
  const Terrain& t = *survey.terrain;
  std::ostringstream out;
  out << "{\n  \"generator\": \"blockgen\",\n  \"seed\": " << o.seed << ",\n";
  out << "  \"crs\": " << json_string(crs_name(o.epsg)) << ",\n";
  out << "  \"conventions\": {\n    \"rotation\": " << json_string(kOpkConvention)
      << ",\n    \"image\": " << json_string(kMeasurementConvention) << "\n  },\n";
  out << "  \"camera\": {\"id\": " << json_string(c.id)
      << ", \"focal_mm\": " << fixed(c.focal_mm, 6) << ", \"pixel_mm\": " << fixed(c.pixel_mm, 6)
      << ", \"width\": " << c.width << ", \"height\": " << c.height
      << ", \"pp_col\": " << fixed(c.pp_col, 4) << ", \"pp_row\": " << fixed(c.pp_row, 4)
      << ", \"k1\": " << c.distortion.k1 << ", \"k2\": " << c.distortion.k2
      << ", \"k3\": " << c.distortion.k3 << ", \"p1\": " << c.distortion.p1
      << ", \"p2\": " << c.distortion.p2 << "},\n";
  out << "  \"noise\": {\"pixel_px\": " << fixed(o.pixel_noise, 4)
      << ", \"gps_m\": " << fixed(o.gps_noise, 4) << ", \"imu_deg\": " << fixed(o.imu_noise, 6)
      << ", \"gps_drift_m\": " << fixed(o.gps_drift, 4)
      << ", \"control_m\": " << fixed(o.control_noise, 4)
      << ", \"exposure_variation\": " << fixed(o.exposure_variation, 4)
      << ", \"pixel_grain\": " << fixed(o.pixel_grain, 3) << "},\n";
  out << "  \"image_bands\": " << (o.rgb ? 3 : 1) << ",\n";
  out << "  \"flight\": {\"strips\": " << o.strips
      << ", \"images_per_strip\": " << o.images_per_strip
      << ", \"forward_overlap\": " << fixed(o.forward_overlap, 3)
      << ", \"side_overlap\": " << fixed(o.side_overlap, 3)
      << ", \"flying_height_m\": " << fixed(o.flying_height, 3)
      << ", \"gsd_m\": " << fixed(survey.gsd, 5) << "},\n";
  out << "  \"terrain\": {\"dem\": \"dem.tif\", \"srtm\": " << json_string(srtm_file)
      << ", \"west\": " << fixed(t.west(), 3) << ", \"north\": " << fixed(t.north(), 3)
      << ", \"cell_m\": " << fixed(t.cell(), 4) << ", \"cols\": " << t.cols()
      << ", \"rows\": " << t.rows() << ", \"min_height\": " << fixed(t.min_height(), 3)
      << ", \"max_height\": " << fixed(t.max_height(), 3)
      << ", \"mean_height\": " << fixed(t.mean_height(), 3)
      << ", \"interpolation\": \"bilinear between cell centres\"},\n";
  out << "  \"images\": [\n";
  for (size_t i = 0; i < survey.images.size(); ++i) {
    const ImageRecord& im = survey.images[i];
    out << "    {\"id\": " << json_string(im.id)
        << ", \"file\": " << json_string(i < image_files.size() ? image_files[i] : "")
        << ", \"strip\": " << im.strip + 1 << ", \"time\": " << fixed(im.time, 4) << ", "
        << json_pose(im.truth) << ", \"gain\": " << fixed(im.gain, 5)
        << ", \"offset\": " << fixed(im.offset, 4) << "}"
        << (i + 1 < survey.images.size() ? ",\n" : "\n");
  }
  out << "  ],\n";
  const struct {
    const char* name;
    PointKind kind;
  } groups[] = {{"control_points", PointKind::kControl},
                {"check_points", PointKind::kCheck},
                {"tie_points", PointKind::kTie}};
  std::vector<size_t> rays(survey.points.size(), 0);
  for (const Observation& ob : survey.observations) ++rays[ob.point];
  for (size_t g = 0; g < 3; ++g) {
    out << "  " << json_string(groups[g].name) << ": [\n";
    bool first = true;
    for (size_t i = 0; i < survey.points.size(); ++i) {
      const GroundPoint& p = survey.points[i];
      if (p.kind != groups[g].kind) continue;
      out << (first ? "" : ",\n") << "    {\"id\": " << json_string(p.id)
          << ", \"truth\": " << json_vector(p.truth, 4);
      if (p.kind != PointKind::kTie) out << ", \"surveyed\": " << json_vector(p.surveyed, 4);
      out << ", \"rays\": " << rays[i] << "}";
      first = false;
    }
    out << (first ? "" : "\n") << "  ]" << (g < 2 ? ",\n" : "\n");
  }
  out << "}\n";
  return out.str();
}

}  // namespace blockgen
