// The TLS side of tlm-testpool: a server context with a certificate generated at
// start (self-signed) or read from files, and the transport for each accepted miner.
#pragma once

#include <memory>
#include <string>

#include "stratum/fingerprint.h"
#include "stratum/transport.h"

typedef struct ssl_ctx_st SSL_CTX;

namespace testpool {

class TlsServer {
 public:
  TlsServer() = default;
  ~TlsServer();
  TlsServer(const TlsServer&) = delete;
  TlsServer& operator=(const TlsServer&) = delete;

  // Uses the PEM certificate and key in the two files, or, when both names are
  // empty, a new self-signed certificate. False with the reason in `error`.
  bool init(const std::string& cert_file, const std::string& key_file, std::string& error);
  // SHA-256 of the certificate in use, for miners to pin.
  const tlm::Fingerprint& fingerprint() const { return fingerprint_; }
  // Wraps an accepted socket (owned from here on); the handshake runs inside the
  // transport's first reads and writes. Null when OpenSSL fails.
  std::unique_ptr<tlm::Transport> accept(int fd) const;

 private:
  SSL_CTX* ctx_ = nullptr;
  tlm::Fingerprint fingerprint_{};
};

}  // namespace testpool
