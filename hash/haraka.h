// The Haraka v2 round constants.
#pragma once

#include <cstdint>

// RC0..RC39 of Haraka v2, 16 bytes each in memory order: lane 0, the least
// significant 32 bits of the published number, first, each lane little-endian.
struct HarakaRoundConstants {
  alignas(16) uint8_t bytes[40 * 16];
};

// A constant, laid out at compile time: nothing needs to fill it before hashing.
extern "C" const HarakaRoundConstants haraka_rc;
