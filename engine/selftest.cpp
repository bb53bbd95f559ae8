#include "engine/selftest.h"

#include <stdlib.h>
#include <string.h>

#include "hash/known_answer.h"
#include "hash/verushash.h"

namespace tlm {

namespace {

// A byte after the prefix chain: flipping it changes the final block but not the
// key, so both passes reuse one key with different blocks.
constexpr size_t kFlipOffset = kTailOffset;
constexpr uint32_t kGolden = 0x9E3779B9;
constexpr uint32_t kLastBase = 0x3C6EF372;

void put_u32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

}  // namespace

int32_t selftest_with(int32_t lanes, RefHashFn reference, tlm_full_fn full) {
  int32_t failures = 0;
  uint8_t hash[kTlmHashSize];
  reference(hash, kat_hdr);
  if (memcmp(hash, kat_hash, kTlmHashSize) != 0) ++failures;

  tlm_engine* engine = tlm_engine_new(lanes);
  if (engine == nullptr) return 1;
  auto* out = static_cast<uint8_t*>(malloc(size_t(engine->lanes) * kTlmHashSize));
  if (out == nullptr) {
    tlm_engine_free(engine);
    return failures + 1;
  }

  uint8_t header[kTlmHeaderSize];
  uint8_t probe[kTlmHeaderSize];
  memcpy(header, kat_hdr, kTlmHeaderSize);
  uint8_t flip = 0x5A;
  uint32_t base = kGolden;
  for (;;) {
    header[kFlipOffset] ^= flip;
    tlm_engine_set(engine, header);
    full(engine->job, engine->scratch, engine->lanes, base, out);
    memcpy(probe, header, kTlmHeaderSize);
    for (int32_t i = 0; i < engine->lanes; ++i) {
      put_u32(probe + kEngineNonceOffset, base + uint32_t(i));
      reference(hash, probe);
      if (memcmp(hash, out + size_t(i) * kTlmHashSize, kTlmHashSize) != 0) ++failures;
    }
    for (int32_t i = 0; i < engine->lanes; ++i) {
      if (memcmp(engine->scratch + size_t(i) * kTlmLaneStride, engine->job, kTlmKeySize) != 0) {
        ++failures;
      }
    }
    if (base == kLastBase) break;
    ++flip;
    base += kGolden;
  }

  free(out);
  tlm_engine_free(engine);
  return failures;
}

}  // namespace tlm

extern "C" int32_t tlm_engine_selftest(int32_t lanes) {
  return tlm::selftest_with(lanes, vh_hash_header, g_full);
}
