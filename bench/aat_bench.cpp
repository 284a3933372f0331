#include "aat_bench.h"

#include <gdal_priv.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>
#include <opencv2/features2d.hpp>
#include <opencv2/imgcodecs.hpp>
#include <set>
#include <sstream>

#include "aat/dem_triangulation.h"
#include "aat/tie_point_search.h"
#include "blockgen.h"
#include "photogrammetry/orientation.h"
#include "project/process_settings.h"
#include "render.h"
#include "survey.h"

namespace aatbench {

namespace fs = std::filesystem;
using vantri::aat::SearchImage;
using vantri::aat::SearchInput;
using vantri::aat::SearchResult;

namespace {

using Clock = std::chrono::steady_clock;
double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

template <typename T>
bool ParseNumber(const std::string& text, T* value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return error == std::errc() && end == text.data() + text.size();
}

bool ParseSize(const std::string& text, int* width, int* height) {
  const size_t x = text.find('x');
  return x != std::string::npos && ParseNumber(text.substr(0, x), width) &&
         ParseNumber(text.substr(x + 1), height) && *width >= 64 && *height >= 64;
}

bool ParseThreads(const std::string& text, std::vector<int>* threads) {
  threads->clear();
  std::stringstream list(text);
  std::string item;
  while (std::getline(list, item, ',')) {
    int count = 0;
    if (!ParseNumber(item, &count) || count < 1) return false;
    threads->push_back(count);
  }
  return !threads->empty();
}

}  // namespace

std::string Usage() {
  return "Usage: aat_bench [--size WxH] [--strips S] [--images-per-strip N] [--cache DIR]\n"
         "                 [--threads 1,2] [--no-baseline]\n"
         "                 [--sift-features N] [--ratio R] [--template PX] [--search PX]\n"
         "                 [--max-points N] [--seed N]\n"
         "  --size WxH         generated image size (default 6000x4000)\n"
         "  --strips S, --images-per-strip N   flight of the survey (default 3 x 8)\n"
         "  --cache DIR        folder of generated blocks, reused between runs\n"
         "  --threads LIST     worker threads of the search to measure (default 1,2)\n"
         "  --no-baseline      skip the OpenCV SIFT matcher\n"
         "  --sift-features N  SIFT features kept per image, 0: all (default 16000)\n"
         "  --ratio R          Lowe's ratio test (default 0.8)\n"
         "  --template, --search, --max-points   search settings (default: the process defaults)\n";
}

std::optional<Options> ParseOptions(const std::vector<std::string>& args, std::ostream& err) {
  Options options;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& flag = args[i];
    const bool has_value = i + 1 < args.size();
    const std::string value = has_value ? args[i + 1] : "";
    bool ok = has_value;
    if (flag == "--no-baseline") {
      options.baseline = false;
      continue;
    } else if (flag == "--size") {
      ok = ok && ParseSize(value, &options.width, &options.height);
    } else if (flag == "--strips") {
      ok = ok && ParseNumber(value, &options.strips) && options.strips >= 1;
    } else if (flag == "--images-per-strip") {
      ok = ok && ParseNumber(value, &options.images_per_strip) && options.images_per_strip >= 2;
    } else if (flag == "--cache") {
      options.cache = value;
    } else if (flag == "--threads") {
      ok = ok && ParseThreads(value, &options.threads);
    } else if (flag == "--sift-features") {
      ok = ok && ParseNumber(value, &options.sift_features) && options.sift_features >= 0;
    } else if (flag == "--ratio") {
      ok = ok && ParseNumber(value, &options.ratio) && options.ratio > 0 && options.ratio < 1;
    } else if (flag == "--template") {
      ok = ok && ParseNumber(value, &options.template_size) && options.template_size > 0;
    } else if (flag == "--search") {
      ok = ok && ParseNumber(value, &options.search_area) && options.search_area > 0;
    } else if (flag == "--max-points") {
      ok = ok && ParseNumber(value, &options.max_points) && options.max_points >= 4;
    } else if (flag == "--seed") {
      ok = ok && ParseNumber(value, &options.seed);
    } else {
      err << "aat_bench: unknown option '" << flag << "'\n" << Usage();
      return std::nullopt;
    }
    if (!ok) {
      err << "aat_bench: bad or missing value for " << flag << "\n" << Usage();
      return std::nullopt;
    }
    ++i;
  }
  return options;
}

