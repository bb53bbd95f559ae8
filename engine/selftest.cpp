#include "engine/selftest.h"

#include <stdlib.h>
#include <string.h>

#include <algorithm>

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

int32_t selftest_with(const std::vector<SelftestCase>& cases, RefHashFn reference) {
  int32_t failures = 0;
  uint8_t hash[kTlmHashSize];
  reference(hash, kat_hdr);
  if (memcmp(hash, kat_hash, kTlmHashSize) != 0) ++failures;

  int32_t most = 1;
  for (const SelftestCase& c : cases) most = std::max(most, tlm_clamp_lanes(c.lanes));
  tlm_engine* engine = tlm_engine_new(most);
  if (engine == nullptr) return 1;
  auto* expected = static_cast<uint8_t*>(malloc(size_t(most) * kTlmHashSize));
  auto* out = static_cast<uint8_t*>(malloc(size_t(most) * kTlmHashSize));
  if (expected == nullptr || out == nullptr) {
    free(expected);
    free(out);
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
    memcpy(probe, header, kTlmHeaderSize);
    for (int32_t i = 0; i < most; ++i) {
      put_u32(probe + kEngineNonceOffset, base + uint32_t(i));
      reference(expected + size_t(i) * kTlmHashSize, probe);
    }
    for (const SelftestCase& c : cases) {
      const int32_t lanes = tlm_clamp_lanes(c.lanes);
      // Set for every case, so that a kernel that damages a key fails alone.
      tlm_engine_set(engine, header);
      c.full(engine->job, engine->scratch, lanes, base, out);
      for (int32_t i = 0; i < lanes; ++i) {
        const size_t at = size_t(i) * kTlmHashSize;
        if (memcmp(expected + at, out + at, kTlmHashSize) != 0) ++failures;
      }
      for (int32_t i = 0; i < lanes; ++i) {
        if (memcmp(engine->scratch + size_t(i) * kTlmLaneStride, engine->job, kTlmKeySize) != 0) {
          ++failures;
        }
      }
    }
    if (base == kLastBase) break;
    ++flip;
    base += kGolden;
  }

  free(expected);
  free(out);
  tlm_engine_free(engine);
  return failures;
}

}  // namespace tlm

extern "C" int32_t tlm_engine_selftest(int32_t lanes) {
  tlm_setting settings[kTlmMaxSettings];
  const int32_t count = tlm_engine_settings(lanes, settings);
  std::vector<tlm::SelftestCase> cases;
  for (int32_t i = 0; i < count; ++i) cases.push_back({settings[i].kernel->full, settings[i].lanes});
  return tlm::selftest_with(cases, vh_hash_header);
}
