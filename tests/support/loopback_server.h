// A scripted TCP peer on 127.0.0.1 for tests of network clients: the test accepts
// connections and reads and writes lines itself, with every wait bounded.
#pragma once

#include <cstdint>
#include <string>

namespace testing_support {

// One accepted connection. Closed on destruction.
class LoopbackPeer {
 public:
  LoopbackPeer() = default;
  explicit LoopbackPeer(int fd) : fd_(fd) {}
  ~LoopbackPeer();
  LoopbackPeer(LoopbackPeer&& other) noexcept;
  LoopbackPeer& operator=(LoopbackPeer&& other) noexcept;
  LoopbackPeer(const LoopbackPeer&) = delete;
  LoopbackPeer& operator=(const LoopbackPeer&) = delete;

  bool valid() const { return fd_ >= 0; }

  // Writes all of `data` as it is (add the line feed yourself); false on error.
  bool send(const std::string& data);
  // The next line without its line feed; false if none arrives within timeout_ms
  // or the peer closes first.
  bool read_line(std::string& line, int timeout_ms = 3000);
  // Everything received until the peer closes or timeout_ms passes, after any
  // buffered text; `closed` tells which.
  std::string read_all(int timeout_ms, bool* closed = nullptr);
  void close();

 private:
  // Waits up to timeout_ms for more bytes; false on time-out, close or error.
  bool fill(int timeout_ms);

  int fd_ = -1;
  std::string pending_;
  bool eof_ = false;
};

// A listening socket on 127.0.0.1 with a port picked by the system. With a backlog
// of 0 one waiting connection fills the queue, and later connects hang.
class LoopbackServer {
 public:
  explicit LoopbackServer(int backlog = 16);
  ~LoopbackServer();
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  uint16_t port() const { return port_; }
  // The next connection, or an invalid peer when none comes within timeout_ms.
  LoopbackPeer accept(int timeout_ms = 5000);
  // The next connection of a Stratum client, its subscribe and authorize lines read.
  LoopbackPeer accept_session();

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
};

// A client connection to 127.0.0.1:port, from another loopback address when
// `source` names one; an invalid peer when it is refused.
LoopbackPeer connect_loopback(uint16_t port, const char* source = nullptr);
// Sends `request` on a new connection to 127.0.0.1:port and returns what came
// back until the server closed the connection; `closed` is false when it did not
// within 10 s.
std::string http_exchange(uint16_t port, const std::string& request, bool* closed = nullptr);
// The status code of an HTTP reply; 0 when it has none.
int http_status(const std::string& reply);

}  // namespace testing_support
