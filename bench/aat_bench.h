#pragma once
// aat_bench: the AAT's tie-point search (ground-aligned patches matched by normalised
// cross-correlation) on a generated survey, image by image as the AAT run adds them, against a
// feature matcher of the usual kind (OpenCV SIFT, Lowe's ratio test, a RANSAC fundamental-matrix
// check) on the same neighbour pairs. Both are scored against the generator's truth.
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace aatbench {

struct Options {
  int width = 6000, height = 4000;  // pixels of the generated images
  int strips = 3, images_per_strip = 8;
  std::string cache;  // folder of generated blocks, one per size; reused
  std::vector<int> threads = {1, 2};
  bool baseline = true;
  int sift_features = 16000;  // per image, strongest first; 0: every one found
  double ratio = 0.8;         // Lowe's ratio test
  // The process settings' defaults unless given (0).
  int template_size = 0;
  int search_area = 0;
  int max_points = 0;
  std::uint64_t seed = 1;
};

// The command line; the problem on `err` and nothing on bad input.
std::optional<Options> ParseOptions(const std::vector<std::string>& args, std::ostream& err);
std::string Usage();

// The generator's arguments of the block of a size (TIFF images: the search reads regions, which
// a JPEG can only give by decoding from its start).
std::vector<std::string> BlockArguments(const Options& options, const std::string& folder);

// Distances, in pixels, between matched positions in the second image and the true
// correspondences of their first-image positions.
struct Accuracy {
  int matches = 0;
  double rms = 0;             // over every match
  double rms_within_2px = 0;  // over the matches within 2 px
  double share_over_2px = 0;  // 0..1
};
Accuracy Summarise(const std::vector<double>& errors);

// One configuration's figures.
struct Row {
  std::string matcher;  // "aat" or "sift"
  int threads = 0;      // 0: not applicable
  bool subpixel = false;
  double seconds_per_image = 0;
  double points_per_image = 0;   // tie points (aat) or matches after RANSAC (sift)
  double matches_per_image = 0;  // image pairs measured
  Accuracy accuracy;
  std::string identical;  // "yes"/"no": the same bytes as with one thread; empty: not compared
};

// A Markdown table, one line per row, with the ratios of time and accuracy to `baseline` (null:
// no ratio columns filled).
std::string FormatTable(const std::vector<Row>& rows, const Row* baseline);

// Generates (or reuses) the block, runs every configuration and prints the table; the rows go to
// `rows` when given. The exit code.
int RunAatBench(const Options& options, std::ostream& out, std::ostream& err,
                std::vector<Row>* rows = nullptr);

}  // namespace aatbench
