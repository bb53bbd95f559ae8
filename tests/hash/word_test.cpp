// The word layer's edge cases, one table run on every word layer: this source is
// built once with the portable word and once with the architecture's own
// (TLM_WORD_HEADER names it). The expected values are worked out by hand or
// published, never computed with a word layer.
#include TLM_WORD_HEADER

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "hash/core.h"
#include "hash/hex.h"

namespace {

using tlm::bin_to_hex;

std::string hex(Word w) {
  alignas(16) uint8_t b[16];
  store(b, w);
  return bin_to_hex(b, 16);
}

Word from_u16(const uint16_t (&lanes)[8]) {
  uint64_t lo = 0, hi = 0;
  for (int i = 0; i < 4; ++i) {
    lo |= uint64_t(lanes[i]) << (16 * i);
    hi |= uint64_t(lanes[4 + i]) << (16 * i);
  }
  return make_word(lo, hi);
}

std::string repeat(const std::string& s, int n) {
  std::string out;
  while (n-- > 0) out += s;
  return out;
}

class WordLayer : public ::testing::Test {
 protected:
  void SetUp() override {
    // The architecture's word needs its instructions; the portable one runs anywhere.
    if (std::string(TLM_WORD_LAYER) != "portable" && vh_native() == nullptr) {
      GTEST_SKIP() << "this processor lacks the " << TLM_WORD_LAYER << " word's instructions";
    }
  }
};

TEST_F(WordLayer, ArithmeticMatchesX86AtItsEdges) {
  // PMULHRSW per lane: (a * b + 0x4000) >> 15, low 16 bits. Both -32768 wrap to
  // 0x8000 where a saturating multiply would give 0x7FFF.
  const uint16_t a[8] = {0x4000, 0x8000, 0x0001, 0xFFFF, 0xFFFF, 0x7FFF, 0x8000, 0x0003};
  const uint16_t b[8] = {0x4000, 0x8000, 0x4000, 0x4000, 0x4001, 0x7FFF, 0x0001, 0xFFFB};
  const uint16_t product[8] = {0x2000, 0x8000, 0x0001, 0x0000, 0xFFFF, 0x7FFE, 0xFFFF, 0x0000};
  EXPECT_EQ(hex(mulhrs16(from_u16(a), from_u16(b))), hex(from_u16(product)));

  const struct {
    uint64_t lo, hi;  // clmul_lohi multiplies the two halves
    uint64_t product_lo, product_hi;
  } clmul[] = {
      {3, 3, 5, 0},  // 1 ^ 2 ^ 2 ^ 4: the two 2s cancel (an ordinary product is 9)
      {~0ull, ~0ull, 0x5555555555555555, 0x5555555555555555},
      {1ull << 63, 1ull << 63, 0, 1ull << 62},
      {0x8000000000000001, 3, 0x8000000000000003, 1},
  };
  for (const auto& c : clmul) {
    EXPECT_EQ(hex(clmul_lohi(make_word(c.lo, c.hi))), hex(make_word(c.product_lo, c.product_hi))) << c.lo;
  }

  // The reduction: bit 16 is the length term, the high half folds in times 0x1B,
  // and what that pushes past bit 63 folds in by table (0xF times 0x1B is 0x99).
  EXPECT_EQ(reduce(make_word(0, 0)), 0x10000u);
  EXPECT_EQ(reduce(make_word(0, 1)), 0x1001Bu);
  EXPECT_EQ(reduce(make_word(0, 0xF000000000000000)), 0x90000000000100C3u);

  // AES of a zero state: every byte 0x63 after SubBytes, MixColumns keeps a
  // column of equal bytes, and the key is XORed last.
  EXPECT_EQ(hex(aes_round(zero_word(), zero_word())), repeat("63", 16));
  EXPECT_EQ(hex(aes_round(zero_word(), bytes_of(0x01))), repeat("62", 16));
}

TEST_F(WordLayer, HarakaMatchesThePublishedVectors) {
  alignas(16) uint8_t in[64], out[32];
  for (int i = 0; i < 64; i++) in[i] = uint8_t(i);
  Word s0 = load(in), s1 = load(in + 16), s2 = load(in + 32), s3 = load(in + 48);
  haraka512_words(s0, s1, s2, s3, haraka_rc_words());
  haraka512_truncate(out, s0, s1, s2, s3);
  EXPECT_EQ(bin_to_hex(out, 32), "be7f723b4e80a99813b292287f306f625a6d57331cae5f34dd9277b0945be2aa");
  s0 = load(in);
  s1 = load(in + 16);
  haraka256_words(s0, s1, haraka_rc_words());
  storeu(out, s0);
  storeu(out + 16, s1);
  EXPECT_EQ(bin_to_hex(out, 32), "8027ccb87949774b78d0545fb72bf70c695c2a0923cbd47bba1159efbf2b2c1c");
}

}  // namespace
