#include "report/html_report.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "project/project_flows.h"
#include "report/bundle_report.h"
#include "report/sample_results.h"
#include "testing/scripted_ui.h"
#include "testing/temp_folder.h"
#include "ui_interface/ui.h"

namespace vantri::report {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) { return test_support::ReadFile(path.string()); }

int Count(const std::string& text, const std::string& what) {
  int count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

class HtmlReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = temp_.path();
    fs::create_directories(root_ / "home");
    setenv("VANTRI_HOME", (root_ / "home").c_str(), 1);
    folder_ = root_ / "job";
    std::string error;
    ASSERT_FALSE(test_support::SampleBlockDir().empty());
    ASSERT_TRUE(test_support::WriteSampleProject(test_support::SampleBlockDir(), folder_.string(),
                                                 "job", {}, &error))
        << error;
    ASSERT_EQ(project::OpenProjectPath(project_, ui_, (folder_ / "job.bun").string()), 1);
  }

  std::string WriteReport(const BundleRunStatistics* run = nullptr) {
    EXPECT_EQ(WriteBundleHtmlReport(project_, run, ui_), 1);
    return ReadFile(folder_ / "Bundle" / "job.html");
  }

  test_support::TempFolder temp_;
  fs::path root_, folder_;
  ScriptedUi ui_;
  CVantriProject project_;
};

void ExpectEverySection(const std::string& html) {
  for (const char* section : kReportSections)
    EXPECT_EQ(Count(html, std::string("<section id=\"") + section + "\""), 1) << section;
}

TEST_F(HtmlReportTest, SampleSurveyHasEverySectionAndOneSvgPerChartAndNothingExternal) {
  const std::string html = WriteReport();
  ExpectEverySection(html);
  for (const char* chart : kReportCharts)
    EXPECT_EQ(Count(html, std::string("data-chart=\"") + chart + "\""), 1) << chart;
  EXPECT_EQ(Count(html, "<svg"), static_cast<int>(std::size(kReportCharts)));
  EXPECT_EQ(Count(html, "<title>"), 1 + static_cast<int>(std::size(kReportCharts)));
  // Self-contained: no scripts, links, imports, images or remote URLs.
  for (const char* external :
       {"<script", "<link", "@import", "<img", "src=", "url(http", "href=\"http"})
    EXPECT_EQ(html.find(external), std::string::npos) << external;
  EXPECT_EQ(Count(html, "http"), Count(html, "xmlns=\"http://www.w3.org/2000/svg\""));
  // The sample has 4 check points: the statement is made and called weak.
  EXPECT_NE(html.find("Tested <strong>"), std::string::npos);
  EXPECT_NE(html.find("Weak statement"), std::string::npos);
  EXPECT_NE(html.find("id=\"missing-files\""), std::string::npos);
  EXPECT_NE(html.find("runstats is missing"), std::string::npos);  // no statistics handed over
  EXPECT_NE(html.find("computed from the image residuals and the redundancy"), std::string::npos);
  // The e-mail settings stay out of a client's report.
  EXPECT_EQ(html.find("SMTP"), std::string::npos);
  EXPECT_NE(html.find("Max number of points per image"), std::string::npos);
}

