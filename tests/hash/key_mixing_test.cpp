// The per-nonce half of the hash: single mixing steps set up so their stores can
// be read back, the reduction at exact values, and the restore of the key.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "hash/haraka.h"
#include "hash/haraka_ops.h"
#include "hash/verushash.h"

namespace {

bool same(__m128i a, __m128i b) {
  return _mm_movemask_epi8(_mm_cmpeq_epi8(a, b)) == 0xFFFF;
}

__m128i word(uint64_t hi, uint64_t lo) {
  return _mm_set_epi64x(static_cast<int64_t>(hi), static_cast<int64_t>(lo));
}

// Runs the mixing over a patterned key with an all-zero block (so every buffer
// word is zero) and a chosen first selector: the first step's branch and picked
// words are then known, and the test reads back what that step stored.
class MixingStep : public ::testing::Test {
 protected:
  void SetUp() override { fill_key(); }

  void fill_key() {
    for (int i = 0; i < 552; i++)
      key_[i] = word(0x9E3779B97F4A7C15ull * (i + 1), 0xC2B2AE3D27D4EB4Full * (i + 7));
  }

  // Selector for branch c picking words pi and xi; `extra` adds bits 28..31 and
  // 61..63 (looped branches, divisor sign).
  static uint64_t selector(unsigned c, unsigned pi, unsigned xi, uint64_t extra = 0) {
    return extra | (uint64_t{xi} << 32) | (pi << 5) | c;
  }

  void run(uint64_t sel, uint64_t acc_hi = 0x0123456789ABCDEFull) {
    acc0_ = word(acc_hi, sel);
    key_[513] = acc0_;
    vh22_clmul_ref(key_, block_, 0x1FFF, moves_);
  }

  // True when no later step picked the word, so it still holds the first step's store.
  bool untouched_after_first_step(unsigned index) const {
    return std::none_of(moves_ + 2, moves_ + 64,
                        [&](const __m128i* m) { return m == key_ + index; });
  }

