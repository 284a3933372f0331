#include "benchmark.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <string>
#include <vector>

#include "child_process.h"

namespace bench {
namespace {

std::optional<BenchOptions> parse(std::vector<std::string> words) {
  words.insert(words.begin(), "engine_bench");
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  return parseOptions(static_cast<int>(argv.size()), argv.data());
}

bool has(const std::vector<std::string>& list, const std::string& name) {
  return std::find(list.begin(), list.end(), name) != list.end();
}

TEST(BenchmarkTest, CommandLineChoosesOneSizeSolversAndIterations) {
  const auto options = parse({"--images", "200", "--points", "20000", "--iterations", "3",
                              "--solvers", "sparse,ceres-sparse", "--seed", "9"});
  ASSERT_TRUE(options);
  ASSERT_EQ(options->sizes.size(), 1u);
  EXPECT_EQ(options->sizes[0], std::make_pair(200, 20000));
  EXPECT_EQ(options->iterations, 3);
  EXPECT_EQ(options->seed, 9u);
  EXPECT_EQ(options->solvers, (std::vector<std::string>{"sparse", "ceres-sparse"}));
  const auto standard = parse({});
  ASSERT_TRUE(standard);
  EXPECT_TRUE(standard->sizes.empty()) << "no size runs the three standard sizes";
}

TEST(BenchmarkTest, BadCommandLinesAreRefused) {
  EXPECT_FALSE(parse({"--images", "24"})) << "a size needs both counts";
  EXPECT_FALSE(parse({"--images", "1", "--points", "10"})) << "one image sees no point twice";
  EXPECT_FALSE(parse({"--images", "24", "--points", "5x"}));
  EXPECT_FALSE(parse({"--iterations", "0"}));
  EXPECT_FALSE(parse({"--solvers", "sparse,lapack"}));
  EXPECT_FALSE(parse({"--images"}));
  EXPECT_FALSE(parse({"--frames", "3"}));
  EXPECT_FALSE(parse({"--overlap", "80"})) << "forward and side overlap go together";
  EXPECT_FALSE(parse({"--overlap", "100/30"})) << "images at one place";
  EXPECT_FALSE(parse({"--overlap", "60/0"}));
  EXPECT_FALSE(parse({"--overlap", "60/30x"}));
}

TEST(BenchmarkTest, OverlapDefaultsToAClassicBlockAndTakesUavValues) {
  const auto standard = parse({});
  ASSERT_TRUE(standard);
  EXPECT_EQ(standard->forward_overlap, 60);
  EXPECT_EQ(standard->side_overlap, 30);
  const auto uav = parse({"--overlap", "80/70"});
  ASSERT_TRUE(uav);
  EXPECT_EQ(uav->forward_overlap, 80);
  EXPECT_EQ(uav->side_overlap, 70);
}

TEST(BenchmarkTest, DenseSolversOnlyWhereTheyFit) {
  const auto small = defaultSolvers(24, 500);
  EXPECT_TRUE(has(small, "native") && has(small, "ceres-dense") && has(small, "sparse"));
  const auto medium = defaultSolvers(200, 20000);
  EXPECT_FALSE(has(medium, "native")) << "60,000 unknowns need a 30 GB dense matrix";
  EXPECT_TRUE(has(medium, "ceres-dense"));
  const auto large = defaultSolvers(1000, 100000);
  EXPECT_FALSE(has(large, "native") || has(large, "ceres-dense"));
  EXPECT_TRUE(has(large, "sparse") && has(large, "ceres-sparse"));
}

TEST(ChildProcessTest, ReportsValuesAndItsOwnPeakMemory) {
  const ChildResult small = runInChild([] { return std::vector<double>{1.5, -2.0}; });
  ASSERT_TRUE(small.ok);
  EXPECT_EQ(small.values, (std::vector<double>{1.5, -2.0}));
  const ChildResult large = runInChild([] {
    std::vector<char> block(200u << 20, 1);  // 200 MiB, touched
    return std::vector<double>{static_cast<double>(block[block.size() / 2])};
  });
  ASSERT_TRUE(large.ok);
  EXPECT_GE(large.peak_mb, 200.0);
  const ChildResult again = runInChild([] { return std::vector<double>{0.0}; });
  EXPECT_LT(again.peak_mb, 100.0) << "a later child does not inherit an earlier one's peak";
}

TEST(ChildProcessTest, FailureAndCrashAreNotOk) {
  EXPECT_FALSE(runInChild([] { return std::vector<double>{}; }).ok);
  EXPECT_FALSE(runInChild([]() -> std::vector<double> {
                 std::raise(SIGKILL);
                 return {1.0};
               }).ok);
}

}  // namespace
}  // namespace bench
