#include "hash/sample_header.h"

#include <cstring>

namespace tlm {

namespace {

// splitmix64.
uint64_t next_random(uint64_t& state) {
  uint64_t z = (state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

}  // namespace

void sample_header(uint64_t seed, uint8_t header[kHeaderSize], bool clearing) {
  for (size_t i = 0; i < kHeaderSize; ++i) header[i] = static_cast<uint8_t>(next_random(seed));
  memcpy(header + kSolutionOffset, kSolutionPrefix, sizeof kSolutionPrefix);
  const uint8_t lead[6] = {static_cast<uint8_t>(clearing ? 0x07 : 0x06), 0x00, 0x00, 0x00, 0x06, 0x01};
  memcpy(header + kSolutionOffset + sizeof kSolutionPrefix, lead, sizeof lead);
}

}  // namespace tlm
