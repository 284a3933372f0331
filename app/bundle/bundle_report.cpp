#include "bundle/bundle_report.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <optional>

#include "photogrammetry/passport.h"
#include "points/point_maps.h"
#include "project/project.h"
#include "system/files.h"
#include "system/nvtools.h"

namespace vantri::bundle {
namespace {

void Add(std::string* out, const char* format, ...) __attribute__((format(printf, 2, 3)));
void Add(std::string* out, const char* format, ...) {
  char buffer[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  *out += buffer;
}

std::string ProgramVersion() {
  std::string file_version, product_version;
  NVT_GetVersionInfo("", &file_version, &product_version);
  return file_version;
}

// One measurement of an adjusted, control or check point in an image, with its
// residual.
struct ImagePoint {
  std::string id;
  Eigen::Vector2d pixel;
  Eigen::Vector2d v_um;  // measured minus projected
  bool has_residual = false;
  const char* type;
};

struct Moments {
  int count = 0;
  Eigen::Vector2d sum = Eigen::Vector2d::Zero();
  Eigen::Vector2d squares = Eigen::Vector2d::Zero();
  void Add(const Eigen::Vector2d& v) {
    ++count;
    sum += v;
    squares += v.cwiseProduct(v);
  }
  Eigen::Vector2d Rms() const {
    return count > 0 ? Eigen::Vector2d((squares / count).cwiseSqrt()) : Eigen::Vector2d::Zero();
  }
  Eigen::Vector2d Mean() const {
    return count > 0 ? Eigen::Vector2d(sum / count) : Eigen::Vector2d::Zero();
  }
};

class Composer {
 public:
  explicit Composer(const ReportInput& input) : in_(input), project_(input.project) {
    images_.resize(static_cast<size_t>(project_.ImageCount()));
    version_line_ = "# Vantri - v " + ProgramVersion() + "\n";
  }

  ReportFiles Compose() {
    CollectPoints();
    ReportFiles files;
    files.control_residuals = controls_;
    files.check_residuals = checks_;
    files.atout = Report();
    files.gcpres = ResidualFile(
        "# Aerial Triangulation Ground Control Points Coordinates and "
        "Residuals\n#\n",
        controls_);
    files.cpres =
        ResidualFile("# Aerial Triangulation Check Points Coordinates and Residuals\n#\n", checks_);
    files.ptres = PtresFile();
    files.ptics = PticsFile();
    files.ptocs = PtocsFile();
    files.extor = ExtorFile();
    return files;
  }

 private:
  bool HasCamera(int image) const {
    return image >= 0 && image < static_cast<int>(in_.camera_of_image.size()) &&
           in_.camera_of_image[image] >= 0;
  }

  void AddMeasurement(int image, const std::string& id, const Eigen::Vector2d& pixel,
                      const Eigen::Vector3d& object, const char* type) {
    ImagePoint entry{id, pixel, Eigen::Vector2d::Zero(), false, type};
    const Eigen::Vector2d projected = in_.orientations[image].Pt3dToPix(object);
    if (projected.allFinite()) {
      entry.v_um = (pixel - projected) * project_.passport->pixel_mm * 1000.0;
      entry.has_residual = true;
    }
    images_[image].push_back(entry);
  }

  void CollectPoints() {
    const int width = project_.passport->width, height = project_.passport->height;
    for (const CSSBAPoint& point : in_.tie_points) {
      const std::string id = std::to_string(point.point_index);
      std::vector<int> rays;
      for (const CSSBAColl& m : point.measurements)
        if (HasCamera(m.camera)) {
          rays.push_back(m.camera);
          AddMeasurement(m.camera, id, {m.x, m.y}, {point.X, point.Y, point.Z}, "in");
        }
      rays_.emplace_back(id, rays);
    }
    for (const std::string& name : in_.control_names) {
      const auto found = in_.gcps.find(name);
      if (found == in_.gcps.end()) continue;
      const PointResidual residual =
          SurveyedPointResidual(found->second, project_, in_.orientations);
      controls_.push_back(residual);
      std::vector<int> rays;
      for (const CSIFTColl& m : found->second.measurements)
        if (HasCamera(m.image_index)) {
          rays.push_back(m.image_index);
          AddMeasurement(m.image_index, name, points::PixelFromCentred(m.x, m.y, width, height),
                         residual.adjusted, "co");
        }
      rays_.emplace_back(name, rays);
    }
    for (const auto& [name, point] : in_.check_points) {
      const PointResidual residual = SurveyedPointResidual(point, project_, in_.orientations);
      checks_.push_back(residual);
      for (const CSIFTColl& m : point.measurements)
        if (HasCamera(m.image_index))
          AddMeasurement(m.image_index, name, points::PixelFromCentred(m.x, m.y, width, height),
                         residual.adjusted, "ch");
    }
  }

  int ImageCountWithCamera() const {
    int count = 0;
    for (int image = 0; image < project_.ImageCount(); ++image) count += HasCamera(image) ? 1 : 0;
    return count;
  }

  void Header(std::string* out) const {
    *out += version_line_;
    *out += "# Aerial Triangulation Output Report\n";
  }

  void CoordinateSystem(std::string* out, const char* prefix) const {
    const auto& system = project_.coordinate_system;
    Add(out, "%sProjection : %s\n", prefix, system.ProjectionName().c_str());
    Add(out, "%sDatum      : %s\n", prefix, system.DatumName().c_str());
    Add(out, "%sFuse       : %s\n", prefix, system.FuseName().c_str());
    Add(out, "%sUnits      : %s\n", prefix, system.UnitsName().c_str());
  }

  void Parameters(std::string* out) const {
    const project::VantriTypedSettings& s = project_.settings.typed;
    *out += "\nCoordinate system\n=================\n";
    CoordinateSystem(out, "");
    *out += "\nIntersection points search parameters\n";
    *out += "=====================================\n";
    Add(out, "Number of points to search per images :  %d\n", s.max_points_to_search);
    Add(out, "Template area size (pix)              :  %d\n", s.template_size);
    Add(out, "Search area size (pix)                :  %d\n", s.search_area_size);
    Add(out, "Cross correlation coefficient (0-1)   :  %.3lf\n", s.correlation_threshold);
    *out += "\nIntersection points filtering parameters\n";
    *out += "========================================\n";
    Add(out, "Maximum number of points per image       :  %d\n", s.max_points_per_image);
    Add(out, "Minimum number of measurements per point :  %d\n", s.min_measurements_per_point);
    Add(out, "Maximum reprojection error (pix)         :  %d\n", s.max_reprojection_error);
    *out += "\nLeast-squares parameters\n========================\n";
    Add(out, "Convergence limit                       :  %e\n", s.convergence_threshold);
    Add(out, "GCPs weight                             :  %.3lf\n", s.gcps_weight);
    Add(out, "Minimum number of iterations            :  %d\n", static_cast<int>(s.min_iterations));
    Add(out, "Maximum number of iterations            :  %d\n", static_cast<int>(s.max_iterations));
    // Carries the reprojection-error setting: stored reports and their readers
    // rely on it.
    Add(out, "Standard deviation of unit weight (pix) :  %d\n", s.max_reprojection_error);
  }

  void Rays(std::string* out, int* measurements) const {
    *out +=
        "\nNumber of rays per object "
        "point\n===============================\n\n";
    Add(out, "%16s: <Image ID> ... [<number of rays>]\n\n", "<Point ID>");
    std::vector<int> per_image(images_.size(), 0);
    *measurements = 0;
    for (const auto& [id, rays] : rays_) {
      Add(out, "%16s: ", id.c_str());
      for (int image : rays) {
        Add(out, "%s ", project_.Image(image)->Name().c_str());
        ++per_image[image];
      }
      Add(out, "[%d]\n", static_cast<int>(rays.size()));
      *measurements += static_cast<int>(rays.size());
    }
    *out += "\nNumber of rays per image\n===============================\n\n";
    Add(out, "%16s: <number of rays>\n\n", "<Image ID>");
    for (int image = 0; image < project_.ImageCount(); ++image)
      if (HasCamera(image))
        Add(out, "%16s: %d\n", project_.Image(image)->Name().c_str(), per_image[image]);
  }

  void Counts(std::string* out, int measurements) const {
    const int tie = static_cast<int>(in_.tie_points.size());
    const int control = static_cast<int>(controls_.size());
    const int oriented = ImageCountWithCamera();
    *out += "\nData defined for adjustment\n===========================\n\n";
    Add(out, "Images                : %d\n", project_.ImageCount());
    Add(out, "Exterior orientations : %d\n", oriented);
    Add(out, "Object points (total) : %d\n", tie + control);
    Add(out, "Intersection points   : %d\n", tie);
    Add(out, "Control points        : %d\n", control);
    Add(out, "Check points          : %d\n", static_cast<int>(checks_.size()));

    const int points = 3 * (tie + control), observed_points = 3 * control;
    const int exterior = 6 * oriented;
    *out += "\nNumber of observations, unknowns and redundancy\n";
    *out += "===============================================\n\n";
    *out += "Observations:\n";
    Add(out, "   Total number of observations :%8d\n", 2 * measurements);
    *out += "\nUnknowns:                           total        thereof\n";
    *out += "                                              obs.     eli.\n";
    Add(out, "   Object point coordinates     :%8d %8d %8d\n", points, observed_points, 0);
    Add(out, "   Exterior orientations        :%8d %8d %8d\n", exterior, exterior, 0);
    Add(out, "   Total number of unknowns     :%8d %8d %8d\n", points + exterior,
        observed_points + exterior, 0);
    Add(out, "\nRedundancy                      :%8d\n",
        2 * measurements + observed_points - points);
  }

  void Iterations(std::string* out) const {
    *out += "\n===============================================\n";
    // A stop at the maximum number of iterations must not read as a converged
    // adjustment.
    *out += in_.figures.converged ? "*** Iteration criterion limit has been reached.\n"
                                  : "*** WARNING: Maximum number of iterations has been reached.\n";
    *out += "===============================================\n\n";
    Add(out, "Number of iterations: %d\n", in_.figures.iterations);
    Add(out, "Total cpu time for bundle adjustment : %.1lf\n\n", in_.figures.cpu_seconds);
  }

  void Camera(std::string* out) const {
    const CCameraPassport& p = *project_.passport;
    *out += "Cameras\n=======\n\n";
    Add(out, "Camera Name            : %s\n", p.model.c_str());
    Add(out, "Camera S/N             : %s\n", p.camera_serial.c_str());
    Add(out, "Calibration Date       : %s\n", p.calibration_date.c_str());
    *out += "Camera type            : frame - pinhole\n";
    Add(out, "Focal length (mm)      : %lf\n", p.focal_mm);
    // Principal point from the image centre, x right and y up.
    Add(out, "Principal point X (mm) : %lf\n", (p.ppx - p.width / 2.0) * p.pixel_mm);
    Add(out, "Principal point Y (mm) : %lf\n", (p.height / 2.0 - p.ppy) * p.pixel_mm);
    Add(out, "Pixel size (mm)        : %lf\n", p.pixel_mm);
    Add(out, "Image width (mm)       : %lf\n", p.width * p.pixel_mm);
    Add(out, "Image height (mm)      : %lf\n", p.height * p.pixel_mm);
  }

  void ExteriorOrientations(std::string* out) const {
    *out += "\nExterior orientations\n=====================\n";
    for (const ExteriorResult& result : in_.figures.exterior) {
      const CABAImage& image = *project_.Image(result.image);
      Add(out, "\nImage ID: %s\n\n", image.Name().c_str());
      Add(out, "   Name       %16s %16s %16s\n\n", "Approx.", "Change", "Adjusted");
      const double approx[6] = {image.x, image.y, image.z, image.omega, image.phi, image.kappa};
      const double adjusted[6] = {result.centre.x(), result.centre.y(), result.centre.z(),
                                  result.angles.x(), result.angles.y(), result.angles.z()};
      const char* rows[6] = {"   Xo         ", "   Yo         ", "   Zo         ",
                             "   Omega      ", "   Phi        ", "   Kappa      "};
      for (int i = 0; i < 6; ++i)
        Add(out, "%s%16.6lf %16.6lf %16.6lf\n", rows[i], approx[i], adjusted[i] - approx[i],
            adjusted[i]);
    }
  }

  void ObjectPointRows(std::string* out) const {
    const char* row = "%16s %16.6lf %16.6lf %16.6lf %10s\n";
    for (const CSSBAPoint& p : in_.tie_points)
      Add(out, row, std::to_string(p.point_index).c_str(), p.X, p.Y, p.Z, "in");
    for (const PointResidual& r : controls_)
      Add(out, row, r.name.c_str(), r.adjusted.x(), r.adjusted.y(), r.adjusted.z(), "co");
    for (const PointResidual& r : checks_)
      Add(out, row, r.name.c_str(), r.adjusted.x(), r.adjusted.y(), r.adjusted.z(), "ch");
  }

  void ImageResiduals(std::string* out) const {
    *out += "\nResiduals of image coords\n=========================\n";
    Moments all;
    for (int image = 0; image < project_.ImageCount(); ++image) {
      if (!HasCamera(image)) continue;
      Add(out, "\nImage ID : %s\n\n", project_.Image(image)->Name().c_str());
      Add(out, "%16s %12s %12s %12s %10s\n\n", "Point ID", "vx/um", "vy/um", "|v|/um",
          "Point Type");
      Moments moments;
      for (const ImagePoint& p : images_[image]) {
        if (!p.has_residual) continue;
        Add(out, "%16s %12.6lf %12.6lf %12.6lf %10s\n", p.id.c_str(), p.v_um.x(), p.v_um.y(),
            p.v_um.norm(), p.type);
        moments.Add(p.v_um);
        all.Add(p.v_um);
      }
      Add(out, "\nNumber of points     : %d\n", moments.count);
      Add(out, "RMS of residuals     : %12.6lf %12.6lf\n", moments.Rms().x(), moments.Rms().y());
      Add(out, "Average of residuals : %12.6lf %12.6lf\n", moments.Mean().x(), moments.Mean().y());
    }
    *out += "\nSummary for all image points of all images\n";
    *out += "==========================================\n\n";
    Add(out, "Total number of points : %d\n", all.count);
    Add(out, "                         %12s %12s\n", "vx/um", "vy/um");
    Add(out, "RMS of residuals       : %12.6lf %12.6lf\n", all.Rms().x(), all.Rms().y());
    Add(out, "Average of residuals   : %12.6lf %12.6lf\n", all.Mean().x(), all.Mean().y());
  }

  static void ResidualRows(std::string* out, const std::vector<PointResidual>& points) {
    for (const PointResidual& r : points)
      Add(out, "%16s %16.6lf %16.6lf %16.6lf %12.6lf %12.6lf %12.6lf\n", r.name.c_str(),
          r.adjusted.x(), r.adjusted.y(), r.adjusted.z(), r.v.x(), r.v.y(), r.v.z());
  }

  static void ResidualSection(std::string* out, const char* title, const char* rule,
                              const std::vector<PointResidual>& points) {
    Add(out, "\n\n%s\n%s\n\n", title, rule);
    Add(out, "%16s %16s %16s %16s %12s %12s %12s\n\n", "Point ID", "X/m", "Y/m", "Z/m", "vX/m",
        "vY/m", "vZ/m");
    ResidualRows(out, points);
  }

  std::string Report() const {
    std::string out;
    Header(&out);
    Parameters(&out);
    int measurements = 0;
    Rays(&out, &measurements);
    Counts(&out, measurements);
    Iterations(&out);
    Camera(&out);
    ExteriorOrientations(&out);
    out += "\nObject point coordinates\n========================\n";
    out +=
        "Object point type:\nin=intersection, co=control point, ch=check "
        "point\n\n";
    Add(&out, "%16s %16s %16s %16s %10s\n\n", "Point ID", "X/m", "Y/m", "Z/m", "Point Type");
    ObjectPointRows(&out);
    ImageResiduals(&out);
    ResidualSection(&out, "Control point residuals", "=======================", controls_);
    ResidualSection(&out, "Check point residuals", "=====================", checks_);
    return out;
  }

  std::string ResidualFile(const char* title, const std::vector<PointResidual>& points) const {
    std::string out = version_line_ + title;
    Add(&out, "#%15s %16s %16s %16s %12s %12s %12s\n\n", "Point ID", "X/m", "Y/m", "Z/m", "vX/m",
        "vY/m", "vZ/m");
    ResidualRows(&out, points);
    return out;
  }

  // Rows of an image in the order tie, control, check points.
  std::vector<const ImagePoint*> Ordered(int image) const {
    std::vector<const ImagePoint*> rows;
    for (const char* type : {"in", "co", "ch"})
      for (const ImagePoint& p : images_[image])
        if (std::string(p.type) == type) rows.push_back(&p);
    return rows;
  }

  std::string PtresFile() const {
    std::string out = version_line_ + "# Aerial Triangulation Reprojection Residuals\n#\n";
    Add(&out, "# %s\n# %14s %12s %12s %12s %10s\n# .\n# .\n# .\n\n", "Image", "Point ID", "vx/um",
        "vy/um", "|v|/um", "Point Type");
    for (int image = 0; image < project_.ImageCount(); ++image) {
      if (!HasCamera(image)) continue;
      Add(&out, "\n%s\n", project_.Image(image)->Name().c_str());
      for (const ImagePoint* p : Ordered(image))
        if (p->has_residual)
          Add(&out, "%16s %12.6lf %12.6lf %12.6lf %10s\n", p->id.c_str(), p->v_um.x(), p->v_um.y(),
              p->v_um.norm(), p->type);
    }
    return out;
  }

  std::string PticsFile() const {
    std::string out = version_line_ + "# Aerial Triangulation Image Coordinates\n#\n";
    Add(&out, "# %s\n# %14s %12s %12s %10s\n# .\n# .\n# .\n\n", "Image", "Point ID", "x/pix",
        "y/pix", "Point Type");
    for (int image = 0; image < project_.ImageCount(); ++image) {
      if (!HasCamera(image)) continue;
      Add(&out, "\n%s\n", project_.Image(image)->Name().c_str());
      for (const ImagePoint* p : Ordered(image))
        Add(&out, "%16s %12.3lf %12.3lf %10s\n", p->id.c_str(), p->pixel.x(), p->pixel.y(),
            p->type);
    }
    return out;
  }

  std::string PtocsFile() const {
    std::string out = version_line_ + "# Aerial Triangulation Object Point Coordinates\n#\n";
    Add(&out, "#%15s %16s %16s %16s %10s\n\n", "Point ID", "X/m", "Y/m", "Z/m", "Point Type");
    ObjectPointRows(&out);
    return out;
  }

  std::string ExtorFile() const {
    std::string out = version_line_ + "# Aerial Triangulation External Orientation Result\n\n";
    CoordinateSystem(&out, "# ");
    out += "\n\n";
    Add(&out, "# %28s %16s %16s %16s %12s %12s %12s\n\n", "Image", "X/m", "Y/m", "Z/m", "Omega/rad",
        "Phi/rad", "Kappa/rad");
    for (const ExteriorResult& r : in_.figures.exterior) {
      Add(&out, "%30s ", project_.Image(r.image)->Name().c_str());
      Add(&out, "%16.6lf %16.6lf %16.6lf ", r.centre.x(), r.centre.y(), r.centre.z());
      Add(&out, "%12.6lf %12.6lf %12.6lf\n", r.angles.x(), r.angles.y(), r.angles.z());
    }
    return out;
  }

  const ReportInput& in_;
  const CVantriProject& project_;
  std::string version_line_;
  std::vector<std::vector<ImagePoint>> images_;
  std::vector<std::pair<std::string, std::vector<int>>> rays_;
  std::vector<PointResidual> controls_;
  std::vector<PointResidual> checks_;
};

}  // namespace

PointResidual SurveyedPointResidual(const CGCPCollEx& point, const CVantriProject& project,
                                    const std::vector<nvc::COrientation>& orientations) {
  PointResidual residual;
  residual.name = point.name;
  const Eigen::Vector3d surveyed(point.x, point.y, point.z);
  residual.adjusted = surveyed;
  std::vector<std::optional<Eigen::Vector2d>> pixels(orientations.size());
  for (const CSIFTColl& m : point.measurements) {
    if (m.image_index < 0 || m.image_index >= static_cast<int>(orientations.size()) ||
        m.image_index >= project.ImageCount())
      continue;
    if (project.Image(m.image_index)->enabled == 0 ||
        orientations[m.image_index].GetN() == Eigen::Vector3d::Zero())
      continue;
    pixels[m.image_index] =
        points::PixelFromCentred(m.x, m.y, project.passport->width, project.passport->height);
  }
  Eigen::Vector3d position;
  if (nvc::CMultiImageIntersection(orientations).Intersect(pixels, &position) != 0 &&
      position.allFinite()) {
    residual.adjusted = position;
    residual.v = position - surveyed;
  }
  return residual;
}

ReportFiles ComposeReport(const ReportInput& input) { return Composer(input).Compose(); }

bool WriteReportFiles(const std::string& folder, const std::string& name,
                      const ReportFiles& files) {
  const std::pair<const char*, const std::string*> outputs[] = {
      {"atout", &files.atout}, {"gcpres", &files.gcpres}, {"cpres", &files.cpres},
      {"ptres", &files.ptres}, {"ptics", &files.ptics},   {"ptocs", &files.ptocs},
      {"extor", &files.extor}};
  for (const auto& [extension, bytes] : outputs)
    if (!system::WriteFileAtomically(folder + name + "." + extension, *bytes)) return false;
  return true;
}

}  // namespace vantri::bundle
