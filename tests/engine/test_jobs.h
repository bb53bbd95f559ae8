// Headers and reference hashes shared by the engine tests.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "engine/engine.h"

namespace engine_test {

using Header = std::vector<uint8_t>;
using Hash = std::vector<uint8_t>;

// A pseudo-random 1487-byte header; `clearing` decides whether bytes 143 and 148
// make the canonical clearing apply.
inline Header random_header(uint64_t seed, bool clearing) {
  Header h(kTlmHeaderSize);
  uint64_t x = seed * 0x9E3779B97F4A7C15ull + 1;
  for (auto& b : h) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    b = uint8_t(x >> 32);
  }
  h[140] = 0xFD;
  h[141] = 0x40;
  h[142] = 0x05;
  h[143] = clearing ? 7 : 6;
  h[148] = clearing ? 0x80 : 0x11;
  return h;
}

inline void put_nonce(Header* h, uint32_t nonce) {
  for (int i = 0; i < 4; ++i) (*h)[1483 + i] = uint8_t(nonce >> (8 * i));
}

// The portable reference hash of `h` with `nonce` as its engine nonce.
inline Hash reference(Header h, uint32_t nonce) {
  put_nonce(&h, nonce);
  Hash out(kTlmHashSize);
  tlm_engine_hash_ref(out.data(), h.data());
  return out;
}

// Hash bytes 24..31 as a little-endian number: what the scan compares.
inline uint64_t top_word(const Hash& hash) {
  uint64_t v;
  std::memcpy(&v, hash.data() + 24, 8);
  return v;
}

// True when every lane record's key equals the job's key.
inline bool keys_restored(const tlm_engine* engine) {
  for (int i = 0; i < engine->lanes; ++i) {
    if (std::memcmp(engine->scratch + size_t(i) * kTlmLaneStride, engine->job, kTlmKeySize) != 0) {
      return false;
    }
  }
  return true;
}

// The kernels this processor can run, widest first; the others are named with
// the reason they are skipped.
inline std::vector<tlm_kernel> runnable_kernels() {
  int32_t count = 0;
  const tlm_kernel* all = tlm_engine_kernels(&count);
  std::vector<tlm_kernel> k;
  for (int i = 0; i < count; ++i) {
    if (const char* reason = tlm_engine_unusable(&all[i])) {
      std::printf("kernel %s skipped: %s\n", all[i].name, reason);
    } else {
      k.push_back(all[i]);
    }
  }
  return k;
}

}  // namespace engine_test
