// The C entry points of the Haraka v2 permutations and their round constants.
#pragma once

#include <emmintrin.h>

#include <cstdint>

extern "C" {

// Fills haraka_rc (hash/haraka_ops.h) with the Haraka v2 round constants. Run it
// once before any thread hashes; running it again writes the same values.
void haraka_init();

// Haraka-512 of 64 bytes into 32 bytes with the 40 round keys keys[0..39]: pass
// haraka_rc for the unkeyed permutation. in and out may have any alignment.
void haraka512(uint8_t out[32], const uint8_t in[64], const __m128i* keys);

// Haraka-256 of 32 bytes into 32 bytes, with haraka_rc.
void haraka256(uint8_t out[32], const uint8_t in[32]);

}  // extern "C"
