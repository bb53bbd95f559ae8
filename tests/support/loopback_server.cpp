#include "tests/support/loopback_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <utility>

namespace testing_support {

namespace {

int ms_until(std::chrono::steady_clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

}  // namespace

LoopbackPeer::~LoopbackPeer() { close(); }

LoopbackPeer::LoopbackPeer(LoopbackPeer&& other) noexcept { *this = std::move(other); }

LoopbackPeer& LoopbackPeer::operator=(LoopbackPeer&& other) noexcept {
  if (this != &other) {
    close();
    fd_ = std::exchange(other.fd_, -1);
    pending_ = std::move(other.pending_);
    eof_ = other.eof_;
  }
  return *this;
}

void LoopbackPeer::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool LoopbackPeer::send(const std::string& data) {
  size_t sent = 0;
  while (sent < data.size()) {
    ssize_t n = ::send(fd_, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

bool LoopbackPeer::fill(int timeout_ms) {
  if (fd_ < 0 || eof_) return false;
  pollfd p{fd_, POLLIN, 0};
  if (poll(&p, 1, timeout_ms) <= 0) return false;
  char buf[16384];
  ssize_t n = recv(fd_, buf, sizeof buf, 0);
  if (n <= 0) {
    eof_ = true;
    return false;
  }
  pending_.append(buf, static_cast<size_t>(n));
  return true;
}

bool LoopbackPeer::read_line(std::string& line, int timeout_ms) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    size_t lf = pending_.find('\n');
    if (lf != std::string::npos) {
      line = pending_.substr(0, lf);
      pending_.erase(0, lf + 1);
      return true;
    }
    if (!fill(ms_until(deadline))) return false;
  }
}

std::string LoopbackPeer::read_all(int timeout_ms, bool* closed) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (fill(ms_until(deadline))) {
  }
  if (closed != nullptr) *closed = eof_;
  std::string all = std::move(pending_);
  pending_.clear();
  return all;
}

LoopbackServer::LoopbackServer(int backlog) {
  fd_ = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&addr), len) != 0 || listen(fd_, backlog) != 0 ||
      getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    return;  // port() stays 0 and accept() fails; the test sees both
  }
  port_ = ntohs(addr.sin_port);
}

LoopbackServer::~LoopbackServer() {
  if (fd_ >= 0) close(fd_);
}

LoopbackPeer LoopbackServer::accept(int timeout_ms) {
  pollfd p{fd_, POLLIN, 0};
  if (fd_ < 0 || poll(&p, 1, timeout_ms) <= 0) return LoopbackPeer();
  return LoopbackPeer(::accept(fd_, nullptr, nullptr));
}

LoopbackPeer connect_loopback(uint16_t port, const char* source) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  if (source != nullptr && fd >= 0 && inet_pton(AF_INET, source, &addr.sin_addr) == 1)
    bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) return LoopbackPeer(fd);
  if (fd >= 0) ::close(fd);
  return LoopbackPeer();
}

LoopbackPeer LoopbackServer::accept_session() {
  LoopbackPeer peer = accept(20000);
  std::string line;
  EXPECT_TRUE(peer.read_line(line, 20000) && peer.read_line(line, 20000)) << "no subscribe and authorize";
  return peer;
}

std::string http_exchange(uint16_t port, const std::string& request, bool* closed) {
  LoopbackPeer peer = connect_loopback(port);
  peer.send(request);
  return peer.read_all(10000, closed);
}

int http_status(const std::string& reply) {
  return reply.compare(0, 5, "HTTP/") == 0 && reply.size() > 12 ? atoi(reply.c_str() + 9) : 0;
}

}  // namespace testing_support