std::vector<std::string> BlockArguments(const Options& options, const std::string& folder) {
  // DEM cells grow with the footprint so that the DEM stays small.
  const double dem_cell = std::max(2.0, 2.0 * options.width / 3000.0);
  char cell[32];
  std::snprintf(cell, sizeof cell, "%g", dem_cell);
  return {"--out",
          folder,
          "--width",
          std::to_string(options.width),
          "--height",
          std::to_string(options.height),
          "--format",
          "tif",
          "--dem-cell",
          cell,
          "--seed",
          std::to_string(options.seed),
          "--strips",
          std::to_string(options.strips),
          "--images-per-strip",
          std::to_string(options.images_per_strip)};
}

Accuracy Summarise(const std::vector<double>& errors) {
  Accuracy accuracy;
  accuracy.matches = static_cast<int>(errors.size());
  if (errors.empty()) return accuracy;
  double all = 0, within = 0;
  int inliers = 0;
  for (double e : errors) {
    all += e * e;
    if (e <= 2.0) within += e * e, ++inliers;
  }
  accuracy.rms = std::sqrt(all / errors.size());
  accuracy.rms_within_2px = inliers > 0 ? std::sqrt(within / inliers) : 0.0;
  accuracy.share_over_2px = 1.0 - double(inliers) / errors.size();
  return accuracy;
}

std::string FormatTable(const std::vector<Row>& rows, const Row* baseline) {
  std::string table =
      "| matcher | threads | sub-pixel | s / image | points / image | matches / image | RMS px "
      "| RMS within 2 px | over 2 px | same bytes as 1 thread | time / SIFT | RMS within 2 px "
      "/ SIFT | over 2 px / SIFT |\n"
      "|---|---|---|---|---|---|---|---|---|---|---|---|---|\n";
  auto ratio = [](double a, double b) {
    char text[32];
    if (!(b > 0)) return std::string("-");
    std::snprintf(text, sizeof text, "%.3f", a / b);
    return std::string(text);
  };
  for (const Row& row : rows) {
    char line[512];
    std::snprintf(
        line, sizeof line, "| %s | %s | %s | %.3f | %.1f | %.1f | %.3f | %.3f | %.1f %% | %s |",
        row.matcher.c_str(), row.threads > 0 ? std::to_string(row.threads).c_str() : "-",
        row.matcher == "aat" ? (row.subpixel ? "yes" : "no") : "-", row.seconds_per_image,
        row.points_per_image, row.matches_per_image, row.accuracy.rms, row.accuracy.rms_within_2px,
        100.0 * row.accuracy.share_over_2px, row.identical.empty() ? "-" : row.identical.c_str());
    table += line;
    if (baseline != nullptr && &row != baseline) {
      table += " " + ratio(row.seconds_per_image, baseline->seconds_per_image) + " | " +
               ratio(row.accuracy.rms_within_2px, baseline->accuracy.rms_within_2px) + " | " +
               ratio(row.accuracy.share_over_2px, baseline->accuracy.share_over_2px) + " |\n";
    } else {
      table += " - | - | - |\n";
    }
  }
  return table;
}

