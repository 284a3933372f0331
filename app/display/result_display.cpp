#include "display/result_display.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <numbers>
#include <system_error>

#include "system/files.h"
#include "system/text.h"
#include "ui_interface/ui.h"

namespace vantri::display {
namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kTolerance = 1e-6;
constexpr double kArrowHeadFraction = 0.25;
constexpr double kArrowHeadAngle = 25.0 * kPi / 180.0;

// --- Reading ------------------------------------------------------------------------------------

// Reads one result file through `parse`; a missing, unreadable or damaged file adds a problem.
template <typename Parse>
void ReadResultFile(const std::string& path, std::vector<std::string>& problems, Parse parse) {
  std::error_code error;
  if (!std::filesystem::exists(path, error)) {
    problems.push_back(path + " is missing");
    return;
  }
  std::string text;
  if (!system::ReadWholeFile(path, text)) {
    problems.push_back(path + " cannot be read");
    return;
  }
  report::FileStatus status;
  parse(text, status);
  if (status.state == report::FileState::kDamaged)
    problems.push_back(path + " is damaged: " + status.problem);
}

// --- Building -----------------------------------------------------------------------------------

// Without a GPS position (0, 0, 0) the movement of an image would be its whole position.
bool HasGpsPosition(const CABAImage& image) { return image.x != 0 || image.y != 0 || image.z != 0; }

Entity PointEntity(PointKind kind, const std::string& id, const CEntBundlePt& point) {
  Entity entity;
  entity.kind = EntityKind::kPoint;
  entity.centre = {point.x, point.y};
  entity.color = point.color;
  entity.label = point.label;
  entity.point_kind = kind;
  entity.point_id = id;
  return entity;
}

// An ellipse (or a circle when `circle`) unless both radii are 0.
void AddRound(Layer* layer, EntityKind kind, std::array<double, 2> centre, double radius_x,
              double radius_y, const SymbolStyle& style, int line_weight, PointKind point_kind,
              const std::string& id) {
  if (layer == nullptr || (radius_x == 0 && radius_y == 0)) return;
  // A huge scale may overflow; such a symbol cannot be drawn.
  if (!std::isfinite(radius_x) || !std::isfinite(radius_y)) return;
  Entity entity;
  entity.kind = kind;
  entity.centre = centre;
  entity.radius_x = radius_x;
  entity.radius_y = kind == EntityKind::kCircle ? radius_x : radius_y;
  entity.filled = style.filled;
  entity.color = FromColorRef(style.color);
  entity.line_weight = line_weight;
  entity.point_kind = point_kind;
  entity.point_id = id;
  layer->entities.push_back(std::move(entity));
}

void AddArrow(Layer* layer, std::array<double, 2> start, double dx, double dy, int line_weight,
              PointKind point_kind, const std::string& id) {
  if (layer == nullptr) return;
  std::vector<std::array<double, 2>> vertices = ArrowPolyline(start[0], start[1], dx, dy);
  if (vertices.empty()) return;
  Entity entity;
  entity.kind = EntityKind::kPolyline;
  entity.centre = start;
  entity.vertices = std::move(vertices);
  entity.color = layer->color;
  entity.line_weight = line_weight;
  entity.point_kind = point_kind;
  entity.point_id = id;
  layer->entities.push_back(std::move(entity));
}

Layer& AddLayer(DisplayModel& model, const std::string& name, bool visible, Rgb color) {
  model.layers.push_back({name, visible, color, {}});
  return model.layers.back();
}

void AddBaseLayers(DisplayModel& model, const DisplaySettings& s) {
  const auto style_color = [](const SymbolStyle& style) { return FromColorRef(style.color); };
  for (const char* name : {"TP", "CP", "GCP", "CP_Images", "GCP_Images"})
    AddLayer(model, name, true, {});
  AddLayer(model, "TPResXYEllipse", s.tie_xy_ellipse.visible, style_color(s.tie_xy_ellipse));
  AddLayer(model, "TPResXYVector", s.tie_xy_vector, kXyVectorCyan);
  AddLayer(model, "CPResXYEllipse", s.check_xy_ellipse.visible, style_color(s.check_xy_ellipse));
  AddLayer(model, "CPResZCircle", s.check_z_circle.visible, style_color(s.check_z_circle));
  AddLayer(model, "CPResXYVector", s.check_xy_vector, kXyVectorCyan);
  AddLayer(model, "CPResZVector", s.check_z_vector, kZVectorMagenta);
  AddLayer(model, "GCPResXYEllipse", s.control_xy_ellipse.visible,
           style_color(s.control_xy_ellipse));
  AddLayer(model, "GCPResZCircle", s.control_z_circle.visible, style_color(s.control_z_circle));
  AddLayer(model, "GCPResXYVector", s.control_xy_vector, kXyVectorCyan);
  AddLayer(model, "GCPResZVector", s.control_z_vector, kZVectorMagenta);
}

// Micrometres of the image plane per pixel, 0 when the project's camera does not say.
double MicrometresPerPixel(const CVantriProject& project) {
  const CCameraPassport* camera =
      project.working_passport ? project.working_passport.get() : project.passport.get();
  return camera && camera->pixel_mm > 0 ? camera->pixel_mm * 1000.0 : 0.0;
}

// The residual file is in micrometres, the tie-point thresholds in pixels: compare in pixels
// (as the HTML report does). Without a pixel size the value is compared as it stands.
double ResidualInPixels(double micrometres, double um_per_pixel) {
  return um_per_pixel > 0 ? micrometres / um_per_pixel : micrometres;
}

void AddTiePoints(DisplayModel& model, const DisplayResults& results,
                  const project::QualityClass& quality, double um_per_pixel,
                  const DisplaySettings& s) {
  const std::map<std::string, MeanResidual> means = MeanTieResiduals(results.image_residuals);
  Layer* points = model.FindLayer("TP");
  for (const report::ObjectPointRow& row : results.object_points) {
    if (row.type.find("in") == std::string::npos) continue;
    const auto mean = means.find(row.id);
    if (mean == means.end()) continue;
    CEntTP& tie = model.tie_points[row.id];
    tie.label = row.id;
    tie.x = row.x, tie.y = row.y, tie.z = row.z;
    tie.res_x = mean->second.vx, tie.res_y = mean->second.vy, tie.res_z = 0;
    tie.magnitude = std::hypot(tie.res_x, tie.res_y);
    tie.has_result = true;
    tie.rays = mean->second.rows;
    tie.color = QualityColor(quality, ResidualInPixels(tie.magnitude, um_per_pixel));
  }
  for (const auto& [id, tie] : model.tie_points) {
    const std::string label = tie.label;
    // Tie points are too many to label in the drawing; the entity keeps the label.
    points->entities.push_back(PointEntity(PointKind::kTie, label, tie));
    points->entities.back().label.clear();
    AddRound(model.FindLayer("TPResXYEllipse"), EntityKind::kEllipse, {tie.x, tie.y},
             std::fabs(tie.res_x) * s.tie_xy_scale, std::fabs(tie.res_y) * s.tie_xy_scale,
             s.tie_xy_ellipse, 0, PointKind::kTie, label);
    AddArrow(model.FindLayer("TPResXYVector"), {tie.x, tie.y}, tie.res_x * s.tie_xy_scale,
             tie.res_y * s.tie_xy_scale, 0, PointKind::kTie, label);
  }
}

const report::PointResidual* FindResult(const std::vector<report::PointResidual>& rows,
                                        const std::string& name) {
  for (const report::PointResidual& row : rows)
    if (system::EqualsNoCase(row.id, name)) return &row;
  return nullptr;
}

const report::AdjustedOrientation* FindOrientation(const DisplayResults& results,
                                                   const std::string& image) {
  for (const report::AdjustedOrientation& row : results.orientations)
    if (system::EqualsNoCase(row.image, image)) return &row;
  return nullptr;
}

// The chip of a surveyed point: its first measurement in an enabled image, sized on the ground by
// the image's scale at the point (distance from the projection centre times pixel / focal length).
bool ChipOf(const CVantriProject& project, const DisplayResults& results, const CGCPCollEx* record,
            const CEntGCP& point, ImageChip* chip, double* half_width) {
  if (record == nullptr || project.passport == nullptr) return false;
  const CCameraPassport& passport = *project.passport;
  if (passport.focal_mm <= 0 || passport.pixel_mm <= 0) return false;
  for (const CSIFTColl& m : record->measurements) {
    const CABAImage* image = project.Image(m.image_index);
    if (image == nullptr || image->enabled == 0) continue;
    std::array<double, 3> centre{image->x, image->y, image->z};
    if (const report::AdjustedOrientation* adjusted = FindOrientation(results, image->Name()))
      centre = {adjusted->x, adjusted->y, adjusted->z};
    else if (!HasGpsPosition(*image))
      continue;
    const double distance =
        std::sqrt(std::pow(centre[0] - point.x, 2) + std::pow(centre[1] - point.y, 2) +
                  std::pow(centre[2] - point.z, 2));
    *chip = {image->Path(), passport.width / 2.0 + m.x, passport.height / 2.0 - m.y, kChipSizePx};
    *half_width = 0.5 * kChipSizePx * distance * passport.pixel_mm / passport.focal_mm;
    return *half_width > 0;
  }
  return false;
}

struct SurveyedKind {
  PointKind kind;
  const char* layer;  // "GCP" or "CP"; symbol layers are <layer>ResXYEllipse, ...
  SymbolStyle xy_ellipse, z_circle;
  double xy_scale, z_scale;
};

template <typename Entry>
void AddSurveyedPoints(DisplayModel& model, std::map<std::string, Entry>& entities,
                       const CVantriProject& project, const CGCPCollMap& records,
                       const std::vector<report::PointResidual>& rows,
                       const DisplayResults& results, const project::QualityClass& quality,
                       const SurveyedKind& k) {
  std::vector<std::string> names;
  for (const auto& [name, record] : records) names.push_back(name);
  for (const report::PointResidual& row : rows)
    if (records.find(row.id) == records.end()) names.push_back(row.id);
  const std::string prefix = k.layer;
  for (const std::string& name : names) {
    const auto record = records.find(name);
    const CGCPCollEx* surveyed = record == records.end() ? nullptr : &record->second;
    Entry& point = entities[name];
    point.label = name;
    point.point_name = name;
    if (const report::PointResidual* result = FindResult(rows, name)) {
      point.x = result->x, point.y = result->y, point.z = result->z;
      point.res_x = result->vx, point.res_y = result->vy, point.res_z = result->vz;
      point.magnitude =
          std::sqrt(result->vx * result->vx + result->vy * result->vy + result->vz * result->vz);
      point.has_result = true;
      point.color = QualityColor(quality, point.magnitude);
    } else {
      point.x = surveyed->x, point.y = surveyed->y, point.z = surveyed->z;
      point.color = kNoResultGrey;
    }
    model.FindLayer(prefix)->entities.push_back(PointEntity(k.kind, name, point));
    double half_width = 0;
    if (ChipOf(project, results, surveyed, point, &point.chip, &half_width)) {
      point.has_chip = true;
      Entity chip = PointEntity(k.kind, name, point);
      chip.kind = EntityKind::kImageChip;
      chip.label.clear();
      chip.radius_x = chip.radius_y = half_width;
      chip.chip = point.chip;
      model.FindLayer(prefix + "_Images")->entities.push_back(std::move(chip));
    }
    if (!point.has_result) continue;
    const std::array<double, 2> at{point.x, point.y};
    AddRound(model.FindLayer(prefix + "ResXYEllipse"), EntityKind::kEllipse, at,
             std::fabs(point.res_x) * k.xy_scale, std::fabs(point.res_y) * k.xy_scale, k.xy_ellipse,
             0, k.kind, name);
    AddRound(model.FindLayer(prefix + "ResZCircle"), EntityKind::kCircle, at,
             std::fabs(point.res_z) * k.z_scale, 0, k.z_circle, 0, k.kind, name);
    AddArrow(model.FindLayer(prefix + "ResXYVector"), at, point.res_x * k.xy_scale,
             point.res_y * k.xy_scale, 0, k.kind, name);
    AddArrow(model.FindLayer(prefix + "ResZVector"), at, 0, point.res_z * k.z_scale, 0, k.kind,
             name);
  }
}

int FindImage(const CVantriProject& project, const std::string& name) {
  for (int i = 0; i < project.ImageCount(); ++i)
    if (system::EqualsNoCase(project.Image(i)->Name(), name)) return i;
  return -1;
}

void AddImageSymbols(DisplayModel& model, const ImageMovement& m, const DisplaySettings& s) {
  const std::string& name = m.image;
  const std::array<double, 2> at{m.x, m.y};
  const int weight = kImageSymbolLineWeight;
  const PointKind none = PointKind::kTie;
  const auto color = [](const SymbolStyle& style) { return FromColorRef(style.color); };
  AddLayer(model, name + "_ResXYEllipse", s.image_xy_ellipse.visible, color(s.image_xy_ellipse));
  AddRound(&model.layers.back(), EntityKind::kEllipse, at, std::fabs(m.dx) * s.image_xy_scale,
           std::fabs(m.dy) * s.image_xy_scale, s.image_xy_ellipse, weight, none, {});
  AddLayer(model, name + "_ResZCircle", s.image_z_circle.visible, color(s.image_z_circle));
  AddRound(&model.layers.back(), EntityKind::kCircle, at, std::fabs(m.dz) * s.image_z_scale, 0,
           s.image_z_circle, weight, none, {});
  AddLayer(model, name + "_ResXYVector", s.image_xy_vector, kXyVectorCyan);
  AddArrow(&model.layers.back(), at, m.dx * s.image_xy_scale, m.dy * s.image_xy_scale, weight, none,
           {});
  AddLayer(model, name + "_ResZVector", s.image_z_vector, kZVectorMagenta);
  AddArrow(&model.layers.back(), at, 0, m.dz * s.image_z_scale, weight, none, {});
  AddLayer(model, name + "_ResOPEllipse", s.image_op_ellipse.visible, color(s.image_op_ellipse));
  AddRound(&model.layers.back(), EntityKind::kEllipse, at, std::fabs(m.d_omega) * s.image_op_scale,
           std::fabs(m.d_phi) * s.image_op_scale, s.image_op_ellipse, weight, none, {});
  AddLayer(model, name + "_ResKCircle", s.image_k_circle.visible, color(s.image_k_circle));
  AddRound(&model.layers.back(), EntityKind::kCircle, at, std::fabs(m.d_kappa) * s.image_k_scale, 0,
           s.image_k_circle, weight, none, {});
}

}  // namespace

