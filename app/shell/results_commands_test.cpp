// vantri-cli display, display-settings and export on the sample survey's project and the result
// files of a bundle run.
#include "shell/results_commands.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <sstream>
#include <thread>

#include "report/sample_results.h"
#include "shell/cli.h"
#include "testing/temp_folder.h"

namespace vantri::shell {
namespace {

namespace fs = std::filesystem;
using test_support::ReadFile;

int CountLines(const std::string& text, const std::string& prefix) {
  int count = 0;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) count += line.rfind(prefix, 0) == 0;
  return count;
}

class ResultsCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("VANTRI_HOME", (root_ / "home").c_str(), 1);
    std::string error;
    ASSERT_TRUE(test_support::WriteSampleProject(test_support::SampleBlockDir(), root_ / "job",
                                                 "job", {}, &error))
        << error;
    fs::create_directories(root_ / "job/images");
    project_ = root_ / "job/job.bun";
  }

  int Run(std::vector<std::string> args) {
    std::istringstream in;
    out_.str("");
    err_.str("");
    return RunCommandLine(args, in, out_, err_);
  }

  test_support::TempFolder root_;
  std::string project_;
  std::ostringstream out_, err_;
};

TEST_F(ResultsCommandsTest, DisplayShowsEveryPointAndImageOfTheRun) {
  ASSERT_EQ(Run({"display", project_}), kExitOk) << err_.str();
  const std::string out = out_.str();
  EXPECT_NE(out.find("Layer TP: "), std::string::npos);
  EXPECT_EQ(out.find("Layer TP: 0 entities"), std::string::npos);
  EXPECT_NE(out.find("Layer GCP: 6 entities"), std::string::npos);
  EXPECT_NE(out.find("Layer CP: 4 entities"), std::string::npos);
  EXPECT_NE(out.find("Layer TPResXYEllipse: "), std::string::npos);
  EXPECT_NE(out.find("(hidden)"), std::string::npos);  // symbols are off by default
  EXPECT_EQ(CountLines(out, "Control point "), 6);
  EXPECT_EQ(CountLines(out, "Check point "), 4);
  EXPECT_EQ(CountLines(out, "Image "), 24);
  EXPECT_EQ(out.find("no result"), std::string::npos);

  fs::remove(root_ / "job/Bundle/job.cpres");
  ASSERT_EQ(Run({"display", project_}), kExitOk);
  EXPECT_NE(err_.str().find("job.cpres is missing"), std::string::npos);
  EXPECT_EQ(CountLines(out_.str(), "Check point "), 4);
  EXPECT_NE(out_.str().find("no result"), std::string::npos);  // grey without their results

  for (const char* extension : {"ptres", "ptocs", "gcpres", "extor"})
    fs::remove(root_ / ("job/Bundle/job." + std::string(extension)));
  EXPECT_EQ(Run({"display", project_}), kExitFailure);
  EXPECT_NE(err_.str().find("run the bundle adjustment first"), std::string::npos);
}

TEST_F(ResultsCommandsTest, DisplaySettingsArePrintedChangedAndKeptOnlyWhenValid) {
  ASSERT_EQ(Run({"display-settings", project_}), kExitOk);
  EXPECT_EQ(CountLines(out_.str(), ""), 43);
  EXPECT_NE(out_.str().find("CPResZCircle.Filled=1\n"), std::string::npos);
  EXPECT_FALSE(fs::exists(root_ / "job/job.grs"));  // printing writes nothing

  ASSERT_EQ(Run({"display-settings", project_, "--set", "ImageResXYEllipse.Visible=1", "--set",
                 "imageresxy.scale=-10"}),
            kExitOk)
      << err_.str();
  EXPECT_NE(out_.str().find("ImageResXYEllipse.Visible=1\n"), std::string::npos);
  EXPECT_NE(out_.str().find("ImageResXY.Scale=10.000000\n"), std::string::npos);
  const std::string saved = ReadFile(root_ / "job/job.grs");
  EXPECT_NE(saved.find("[ImageResXY]\nScale=10.000000\n"), std::string::npos);

  EXPECT_EQ(Run({"display-settings", project_, "--set", "ImageResZ.Scale=5", "--set",
                 "ImageResZCircle.Color=red"}),
            kExitFailure);
  EXPECT_NE(err_.str().find("\"red\" is not a valid value for ImageResZCircle.Color"),
            std::string::npos);
  EXPECT_EQ(ReadFile(root_ / "job/job.grs"), saved);
  EXPECT_EQ(Run({"display-settings", project_, "--set", "novalue"}), kExitFailure);

  ASSERT_EQ(Run({"display", project_}), kExitOk);
  const std::string out = out_.str();
  const std::size_t layer = out.find("_ResXYEllipse: 1 entities");
  ASSERT_NE(layer, std::string::npos);
  EXPECT_NE(out.substr(layer, out.find('\n', layer) - layer).find("hidden"), 0u);
  EXPECT_EQ(out.substr(layer, out.find('\n', layer) - layer).find("hidden"), std::string::npos);
}

