#include "survey.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>

#include "random.h"

namespace blockgen {
namespace {

constexpr double kTurnSeconds = 120.0;
constexpr double kTieMarginPx = 12.0;  // room for a matching window around each tie point

struct Footprint {
  double along = 0;   // m, along track (image height)
  double across = 0;  // m, across track (image width)
};

Footprint footprint(const BlockOptions& o, double gsd) {
  return {gsd * o.camera.height, gsd * o.camera.width};
}

std::string image_id(int strip, int exposure) {
  char text[32];
  std::snprintf(text, sizeof text, "%d%02d", strip + 1, exposure + 1);
  return text;
}

double strip_east(const BlockOptions& o, const Footprint& f, int strip) {
  const double spacing = (1.0 - o.side_overlap) * f.across;
  return o.easting + (strip - 0.5 * (o.strips - 1)) * spacing;
}

double station_north(const BlockOptions& o, const Footprint& f, int station) {
  const double base = (1.0 - o.forward_overlap) * f.along;
  return o.northing + (station - 0.5 * (o.images_per_strip - 1)) * base;
}

GroundBox planned_box(const BlockOptions& o, const Footprint& f) {
  return {strip_east(o, f, 0) - 0.5 * f.across, station_north(o, f, 0) - 0.5 * f.along,
          strip_east(o, f, o.strips - 1) + 0.5 * f.across,
          station_north(o, f, o.images_per_strip - 1) + 0.5 * f.along};
}

// Even strips fly north (kappa 0: image top = north), odd strips fly south (kappa 180 deg).
std::vector<ImageRecord> fly(const BlockOptions& o, const Footprint& f, double flying_z) {
  Rng attitude(o.seed, "attitude");
  Rng gps(o.seed, "gps-imu");
  Rng exposure(o.seed, "exposure");
  const double base = (1.0 - o.forward_overlap) * f.along;
  const double strip_seconds = (o.images_per_strip - 1) * base / o.speed;
  std::vector<ImageRecord> images;
  for (int s = 0; s < o.strips; ++s) {
    const bool northward = s % 2 == 0;
    const double angle = gps.uniform(0, 2 * std::numbers::pi);
    const Eigen::Vector3d drift =
        o.gps_drift *
        Eigen::Vector3d(std::cos(angle), std::sin(angle), gps.uniform(-0.5, 0.5)).normalized();
    for (int k = 0; k < o.images_per_strip; ++k) {
      const int station = northward ? k : o.images_per_strip - 1 - k;
      ImageRecord image;
      image.id = image_id(s, k);
      image.strip = s;
      image.exposure = k;
      image.time = s * (strip_seconds + kTurnSeconds) + k * base / o.speed;
      Pose& t = image.truth;
      t.centre = {strip_east(o, f, s) + attitude.gaussian(2.0),
                  station_north(o, f, station) + attitude.gaussian(2.0),
                  flying_z + attitude.gaussian(4.0)};
      t.omega = radians(std::clamp(attitude.gaussian(0.8), -2.5, 2.5));
      t.phi = radians(std::clamp(attitude.gaussian(0.8), -2.5, 2.5));
      t.kappa = radians((northward ? 0.0 : 180.0) + std::clamp(attitude.gaussian(1.2), -4.0, 4.0));
      const double along = o.images_per_strip > 1 ? k / double(o.images_per_strip - 1) : 0.0;
      Pose& g = image.gps_imu;
      g.centre = t.centre + along * drift +
                 Eigen::Vector3d(gps.gaussian(o.gps_noise), gps.gaussian(o.gps_noise),
                                 gps.gaussian(o.gps_noise));
      g.omega = t.omega + radians(gps.gaussian(o.imu_noise));
      g.phi = t.phi + radians(gps.gaussian(o.imu_noise));
      g.kappa = t.kappa + radians(gps.gaussian(o.imu_noise));
      image.gain = 1.0 + o.exposure_variation * exposure.uniform(-1, 1);
      image.offset = 75.0 * o.exposure_variation * exposure.uniform(-1, 1);  // +-6 at 0.08
      images.push_back(image);
    }
  }
  return images;
}

Eigen::Vector3d on_ground(const Terrain& terrain, double east, double north) {
  return {east, north, terrain.height(east, north)};
}

double targets_extent(const std::vector<Target>& targets) {
  double extent = 0;
  for (const Target& t : targets) extent = std::max(extent, t.square_half);
  return extent;
}

bool near_any_target(const std::vector<Target>& targets, double east, double north, double by) {
  return std::any_of(targets.begin(), targets.end(), [&](const Target& t) {
    return std::abs(t.east - east) < by && std::abs(t.north - north) < by;
  });
}

// Places surveyed targets at the given fractions of the box, moving each towards the centre
// until at least two images see the whole target.
void place_targets(Survey& survey, PointKind kind, const std::vector<Eigen::Vector2d>& fractions,
                   const Target& shape, std::vector<Target>& targets) {
  const GroundBox& box = survey.block_box;
  const double margin_px = shape.square_half / survey.gsd + 2.0;
  const char prefix = kind == PointKind::kControl ? 'G' : 'C';
  for (Eigen::Vector2d f : fractions) {
    for (int attempt = 0; attempt < 30; ++attempt) {
      const double e = box.min_east + f.x() * box.width();
      const double n = box.min_north + f.y() * box.depth();
      const Eigen::Vector3d p = on_ground(*survey.terrain, e, n);
      if (survey.images_seeing(p, margin_px).size() >= 2 &&
          !near_any_target(targets, e, n, 4 * shape.square_half)) {
        GroundPoint point;
        point.id = prefix + std::to_string(survey.count(kind) + 1);
        point.kind = kind;
        point.truth = p;
        survey.points.push_back(point);
        Target t = shape;
        t.east = e;
        t.north = n;
        targets.push_back(t);
        break;
      }
      f = Eigen::Vector2d(0.5, 0.5) + 0.88 * (f - Eigen::Vector2d(0.5, 0.5));
      if (attempt > 10) f += Eigen::Vector2d(0.01 * (attempt % 3 - 1), 0.013 * (attempt % 5 - 2));
    }
  }
}

std::vector<Eigen::Vector2d> control_fractions(int count, Rng& rng) {
  const std::vector<Eigen::Vector2d> layout = {{0.04, 0.04}, {0.96, 0.04}, {0.04, 0.96},
                                               {0.96, 0.96}, {0.04, 0.50}, {0.96, 0.50},
                                               {0.50, 0.50}, {0.50, 0.04}, {0.50, 0.96}};
  std::vector<Eigen::Vector2d> fractions;
  for (int i = 0; i < count; ++i)
    fractions.push_back(i < static_cast<int>(layout.size())
                            ? layout[i]
                            : Eigen::Vector2d(rng.uniform(0.05, 0.95), rng.uniform(0.05, 0.95)));
  return fractions;
}

void place_tie_points(Survey& survey, const std::vector<Target>& targets) {
  const BlockOptions& o = survey.options;
  Rng rng(o.seed, "tie-points");
  const GroundBox& box = survey.block_box;
  int placed = 0;
  for (long attempt = 0; placed < o.tie_points && attempt < 200L * o.tie_points; ++attempt) {
    const double e = rng.uniform(box.min_east, box.max_east);
    const double n = rng.uniform(box.min_north, box.max_north);
    if (near_any_target(targets, e, n, 3 * targets_extent(targets))) continue;
    const Eigen::Vector3d p = on_ground(*survey.terrain, e, n);
    if (survey.images_seeing(p, kTieMarginPx).size() < 2) continue;
    char id[32];
    std::snprintf(id, sizeof id, "T%05d", ++placed);
    GroundPoint point;
    point.id = id;
    point.truth = point.surveyed = p;
    survey.points.push_back(point);
  }
}

void survey_control(Survey& survey) {
  Rng rng(survey.options.seed, "control-survey");
  for (GroundPoint& p : survey.points) {
    if (p.kind == PointKind::kTie) continue;
    const double s = survey.options.control_noise;
    p.surveyed = p.truth + Eigen::Vector3d(rng.gaussian(s), rng.gaussian(s), rng.gaussian(s));
  }
}

void measure(Survey& survey, const Target& shape) {
  Rng rng(survey.options.seed, "measurements");
  const double target_margin = shape.square_half / survey.gsd + 1.0;
  for (size_t pi = 0; pi < survey.points.size(); ++pi) {
    const GroundPoint& point = survey.points[pi];
    const double margin = point.kind == PointKind::kTie ? kTieMarginPx : target_margin;
    for (size_t ii : survey.images_seeing(point.truth, margin)) {
      Observation ob;
      ob.point = pi;
      ob.image = ii;
      ob.truth = *project(survey.camera(), survey.images[ii].truth, point.truth);
      const double s = survey.options.pixel_noise;
      ob.measured = {ob.truth.col + rng.gaussian(s), ob.truth.row + rng.gaussian(s)};
      survey.observations.push_back(ob);
    }
  }
}

}  // namespace

size_t Survey::count(PointKind kind) const {
  return std::count_if(points.begin(), points.end(),
                       [kind](const GroundPoint& p) { return p.kind == kind; });
}

std::vector<size_t> Survey::images_seeing(const Eigen::Vector3d& point, double margin_px) const {
  std::vector<size_t> seen;
  for (size_t i = 0; i < images.size(); ++i) {
    const std::optional<Pixel> p = project(camera(), images[i].truth, point);
    if (p && camera().contains(*p, margin_px)) seen.push_back(i);
  }
  return seen;
}

Survey plan_survey(const BlockOptions& options) {
  Survey survey;
  survey.options = options;
  const FrameCamera& camera = options.camera;
  survey.gsd = options.flying_height * camera.pixel_mm / camera.focal_mm;
  const Footprint f = footprint(options, survey.gsd);
  survey.block_box = planned_box(options, f);
  const double margin = 0.25 * std::max(f.along, f.across) + 4.0 * options.dem_cell + 60.0;
  survey.terrain =
      std::make_shared<Terrain>(make_terrain(survey.block_box.grown(margin), options.dem_cell,
                                             options.base_height, options.relief, options.seed));
  survey.images = fly(options, f, survey.terrain->mean_height() + options.flying_height);

  Target shape;
  shape.disc_radius = 3.0 * survey.gsd;
  shape.square_half = 7.0 * survey.gsd;
  shape.edge_width = 0.8 * survey.gsd;
  std::vector<Target> targets;
  Rng rng(options.seed, "control-layout");
  place_targets(survey, PointKind::kControl, control_fractions(options.control_points, rng), shape,
                targets);
  std::vector<Eigen::Vector2d> check;
  for (int i = 0; i < options.check_points; ++i)
    check.emplace_back(rng.uniform(0.2, 0.8), rng.uniform(0.2, 0.8));
  place_targets(survey, PointKind::kCheck, check, shape, targets);
  survey_control(survey);
  place_tie_points(survey, targets);
  survey.texture = std::make_shared<GroundTexture>(options.seed, std::round(options.easting),
                                                   std::round(options.northing), targets);
  measure(survey, shape);
  return survey;
}

}  // namespace blockgen
