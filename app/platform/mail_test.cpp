// The mailer against a small SMTP sink on the loopback interface, run in a thread of the test.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/nvtools.h"
#include "platform/smtp_sink.h"
#include "platform/test_support.h"

namespace {

using vantri::testing_support::SmtpSink;

TEST(SendEmail, HandsAMessageWithAttachmentToTheServer) {
  vantri::testing_support::TempFolder folder;
  const std::string report = folder / "block.atout";
  vantri::testing_support::write_file(report, "Aerial Triangulation report\n");
  SmtpSink sink;
  const std::string server = "127.0.0.1:" + std::to_string(sink.port());
  ASSERT_EQ(NVT_SendEmail(server, "ops@example.org; lead@example.org", "vantri@example.org",
                          "Vantri process done",
                          "Vantri process done.\nPlease check report in attachment for further "
                          "details\n\n",
                          report, ""),
            1);
  const std::string sent = sink.Transcript();
  EXPECT_NE(sent.find("MAIL FROM:<vantri@example.org>"), std::string::npos);
  EXPECT_NE(sent.find("RCPT TO:<ops@example.org>"), std::string::npos);
  EXPECT_NE(sent.find("RCPT TO:<lead@example.org>"), std::string::npos);
  EXPECT_NE(sent.find("Subject: Vantri process done"), std::string::npos);
  EXPECT_NE(sent.find("Please check report in attachment"), std::string::npos);
  EXPECT_NE(sent.find("filename=\"block.atout\""), std::string::npos);
  // Base64 of "Aerial Triangulation report\n".
  EXPECT_NE(sent.find("QWVyaWFsIFRyaWFuZ3VsYXRpb24gcmVwb3J0Cg=="), std::string::npos);
}

TEST(SendEmail, LineBreaksInHeaderFieldsCannotAddHeaders) {
  SmtpSink sink;
  const std::string server = "127.0.0.1:" + std::to_string(sink.port());
  ASSERT_EQ(NVT_SendEmail(server, "ops@example.org", "vantri@example.org",
                          "Done\r\nBcc: intruder@example.org", "body", "", ""),
            1);
  const std::string sent = sink.Transcript();
  EXPECT_EQ(sent.find("\nBcc:"), std::string::npos);
  EXPECT_EQ(sent.find("RCPT TO:<intruder@example.org>"), std::string::npos);
  EXPECT_NE(sent.find("Subject: Done  Bcc: intruder@example.org"), std::string::npos);
}

TEST(SendEmail, ReportsFailuresWithoutSending) {
  // Nothing listens on a port that was just released.
  int port = 0;
  {
    const int probe = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    close(probe);
  }
  const std::string closed = "127.0.0.1:" + std::to_string(port);
  EXPECT_EQ(NVT_SendEmail(closed, "a@example.org", "b@example.org", "s", "b", "", ""), 0);
  EXPECT_EQ(NVT_SendEmail("", "a@example.org", "b@example.org", "s", "b", "", ""), 0);
  EXPECT_EQ(NVT_SendEmail(closed, " ; ", "b@example.org", "s", "b", "", ""), 0);
  EXPECT_EQ(NVT_SendEmail(closed, "a@example.org", "b@example.org", "s", "b", "/no/such/file", ""),
            0);
}

}  // namespace
