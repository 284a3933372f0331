// A small SMTP sink on the loopback interface for the tests of the mailer and its callers: it
// accepts one connection in a thread, answers a minimal dialogue and records what the client sent.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

namespace vantri::testing_support {

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
  using Clock = std::chrono::steady_clock;
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

}  // namespace vantri::testing_support
