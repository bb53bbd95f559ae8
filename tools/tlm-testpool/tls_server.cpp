#include "tools/tlm-testpool/tls_server.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <unistd.h>

#include "stratum/tls_transport.h"

namespace testpool {

namespace {

std::string openssl_error(const std::string& what) {
  const char* reason = ERR_reason_error_string(ERR_peek_last_error());
  return what + ": " + (reason != nullptr ? reason : "unknown error");
}

// A P-256 key and a certificate for it, signed by itself and valid for a year.
bool use_new_certificate(SSL_CTX* ctx, std::string& error) {
  EVP_PKEY* key = EVP_EC_gen("P-256");
  X509* cert = X509_new();
  bool ok = key != nullptr && cert != nullptr;
  if (ok) {
    X509_set_version(cert, X509_VERSION_3);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert), 365L * 24 * 3600);
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("tlm-testpool"),
                               -1, -1, 0);
    X509_set_issuer_name(cert, name);
    ok = X509_set_pubkey(cert, key) == 1 && X509_sign(cert, key, EVP_sha256()) > 0 &&
         SSL_CTX_use_certificate(ctx, cert) == 1 && SSL_CTX_use_PrivateKey(ctx, key) == 1;
  }
  if (!ok) error = openssl_error("cannot make a certificate");
  X509_free(cert);
  EVP_PKEY_free(key);
  return ok;
}

bool use_files(SSL_CTX* ctx, const std::string& cert_file, const std::string& key_file, std::string& error) {
  if (SSL_CTX_use_certificate_chain_file(ctx, cert_file.c_str()) != 1) {
    error = openssl_error("cannot use certificate " + cert_file);
    return false;
  }
  if (SSL_CTX_use_PrivateKey_file(ctx, key_file.c_str(), SSL_FILETYPE_PEM) != 1 ||
      SSL_CTX_check_private_key(ctx) != 1) {
    error = openssl_error("cannot use key " + key_file);
    return false;
  }
  return true;
}

}  // namespace

TlsServer::~TlsServer() { SSL_CTX_free(ctx_); }

bool TlsServer::init(const std::string& cert_file, const std::string& key_file, std::string& error) {
  ctx_ = SSL_CTX_new(TLS_server_method());
  if (ctx_ == nullptr) {
    error = openssl_error("cannot set up TLS");
    return false;
  }
  SSL_CTX_set_min_proto_version(ctx_, TLS1_2_VERSION);
  const bool ok = cert_file.empty() && key_file.empty() ? use_new_certificate(ctx_, error)
                                                        : use_files(ctx_, cert_file, key_file, error);
  if (ok) fingerprint_ = tlm::certificate_fingerprint(SSL_CTX_get0_certificate(ctx_));
  return ok;
}

std::unique_ptr<tlm::Transport> TlsServer::accept(int fd) const {
  SSL* ssl = SSL_new(ctx_);
  if (ssl == nullptr || SSL_set_fd(ssl, fd) != 1) {
    SSL_free(ssl);
    close(fd);
    return nullptr;
  }
  SSL_set_accept_state(ssl);
  return std::make_unique<tlm::TlsTransport>(ssl);
}

}  // namespace testpool
