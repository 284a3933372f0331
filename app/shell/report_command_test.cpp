#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>

#include "report/sample_results.h"
#include "shell/cli.h"
#include "testing/temp_folder.h"

namespace vantri::shell {
namespace {

namespace fs = std::filesystem;

class ReportCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = temp_.path();
    fs::create_directories(root_ / "home");
    setenv("VANTRI_HOME", (root_ / "home").c_str(), 1);
    std::string error;
    ASSERT_TRUE(test_support::WriteSampleProject(test_support::SampleBlockDir(),
                                                 (root_ / "job").string(), "job", {}, &error))
        << error;
  }

  int Report(const std::vector<std::string>& args) {
    std::istringstream in;
    out_.str("");
    err_.str("");
    std::vector<std::string> line = {"report"};
    line.insert(line.end(), args.begin(), args.end());
    return vantri::shell::RunCommandLine(line, in, out_, err_);
  }

  test_support::TempFolder temp_;
  fs::path root_;
  std::ostringstream out_, err_;
};

TEST_F(ReportCommandTest, WritesTheHtmlBesideTheResultFiles) {
  EXPECT_EQ(Report({(root_ / "job" / "job.bun").string()}), kExitOk) << err_.str();
  EXPECT_TRUE(fs::exists(root_ / "job" / "Bundle" / "job.html"));
  EXPECT_NE(out_.str().find("HTML report written:"), std::string::npos);
  // Only the run's own statistics file is absent after a run that did not hand them over.
  EXPECT_NE(err_.str().find("job.runstats is missing"), std::string::npos);
  EXPECT_EQ(err_.str().find("job.ptres"), std::string::npos);
}

TEST_F(ReportCommandTest, MissingResultFilesAreNamedButDoNotFailTheCommand) {
  fs::remove(root_ / "job" / "Bundle" / "job.ptres");
  EXPECT_EQ(Report({(root_ / "job" / "job.bun").string()}), kExitOk);
  EXPECT_NE(err_.str().find("job.ptres is missing"), std::string::npos);
  EXPECT_TRUE(fs::exists(root_ / "job" / "Bundle" / "job.html"));
}

TEST_F(ReportCommandTest, BadCommandLinesAndMissingProjects) {
  EXPECT_EQ(Report({}), kExitUsage);
  EXPECT_EQ(Report({"a.bun", "b.bun"}), kExitUsage);
  EXPECT_EQ(Report({"--help"}), kExitOk);
  EXPECT_NE(out_.str().find("Usage: vantri-cli report"), std::string::npos);
  EXPECT_EQ(Report({(root_ / "none.bun").string()}), kExitFailure);
}

}  // namespace
}  // namespace vantri::shell
