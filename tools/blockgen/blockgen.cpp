#include "blockgen.h"

#include <chrono>
#include <stdexcept>

#include "engine_input.h"
#include "file_io.h"
#include "raster_outputs.h"
#include "render.h"
#include "text_outputs.h"

namespace blockgen {

void write_engine_input(const Survey& survey, const std::string& folder) {
  make_folder(folder);
  for (const NamedText& file : engine_input_files(survey))
    write_file_atomically(folder + "/" + file.name, file.text);
}

namespace {

std::vector<std::string> write_images(const Survey& survey, const std::string& out,
                                      std::ostream& log) {
  const BlockOptions& o = survey.options;
  std::vector<std::string> files;
  if (!o.write_images) return files;
  make_folder(out + "/images");
  for (size_t i = 0; i < survey.images.size(); ++i) {
    const std::string name = "images/" + survey.images[i].id + image_extension(o.format);
    write_image(render_image(survey, i, o.threads), o.format, out + "/" + name);
    files.push_back(name);
    log << "blockgen: rendered " << name << " (" << i + 1 << "/" << survey.images.size() << ")\n"
        << std::flush;
  }
  return files;
}

void write_texts(const Survey& survey, const std::string& out) {
  write_file_atomically(out + "/gps_imu.txt", gps_imu_text(survey));
  write_file_atomically(out + "/gcp.txt", points_text(survey, PointKind::kControl));
  write_file_atomically(out + "/cp.txt", points_text(survey, PointKind::kCheck));
  write_file_atomically(out + "/gcp_image.txt",
                        point_measurements_text(survey, PointKind::kControl));
  write_file_atomically(out + "/cp_image.txt", point_measurements_text(survey, PointKind::kCheck));
  write_file_atomically(out + "/camera.bcc", camera_passport_text(survey.camera()));
  write_file_atomically(out + "/GCP.col", point_collection_text(survey, PointKind::kControl));
  write_file_atomically(out + "/CP.col", point_collection_text(survey, PointKind::kCheck));
}

// Points are placed only where at least two images see them; a block with too little
// overlap gets fewer than requested.
void warn_if_short(std::ostream& log, const char* what, size_t placed, int requested) {
  if (placed < static_cast<size_t>(requested))
    log << "blockgen: warning: placed " << placed << " of " << requested << " " << what
        << " (too little overlap where they were sought)\n";
}

}  // namespace

GenerationSummary generate_block(const BlockOptions& options, std::ostream& log) {
  if (const std::string why = validate(options); !why.empty()) throw std::runtime_error(why);
  if (const std::string why = projected_system_problem(options.epsg); !why.empty())
    throw std::runtime_error(why);
  const auto start = std::chrono::steady_clock::now();
  const std::string& out = options.out_dir;
  make_folder(out);
  const Survey survey = plan_survey(options);
  log << "blockgen: " << survey.images.size() << " images, " << survey.points.size()
      << " ground points, " << survey.observations.size() << " image measurements\n";
  warn_if_short(log, "tie points", survey.count(PointKind::kTie), options.tie_points);
  warn_if_short(log, "control points", survey.count(PointKind::kControl), options.control_points);
  warn_if_short(log, "check points", survey.count(PointKind::kCheck), options.check_points);

  write_dem(*survey.terrain, options.epsg, out + "/dem.tif");
  make_folder(out + "/srtm");
  // The tile reaches half way into the DEM's margin, so each of its cells has DEM heights.
  const double margin = 0.5 * (survey.block_box.min_east - survey.terrain->box().min_east);
  const SrtmTile tile =
      write_srtm_tile(*survey.terrain, options.epsg, survey.block_box.grown(margin), out + "/srtm");
  write_texts(survey, out);
  write_engine_input(survey, out + "/engine");
  const std::vector<std::string> images = write_images(survey, out, log);
  write_file_atomically(out + "/truth.json", truth_json(survey, images, "srtm/" + tile.file_name));

  GenerationSummary summary;
  summary.images = survey.images.size();
  summary.tie_points = survey.count(PointKind::kTie);
  summary.control_points = survey.count(PointKind::kControl);
  summary.check_points = survey.count(PointKind::kCheck);
  summary.observations = survey.observations.size();
  summary.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return summary;
}

int run_blockgen(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  const ParsedArguments parsed = parse_arguments(args);
  if (parsed.help) {
    out << help_text();
    return 0;
  }
  if (!parsed.ok) {
    err << "blockgen: " << parsed.error << "\n";
    return 2;
  }
  try {
    const GenerationSummary s = generate_block(parsed.options, out);
    out << "blockgen: wrote " << parsed.options.out_dir << ": " << s.images << " images, "
        << s.tie_points << " tie points, " << s.control_points << " control points, "
        << s.check_points << " check points, " << s.observations << " image measurements in "
        << fixed(s.seconds, 1) << " s\n";
    return 0;
  } catch (const std::exception& e) {
    err << "blockgen: error: " << e.what() << "\n";
    return 1;
  }
}

}  // namespace blockgen