namespace {

// The generated block with its truth, the approximate (GPS/IMU) and true orientations, and the
// terrain as the AAT run triangulates it from the block's DEM.
struct Block {
  blockgen::Survey survey;
  std::string folder;
  std::vector<std::string> image_paths;
  std::vector<nvc::COrientation> approximate, truth;
  Eigen::Vector3d local_origin = Eigen::Vector3d::Zero();
  vantri::aat::DemTriangulation terrain;
};

nvc::COrientation OrientationOf(const blockgen::FrameCamera& camera, const blockgen::Pose& pose) {
  nvc::COrientation orientation;
  orientation.SetInterior(camera.focal_mm / camera.pixel_mm, camera.pp_col, camera.pp_row,
                          camera.width, camera.height, camera.pixel_mm);
  orientation.SetRotMat(pose.world_from_camera());
  orientation.SetN(pose.centre);
  return orientation;
}

// Samples the DEM every 250 units over the box of the approximate centres enlarged by twice the
// footprint diagonal, as the AAT run does.
bool TriangulateTerrain(Block* block, std::ostream& err) {
  GDALDatasetUniquePtr dem(
      GDALDataset::Open((block->folder + "/dem.tif").c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY));
  if (dem == nullptr) {
    err << "aat_bench: cannot open " << block->folder << "/dem.tif\n";
    return false;
  }
  const vantri::aat::DemCellLookup lookup(dem.get(), nullptr);
  std::array<double, 4> box = {1e300, 1e300, -1e300, -1e300};
  for (const nvc::COrientation& orientation : block->approximate) {
    const Eigen::Vector3d& c = orientation.GetN();
    box = {std::min(box[0], c.x()), std::min(box[1], c.y()), std::max(box[2], c.x()),
           std::max(box[3], c.y())};
  }
  const blockgen::FrameCamera& camera = block->survey.camera();
  const Eigen::Vector3d& first = block->approximate[0].GetN();
  double height = 0;
  if (!lookup.Height(first.x(), first.y(), &height)) height = block->survey.options.base_height;
  const double gsd = (first.z() - height) * camera.pixel_mm / camera.focal_mm;
  const double margin = 2.0 * gsd * std::hypot(camera.width, camera.height);
  box = {box[0] - margin, box[1] - margin, box[2] + margin, box[3] + margin};
  std::vector<Eigen::Vector3d> samples;
  vantri::aat::SampleDem(lookup, box, 250.0, block->local_origin, nullptr, &samples);
  if (!block->terrain.Build(samples)) {
    err << "aat_bench: the DEM does not cover the block\n";
    return false;
  }
  return true;
}

std::optional<Block> LoadBlock(const Options& options, std::ostream& out, std::ostream& err) {
  const std::string cache =
      options.cache.empty() ? std::string(AAT_BENCH_DEFAULT_CACHE) : options.cache;
  std::string folder =
      cache + "/" + std::to_string(options.width) + "x" + std::to_string(options.height);
  if (options.strips != 3 || options.images_per_strip != 8)
    folder += "_" + std::to_string(options.strips) + "x" + std::to_string(options.images_per_strip);
  if (options.seed != 1) folder += "_seed" + std::to_string(options.seed);
  const blockgen::ParsedArguments parsed =
      blockgen::parse_arguments(BlockArguments(options, folder));
  if (!parsed.ok) {
    err << "aat_bench: " << parsed.error << "\n";
    return std::nullopt;
  }
  if (!fs::exists(folder + "/truth.json")) {
    out << "Generating the survey into " << folder << " (once; reused afterwards)\n";
    out.flush();
    try {
      blockgen::generate_block(parsed.options, out);
    } catch (const std::exception& error) {
      err << "aat_bench: " << error.what() << "\n";
      return std::nullopt;
    }
  } else {
    out << "Reusing the survey in " << folder << "\n";
  }
  Block block{blockgen::plan_survey(parsed.options), folder, {}, {}, {}, {}, {}};
  block.local_origin = {parsed.options.easting, parsed.options.northing, 0.0};
  for (const blockgen::ImageRecord& image : block.survey.images) {
    block.image_paths.push_back(folder + "/images/" + image.id + ".tif");
    block.approximate.push_back(OrientationOf(block.survey.camera(), image.gps_imu));
    block.truth.push_back(OrientationOf(block.survey.camera(), image.truth));
    if (!fs::exists(block.image_paths.back())) {
      err << "aat_bench: missing " << block.image_paths.back() << "\n";
      return std::nullopt;
    }
  }
  if (!TriangulateTerrain(&block, err)) return std::nullopt;
  return block;
}

// Distance in `second` between a measured position and the true correspondence of the
// first-image position (its ray cast onto the generator's terrain with the true orientation).
std::optional<double> MatchError(const Block& block, int first, const Eigen::Vector2d& in_first,
                                 int second, const Eigen::Vector2d& in_second) {
  const auto ground =
      blockgen::ground_seen(block.survey, static_cast<size_t>(first), {in_first.x(), in_first.y()},
                            block.survey.options.base_height);
  if (!ground) return std::nullopt;
  const Eigen::Vector2d truth = block.truth[second].Pt3dToPix(*ground);
  return (truth - in_second).norm();
}

// Every value of the points in their order, to compare runs byte for byte.
std::string PointBytes(const std::vector<std::unique_ptr<CSSBAPoint>>& points) {
  std::string bytes;
  auto add = [&bytes](const auto& value) {
    bytes.append(reinterpret_cast<const char*>(&value), sizeof value);
  };
  for (const auto& point : points) {
    add(point->X), add(point->Y), add(point->Z);
    for (const CSSBAColl& m : point->measurements) add(m.camera), add(m.x), add(m.y);
  }
  return bytes;
}

struct AatRun {
  Row row;
  std::string bytes;
  std::set<std::pair<int, int>> pairs;  // (searched image, neighbour), smaller index first
};

// The images in project order, each searched against the images whose approximate centres lie
// within its footprint diagonal of its ground point, as the AAT run adds them. Neighbour rasters
// stay open while they remain neighbours.
AatRun RunAat(const Block& block, const vantri::aat::SearchSettings& settings, int threads,
              std::ostream& out) {
  AatRun run;
  const int count = static_cast<int>(block.approximate.size());
  std::vector<GDALDatasetUniquePtr> open(count);
  auto raster = [&](int image) {
    if (open[image] == nullptr)
      open[image].reset(
          GDALDataset::Open(block.image_paths[image].c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY));
    return open[image].get();
  };
  vantri::aat::WorkerRasters worker_rasters;
  std::vector<std::unique_ptr<CSSBAPoint>> points;
  std::vector<double> errors;
  double seconds = 0;
  int matches = 0;
  for (int image = 0; image < count; ++image) {
    const Clock::time_point start = Clock::now();
    const nvc::COrientation& own = block.approximate[image];
    Eigen::Vector3d hit;
    if (raster(image) == nullptr ||
        !block.terrain.IntersectRay(own.GetN() - block.local_origin, own.FidToVec3d({0, 0}), &hit))
      continue;
    const Eigen::Vector3d ground = hit + block.local_origin;
    const double diagonal = (own.GetN().z() - ground.z()) / own.GetFocalPixels() *
                            std::hypot(own.GetWidth(), own.GetHeight());
    SearchInput input;
    input.image = {image, &own, raster(image), block.image_paths[image]};
    for (int other = 0; other < count; ++other) {
      if (other == image) continue;
      const Eigen::Vector3d& centre = block.approximate[other].GetN();
      if (std::hypot(centre.x() - ground.x(), centre.y() - ground.y()) <= diagonal) {
        input.neighbours.push_back(
            {other, &block.approximate[other], raster(other), block.image_paths[other]});
        run.pairs.insert({std::min(image, other), std::max(image, other)});
      } else {
        open[other].reset();
        worker_rasters.Close(other);
      }
    }
    input.terrain = &block.terrain;
    input.local_origin = block.local_origin;
    input.settings = settings;
    input.threads = threads;
    input.worker_rasters = &worker_rasters;
    SearchResult result = vantri::aat::SearchTiePoints(input);
    seconds += SecondsSince(start);
    out << "  aat threads " << threads << " sub-pixel " << (settings.subpixel ? "yes" : "no")
        << ": image " << block.survey.images[image].id << ", " << input.neighbours.size()
        << " neighbours, " << result.points.size() << " tie points, " << SecondsSince(start)
        << " s\n";
    out.flush();
    for (auto& point : result.points) {
      const CSSBAColl& first = point->measurements[0];
      for (size_t m = 1; m < point->measurements.size(); ++m) {
        const CSSBAColl& other = point->measurements[m];
        ++matches;
        if (const auto e = MatchError(block, first.camera, {first.x, first.y}, other.camera,
                                      {other.x, other.y}))
          errors.push_back(*e);
      }
      points.push_back(std::move(point));
    }
  }
  run.row.matcher = "aat";
  run.row.threads = threads;
  run.row.subpixel = settings.subpixel;
  run.row.seconds_per_image = seconds / count;
  run.row.points_per_image = double(points.size()) / count;
  run.row.matches_per_image = double(matches) / count;
  run.row.accuracy = Summarise(errors);
  run.bytes = PointBytes(points);
  return run;
}

// SIFT features of every image once, then each pair: nearest two neighbours by FLANN, Lowe's
// ratio test, a RANSAC fundamental matrix (1 px, 0.999); the inliers are the matches.
Row RunSift(const Block& block, const std::set<std::pair<int, int>>& pairs, const Options& options,
            std::ostream& out) {
  const int count = static_cast<int>(block.image_paths.size());
  cv::Ptr<cv::SIFT> sift = cv::SIFT::create(options.sift_features);
  std::vector<std::vector<cv::KeyPoint>> keypoints(count);
  std::vector<cv::Mat> descriptors(count);
  const Clock::time_point start = Clock::now();
  for (int image = 0; image < count; ++image) {
    const cv::Mat grey = cv::imread(block.image_paths[image], cv::IMREAD_GRAYSCALE);
    sift->detectAndCompute(grey, cv::noArray(), keypoints[image], descriptors[image]);
    out << "  sift: image " << block.survey.images[image].id << ", " << keypoints[image].size()
        << " features, " << SecondsSince(start) << " s so far\n";
    out.flush();
  }
  cv::FlannBasedMatcher matcher;
  std::vector<double> errors;
  int matches = 0;
  for (const auto& [first, second] : pairs) {
    if (descriptors[first].rows < 2 || descriptors[second].rows < 2) continue;
    std::vector<std::vector<cv::DMatch>> nearest;
    matcher.knnMatch(descriptors[first], descriptors[second], nearest, 2);
    std::vector<cv::Point2f> from, to;
    for (const auto& candidates : nearest)
      if (candidates.size() == 2 &&
          candidates[0].distance < options.ratio * candidates[1].distance) {
        from.push_back(keypoints[first][candidates[0].queryIdx].pt);
        to.push_back(keypoints[second][candidates[0].trainIdx].pt);
      }
    if (from.size() < 8) continue;
    std::vector<uchar> inlier;
    cv::findFundamentalMat(from, to, cv::FM_RANSAC, 1.0, 0.999, inlier);
    for (size_t k = 0; k < from.size(); ++k) {
      if (k >= inlier.size() || !inlier[k]) continue;
      ++matches;
      // OpenCV puts pixel centres on whole numbers; the orientations on halves.
      const Eigen::Vector2d a(from[k].x + 0.5, from[k].y + 0.5), b(to[k].x + 0.5, to[k].y + 0.5);
      if (const auto e = MatchError(block, first, a, second, b)) errors.push_back(*e);
    }
  }
  Row row;
  row.matcher = "sift";
  row.seconds_per_image = SecondsSince(start) / count;
  row.points_per_image = double(matches) / count;
  row.matches_per_image = double(matches) / count;
  row.accuracy = Summarise(errors);
  return row;
}

}  // namespace

