// A connected byte stream to the pool: plain TCP, or TLS over TCP. The socket is
// non-blocking and neither read nor write ever waits; the connection thread polls
// fd() for the events that events() names. Owned and used by the connection thread.
#pragma once

#include <sys/types.h>

#include <cstddef>

namespace tlm {

class Transport {
 public:
  virtual ~Transport() = default;  // closes the stream and its socket
  // Reads up to n bytes: the count (> 0); 0 when nothing can be read now; -1 when
  // the stream has ended (closed by the peer, an error, or shut down).
  virtual ssize_t read(char* buf, size_t n) = 0;
  // Writes up to n bytes: the count; 0 when nothing can be written now; -1 when the
  // stream has ended.
  virtual ssize_t write(const char* buf, size_t n) = 0;
  // The socket, for poll and for shutdown(SHUT_RDWR) from another thread.
  virtual int fd() const = 0;
  // The poll events (POLLIN, POLLOUT) to wait for before the next read, or, when
  // `want_write`, the next write, can make progress.
  virtual short events(bool want_write) const = 0;
};

}  // namespace tlm
