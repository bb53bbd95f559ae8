// Share targets: the full 256-bit test, the kernels' 64-bit bound and difficulty.
#pragma once

#include <cstdint>

namespace tlm {

// True when `hash` <= `target`, both 32-byte little-endian 256-bit numbers (byte 31
// most significant). A hash equal to the target is a share.
bool meets_target(const uint8_t hash[32], const uint8_t target[32]);

// Bytes 24..31 of `target` as a little-endian 64-bit number: the bound the scan
// kernels test a hash's top 64 bits against.
uint64_t target_hi(const uint8_t target[32]);

// Difficulty 1 is the target 0x0F0F0F followed by 232 one bits: the double just
// below it.
inline constexpr double kDifficultyOne = 6.811298960915873e75;

// Share difficulty of a 32-byte little-endian value (a target or a hash):
// kDifficultyOne divided by the value, 0 for a value of 0.
double share_difficulty(const uint8_t value[32]);

}  // namespace tlm