TEST_F(HtmlReportTest, ModelOfTheSampleSurvey) {
  const ReportModel m = BuildReportModel(GatherReportInput(project_));
  EXPECT_EQ(m.tie_point_count, 300);
  EXPECT_EQ(m.oriented_images, 24);
  EXPECT_EQ(m.control.count, 6);
  EXPECT_EQ(m.check.count, 4);
  EXPECT_TRUE(m.accuracy.too_few_points);
  EXPECT_DOUBLE_EQ(m.um_per_pixel, 6.0);
  ASSERT_FALSE(m.images.empty());
  EXPECT_EQ(m.images.front().image, "205");  // the image with the simulated outliers
  EXPECT_EQ(m.tie_points.size(), 300u);
  // 0.3 px noise: nearly every tie point is of high quality; the outliers of image 205 are not.
  EXPECT_EQ(m.tie_points_by_level[0] + m.tie_points_by_level[1] + m.tie_points_by_level[2] +
                m.tie_points_by_level[3],
            300);
  EXPECT_GT(m.tie_points_by_level[0], 290);
  EXPECT_GE(m.tie_points_by_level[1] + m.tie_points_by_level[2], 1);
  EXPECT_EQ(m.tie_points_by_level[3], 0);
  EXPECT_EQ(m.centres.size(), 24u);
  EXPECT_TRUE(m.centres_adjusted);
  EXPECT_GT(m.vector_scale.exaggeration, 100);
  int footprints = 0;
  for (const auto& outline : m.input.footprints) footprints += !outline.empty();
  EXPECT_EQ(footprints, 24);
  // Every image has GPS/IMU and an adjusted orientation; the angles stay small.
  ASSERT_EQ(m.changes.size(), 24u);
  for (const OrientationChange& c : m.changes) {
    EXPECT_TRUE(c.adjusted && c.has_gps_imu) << c.image;
    EXPECT_LT(std::fabs(c.dkappa), 0.01) << c.image;
  }
  EXPECT_GT(m.rays_per_tie_point.mean, 2.0);
}

TEST_F(HtmlReportTest, StatisticsHandedOverByTheRunAreStoredAndShown) {
  BundleRunStatistics run;
  run.run_succeeded = true;
  run.sigma0_px = 0.3126;
  run.iterations = 9;
  run.converged = true;
  const std::string html = WriteReport(&run);
  EXPECT_TRUE(fs::exists(folder_ / "Bundle" / "job.runstats"));
  EXPECT_NE(html.find("0.313&#160;px"), std::string::npos);
  EXPECT_NE(html.find("from the adjustment"), std::string::npos);
  EXPECT_EQ(html.find("id=\"missing-files\""), std::string::npos);
  // Written again from the files alone (vantri-cli report), the same figures come back.
  const std::string again = WriteReport();
  EXPECT_NE(again.find("0.313&#160;px"), std::string::npos);
}

TEST_F(HtmlReportTest, StatisticsOfAnEarlierRunAreNotShownAsThisRunsOnes) {
  BundleRunStatistics run;
  run.run_succeeded = true;
  run.sigma0_px = 0.9876;
  WriteReport(&run);
  const fs::path runstats = folder_ / "Bundle" / "job.runstats";
  fs::last_write_time(
      runstats, fs::last_write_time(folder_ / "Bundle" / "job.atout") - std::chrono::hours(2));
  const ReportModel m = BuildReportModel(GatherReportInput(project_));
  EXPECT_EQ(m.sigma0_source, "computed from the image residuals and the redundancy");
  EXPECT_NE(m.sigma0_px, 0.9876);
  EXPECT_EQ(m.converged, Knowledge::kUnknown);
}

TEST_F(HtmlReportTest, MissingAndDamagedFilesAreNamedAndTheReportIsStillWritten) {
  fs::remove(folder_ / "Bundle" / "job.ptres");
  std::string gcpres = ReadFile(folder_ / "Bundle" / "job.gcpres");
  std::ofstream(folder_ / "Bundle" / "job.gcpres", std::ios::binary)
      << gcpres.substr(0, gcpres.size() - 30);
  const std::string html = WriteReport();
  ExpectEverySection(html);
  EXPECT_NE(html.find("id=\"missing-files\""), std::string::npos);
  EXPECT_NE(html.find("job.ptres is missing"), std::string::npos);
  EXPECT_NE(html.find("job.gcpres is damaged"), std::string::npos);
  EXPECT_EQ(html.find("data-chart=\"histogram-v\""), std::string::npos);
  EXPECT_NE(html.find("data-chart=\"block-map\""), std::string::npos);
}

