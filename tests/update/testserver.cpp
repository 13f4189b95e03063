#include "testserver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <stdexcept>

namespace zelk::test {

namespace {

uint16_t bindLoopback(int fd) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
    throw std::runtime_error("bind");
  socklen_t len = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  return ntohs(addr.sin_port);
}

const char* reason(int status) {
  switch (status) {
    case 200: return "OK";
    case 204: return "No Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 303: return "See Other";
    case 404: return "Not Found";
    default: return "Status";
  }
}

}  // namespace

TestServer::TestServer() {
  listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listener_ < 0) throw std::runtime_error("socket");
  int one = 1;
  setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  port_ = bindLoopback(listener_);
  if (listen(listener_, 16) != 0) throw std::runtime_error("listen");
  thread_ = std::thread([this] { run(); });
}

TestServer::~TestServer() {
  stop_.store(true, std::memory_order_relaxed);
  thread_.join();
  close(listener_);
}

void TestServer::setRaw(const std::string& path, std::string response) {
  std::lock_guard<std::mutex> g(mutex_);
  answers_[path] = std::move(response);
}

void TestServer::set(const std::string& path, int status, const std::string& body,
                     const std::string& headers) {
  std::string raw = "HTTP/1.1 " + std::to_string(status) + " " + reason(status) + "\r\n";
  if (status != 204) raw += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  raw += headers;
  raw += "Connection: close\r\n\r\n";
  raw += body;
  setRaw(path, std::move(raw));
}

int TestServer::requestCount() const {
  std::lock_guard<std::mutex> g(mutex_);
  return static_cast<int>(requests_.size());
}

std::vector<std::string> TestServer::requests() const {
  std::lock_guard<std::mutex> g(mutex_);
  return requests_;
}

void TestServer::run() {
  while (!stop_.load(std::memory_order_relaxed)) {
    pollfd p{listener_, POLLIN, 0};
    if (poll(&p, 1, 20) <= 0) continue;
    int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    serve(client);
    close(client);
  }
}

void TestServer::serve(int client) {
  timeval timeout{5, 0};
  setsockopt(client, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
  std::string head;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
    if (std::chrono::steady_clock::now() > deadline || stop_.load(std::memory_order_relaxed))
      return;
    pollfd p{client, POLLIN, 0};
    if (poll(&p, 1, 20) <= 0) continue;
    char buf[4096];
    ssize_t n = recv(client, buf, sizeof buf, 0);
    if (n <= 0) return;
    head.append(buf, static_cast<std::size_t>(n));
  }
  std::string path;
  std::size_t sp = head.find(' ');
  if (sp != std::string::npos) path = head.substr(sp + 1, head.find(' ', sp + 1) - sp - 1);
  std::string answer;
  {
    std::lock_guard<std::mutex> g(mutex_);
    requests_.push_back(head);
    auto it = answers_.find(path);
    answer = it != answers_.end()
                 ? it->second
                 : "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
  }
  std::size_t sent = 0;
  while (sent < answer.size()) {
    ssize_t n = send(client, answer.data() + sent, answer.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return;  // the client stopped reading
    sent += static_cast<std::size_t>(n);
  }
  shutdown(client, SHUT_WR);
  // Let the client read to the end before the socket goes.
  char buf[256];
  for (int i = 0; i < 100; ++i) {
    pollfd p{client, POLLIN, 0};
    if (poll(&p, 1, 20) > 0 && recv(client, buf, sizeof buf, 0) <= 0) break;
  }
}

RefusingPort::RefusingPort() {
  fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) throw std::runtime_error("socket");
  port_ = bindLoopback(fd_);
}

RefusingPort::~RefusingPort() { close(fd_); }

}  // namespace zelk::test
