#include "stratum/tcp_transport.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace tlm {

namespace {

// What a failed recv or send means: nothing to do now (0) or the end (-1).
ssize_t would_block_or_end() { return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? 0 : -1; }

// About twenty submissions. Left to itself the kernel grows the buffer to megabytes,
// where shares a stalled pool does not read would sit beyond our count and bound;
// kept small, they wait in the share queue instead.
constexpr int kSendBuffer = 65536;

}  // namespace

TcpTransport::TcpTransport(int fd) : fd_(fd) {
  fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK);
  setsockopt(fd_, SOL_SOCKET, SO_SNDBUF, &kSendBuffer, sizeof kSendBuffer);
}

TcpTransport::~TcpTransport() { close(fd_); }

ssize_t TcpTransport::read(char* buf, size_t n) {
  const ssize_t got = recv(fd_, buf, n, 0);
  if (got == 0) return -1;  // closed by the peer
  return got > 0 ? got : would_block_or_end();
}

ssize_t TcpTransport::write(const char* buf, size_t n) {
  const ssize_t sent = send(fd_, buf, n, MSG_NOSIGNAL);
  return sent >= 0 ? sent : would_block_or_end();
}

short TcpTransport::events(bool want_write) const { return want_write ? POLLIN | POLLOUT : POLLIN; }

}  // namespace tlm
