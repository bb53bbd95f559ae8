// Whole-header hashing on every hash core this processor runs, against the known
// answer, and the canonical clearing.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "hash/hex.h"
#include "hash/known_answer.h"
#include "hash/verushash.h"

namespace {

using Header = std::vector<uint8_t>;
using tlm::bin_to_hex;

std::string hash_of(const Header& h) {
  uint8_t out[32];
  vh_hash_header(out, h.data());
  return bin_to_hex(out, 32);
}

TEST(HeaderHash, KnownAnswerOnEveryCore) {
  const Header kat(kat_hdr, kat_hdr + tlm::kHeaderSize);
  for (const vh_core* core : {&vh_portable, vh_native(), vh_fastest()}) {
    if (core == nullptr) continue;  // no core of this architecture's own, or not on this processor
    Header h = kat;
    uint8_t out[32];
    core->hash_header(out, h.data());
    EXPECT_EQ(bin_to_hex(out, 32), bin_to_hex(kat_hash, 32)) << core->name;
    EXPECT_EQ(h, kat) << core->name;  // the clearing works on a private copy
  }
}

bool in_cleared_range(int i) { return (i >= 4 && i <= 99) || (i >= 104 && i <= 139) || (i >= 151 && i <= 214); }

TEST(HeaderHash, ClearedBytesCountOnlyWithoutTheClearing) {
  // Representative bytes: the edges of every field and a few from the long tail.
  const int kSampleBytes[] = {0,   3,   4,   35,  36,  67,  68,  99,  100,  103,  104,  107,  108, 139, 140, 142,
                              143, 147, 148, 149, 150, 151, 214, 215, 267, 268, 900, 1471, 1472, 1482, 1483, 1486};
  // The clearing applies when byte 143 is over 6 and byte 148 is not 0 (8 and 1 in
  // the known-answer header).
  const struct {
    uint8_t b143, b148;
    bool clearing;
  } cases[] = {{7, 1, true}, {6, 1, false}, {8, 0, false}};
  for (const auto& c : cases) {
    Header base(kat_hdr, kat_hdr + tlm::kHeaderSize);
    base[143] = c.b143;
    base[148] = c.b148;
    const std::string base_hash = hash_of(base);
    for (int i : kSampleBytes) {
      if (!c.clearing && (i == 143 || i == 148)) continue;  // these would switch the clearing on
      Header h = base;
      h[i] ^= 0xFF;
      EXPECT_EQ(hash_of(h) == base_hash, c.clearing && in_cleared_range(i))
          << +c.b143 << "/" << +c.b148 << " byte " << i;
    }
  }
}

}  // namespace
