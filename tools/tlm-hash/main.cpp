// tlm-hash: prints the VerusHash 2.2 of block headers given as hex, one header per
// argument or, for the argument "-", one per line of standard input. Lets a share
// be checked by hand against what the miner computed.
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "hash/header_layout.h"
#include "hash/hex.h"
#include "hash/verushash.h"
#include "tools/command_line/command_line.h"

namespace {

constexpr size_t kHexDigits = 2 * tlm::kHeaderSize;

// Decodes exactly kHexDigits hex digits into header. On failure returns false and
// sets why.
bool decode(std::string_view text, uint8_t* header, std::string* why) {
  if (text.size() != kHexDigits) {
    *why = "expected " + std::to_string(kHexDigits) + " hex digits, got " + std::to_string(text.size()) +
           " characters";
    return false;
  }
  if (!tlm::hex_to_bin(std::string(text), header, tlm::kHeaderSize)) {
    *why = "not a hex digit at character " + std::to_string(text.find_first_not_of("0123456789abcdefABCDEF") + 1);
    return false;
  }
  return true;
}

// Hashes one header and prints it, or reports on standard error why it cannot,
// naming the input as e.g. "line 3". Returns whether it was hashed.
bool hash_one(std::string_view text, const char* kind, size_t number) {
  uint8_t header[tlm::kHeaderSize];
  std::string why;
  if (!decode(text, header, &why)) {
    std::fprintf(stderr, "tlm-hash: %s %zu: %s\n", kind, number, why.c_str());
    return false;
  }
  uint8_t hash[tlm::kHashSize];
  vh_hash_header(hash, header);
  std::puts(tlm::bin_to_hex(hash, sizeof hash).c_str());
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
  const tool_cli::Tool tool{"tlm-hash", "HEADERHEX... | -",
                            "Prints the VerusHash 2.2 of each block header, given as 2974 hex digits, one\n"
                            "per argument; \"-\" reads one header per line of standard input.",
                            {}, true};
  std::vector<std::string> headers;
  switch (tool_cli::parse(tool, argc, argv, &headers)) {
    case tool_cli::Parsed::kExitOk: return 0;
    case tool_cli::Parsed::kExitError: return 1;
    case tool_cli::Parsed::kRun: break;
  }
  if (headers.empty()) {
    std::fputs(tool_cli::usage(tool).c_str(), stderr);
    return 1;
  }
  bool all_hashed = true;
  for (size_t i = 0; i < headers.size(); i++) {
    if (headers[i] != "-") {
      all_hashed &= hash_one(headers[i], "argument", i + 1);
      continue;
    }
    std::string line;
    for (size_t n = 1; std::getline(std::cin, line); n++) all_hashed &= hash_one(trim(line), "line", n);
  }
  return all_hashed ? 0 : 1;
}
