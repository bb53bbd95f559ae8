#include "stratum/fingerprint.h"

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cctype>

#include "hash/hex.h"

namespace tlm {

bool parse_fingerprint(const std::string& text, Fingerprint& out) {
  std::string digits = text;
  if (text.size() == 3 * out.size() - 1) {
    digits.clear();
    for (size_t i = 0; i < text.size(); i += 3) {
      if (i + 2 < text.size() && text[i + 2] != ':') return false;
      digits.append(text, i, 2);
    }
  }
  return hex_to_bin(digits, out.data(), out.size());
}

std::string fingerprint_text(const Fingerprint& fp) {
  const std::string hex = bin_to_hex(fp.data(), fp.size());
  std::string out;
  for (size_t i = 0; i < hex.size(); i += 2) {
    if (i > 0) out += ':';
    out += static_cast<char>(toupper(static_cast<unsigned char>(hex[i])));
    out += static_cast<char>(toupper(static_cast<unsigned char>(hex[i + 1])));
  }
  return out;
}

Fingerprint certificate_fingerprint(X509* cert) {
  Fingerprint fp{};
  unsigned int size = 0;
  X509_digest(cert, EVP_sha256(), fp.data(), &size);
  return fp;
}

}  // namespace tlm