int RunAatBench(const Options& options, std::ostream& out, std::ostream& err,
                std::vector<Row>* result_rows) {
  GDALAllRegister();
  std::optional<Block> block = LoadBlock(options, out, err);
  if (!block) return 1;
  vantri::aat::SearchSettings settings = vantri::aat::SearchSettingsFrom(CVantriSettings().typed);
  if (options.template_size > 0) settings.template_size = options.template_size;
  if (options.search_area > 0) settings.search_area_size = options.search_area;
  if (options.max_points > 0) settings.max_points_to_search = options.max_points;
  out << "Survey: " << block->survey.images.size() << " images of " << options.width << " x "
      << options.height << " px; template " << settings.template_size << ", search area "
      << settings.search_area_size << ", " << settings.max_points_to_search
      << " points to search, correlation " << settings.min_correlation << "\n";

  // OpenCV's own threads stay off in the search, so that the thread count is the workers'.
  const int opencv_threads = cv::getNumThreads();
  cv::setNumThreads(1);
  std::vector<Row> rows;
  std::set<std::pair<int, int>> pairs;
  for (bool subpixel : {false, true}) {
    settings.subpixel = subpixel;
    std::string reference;
    for (int threads : options.threads) {
      AatRun run = RunAat(*block, settings, threads, out);
      if (threads == options.threads.front()) {
        reference = run.bytes;
      }
      run.row.identical = options.threads.front() == 1 && threads != 1
                              ? (run.bytes == reference ? "yes" : "no")
                              : "";
      pairs.insert(run.pairs.begin(), run.pairs.end());
      rows.push_back(run.row);
    }
  }
  cv::setNumThreads(opencv_threads);
  const Row* baseline = nullptr;
  if (options.baseline) {
    out << "SIFT on " << pairs.size() << " neighbour pairs, OpenCV threads " << cv::getNumThreads()
        << "\n";
    rows.push_back(RunSift(*block, pairs, options, out));
    baseline = &rows.back();
  }
  out << "\n" << FormatTable(rows, baseline);
  if (result_rows != nullptr) *result_rows = rows;
  return 0;
}

}  // namespace aatbench
