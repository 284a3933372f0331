#include "input/run.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "bravik.h"

namespace bravik {
namespace {

namespace fs = std::filesystem;
using testing::HasSubstr;

const char* const kResultExtensions[] = {"out", "ext", "ocs", "res", "apset", "gcpres", "chp"};

std::string slurp(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The report without its processor-time lines, which differ from run to run.
std::string withoutTimes(const std::string& report) {
  std::istringstream in(report);
  std::string kept;
  for (std::string line; std::getline(in, line);) {
    if (line.find("cpu time") == std::string::npos) kept += line + "\n";
  }
  return kept;
}

class RunTest : public testing::Test {
 protected:
  void SetUp() override {
    start_ = fs::current_path();
    folder_ = fs::path(testing::TempDir()) / ("bravik_run_" + std::to_string(::getpid()));
    fs::remove_all(folder_);
    fs::create_directories(folder_ / "data");
  }
  void TearDown() override {
    fs::current_path(start_);
    fs::remove_all(folder_);
  }
  void write(const std::string& name, const std::string& text) {
    std::ofstream(folder_ / "data" / name) << text;
  }
  // Runs the export and returns what it printed.
  std::string scan(const fs::path& input, int camera, int expected) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(BravikScan(input.string().c_str(), camera), expected);
    return testing::internal::GetCapturedStdout();
  }
  // The small example block in the test folder, its main file without the "ls-params" entry
  // (good.inp), so that the run takes the settings it is handed.
  void copyTinyBlock() {
    const fs::path tiny = start_ / ".." / ".." / "examples" / "engine-tiny";
    fs::copy(tiny, folder_ / "data",
             fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    std::ifstream main(tiny / "tiny.inp");
    std::string entries;
    for (std::string line; std::getline(main, line);) {
      if (line.rfind("ls-params", 0) != 0) entries += line + "\n";
    }
    write("good.inp", entries);
  }

  fs::path start_;
  fs::path folder_;
};

// With the analysis on, the report gains the echo lines and the four sections at its end, the sdv
// and rel files appear, and every other file is as without it; off, neither file is created.
TEST_F(RunTest, QualityAnalysisAddsSectionsAndFilesAndChangesNothingElse) {
  copyTinyBlock();
  const fs::path data = folder_ / "data";
  scan(data / "tiny.inp", 0, 1);
  EXPECT_FALSE(fs::exists(data / "tiny.sdv"));
  EXPECT_FALSE(fs::exists(data / "tiny.rel"));
  std::map<std::string, std::string> off;
  for (const char* extension : kResultExtensions)
    off[extension] = slurp(data / (std::string("tiny.") + extension));

  std::ofstream(data / "params.txt", std::ios::app) << "quality-analysis 1 3.0\n";
  scan(data / "tiny.inp", 0, 1);
  for (const char* extension : kResultExtensions) {
    if (std::string(extension) == "out") continue;
    EXPECT_EQ(slurp(data / (std::string("tiny.") + extension)), off[extension]) << extension;
  }
  std::string report = slurp(data / "tiny.out");
  const std::string echo =
      "Quality analysis                     :  on\n"
      "  - limit for normalised residuals   :      3.00\n";
  ASSERT_THAT(report, HasSubstr(echo));
  report.erase(report.find(echo), echo.size());
  const std::size_t sections = report.find("Precision of unknowns\n=====");
  ASSERT_NE(sections, std::string::npos);
  EXPECT_EQ(withoutTimes(report.substr(0, sections)), withoutTimes(off["out"]));
  const std::string added = report.substr(sections);
  for (const char* heading :
       {"Correlations above the output limit\n", "Significance of additional parameters\n",
        "Data snooping\n", "Limit for normalised residuals w   :  3.00\n"})
    EXPECT_THAT(added, HasSubstr(heading));

  // One sdv line per unknown, one rel line per observation.
  const std::string sdv = slurp(data / "tiny.sdv");
  const std::string rel = slurp(data / "tiny.rel");
  EXPECT_THAT(sdv, testing::EndsWith("stop-dep\n"));
  EXPECT_THAT(rel, testing::EndsWith("stop-dep\n"));
  auto lines = [](const std::string& text, const std::string& prefix) {
    int count = 0;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) count += line.rfind(prefix, 0) == 0;
    return count;
  };
  const std::string total = "Total number of points :   ";
  const std::size_t at = off["out"].find(total);
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(lines(rel, "img "), 2 * std::stoi(off["out"].substr(at + total.size())));
  EXPECT_GT(lines(sdv, "  "), 100);
}

TEST_F(RunTest, MissingOrEmptyPathCreatesNothing) {
  EXPECT_EQ(scan(folder_ / "data" / "nothing.inp", 1, 0), "");
  EXPECT_EQ(BravikScan("", 1), 0);
  EXPECT_EQ(BravikScan(nullptr, 1), 0);
  EXPECT_EQ(Bravik(nullptr, 1), 0);
  EXPECT_FALSE(fs::exists(folder_ / "data" / "nothing.out"));
  EXPECT_EQ(scan(folder_ / "data", 0, 0), "");  // a folder is not an input file
  EXPECT_EQ(fs::current_path(), start_);
}

TEST_F(RunTest, OutputFilesAreNamedAfterTheInputInItsFolder) {
  write("block1.inp", "");
  const std::string printed = scan(folder_ / "data" / "block1.inp", 0, 0);
  EXPECT_THAT(printed, HasSubstr("ERROR: No unknowns to adjust"));
  for (const char* extension : kResultExtensions) {
    EXPECT_TRUE(fs::exists(folder_ / "data" / (std::string("block1.") + extension))) << extension;
  }
  EXPECT_FALSE(fs::exists(folder_ / "data" / "block1.cam"));
  EXPECT_EQ(fs::current_path(), start_);  // the caller's directory is restored

  const std::string report = slurp(folder_ / "data" / "block1.out");
  EXPECT_THAT(report, testing::StartsWith("Parameters/Options\n"));
  EXPECT_THAT(report, HasSubstr("Least-squares parameters/options\n"));
}

TEST_F(RunTest, RelativePathsResolveAgainstTheInputFolder) {
  write("k.cam", "camera-frame K1 a 100 0 0 230 230");
  write("block2.inp", "camera k.cam");
  fs::current_path(folder_);
  scan("data/block2.inp", 0, 0);
  EXPECT_TRUE(fs::exists(folder_ / "data" / "block2.out"));
  EXPECT_EQ(fs::current_path(), folder_);
}

TEST_F(RunTest, FailedReadingLeavesEmptyResultFiles) {
  write("bad.inp", "Params x");
  EXPECT_EQ(scan(folder_ / "data" / "bad.inp", 1, 0), "ERROR: Unknown keyword: 'Params'\n");
  for (const char* extension : kResultExtensions) {
    const fs::path file = folder_ / "data" / (std::string("bad.") + extension);
    ASSERT_TRUE(fs::exists(file)) << extension;
    EXPECT_EQ(fs::file_size(file), 0u) << extension;
  }
  EXPECT_FALSE(fs::exists(folder_ / "data" / "bad.cam"));
}

TEST_F(RunTest, ResultFilesAreReplacedOnlyAfterReadingAndLeaveNoTemporaries) {
  // A result file of an earlier run used as input of a run with the same base name.
  write("again.ext", "indiv-type ext-ori-opk-rot S1 rad 0 1 2 3 1 1 1 0 0 0 1 1 1 stop-dep");
  write("again.inp", "ext-ori again.ext");
  const std::string printed = scan(folder_ / "data" / "again.inp", 0, 0);
  EXPECT_THAT(printed, testing::Not(HasSubstr("Reading EO file failed")));
  EXPECT_THAT(slurp(folder_ / "data" / "again.out"), HasSubstr("Parameters/Options"));
  for (const auto& entry : fs::directory_iterator(folder_ / "data")) {
    EXPECT_NE(entry.path().extension(), ".tmp") << entry.path();
  }
}

TEST_F(RunTest, UnwritableReportFailsBeforeReading) {
  write("locked.inp", "camera missing.cam");
  fs::create_directory(folder_ / "data" / "locked.out");
  EXPECT_EQ(scan(folder_ / "data" / "locked.inp", 0, 0),
            "ERROR: Cannot open output file: locked.out\n");
  EXPECT_FALSE(fs::exists(folder_ / "data" / "locked.ext"));
}

TEST_F(RunTest, SettingsPersistBetweenRunsAndBothExportsAgree) {
  write("ls.par",
        "2e-6 7 0 0 1 1 0.001 0.001 1e-6 1e-8 1e-30 1e30 1e-31 1e31 1e10 1e10 0.8 1 0.001 1.96 "
        "0.0001 10 m rad native");
  write("first.inp", "ls-params ls.par");
  write("second.inp", "");
  write("third.inp", "");
  scan(folder_ / "data" / "first.inp", 0, 0);
  scan(folder_ / "data" / "second.inp", 0, 0);
  const std::string second = slurp(folder_ / "data" / "second.out");
  EXPECT_THAT(second, HasSubstr("Standard deviation of unit weight  :  2.00e-06\n"
                                "Maximum number of iterations       :  7\n"));
  testing::internal::CaptureStdout();
  EXPECT_EQ(Bravik((folder_ / "data" / "third.inp").string().c_str(), 0), 0);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(slurp(folder_ / "data" / "third.out"), second);
}

// An ls-params file that fails at the unit of the rotation angles, after every number.
const char* const kFailingLsParams =
    "5e-6 3 0 0 1 1 0.001 0.001 1e-6 1e-8 1e-30 1e30 1e-31 1e31 1e10 1e10 0.8 1 0.001 1.96 "
    "0.0001 10 m";

TEST_F(RunTest, FailedLsParamsFileLeavesTheNextRunAsIfAlone) {
  copyTinyBlock();
  write("bad.par", kFailingLsParams);
  write("bad.inp", "ls-params bad.par");
  EXPECT_THAT(scan(folder_ / "data" / "good.inp", 0, 1), testing::Not(HasSubstr("ERROR")));
  const std::string alone = slurp(folder_ / "data" / "good.out");
  ASSERT_THAT(alone, HasSubstr("Adjustment interface               :  native\n"));

  EXPECT_EQ(scan(folder_ / "data" / "bad.inp", 0, 0),
            "Reading unit of rotation angles failed.\n"
            "ERROR: Reading LS-parameters file failed.\n"
            "ERROR: Reading input file failed: bad.par\n");
  scan(folder_ / "data" / "good.inp", 0, 1);
  const std::string after = slurp(folder_ / "data" / "good.out");
  EXPECT_THAT(after, testing::Not(HasSubstr("5.00e-06")));
  EXPECT_EQ(withoutTimes(after), withoutTimes(alone));
}

TEST_F(RunTest, RunContextCarriesTheSettingsAndReceivesTheMessages) {
  copyTinyBlock();
  write("bad.par", kFailingLsParams);
  write("bad.inp", "ls-params bad.par");
  write("ls.par",
        "2e-6 7 0 0 1 1 0.001 0.001 1e-6 1e-8 1e-30 1e30 1e-31 1e31 1e10 1e10 0.8 1 0.001 1.96 "
        "0.0001 10 m rad native");
  write("first.inp", "ls-params ls.par");

  std::ostringstream messages;
  std::ostringstream numeric;
  RunContext context{LSParams(), Diagnostics(messages, numeric)};
  testing::internal::CaptureStdout();
  EXPECT_EQ(runBravik((folder_ / "data" / "first.inp").string(), false, context), 0);
  EXPECT_EQ(context.settings.sigma0, 2e-6);  // a file read completely is kept, even by a failed run
  EXPECT_EQ(context.settings.maxIterations, 7);
  EXPECT_EQ(runBravik((folder_ / "data" / "bad.inp").string(), false, context), 0);
  EXPECT_EQ(context.settings.sigma0, 2e-6);
  EXPECT_EQ(context.settings.maxIterations, 7);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");  // nothing bypasses the sink
  EXPECT_EQ(messages.str(),
            "ERROR: No unknowns to adjust: the block holds no usable data.\n"
            "Reading unit of rotation angles failed.\n"
            "ERROR: Reading LS-parameters file failed.\n"
            "ERROR: Reading input file failed: bad.par\n");

  RunContext fresh{LSParams(), Diagnostics(messages, numeric)};
  EXPECT_EQ(runBravik((folder_ / "data" / "good.inp").string(), false, fresh), 1);
  EXPECT_THAT(slurp(folder_ / "data" / "good.out"),
              HasSubstr("Standard deviation of unit weight  :  1.00e-06\n"
                        "Maximum number of iterations       :  10\n"));
}

TEST_F(RunTest, CameraFileThatCannotBeWrittenFailsTheRun) {
  copyTinyBlock();
  fs::create_directory(folder_ / "data" / "good.cam");  // the rename over it must fail
  const std::string printed = scan(folder_ / "data" / "good.inp", 1, 0);
  EXPECT_THAT(printed, HasSubstr("ERROR: Cannot write output file: good.cam\n"));
  EXPECT_TRUE(fs::is_directory(folder_ / "data" / "good.cam"));
  EXPECT_FALSE(fs::exists(folder_ / "data" / "good.cam.tmp"));
  // The other results are complete: only the camera file is missing.
  EXPECT_THAT(slurp(folder_ / "data" / "good.out"), HasSubstr("Check point analysis"));

  fs::remove(folder_ / "data" / "good.cam");
  scan(folder_ / "data" / "good.inp", 1, 1);
  EXPECT_THAT(slurp(folder_ / "data" / "good.cam"), HasSubstr("Cameras"));
}

}  // namespace
}  // namespace bravik