  alignas(16) __m128i key_[552];
  alignas(16) __m128i block_[4] = {};
  __m128i* moves_[64];
  __m128i acc0_;
};

TEST_F(MixingStep, RemainderOfNegativeDividendKeepsItsSignInTheLow32BitsOnly) {
  // Branch 0x0C: d = low64(acc ^ p ^ O) with O = 0; the remainder's low 32 bits are
  // folded into bits 0..31 and X := p ^ mulhrs16(acc, p).
  const unsigned pi = 100, xi = 200;
  const uint64_t sel = selector(0x0C, pi, xi);  // divisor 0xC8C = 3212
  for (int64_t d : {int64_t{-1000002}, int64_t{-1000001}, INT64_MIN}) {
    fill_key();
    const __m128i p = word(0x5555AAAA5555AAAAull, sel ^ static_cast<uint64_t>(d));
    key_[pi] = p;
    const __m128i x = key_[xi];
    run(sel);
    ASSERT_TRUE(untouched_after_first_step(pi) && untouched_after_first_step(xi));

    const int64_t r = d % 3212;
    ASSERT_LE(r, 0);
    const __m128i acc = word(0x0123456789ABCDEFull ^ 0x5555AAAA5555AAAAull,
                             static_cast<uint64_t>(d) ^ static_cast<uint32_t>(r));
    EXPECT_TRUE(same(key_[xi], p ^ mulhrs16(acc, p))) << d;
    // d odd: P := x ^ mulhrs16(acc ^ clmul_lohi(x), x); d even: P := x.
    const __m128i expect_p = (d & 1) ? x ^ mulhrs16(acc ^ clmul_lohi(x), x) : x;
    EXPECT_TRUE(same(key_[pi], expect_p)) << d;
  }
}

TEST_F(MixingStep, LoopedRemainderFollowsTheDividendsSign) {
  // Branch 0x18 with one pass (bits 61..63 clear) and bit 28 set: t = p, acc gets
  // the remainder of low64(p) by the signed low 32 bits of sel, X := t, P := x ^ acc.
  // Only bits 0..31 of acc change, so the next step picks X again: read back P.
  const unsigned pi = 300, xi = 40;
  struct Case {
    uint64_t sign_bit;  // bit 31 of sel makes the divisor negative
    int64_t dividend;
  };
  for (Case c : {Case{0, -123456789012}, Case{1ull << 31, -123456789012},
                 Case{1ull << 31, 123456789012}}) {
    fill_key();
    const uint64_t sel = selector(0x18, pi, xi, (1ull << 28) | c.sign_bit);
    const int64_t divisor = static_cast<int32_t>(static_cast<uint32_t>(sel));
    const __m128i p = word(77, static_cast<uint64_t>(c.dividend));
    key_[pi] = p;
    const __m128i x = key_[xi];
    run(sel);
    ASSERT_TRUE(untouched_after_first_step(pi));

    const int64_t r = c.dividend % divisor;
    EXPECT_EQ(r < 0, c.dividend < 0);
    const __m128i acc = acc0_ ^ _mm_cvtsi32_si128(static_cast<int32_t>(r));
    EXPECT_TRUE(same(key_[pi], x ^ acc)) << c.dividend << " / " << divisor;
  }
}

TEST_F(MixingStep, SameWordPickedTwiceSeesOldValueAndKeepsLaterStore) {
  const unsigned w = 78;
  const __m128i p = key_[w];

  // Branch 0x04 stores X, then P: P's value stays, computed from the old word.
  run(selector(0x04, w, w));
  ASSERT_TRUE(untouched_after_first_step(w));
  const __m128i acc1 = acc0_ ^ clmul_lohi(p);
  EXPECT_TRUE(same(key_[w], p ^ mulhrs16(acc1 ^ p, p)));
  EXPECT_FALSE(same(key_[w], p ^ mulhrs16(acc1, p)));

  // Branch 0x00 stores P, then X: X's value stays. With block word 1 set, O = u1
  // is that word and B = u0 is zero (otherwise the two carry-less terms cancel).
  fill_key();
  const __m128i o = word(0x1111, 0x2222);
  block_[1] = o;
  run(selector(0x00, w, w));
  ASSERT_TRUE(untouched_after_first_step(w));
  const __m128i acc2 = acc0_ ^ clmul_lohi(p ^ o) ^ clmul_lohi(p);
  EXPECT_TRUE(same(key_[w], p ^ mulhrs16(acc2, p)));
}

TEST(Reduction, ExactValues) {
  EXPECT_EQ(vh_reduce(_mm_setzero_si128()), 0x10000u);
  // x^127 folds through the table: 0x1B << 63 leaves 0b1101 above bit 63.
  EXPECT_EQ(vh_reduce(word(1ull << 63, 0)), 0x80000000000100AFull);
  EXPECT_EQ(vh_reduce(word(0xDEADBEEFCAFEBABEull, 0x0123456789ABCDEFull)),
            0x7D639FD52EB77CD3ull);
}

TEST(HashRef, RestoresTheWorkingKeyAndDependsOnEveryBlockByte) {
  haraka_init();
  uint8_t seed[32];
  for (int i = 0; i < 32; i++) seed[i] = static_cast<uint8_t>(i * 13 + 1);
  alignas(16) static uint8_t pristine[8832];
  alignas(16) static uint8_t working[8832];
  vh_genkey(seed, pristine);
  std::memcpy(working, pristine, sizeof working);

  uint8_t block[64] = {};
  uint8_t previous[32], out[32];
  for (int n = 0; n < 47; n++) {
    block[n] ^= 0x5A;  // every block byte 0..46, one at a time
    vh_hash_ref(out, block, working, pristine);
    ASSERT_EQ(std::memcmp(working, pristine, sizeof working), 0) << n;
    if (n > 0) {
      EXPECT_NE(std::memcmp(out, previous, 32), 0) << n;
    }
    std::memcpy(previous, out, 32);
  }
  // Bytes past 46 are rebuilt by the hash and do not count.
  std::memset(block + 47, 0xEE, 17);
  vh_hash_ref(out, block, working, pristine);
  EXPECT_EQ(std::memcmp(out, previous, 32), 0);
}

}  // namespace
