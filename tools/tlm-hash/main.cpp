// tlm-hash: prints the VerusHash 2.2 of block headers given as hex, one header per
// argument or, without arguments, one per line of standard input. Lets a share be
// checked by hand against what the miner computed.
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <string>
#include <string_view>

#include "hash/haraka.h"
#include "hash/verushash.h"

namespace {

constexpr size_t kHeaderBytes = 1487;
constexpr size_t kHexDigits = 2 * kHeaderBytes;

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Decodes exactly kHexDigits hex digits into header. On failure returns false and
// sets why.
bool decode(std::string_view text, uint8_t* header, std::string* why) {
  if (text.size() != kHexDigits) {
    *why = "expected " + std::to_string(kHexDigits) + " hex digits, got " +
           std::to_string(text.size()) + " characters";
    return false;
  }
  for (size_t i = 0; i < kHeaderBytes; i++) {
    const int hi = hex_value(text[2 * i]);
    const int lo = hex_value(text[2 * i + 1]);
    if (hi < 0 || lo < 0) {
      *why = "not a hex digit at character " + std::to_string(2 * i + (hi < 0 ? 1 : 2));
      return false;
    }
    header[i] = static_cast<uint8_t>(hi << 4 | lo);
  }
  return true;
}

// Hashes one header and prints it, or reports on standard error why it cannot,
// naming the input as e.g. "line 3". Returns whether it was hashed.
bool hash_one(std::string_view text, const char* kind, size_t number) {
  uint8_t header[kHeaderBytes];
  std::string why;
  if (!decode(text, header, &why)) {
    std::fprintf(stderr, "tlm-hash: %s %zu: %s\n", kind, number, why.c_str());
    return false;
  }
  uint8_t hash[32];
  vh_hash_header(hash, header);
  char out[65];
  for (int i = 0; i < 32; i++) std::snprintf(out + 2 * i, 3, "%02x", hash[i]);
  std::puts(out);
  return true;
}

// Lines may come from Windows editors or be indented: ignore surrounding spaces,
// tabs and carriage returns.
std::string_view trim(std::string_view s) {
  const char* kSpace = " \t\r\n\v\f";
  const size_t first = s.find_first_not_of(kSpace);
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(kSpace) - first + 1);
}

}  // namespace

int main(int argc, char** argv) {
  // The hash library is built for these instructions; say so instead of crashing.
  if (!__builtin_cpu_supports("aes") || !__builtin_cpu_supports("pclmul") ||
      !__builtin_cpu_supports("ssse3") || !__builtin_cpu_supports("sse4.1")) {
    std::fputs("tlm-hash: this CPU lacks AES-NI, PCLMUL or SSE4.1: not supported\n", stderr);
    return 1;
  }
  haraka_init();
  bool all_hashed = true;
  if (argc > 1) {
    for (int i = 1; i < argc; i++) all_hashed &= hash_one(argv[i], "argument", i);
  } else {
    std::string line;
    for (size_t n = 1; std::getline(std::cin, line); n++)
      all_hashed &= hash_one(trim(line), "line", n);
  }
  return all_hashed ? 0 : 1;
}
