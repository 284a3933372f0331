#include "shell/crash_reporter.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "testing/scripted_ui.h"
#include "testing/temp_folder.h"
#include "ui_interface/ui.h"

namespace vantri::shell {
namespace {

namespace fs = std::filesystem;

CrashReporterSetup TestSetup(const std::string& folder) {
  CrashReporterSetup setup;
  setup.program = "vantri";
  setup.version = "9.8.7";
  setup.report_folder = folder;
  setup.os_info = "TestOS 1";
  setup.pixel_depth = "24";
  setup.resolution = "1920x1080";
  setup.ram_info = "Physical RAM: used 1 MB of 2 MB";
  setup.adapters = {"card0 (vendor a)", "card1 (vendor b)", "card2 (vendor c)"};
  return setup;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

__attribute__((noinline)) void CrashWithSegfault() {
  volatile int* nowhere = nullptr;
  *nowhere = 1;
}

// Runs `crash` in a child with the reporter installed; returns the signal that
// ended it.
template <typename Crash>
int CrashInChild(const CrashReporterSetup& setup, Crash crash) {
  const pid_t child = fork();
  if (child == 0) {
    std::string error;
    if (!InstallCrashReporter(setup, &error)) _exit(3);
    crash();
    _exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFSIGNALED(status) ? WTERMSIG(status) : -WEXITSTATUS(status);
}

class CrashReporterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = temp_ / "crash";
  }
  test_support::TempFolder temp_;
  std::string folder_;
};

TEST_F(CrashReporterTest, SegfaultWritesTheReportWithPropertiesInOrderAndABacktrace) {
  const CrashReporterSetup setup = TestSetup(folder_);
  EXPECT_EQ(CrashInChild(setup, CrashWithSegfault),
            SIGSEGV);  // still ends as it would have
  const std::string report = ReadAll(CrashReportPath(setup));
  ASSERT_FALSE(report.empty());
  EXPECT_NE(report.find("Application: vantri\nVersion: 9.8.7\n"), std::string::npos);
  EXPECT_NE(report.find("Subject: vantri (ver. 9.8.7) Error report"), std::string::npos);
  EXPECT_NE(report.find("ExceptionType: 11\n"), std::string::npos);
  size_t last = 0;
  for (const char* name :
       {"ExceptionTypeMeaning: 0 SEH exception.", "OS_Info: TestOS 1", "Screen_Pixel_Depth: 24",
        "Screen_Resolution: 1920x1080", "RAM_Info: Physical RAM", "Graphic_Adapter_0: card0",
        "Graphic_Adapter_1: card1", "Graphic_Adapter_2: card2", "Backtrace:"}) {
    const size_t at = report.find(name);
    ASSERT_NE(at, std::string::npos) << name;
    EXPECT_GT(at, last) << name;
    last = at;
  }
  EXPECT_NE(report.find("12 C++ SIGTERM signal (termination request).;"), std::string::npos);
  // At least a few frames follow the heading.
  const std::string trace = report.substr(report.find("Backtrace:"));
  EXPECT_GE(std::count(trace.begin(), trace.end(), '\n'), 4);
  EXPECT_NE(report.find("End of report"), std::string::npos);
  EXPECT_FALSE(fs::exists(CrashReportPath(setup) + ".tmp"));
}

TEST_F(CrashReporterTest, TerminateWritesOneReportWithCodeOne) {
  const CrashReporterSetup setup = TestSetup(folder_);
  EXPECT_EQ(CrashInChild(setup, [] { std::terminate(); }), SIGABRT);
  const std::string report = ReadAll(CrashReportPath(setup));
  EXPECT_NE(report.find("ExceptionType: 1\n"), std::string::npos);
  EXPECT_EQ(report.find("ExceptionType: 7"), std::string::npos);
}

TEST_F(CrashReporterTest, AFolderThatCannotBeMadeFailsTheInstallationWithItsReason) {
  fs::create_directories(folder_);
  std::ofstream(folder_ + "/file") << "x";
  std::string error;
  EXPECT_FALSE(InstallCrashReporter(TestSetup(folder_ + "/file/crash"), &error));
  EXPECT_NE(error.find("Unable to create the crash report folder"), std::string::npos);
}

TEST_F(CrashReporterTest, NoAdapterGivesNoAdapterProperty) {
  CrashReporterSetup setup = TestSetup(folder_);
  setup.adapters.clear();
  for (const auto& [name, value] : CrashReportProperties(setup)) {
    EXPECT_EQ(name.find("Graphic_Adapter"), std::string::npos);
  }
  EXPECT_EQ(CrashReportProperties(setup).size(), 5u);
}

TEST_F(CrashReporterTest, TheNextStartAnnouncesTheReportOnceAndOffersMailOnlyWithSettings) {
  const CrashReporterSetup setup = TestSetup(folder_);
  ASSERT_EQ(CrashInChild(setup, CrashWithSegfault), SIGSEGV);

  ScriptedUi ui;
  EXPECT_TRUE(AnnouncePendingCrashReport(ui, setup, "", ""));
  ASSERT_EQ(ui.shown.size(), 1u);
  EXPECT_EQ(ui.shown[0].kind, ScriptedUi::Kind::kMessage);
  EXPECT_NE(ui.shown[0].text.find("A crash report was written"), std::string::npos);
  EXPECT_TRUE(fs::exists(CrashReportPath(setup) + ".seen"));
  EXPECT_FALSE(AnnouncePendingCrashReport(ui, setup, "", ""));  // only once

  ASSERT_EQ(CrashInChild(setup, [] { std::terminate(); }), SIGABRT);
  ScriptedUi asked;
  asked.yes_no_answers = {false};
  EXPECT_TRUE(AnnouncePendingCrashReport(asked, setup, "127.0.0.1:9", "ops@example.org"));
  ASSERT_EQ(asked.shown.size(), 1u);
  EXPECT_EQ(asked.shown[0].kind, ScriptedUi::Kind::kQuestion);
  EXPECT_NE(asked.shown[0].text.find("send it by e-mail"), std::string::npos);
}

}  // namespace
}  // namespace vantri::shell
