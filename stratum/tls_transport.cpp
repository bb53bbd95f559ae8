#include "stratum/tls_transport.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>

namespace tlm {

namespace {

constexpr std::chrono::milliseconds kTick{100};

bool is_ip_address(const std::string& host) {
  unsigned char addr[sizeof(in6_addr)];
  return inet_pton(AF_INET, host.c_str(), addr) == 1 || inet_pton(AF_INET6, host.c_str(), addr) == 1;
}

// The client context for one connection: TLS 1.2 or later, and the certificate
// check that the settings ask for. Null when OpenSSL cannot set it up.
SSL* client_session(const std::string& host, const TlsSettings& settings) {
  SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
  if (ctx == nullptr) return nullptr;
  SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
  const bool verify = !settings.insecure && !settings.pin;
  if (verify) SSL_CTX_set_default_verify_paths(ctx);
  SSL_CTX_set_verify(ctx, verify ? SSL_VERIFY_PEER : SSL_VERIFY_NONE, nullptr);
  SSL* ssl = SSL_new(ctx);
  SSL_CTX_free(ctx);  // the session holds its own reference
  if (ssl == nullptr) return nullptr;
  // Servers pick their certificate by name; an address is never sent as one.
  if (is_ip_address(host)) {
    if (verify) X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), host.c_str());
  } else {
    SSL_set_tlsext_host_name(ssl, host.c_str());
    if (verify) SSL_set1_host(ssl, host.c_str());
  }
  return ssl;
}

// What a pool without TLS makes of a ClientHello: it answers with text, which no
// TLS record starts with, or closes.
constexpr const char* kPlainPool = "the pool answers without TLS: use stratum+tcp://";

// The refusal of a certificate, with the fingerprint that would pin the one shown.
std::string untrusted(SSL* ssl, long verify) {
  std::string text = std::string("certificate not trusted: ") + X509_verify_cert_error_string(verify);
  STACK_OF(X509)* chain = SSL_get_peer_cert_chain(ssl);
  if (chain != nullptr && sk_X509_num(chain) > 0)
    text += "; to trust this one, pin it with --tls-fingerprint " +
            fingerprint_text(certificate_fingerprint(sk_X509_value(chain, 0)));
  return text;
}

std::string handshake_failure(SSL* ssl, int ssl_error) {
  const long verify = SSL_get_verify_result(ssl);
  if (verify != X509_V_OK) return untrusted(ssl, verify);
  const unsigned long code = ERR_peek_last_error();
  if (ssl_error == SSL_ERROR_SSL && code != 0) {
    switch (ERR_GET_REASON(code)) {
      case SSL_R_WRONG_VERSION_NUMBER:
      case SSL_R_PACKET_LENGTH_TOO_LONG:
      case SSL_R_UNKNOWN_PROTOCOL: return kPlainPool;
    }
    const char* reason = ERR_reason_error_string(code);
    return std::string("TLS handshake failed: ") + (reason != nullptr ? reason : "unknown error");
  }
  return "TLS handshake failed: connection closed";
}

}  // namespace

TlsTransport::TlsTransport(SSL* ssl) : ssl_(ssl), read_waits_for_(POLLIN), write_waits_for_(POLLOUT) {
  const int s = SSL_get_fd(ssl_);
  fcntl(s, F_SETFL, fcntl(s, F_GETFL) | O_NONBLOCK);
  // The caller retries a blocked write with what is still unsent, which may by
  // then sit elsewhere in memory and have grown.
  SSL_set_mode(ssl_, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
}

TlsTransport::~TlsTransport() {
  const int s = SSL_get_fd(ssl_);
  SSL_free(ssl_);
  if (s >= 0) close(s);
}

ssize_t TlsTransport::read(char* buf, size_t n) {
  // Everything available is taken at once: a record OpenSSL has already pulled off
  // the socket would not wake the caller's poll again.
  read_waits_for_ = POLLIN;
  size_t got = 0;
  while (got < n) {
    ERR_clear_error();
    const int chunk = static_cast<int>(std::min<size_t>(n - got, 1 << 30));
    const ssize_t r = outcome(SSL_read(ssl_, buf + got, chunk), read_waits_for_);
    if (r < 0) return got > 0 ? static_cast<ssize_t>(got) : -1;
    if (r == 0) break;
    got += static_cast<size_t>(r);
  }
  return static_cast<ssize_t>(got);
}

ssize_t TlsTransport::write(const char* buf, size_t n) {
  if (n == 0) return 0;
  write_waits_for_ = POLLOUT;
  ERR_clear_error();
  const int chunk = static_cast<int>(std::min<size_t>(n, 1 << 30));
  return outcome(SSL_write(ssl_, buf, chunk), write_waits_for_);
}

ssize_t TlsTransport::outcome(int result, short& waits_for) {
  if (result > 0) return result;
  switch (SSL_get_error(ssl_, result)) {
    case SSL_ERROR_WANT_READ:
      waits_for = POLLIN;
      return 0;
    case SSL_ERROR_WANT_WRITE:
      waits_for = POLLOUT;
      return 0;
    default:
      return -1;  // closed by the peer, shut down, or a protocol error
  }
}

int TlsTransport::fd() const { return SSL_get_fd(ssl_); }

short TlsTransport::events(bool want_write) const {
  // Text already decrypted but not yet taken wakes no poll on the socket; the
  // socket being writable does, at once.
  const short read = SSL_pending(ssl_) > 0 ? POLLIN | POLLOUT : read_waits_for_;
  return want_write ? read | write_waits_for_ : read;
}

std::unique_ptr<Transport> tls_connect(int fd, const std::string& host, const TlsSettings& settings,
                                       const std::atomic<bool>& running, std::string& error,
                                       std::chrono::milliseconds timeout) {
  SSL* ssl = client_session(host, settings);
  if (ssl == nullptr || SSL_set_fd(ssl, fd) != 1) {
    SSL_free(ssl);
    close(fd);
    error = "TLS set-up failed";
    return nullptr;
  }
  auto transport = std::make_unique<TlsTransport>(ssl);
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    ERR_clear_error();
    const int result = SSL_connect(ssl);
    if (result == 1) break;
    const int ssl_error = SSL_get_error(ssl, result);
    if (ssl_error != SSL_ERROR_WANT_READ && ssl_error != SSL_ERROR_WANT_WRITE) {
      error = handshake_failure(ssl, ssl_error);
      return nullptr;
    }
    const auto left = deadline - std::chrono::steady_clock::now();
    if (left <= std::chrono::milliseconds(0)) {
      error = "no TLS handshake within " + std::to_string(timeout.count() / 1000) +
              " s: if the pool does not speak TLS, use stratum+tcp://";
      return nullptr;
    }
    if (!running) {
      error = "stopped";
      return nullptr;
    }
    pollfd p{fd, static_cast<short>(ssl_error == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT), 0};
    const auto wait = std::min<std::chrono::steady_clock::duration>(left, kTick);
    poll(&p, 1, static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(wait).count()));
  }
  if (settings.pin) {
    X509* cert = SSL_get1_peer_certificate(ssl);
    if (cert == nullptr) {
      error = "the pool sent no certificate";
      return nullptr;
    }
    const Fingerprint seen = certificate_fingerprint(cert);
    X509_free(cert);
    if (seen != *settings.pin) {
      error = "certificate fingerprint " + fingerprint_text(seen) + " is not the pinned one";
      return nullptr;
    }
  }
  return transport;
}

}  // namespace tlm