double ZeroBelowTolerance(double difference) {
  return std::fabs(difference) < kTolerance ? 0.0 : difference;
}

Rgb QualityColor(const project::QualityClass& quality, double magnitude) {
  return FromColorRef(quality.ColorFor(magnitude));
}

std::map<std::string, MeanResidual> MeanTieResiduals(
    const std::vector<report::ImageResiduals>& residuals) {
  std::map<std::string, MeanResidual> sums;
  for (const report::ImageResiduals& image : residuals)
    for (const report::ImageResidualRow& row : image.rows) {
      if (row.type.find("in") == std::string::npos) continue;
      MeanResidual& sum = sums[row.point_id];
      sum.vx += row.vx_um;
      sum.vy += row.vy_um;
      ++sum.rows;
    }
  for (auto& [id, sum] : sums) sum.vx /= sum.rows, sum.vy /= sum.rows;
  return sums;
}

ImageMovement MovementOf(const CABAImage& image, int image_index,
                         const report::AdjustedOrientation& adjusted) {
  ImageMovement m;
  m.image = image.Name();
  m.image_index = image_index;
  m.x = adjusted.x;
  m.y = adjusted.y;
  m.dx = ZeroBelowTolerance(adjusted.x - image.x);
  m.dy = ZeroBelowTolerance(adjusted.y - image.y);
  m.dz = ZeroBelowTolerance(adjusted.z - image.z);
  m.d_omega = ZeroBelowTolerance(WrapAngle(adjusted.omega - image.omega));
  m.d_phi = ZeroBelowTolerance(WrapAngle(adjusted.phi - image.phi));
  m.d_kappa = ZeroBelowTolerance(WrapAngle(adjusted.kappa - image.kappa));
  return m;
}

