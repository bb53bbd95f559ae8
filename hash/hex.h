// Hexadecimal text <-> bytes for headers, hashes and the byte fields of the pool
// protocol. Both work in text order: no byte reversal, no "0x" prefix.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tlm {

// Decodes exactly n bytes from `text`, which must hold 2n hex digits of either
// case. On a wrong length nothing is written; on a bad digit in pair i, bytes
// 0..i-1 are already written, so callers that need all-or-nothing decode into
// scratch space first.
bool hex_to_bin(const std::string& text, uint8_t* out, size_t n);

// The 2n lower-case hex digits of p[0..n), high nibble first.
std::string bin_to_hex(const uint8_t* p, size_t n);

}  // namespace tlm
