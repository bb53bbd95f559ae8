// Lower-case hex of bytes, for comparing test output with known answers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace testing_support {

inline std::string hex(const uint8_t* p, size_t n) {
  static const char kDigits[] = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n; i++) {
    s += kDigits[p[i] >> 4];
    s += kDigits[p[i] & 15];
  }
  return s;
}

}  // namespace testing_support