TEST_F(ResultsCommandsTest, ExportWritesTheDescriptionAndAsksBeforeReplacingAPlotaraProject) {
  ASSERT_EQ(Run({"export", project_}), kExitOk) << err_.str();
  EXPECT_NE(out_.str().find("Exported 24 images: "), std::string::npos);
  const std::string sti = ReadFile(root_ / "job/Stereo/job.sti");
  EXPECT_EQ(sti.rfind("[CoordinateSystem]\nWKT=PROJCS[", 0), 0u);
  EXPECT_NE(sti.find("[Images]\nNumber=24\n[Image_00000]\nFilePath="), std::string::npos);
  EXPECT_NE(sti.find("[Image_00023]"), std::string::npos);
  EXPECT_EQ(sti.find("[Image_00024]"), std::string::npos);
  int est_files = 0;
  for (const auto& entry : fs::directory_iterator(root_ / "job/images"))
    est_files += entry.path().extension() == ".est";
  EXPECT_EQ(est_files, 24);

  test_support::WriteFile(root_ / "job/Stereo/job.st3", "Plotara's project\n");
  EXPECT_EQ(Run({"export", project_}), kExitFailure);  // --no is the default answer
  EXPECT_TRUE(fs::exists(root_ / "job/Stereo/job.st3"));
  ASSERT_EQ(Run({"--yes", "export", project_}), kExitOk);
  EXPECT_FALSE(fs::exists(root_ / "job/Stereo/job.st3"));
}

TEST_F(ResultsCommandsTest, ExportLaunchesTheStandInPlotaraFromThePath) {
  fs::create_directories(root_ / "bin");
  const std::string record = root_ / "args.txt";
  test_support::WriteFile(root_ / "bin/plotara", "#!/bin/sh\nprintf '%s\\n' \"$#\" \"$@\" > '" +
                                                     record + ".tmp'\nmv '" + record + ".tmp' '" +
                                                     record + "'\n");
  fs::permissions(root_ / "bin/plotara", fs::perms::owner_all);
  const std::string previous = getenv("PATH");
  setenv("PATH", (root_ / "bin:" + previous).c_str(), 1);
  const int result = Run({"export", project_, "--launch"});
  setenv("PATH", previous.c_str(), 1);
  ASSERT_EQ(result, kExitOk) << err_.str();
  for (int i = 0; i < 600 && !fs::exists(record); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(ReadFile(record), "1\n" + (root_ / "job/Stereo/job.sti") + "\n");

  setenv("PATH", (root_ / "nowhere").c_str(), 1);
  EXPECT_EQ(Run({"export", project_, "--launch"}), kExitFailure);
  setenv("PATH", previous.c_str(), 1);
  EXPECT_NE(err_.str().find("Unable to find Plotara"), std::string::npos);
}

TEST_F(ResultsCommandsTest, ExportNeedsABundleRunAndAProject) {
  fs::remove(root_ / "job/Bundle/job.extor");
  EXPECT_EQ(Run({"export", project_}), kExitFailure);
  EXPECT_NE(err_.str().find("job.extor is missing"), std::string::npos);
  EXPECT_FALSE(fs::exists(root_ / "job/Stereo"));
  EXPECT_EQ(Run({"export"}), kExitUsage);
  EXPECT_EQ(Run({"export", project_, "--launch", "--now"}), kExitUsage);
  EXPECT_EQ(Run({"export", (root_ / "none.bun")}), kExitFailure);
}

}  // namespace
}  // namespace vantri::shell
