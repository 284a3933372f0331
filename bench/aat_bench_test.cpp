#include "aat_bench.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "testing/temp_folder.h"

namespace aatbench {
namespace {

TEST(AatBenchOptions, DefaultsToTheFullSurveyAndRefusesBadValues) {
  std::ostringstream err;
  const auto defaults = ParseOptions({}, err);
  ASSERT_TRUE(defaults);
  EXPECT_EQ(defaults->width, 6000);
  EXPECT_EQ(defaults->height, 4000);
  EXPECT_EQ(defaults->threads, (std::vector<int>{1, 2}));
  const auto given =
      ParseOptions({"--size", "3000x2000", "--threads", "1,4", "--no-baseline"}, err);
  ASSERT_TRUE(given);
  EXPECT_EQ(given->width, 3000);
  EXPECT_EQ(given->threads, (std::vector<int>{1, 4}));
  EXPECT_FALSE(given->baseline);
  for (const std::vector<std::string>& bad : {std::vector<std::string>{"--size", "3000"},
                                              {"--size", "10x10"},
                                              {"--threads", "1,0"},
                                              {"--threads"},
                                              {"--ratio", "1.5"},
                                              {"--max-points", "3"},
                                              {"--frobnicate"}})
    EXPECT_FALSE(ParseOptions(bad, err)) << bad[0];
  // The block is generated with TIFF images and DEM cells growing with the image size.
  const std::vector<std::string> block = BlockArguments(*defaults, "/tmp/x");
  const std::string joined = [&] {
    std::string text;
    for (const std::string& word : block) text += word + " ";
    return text;
  }();
  EXPECT_NE(joined.find("--format tif"), std::string::npos) << joined;
  EXPECT_NE(joined.find("--dem-cell 4 "), std::string::npos) << joined;
}

TEST(AatBenchAccuracy, SeparatesTheRmsOfGoodMatchesFromTheShareOfWrongOnes) {
  const Accuracy accuracy = Summarise({0.3, 0.4, 2.0, 12.0});
  EXPECT_EQ(accuracy.matches, 4);
  EXPECT_NEAR(accuracy.rms, std::sqrt((0.09 + 0.16 + 4.0 + 144.0) / 4), 1e-12);
  EXPECT_NEAR(accuracy.rms_within_2px, std::sqrt((0.09 + 0.16 + 4.0) / 3), 1e-12);
  EXPECT_NEAR(accuracy.share_over_2px, 0.25, 1e-12);
  EXPECT_EQ(Summarise({}).matches, 0);

  Row aat, sift;
  aat.matcher = "aat", aat.threads = 2, aat.seconds_per_image = 1.0;
  aat.accuracy.rms_within_2px = 0.2, aat.accuracy.share_over_2px = 0.01;
  sift.matcher = "sift", sift.seconds_per_image = 4.0;
  sift.accuracy.rms_within_2px = 0.4, sift.accuracy.share_over_2px = 0.02;
  const std::vector<Row> rows = {aat, sift};
  const std::string table = FormatTable(rows, &rows.back());
  EXPECT_NE(table.find("| 0.250 | 0.500 | 0.500 |"), std::string::npos) << table;
}

// A small survey through the whole bench: the rows are there, the thread counts give the same
// bytes, and both matchers land near the true correspondences.
TEST(AatBench, RunsEveryConfigurationOnASmallSurvey) {
  vantri::test_support::TempFolder cache;
  std::ostringstream out, err;
  const auto options = ParseOptions(
      {"--size", "1500x1000", "--strips", "2", "--images-per-strip", "3", "--cache", cache.path(),
       "--template", "16", "--search", "160", "--max-points", "36", "--sift-features", "3000"},
      err);
  ASSERT_TRUE(options);
  std::vector<Row> rows;
  ASSERT_EQ(RunAatBench(*options, out, err, &rows), 0) << err.str();
  ASSERT_EQ(rows.size(), 5u) << out.str();
  for (const Row& row : rows) {
    EXPECT_GT(row.points_per_image, 5) << row.matcher << " " << row.threads;
    EXPECT_GT(row.accuracy.matches, 0);
    EXPECT_LT(row.accuracy.share_over_2px, 0.1) << row.matcher;
    EXPECT_LT(row.accuracy.rms_within_2px, 0.8) << row.matcher;
  }
  EXPECT_EQ(rows[1].identical, "yes");
  EXPECT_EQ(rows[3].identical, "yes");
  EXPECT_EQ(rows[4].matcher, "sift");
  // Sub-pixel refinement brings the correlation matches closer.
  EXPECT_LT(rows[2].accuracy.rms_within_2px, rows[0].accuracy.rms_within_2px);
  // A second run reuses the generated survey.
  std::ostringstream again;
  Options quick = *options;
  quick.threads = {1};
  quick.baseline = false;
  ASSERT_EQ(RunAatBench(quick, again, err), 0);
  EXPECT_NE(again.str().find("Reusing the survey"), std::string::npos);
}

}  // namespace
}  // namespace aatbench
