// The mailer against a small SMTP sink on the loopback interface, run in a thread of the test.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "system/nvtools.h"
#include "testing/temp_folder.h"

namespace {

using Clock = std::chrono::steady_clock;

// Accepts one connection on 127.0.0.1, answers a minimal SMTP dialogue and records what the
// client sent. Every wait is bounded, so a silent client cannot hang the test.
class SmtpSink {
 public:
  SmtpSink() {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(listener_, 1);
    socklen_t length = sizeof address;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~SmtpSink() {
    if (thread_.joinable()) thread_.join();
    close(listener_);
  }

  int port() const { return port_; }
  // Waits for the dialogue to end and returns everything the client sent.
  std::string Transcript() {
    if (thread_.joinable()) thread_.join();
    return transcript_;
  }

 private:
  static constexpr auto kDeadline = std::chrono::seconds(20);

  bool WaitReadable(int fd) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now()).count();
    if (left <= 0) return false;
    pollfd entry{fd, POLLIN, 0};
    return poll(&entry, 1, static_cast<int>(left)) == 1;
  }

  bool ReadLine(int fd, std::string* line) {
    line->clear();
    while (true) {
      const std::size_t end = pending_.find("\r\n");
      if (end != std::string::npos) {
        *line = pending_.substr(0, end);
        pending_.erase(0, end + 2);
        transcript_ += *line + "\n";
        return true;
      }
      if (!WaitReadable(fd)) return false;
      char buffer[4096];
      const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) return false;
      pending_.append(buffer, static_cast<std::size_t>(n));
    }
  }

  static void Reply(int fd, const std::string& text) {
    const std::string line = text + "\r\n";
    send(fd, line.data(), line.size(), MSG_NOSIGNAL);
  }

  void Serve() {
    deadline_ = Clock::now() + kDeadline;
    if (!WaitReadable(listener_)) return;
    const int client = accept(listener_, nullptr, nullptr);
    if (client < 0) return;
    Reply(client, "220 sink ESMTP");
    std::string line;
    bool in_data = false;
    while (ReadLine(client, &line)) {
      if (in_data) {
        if (line == ".") {
          in_data = false;
          Reply(client, "250 queued");
        }
        continue;
      }
      const std::string verb = line.substr(0, 4);
      if (verb == "EHLO" || verb == "HELO") {
        Reply(client, "250 sink");
      } else if (verb == "DATA") {
        in_data = true;
        Reply(client, "354 go ahead");
      } else if (verb == "QUIT") {
        Reply(client, "221 bye");
        break;
      } else {
        Reply(client, "250 ok");
      }
    }
    close(client);
  }

  int listener_ = -1;
  int port_ = 0;
  std::thread thread_;
  Clock::time_point deadline_;
  std::string pending_;
  std::string transcript_;
};

TEST(SendEmail, HandsAMessageWithAttachmentToTheServer) {
  vantri::test_support::TempFolder folder;
  const std::string report = folder / "block.atout";
  vantri::test_support::WriteFile(report, "Aerial Triangulation report\n");
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
