#include "options.h"

#include <gtest/gtest.h>

#include <sstream>

#include "blockgen.h"
#include "test_folder.h"

namespace blockgen {
namespace {

ParsedArguments parse(std::vector<std::string> args) { return parse_arguments(args); }

TEST(OptionsTest, AcceptsBothValueFormsAndDefaultsThePrincipalPointToTheCentre) {
  const ParsedArguments p = parse({"--out", "x", "--seed=7", "--width", "800", "--height=600",
                                   "--forward-overlap", "0.75", "--format", "tif", "--no-images"});
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_EQ(p.options.out_dir, "x");
  EXPECT_EQ(p.options.seed, 7u);
  EXPECT_EQ(p.options.camera.width, 800);
  EXPECT_DOUBLE_EQ(p.options.camera.pp_col, 400.0);
  EXPECT_DOUBLE_EQ(p.options.camera.pp_row, 300.0);
  EXPECT_DOUBLE_EQ(p.options.forward_overlap, 0.75);
  EXPECT_EQ(p.options.format, ImageFormat::kTiff);
  EXPECT_FALSE(p.options.write_images);
  // An explicit principal point at the top-left corner is kept, not taken for "not given".
  const ParsedArguments corner = parse({"--out", "x", "--pp-col", "0", "--pp-row", "0"});
  ASSERT_TRUE(corner.ok) << corner.error;
  EXPECT_DOUBLE_EQ(corner.options.camera.pp_col, 0.0);
}

TEST(OptionsTest, BadInputGetsAMessageNamingTheProblem) {
  const struct {
    std::vector<std::string> args;
    std::string expected;
  } cases[] = {
      {{"--out", "x", "--bogus", "1"}, "unknown option '--bogus'"},
      {{"--out", "x", "--seed"}, "option --seed needs a value"},
      {{"--out", "x", "--seed", "abc"}, "invalid value 'abc' for --seed"},
      {{"--out", "x", "--seed", "-3"}, "non-negative"},
      {{"--out", "x", "--focal-mm", "12mm"}, "invalid value '12mm' for --focal-mm"},
      {{"--out", "x", "--forward-overlap", "0.95"}, "--forward-overlap must be 0.2..0.9"},
      {{"--out", "x", "--images-per-strip", "100"}, "--images-per-strip must be 2..99"},
      {{"--out", "x", "--format", "png"}, "expected jpg or tif"},
      {{"--out", "x", "--no-images=1"}, "takes no value"},
      {{"--out", "x", "--pp-col", "5000"}, "principal point must lie inside"},
      {{"--out", "x", "stray"}, "unexpected argument 'stray'"},
      {{"--seed", "3"}, "--out DIR is required"},
  };
  for (const auto& c : cases) {
    const ParsedArguments p = parse(c.args);
    EXPECT_FALSE(p.ok) << c.expected;
    EXPECT_NE(p.error.find(c.expected), std::string::npos) << p.error;
  }
}

TEST(OptionsTest, CommandLineExitCodesAndHelp) {
  std::ostringstream out, err;
  EXPECT_EQ(run_blockgen({"--help"}, out, err), 0);
  const std::string help = out.str();
  for (const char* option : {"--out", "--seed", "--strips", "--images-per-strip", "--pixel-noise",
                             "--gps-drift", "--k1", "--format", "--threads"})
    EXPECT_NE(help.find(option), std::string::npos) << option;
  EXPECT_EQ(run_blockgen({"--out", "x", "--strips", "0"}, out, err), 2);
  EXPECT_NE(err.str().find("blockgen: --strips must be 1..99"), std::string::npos) << err.str();
  // A geographic system cannot hold the block's metric coordinates.
  EXPECT_EQ(run_blockgen({"--out", fresh_test_folder("epsg"), "--epsg", "4326"}, out, err), 1);
  EXPECT_NE(err.str().find("--epsg 4326 is not a projected coordinate system"), std::string::npos)
      << err.str();
}

}  // namespace
}  // namespace blockgen
