// SHA-256 fingerprints of TLS certificates: how users write them and how the
// program shows them.
#pragma once

#include <array>
#include <cstdint>
#include <string>

typedef struct x509_st X509;

namespace tlm {

using Fingerprint = std::array<uint8_t, 32>;

// Reads 64 hex digits of either case, bare or as 32 colon-separated pairs (the
// form `openssl x509 -fingerprint -sha256` prints). False on anything else.
bool parse_fingerprint(const std::string& text, Fingerprint& out);

// The 32 pairs in upper case, separated by colons.
std::string fingerprint_text(const Fingerprint& fp);

// The SHA-256 of the certificate's DER encoding.
Fingerprint certificate_fingerprint(X509* cert);

}  // namespace tlm