std::vector<std::array<double, 2>> ArrowPolyline(double x, double y, double dx, double dy) {
  const double length = std::hypot(dx, dy);
  if (!(length > 0) || !std::isfinite(length) || !std::isfinite(x) || !std::isfinite(y)) return {};
  const std::array<double, 2> tip{x + dx, y + dy};
  const double head = kArrowHeadFraction * length;
  const double back = std::atan2(-dy, -dx);
  const auto stroke = [&](double angle) {
    return std::array<double, 2>{tip[0] + head * std::cos(back + angle),
                                 tip[1] + head * std::sin(back + angle)};
  };
  return {{x, y}, tip, stroke(kArrowHeadAngle), tip, stroke(-kArrowHeadAngle)};
}

DisplayResults ReadDisplayResults(const CVantriProject& project, UserInterface* ui) {
  DisplayResults results;
  const std::string base = project.folder + "Bundle/" + project.name + ".";
  std::vector<std::string>& problems = results.problems;
  int step = 0;
  // Before each file: progress, messages and the abort flag.
  const auto next = [&]() {
    if (ui == nullptr) return true;
    ui->SetProgressPosition(++step);
    ui->PumpMessages();
    return !ui->IsAborted();
  };
  if (ui != nullptr) {
    ui->SetProgressRange(0, kLoadProgressSteps);
    ui->SetProgressPosition(0);
  }
  bool go = next();
  if (go) {
    ReadResultFile(base + "extor", problems, [&](const std::string& text, auto& status) {
      report::CoordinateSystemNames names;
      report::ParseExtor(text, results.orientations, names, status);
    });
    go = next();
  }
  if (go) {
    ReadResultFile(base + "ptres", problems, [&](const std::string& text, auto& status) {
      report::ParseImageResiduals(text, results.image_residuals, status);
    });
    go = next();
  }
  if (go) {
    ReadResultFile(base + "ptocs", problems, [&](const std::string& text, auto& status) {
      report::ParseObjectPoints(text, results.object_points, status);
    });
    go = next();
  }
  if (go) {
    ReadResultFile(base + "gcpres", problems, [&](const std::string& text, auto& status) {
      report::ParsePointResiduals(text, results.control_points, status);
    });
    go = next();
  }
  if (go) {
    ReadResultFile(base + "cpres", problems, [&](const std::string& text, auto& status) {
      report::ParsePointResiduals(text, results.check_points, status);
    });
  }
  if (!go) problems.push_back("Loading of the bundle results aborted");
  if (ui != nullptr) ui->SetProgressPosition(0);
  return results;
}

