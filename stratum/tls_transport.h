// TLS over a connected TCP socket (OpenSSL, TLS 1.2 or later): the transport
// itself, and the client handshake that checks the pool's certificate.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "stratum/fingerprint.h"
#include "stratum/transport.h"

typedef struct ssl_st SSL;

namespace tlm {

// How the pool's certificate is checked. By default: against the system's trust
// store and the host name.
struct TlsSettings {
  std::optional<Fingerprint> pin;  // accept exactly the certificate with this SHA-256
  bool insecure = false;           // without a pin: accept any certificate
};

// OpenSSL writes through write(2), not send with MSG_NOSIGNAL: a process using
// this transport must ignore SIGPIPE, as the miner and the test pool do.
class TlsTransport final : public Transport {
 public:
  // Takes ownership of `ssl` and of the socket attached to it, which it makes
  // non-blocking. A handshake not yet done runs inside the first reads and writes.
  explicit TlsTransport(SSL* ssl);
  ~TlsTransport() override;
  TlsTransport(const TlsTransport&) = delete;
  TlsTransport& operator=(const TlsTransport&) = delete;

  ssize_t read(char* buf, size_t n) override;
  ssize_t write(const char* buf, size_t n) override;
  int fd() const override;
  short events(bool want_write) const override;

 private:
  // Maps the result of SSL_read or SSL_write to the Transport convention and
  // notes which socket event the operation waits for.
  ssize_t outcome(int result, short& waits_for);

  SSL* ssl_;
  short read_waits_for_;   // POLLIN, or POLLOUT while TLS must send before reading
  short write_waits_for_;  // POLLOUT, or POLLIN while TLS must receive before writing
};

inline constexpr std::chrono::milliseconds kTlsHandshakeTimeout{10000};

// Runs the client handshake with `host` on the connected socket `fd`, which it
// owns from here on. It polls in ticks of 100 ms and gives up when `running`
// turns false or `timeout` passes. Returns the transport, or null with the reason
// (OpenSSL's verification error, the fingerprint seen, ...) in `error`.
std::unique_ptr<Transport> tls_connect(int fd, const std::string& host, const TlsSettings& settings,
                                       const std::atomic<bool>& running, std::string& error,
                                       std::chrono::milliseconds timeout = kTlsHandshakeTimeout);

}  // namespace tlm
