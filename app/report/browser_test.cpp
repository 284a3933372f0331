// The accuracy report of the sample survey in a real browser: headless Chromium renders it to PNG
// and to PDF and dumps its DOM. Skipped when no Chromium is installed (Debian package
// "chromium"; "poppler-utils" gives pdfinfo for the page count).
//
// VANTRI_REPORT_SCREENSHOT=<file.png>, VANTRI_REPORT_PDF=<file.pdf> and
// VANTRI_REPORT_HTML=<file.html> keep the screenshot, the PDF and the report (docs/screenshots/ is
// made from them).

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "project/project_flows.h"
#include "report/bundle_report.h"
#include "report/html_report.h"
#include "report/sample_results.h"
#include "testing/scripted_ui.h"
#include "testing/temp_folder.h"
#include "ui_interface/ui.h"

namespace vantri::report {
namespace {

namespace fs = std::filesystem;

// A4 pages the sample survey's report may take: summary and map, point tables and statement,
// three histograms, the per-image chart and table, orientation changes, the appendix.
constexpr int kMinPages = 5;
constexpr int kMaxPages = 14;

std::string FindProgram(const std::vector<std::string>& names) {
  const char* path = std::getenv("PATH");
  std::stringstream folders(path ? path : "/usr/bin");
  std::string folder;
  while (std::getline(folders, folder, ':'))
    for (const std::string& name : names) {
      const fs::path candidate = fs::path(folder) / name;
      if (::access(candidate.c_str(), X_OK) == 0) return candidate.string();
    }
  return {};
}

std::string ReadFile(const fs::path& path) { return test_support::ReadFile(path.string()); }

int Count(const std::string& text, const std::string& what) {
  int count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

class BrowserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    chromium_ = FindProgram({"chromium", "chromium-browser"});
    if (chromium_.empty()) GTEST_SKIP() << "chromium is not installed";
    root_ = temp_.path();
    fs::create_directories(root_ / "home");
    setenv("VANTRI_HOME", (root_ / "home").c_str(), 1);
    std::string error;
    ASSERT_TRUE(test_support::WriteSampleProject(test_support::SampleBlockDir(),
                                                 (root_ / "sample").string(), "sample", {}, &error))
        << error;
    CVantriProject project;
    ScriptedUi ui;
    ASSERT_EQ(project::OpenProjectPath(project, ui, (root_ / "sample" / "sample.bun").string()), 1);
    BundleRunStatistics run;
    run.run_succeeded = true;
    run.sigma0_px = 0.31;
    run.iterations = 12;
    run.converged = true;
    ASSERT_EQ(WriteBundleHtmlReport(project, &run, ui), 1);
    report_ = root_ / "sample" / "Bundle" / "sample.html";
    if (const char* keep = std::getenv("VANTRI_REPORT_HTML"))
      fs::copy_file(report_, keep, fs::copy_options::overwrite_existing);
  }
  // Runs headless Chromium with a fresh profile; returns its exit status.
  int Chromium(const std::string& arguments, const fs::path& output = {}) {
    const fs::path profile = root_ / ("profile" + std::to_string(++runs_));
    const std::string command =
        "timeout 180 '" + chromium_ +
        "' --headless --no-sandbox --disable-gpu --disable-background-networking "
        "--disable-component-update --disable-sync --no-first-run --hide-scrollbars "
        "--user-data-dir='" +
        profile.string() + "' " + arguments + " 'file://" + report_.string() + "'" +
        (output.empty() ? "" : " > '" + output.string() + "'") + " 2>/dev/null";
    return std::system(command.c_str());
  }

  std::string chromium_;
  test_support::TempFolder temp_;
  fs::path root_, report_;
  int runs_ = 0;
};

TEST_F(BrowserTest, DomHoldsEverySectionAndOneSvgPerChart) {
  ASSERT_EQ(Chromium("--dump-dom", root_ / "dom.html"), 0);
  const std::string dom = ReadFile(root_ / "dom.html");
  for (const char* section : kReportSections)
    EXPECT_EQ(Count(dom, std::string("<section id=\"") + section + "\""), 1) << section;
  for (const char* chart : kReportCharts)
    EXPECT_EQ(Count(dom, std::string("data-chart=\"") + chart + "\""), 1) << chart;
  EXPECT_EQ(Count(dom, "<svg"), static_cast<int>(std::size(kReportCharts)));
}

TEST_F(BrowserTest, ScreenshotIsAPng) {
  const fs::path png = root_ / "report.png";
  ASSERT_EQ(Chromium("--window-size=1280,6000 --screenshot='" + png.string() + "'"), 0);
  const std::string bytes = ReadFile(png);
  ASSERT_GT(bytes.size(), 10000u);
  EXPECT_EQ(bytes.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
  if (const char* keep = std::getenv("VANTRI_REPORT_SCREENSHOT"))
    fs::copy_file(png, keep, fs::copy_options::overwrite_existing);
}

TEST_F(BrowserTest, PrintsToAFewA4Pages) {
  const fs::path pdf = root_ / "report.pdf";
  ASSERT_EQ(Chromium("--no-pdf-header-footer --print-to-pdf='" + pdf.string() + "'"), 0);
  const std::string bytes = ReadFile(pdf);
  ASSERT_EQ(bytes.substr(0, 5), "%PDF-");
  const std::string pdfinfo = FindProgram({"pdfinfo"});
  if (pdfinfo.empty()) GTEST_SKIP() << "pdfinfo (poppler-utils) is not installed";
  ASSERT_EQ(std::system(("'" + pdfinfo + "' '" + pdf.string() + "' > '" +
                         (root_ / "info.txt").string() + "'")
                            .c_str()),
            0);
  const std::string info = ReadFile(root_ / "info.txt");
  std::smatch pages, size;
  ASSERT_TRUE(std::regex_search(info, pages, std::regex(R"(Pages:\s+(\d+))")));
  EXPECT_GE(std::stoi(pages[1]), kMinPages) << info;
  EXPECT_LE(std::stoi(pages[1]), kMaxPages) << info;
  // A4 is 595 x 842 pt.
  ASSERT_TRUE(std::regex_search(info, size, std::regex(R"(Page size:\s+([\d.]+) x ([\d.]+) pts)")));
  EXPECT_NEAR(std::stod(size[1]), 595, 2);
  EXPECT_NEAR(std::stod(size[2]), 842, 2);
  if (const char* keep = std::getenv("VANTRI_REPORT_PDF"))
    fs::copy_file(pdf, keep, fs::copy_options::overwrite_existing);
}

}  // namespace
}  // namespace vantri::report

namespace vantri::report {
namespace {

// VANTRI_REPORT_SAMPLE_DIR=<folder> leaves the sample project and its result files there, to try
// `vantri-cli report` on; skipped otherwise.
TEST(SampleProject, WrittenWhereAsked) {
  const char* folder = std::getenv("VANTRI_REPORT_SAMPLE_DIR");
  if (folder == nullptr) GTEST_SKIP() << "VANTRI_REPORT_SAMPLE_DIR is not set";
  std::string error;
  EXPECT_TRUE(test_support::WriteSampleProject(test_support::SampleBlockDir(), folder, "sample", {},
                                               &error))
      << error;
}

}  // namespace
}  // namespace vantri::report
