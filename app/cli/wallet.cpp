#include "app/cli/wallet.h"

#include <openssl/sha.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace tlm {

namespace {

constexpr std::string_view kBase58 = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz";
constexpr size_t kAddressChars = 34;
constexpr size_t kAddressBytes = 25;
constexpr size_t kPayloadBytes = 21;

// Decodes Base58 into exactly kAddressBytes big-endian bytes; false on a character
// outside the alphabet or a number that does not fit.
bool decode(const std::string& text, std::array<uint8_t, kAddressBytes>& out) {
  out.fill(0);
  for (const char c : text) {
    const size_t digit = kBase58.find(c);
    if (digit == std::string_view::npos) return false;
    unsigned carry = static_cast<unsigned>(digit);
    for (size_t i = kAddressBytes; i-- > 0;) {
      carry += 58u * out[i];
      out[i] = static_cast<uint8_t>(carry);
      carry >>= 8;
    }
    if (carry != 0) return false;
  }
  return true;
}

}  // namespace

bool is_talmic_address(const std::string& text) {
  std::array<uint8_t, kAddressBytes> bytes;
  if (text.size() != kAddressChars || !decode(text, bytes)) return false;
  uint8_t once[SHA256_DIGEST_LENGTH], twice[SHA256_DIGEST_LENGTH];
  SHA256(bytes.data(), kPayloadBytes, once);
  SHA256(once, sizeof once, twice);
  return memcmp(twice, bytes.data() + kPayloadBytes, kAddressBytes - kPayloadBytes) == 0;
}

}  // namespace tlm
