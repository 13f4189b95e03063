// A tiny HTTP server on 127.0.0.1 for the fetch and update-check tests.
//
// It listens on an ephemeral port, answers one request per connection from
// a table of canned raw answers by path, and records every request head.
// Unknown paths get a 404. It stops when destroyed.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zelk::test {

class TestServer {
 public:
  TestServer();
  ~TestServer();
  TestServer(const TestServer&) = delete;
  TestServer& operator=(const TestServer&) = delete;

  uint16_t port() const { return port_; }
  std::string hostPort() const { return "127.0.0.1:" + std::to_string(port_); }
  std::string url(const std::string& path) const { return "http://" + hostPort() + path; }

  // The raw bytes sent for a path.
  void setRaw(const std::string& path, std::string response);
  // A complete answer with the status line, Content-Length and extra header lines.
  void set(const std::string& path, int status, const std::string& body,
           const std::string& headers = "");

  int requestCount() const;
  std::vector<std::string> requests() const;  // request heads, in order

 private:
  void run();
  void serve(int client);

  int listener_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::map<std::string, std::string> answers_;
  std::vector<std::string> requests_;
  std::thread thread_;
};

// A port on 127.0.0.1 that refuses connections: bound, never listening.
class RefusingPort {
 public:
  RefusingPort();
  ~RefusingPort();
  uint16_t port() const { return port_; }
  std::string hostPort() const { return "127.0.0.1:" + std::to_string(port_); }

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
};

}  // namespace zelk::test
