// The pool connection as a plain TCP stream.
#pragma once

#include "stratum/transport.h"

namespace tlm {

class TcpTransport : public Transport {
 public:
  // Takes ownership of the connected socket `fd` and makes it non-blocking.
  explicit TcpTransport(int fd);
  ~TcpTransport() override;
  TcpTransport(const TcpTransport&) = delete;
  TcpTransport& operator=(const TcpTransport&) = delete;

  ssize_t read(char* buf, size_t n) override;
  ssize_t write(const char* buf, size_t n) override;
  int fd() const override { return fd_; }
  short events(bool want_write) const override;

 private:
  const int fd_;
};

}  // namespace tlm