void ApplyPointResiduals(const DisplayResults& results, CVantriProject& project) {
  const auto apply = [](const std::vector<report::PointResidual>& rows, CGCPCollMap& points) {
    for (const report::PointResidual& row : rows) {
      const auto found = points.find(row.id);
      if (found == points.end()) continue;
      found->second.res_x = row.vx;
      found->second.res_y = row.vy;
      found->second.res_z = row.vz;
    }
  };
  apply(results.control_points, project.gcps);
  apply(results.check_points, project.check_points);
}

DisplayModel BuildDisplayModel(const CVantriProject& project, const DisplayResults& results,
                               const project::QualityThresholds& quality,
                               const DisplaySettings& s) {
  DisplayModel model;
  AddBaseLayers(model, s);
  AddTiePoints(model, results, quality.tie_points, MicrometresPerPixel(project), s);
  AddSurveyedPoints(model, model.control_points, project, project.gcps, results.control_points,
                    results, quality.gcps,
                    {PointKind::kControl, "GCP", s.control_xy_ellipse, s.control_z_circle,
                     s.control_xy_scale, s.control_z_scale});
  AddSurveyedPoints(model, model.check_points, project, project.check_points, results.check_points,
                    results, quality.gcps,
                    {PointKind::kCheck, "CP", s.check_xy_ellipse, s.check_z_circle,
                     s.check_xy_scale, s.check_z_scale});
  for (const report::AdjustedOrientation& row : results.orientations) {
    const int index = FindImage(project, row.image);
    if (index < 0 || !HasGpsPosition(*project.Image(index))) continue;
    model.image_movements.push_back(MovementOf(*project.Image(index), index, row));
    AddImageSymbols(model, model.image_movements.back(), s);
  }
  return model;
}

}  // namespace vantri::display