TEST_F(HtmlReportTest, FailedRunWithoutAnyResultFileGivesAReportOfWhatIsMissing) {
  fs::remove_all(folder_ / "Bundle");
  BundleRunStatistics failed;  // run_succeeded false
  const std::string html = WriteReport(&failed);
  ExpectEverySection(html);
  EXPECT_NE(html.find("The last bundle run failed"), std::string::npos);
  for (const char* file : {"atout", "gcpres", "cpres", "ptres", "ptics", "ptocs", "extor"})
    EXPECT_NE(html.find(std::string("job.") + file + " is missing"), std::string::npos) << file;
  EXPECT_NE(html.find("No check points"), std::string::npos);
}

TEST_F(HtmlReportTest, CheckPointsThatCouldNotBeIntersectedAreLeftOutOfTheStatement) {
  const ReportModel before = BuildReportModel(GatherReportInput(project_));
  std::ofstream(folder_ / "Bundle" / "job.cpres", std::ios::app)
      << "              C9    512000.000000   5290000.000000       420.000000     0.000000     "
         "0.000000     0.000000\n";
  const ReportModel after = BuildReportModel(GatherReportInput(project_));
  EXPECT_EQ(after.check.count, 4);
  EXPECT_EQ(after.check.without_result, 1);
  EXPECT_DOUBLE_EQ(after.accuracy.horizontal_95, before.accuracy.horizontal_95);
  const std::string html = WriteReport();
  EXPECT_NE(html.find("not intersected: no residual"), std::string::npos);
  EXPECT_NE(html.find("Check points without result"), std::string::npos);
}

TEST_F(HtmlReportTest, NamesFromFilesAreEscaped) {
  EXPECT_EQ(EscapeHtml("<b>&\"x'"), "&lt;b&gt;&amp;&quot;x&#39;");
  std::ofstream(folder_ / "Bundle" / "job.cpres", std::ios::app)
      << "  <script>alert     1.000000     2.000000     3.000000     0.010000     0.020000     "
         "0.030000\n";
  const std::string html = WriteReport();
  EXPECT_EQ(html.find("<script>"), std::string::npos);
  EXPECT_NE(html.find("&lt;script&gt;alert"), std::string::npos);
}

TEST_F(HtmlReportTest, AnyCutOrGarbageInTheResultFilesStillGivesAFullReport) {
  const fs::path bundle = folder_ / "Bundle";
  for (const char* extension : {"atout", "gcpres", "cpres", "ptres", "ptics", "ptocs", "extor"}) {
    const fs::path file = bundle / (std::string("job.") + extension);
    const std::string original = ReadFile(file);
    for (const double fraction : {0.0, 0.13, 0.5, 0.97}) {
      std::string damaged = original.substr(0, static_cast<size_t>(original.size() * fraction));
      damaged += "\n1e400 nan -inf in\n\x01\xff garbage \"<>\" 1 2\n";
      std::ofstream(file, std::ios::binary) << damaged;
      const std::string html = WriteReport();
      ExpectEverySection(html);
      EXPECT_NE(html.find(std::string("job.") + extension + " is damaged"), std::string::npos)
          << extension << " cut at " << fraction;
    }
    std::ofstream(file, std::ios::binary) << original;
  }
  // A projection centre far away stretches the map without hanging its axes.
  std::ofstream(bundle / "job.extor", std::ios::binary)
      << "# Vantri - v 1\n"
      << std::string(20, ' ')
      << "101  100000000000000000000.000000 5290000.000000 1.000000 0.000000 0.000000 0.000000\n";
  ExpectEverySection(WriteReport());
}

TEST(HtmlReportFolder, NoProjectFolderIsRefusedWithoutThrowing) {
  CVantriProject project;
  ScriptedUi ui;
  EXPECT_EQ(WriteBundleHtmlReport(project, nullptr, ui), 0);
  ASSERT_FALSE(ui.log_lines.empty());
}

}  // namespace
}  // namespace vantri::report
