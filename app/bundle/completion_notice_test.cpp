#include "bundle/completion_notice.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "project/process_settings.h"
#include "project/project.h"
#include "testing/scripted_ui.h"
#include "testing/smtp_sink.h"
#include "testing/temp_folder.h"
#include "ui_interface/ui.h"

namespace vantri::bundle {
namespace {

using test_support::SmtpSink;
using test_support::TempFolder;

// A port on the loopback interface where nothing listens: a mail sent there is refused.
std::string ClosedServer() {
  const int probe = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
  close(probe);
  return "127.0.0.1:" + std::to_string(ntohs(address.sin_port));
}

class CompletionNoticeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    old_path_ = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "";
    report_ = folder_ / "Bundle; echo x $(id)/block.atout";
    std::filesystem::create_directories(std::filesystem::path(report_).parent_path());
    test_support::WriteFile(report_, "# Vantri - v 0.1.0\n# Aerial Triangulation Output Report\n");
    settings_.show_report = false;
    settings_.send_email = false;
    settings_.recipients = "ops@example.org, lead@example.org";
    settings_.email_subject = "Block 7 adjusted";
  }
  void TearDown() override { setenv("PATH", old_path_.c_str(), 1); }

  // An "xdg-open" first on the PATH that writes its arguments, one per line, to `opened_`.
  void InstallStandInViewer() {
    const std::string bin = folder_ / "bin";
    std::filesystem::create_directories(bin);
    test_support::WriteFile(bin + "/xdg-open", "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"" + opened_ +
                                                   ".tmp\"\n"
                                                   "mv \"" +
                                                   opened_ + ".tmp\" \"" + opened_ + "\"\n");
    chmod((bin + "/xdg-open").c_str(), 0755);
    setenv("PATH", (bin + ":" + old_path_).c_str(), 1);
  }
  // The stand-in runs detached: wait (bounded) until it has written its file.
  std::string OpenedArguments() {
    for (int i = 0; i < 400 && !std::filesystem::exists(opened_); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return test_support::ReadFile(opened_);
  }

  TempFolder folder_;
  std::string old_path_;
  std::string report_;
  std::string opened_ = folder_ / "opened.txt";
  project::VantriTypedSettings settings_;
  ScriptedUi ui_;
};

TEST_F(CompletionNoticeTest, SuccessShowsTheReportThroughTheDefaultProgramWithoutAShell) {
  InstallStandInViewer();
  settings_.show_report = true;
  const NoticeOutcome outcome = NotifyCompletion(settings_, report_, true, ui_);
  EXPECT_TRUE(outcome.report_shown);
  EXPECT_FALSE(outcome.mail_sent || outcome.mail_failed);
  // One argument, the path as it is: the "$(id)" and ";" of the folder name were not run.
  EXPECT_EQ(OpenedArguments(), report_ + "\n");
  EXPECT_TRUE(ui_.shown.empty());
}

TEST_F(CompletionNoticeTest, SuccessMailCarriesTheReport) {
  SmtpSink sink;
  settings_.send_email = true;
  settings_.smtp_server = "127.0.0.1:" + std::to_string(sink.port());
  const NoticeOutcome outcome = NotifyCompletion(settings_, report_, true, ui_);
  EXPECT_TRUE(outcome.mail_sent);
  EXPECT_FALSE(outcome.report_shown);
  const std::string sent = sink.Transcript();
  EXPECT_NE(sent.find(std::string("MAIL FROM:<") + kNoticeSender + ">"), std::string::npos);
  EXPECT_NE(sent.find("RCPT TO:<lead@example.org>"), std::string::npos);
  EXPECT_NE(sent.find("Subject: Block 7 adjusted"), std::string::npos);
  EXPECT_NE(sent.find("Please check report in attachment for further details"), std::string::npos);
  EXPECT_NE(sent.find("filename=\"block.atout\""), std::string::npos);
  EXPECT_TRUE(ui_.shown.empty());
}

TEST_F(CompletionNoticeTest, FailureMailsTheErrorWithoutReport) {
  SmtpSink sink;
  InstallStandInViewer();
  settings_.show_report = true;
  settings_.send_email = true;
  settings_.smtp_server = "127.0.0.1:" + std::to_string(sink.port());
  const NoticeOutcome outcome = NotifyCompletion(settings_, report_, false, ui_);
  EXPECT_FALSE(outcome.report_shown);
  EXPECT_TRUE(outcome.mail_sent);
  const std::string sent = sink.Transcript();
  EXPECT_NE(sent.find("Vantri process error!"), std::string::npos);
  EXPECT_EQ(sent.find("filename="), std::string::npos);
  EXPECT_EQ(sent.find("Vantri process done."), std::string::npos);
}

TEST_F(CompletionNoticeTest, NothingIsSentWithoutRecipientsOrServer) {
  settings_.send_email = true;
  settings_.smtp_server = ClosedServer();  // any attempt would fail with a message
  for (bool success : {false, true}) {
    settings_.recipients = " , ";
    EXPECT_FALSE(NotifyCompletion(settings_, report_, success, ui_).mail_failed);
    settings_.recipients = "ops@example.org";
    settings_.smtp_server = "";
    EXPECT_FALSE(NotifyCompletion(settings_, report_, success, ui_).mail_failed);
    settings_.smtp_server = ClosedServer();
  }
  EXPECT_TRUE(ui_.shown.empty());

  settings_.send_email = false;  // both switches off: nothing at all
  const NoticeOutcome quiet = NotifyCompletion(settings_, report_, true, ui_);
  EXPECT_FALSE(quiet.report_shown || quiet.mail_sent || quiet.mail_failed);
  EXPECT_TRUE(ui_.shown.empty());
}

TEST_F(CompletionNoticeTest, RefusedMailIsReported) {
  settings_.send_email = true;
  settings_.smtp_server = ClosedServer();
  const NoticeOutcome outcome = NotifyCompletion(settings_, report_, true, ui_);
  EXPECT_TRUE(outcome.mail_failed);
  EXPECT_EQ(ui_.Texts(), std::vector<std::string>{kMailFailure});
  EXPECT_EQ(ui_.shown.back().icon, MessageIcon::kInformation);
}

TEST_F(CompletionNoticeTest, ProjectReportIsInTheBundleFolder) {
  CVantriProject project;
  project.folder = "/surveys/lake/";
  project.name = "lake";
  EXPECT_EQ(BundleReportPath(project), "/surveys/lake/Bundle/lake.atout");
}

}  // namespace
}  // namespace vantri::bundle
