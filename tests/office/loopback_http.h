#pragma once
// A web server on the loopback interface, on a thread of its own, that counts
// every connection made to it and answers each request with a small picture.
// It runs while the code under test blocks, so a request made from another
// process is seen (and answered) whatever the test thread is doing.

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

namespace pw::test {

class LoopbackHttp {
 public:
  LoopbackHttp() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&addr), len) != 0 || ::listen(fd_, 16) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
      return;
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~LoopbackHttp() {
    quit_ = true;
    if (thread_.joinable()) thread_.join();
    ::close(fd_);
  }
  LoopbackHttp(const LoopbackHttp&) = delete;
  LoopbackHttp& operator=(const LoopbackHttp&) = delete;

  bool listening() const { return port_ != 0; }
  std::string url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }
  int connections() const { return connections_.load(); }
  // The first line of each request, for a failure's message.
  std::string requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }

 private:
  void Serve() {
    // A 1x1 PNG, so a fetch that does happen succeeds and is not retried.
    static const unsigned char png[] = {
        0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x48,
        0x44, 0x52, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x08, 0x06, 0x00, 0x00,
        0x00, 0x1F, 0x15, 0xC4, 0x89, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x44, 0x41, 0x54, 0x78,
        0x9C, 0x63, 0x60, 0x00, 0x02, 0x00, 0x00, 0x05, 0x00, 0x01, 0xE9, 0xFA, 0xDC, 0xD8,
        0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82};
    const std::string body(reinterpret_cast<const char*>(png), sizeof png);
    const std::string response = "HTTP/1.1 200 OK\r\nContent-Type: image/png\r\nContent-Length: " +
                                 std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" +
                                 body;
    while (!quit_) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      const int client = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) continue;
      ++connections_;
      std::string request;
      char buf[4096];
      for (int waited = 0; request.find("\r\n\r\n") == std::string::npos && waited < 40;) {
        pollfd c{client, POLLIN, 0};
        if (::poll(&c, 1, 50) <= 0) {
          ++waited;
          continue;
        }
        const ssize_t n = ::read(client, buf, sizeof buf);
        if (n <= 0) break;
        request.append(buf, static_cast<std::size_t>(n));
      }
      {
        std::lock_guard<std::mutex> lock(mutex_);
        lines_ += request.substr(0, request.find("\r\n")) + "\n";
      }
      if (::write(client, response.data(), response.size()) < 0) {
        // The client went away; it was counted all the same.
      }
      ::close(client);
    }
  }

  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> quit_{false};
  std::atomic<int> connections_{0};
  mutable std::mutex mutex_;
  std::string lines_;
  std::thread thread_;
};

}  // namespace pw::test
