#include "app/console/printable.h"

#include <cstdint>
#include <cstdio>

namespace tlm {

namespace {

void append_escaped(std::string& out, uint8_t byte) {
  char buf[5];
  snprintf(buf, sizeof buf, "\\x%02X", byte);
  out += buf;
}

// Length of the valid, printable UTF-8 sequence at text[i], or 0 when the byte at i
// must be escaped. Ranges follow the UTF-8 definition: no overlong forms, no
// surrogates, nothing above U+10FFFF.
size_t printable_sequence(const std::string& text, size_t i) {
  const auto at = [&](size_t k) { return static_cast<uint8_t>(text[k]); };
  const uint8_t b = at(i);
  if (b >= 0x20 && b < 0x7F) return 1;
  size_t len = 0;
  uint8_t lo = 0x80, hi = 0xBF;  // allowed range of the second byte
  if (b >= 0xC2 && b <= 0xDF) {
    len = 2;
    if (b == 0xC2) lo = 0xA0;  // U+0080..U+009F are the C1 controls
  } else if (b >= 0xE0 && b <= 0xEF) {
    len = 3;
    if (b == 0xE0) lo = 0xA0;
    if (b == 0xED) hi = 0x9F;
  } else if (b >= 0xF0 && b <= 0xF4) {
    len = 4;
    if (b == 0xF0) lo = 0x90;
    if (b == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  if (i + len > text.size()) return 0;
  if (at(i + 1) < lo || at(i + 1) > hi) return 0;
  for (size_t k = 2; k < len; ++k)
    if (at(i + k) < 0x80 || at(i + k) > 0xBF) return 0;
  return len;
}

}  // namespace

std::string printable(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    size_t len = printable_sequence(text, i);
    if (len == 0) {
      append_escaped(out, static_cast<uint8_t>(text[i]));
      ++i;
    } else {
      out.append(text, i, len);
      i += len;
    }
  }
  return out;
}

bool is_printable(const std::string& text) {
  for (size_t i = 0, len; i < text.size(); i += len)
    if ((len = printable_sequence(text, i)) == 0) return false;
  return true;
}

}  // namespace tlm
