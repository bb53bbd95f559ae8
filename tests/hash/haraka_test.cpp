// Haraka v2 against its published vectors, and the properties the VerusHash
// final step relies on.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "hash/haraka.h"
#include "hash/haraka_ops.h"
#include "tests/support/hex.h"

namespace {

using testing_support::hex;

uint32_t lane(const __m128i& w, int i) {
  uint32_t v[4];
  std::memcpy(v, &w, 16);
  return v[i];
}

class HarakaTest : public ::testing::Test {
 protected:
  void SetUp() override {
    haraka_init();
    for (int i = 0; i < 64; i++) in_[i] = static_cast<uint8_t>(i);
  }
  uint8_t in_[64];
};

TEST_F(HarakaTest, PublishedVectors) {
  uint8_t out[32];
  haraka512(out, in_, haraka_rc);
  EXPECT_EQ(hex(out, 32), "be7f723b4e80a99813b292287f306f625a6d57331cae5f34dd9277b0945be2aa");
  haraka256(out, in_);
  EXPECT_EQ(hex(out, 32), "8027ccb87949774b78d0545fb72bf70c695c2a0923cbd47bba1159efbf2b2c1c");
}

TEST_F(HarakaTest, RoundConstantsHaveTheirLanesInOrder) {
  EXPECT_EQ(lane(haraka_rc[0], 0), 0x75817b9du);
  EXPECT_EQ(lane(haraka_rc[0], 1), 0xb2c5fef0u);
  EXPECT_EQ(lane(haraka_rc[0], 2), 0xe620c00au);
  EXPECT_EQ(lane(haraka_rc[0], 3), 0x0684704cu);
  EXPECT_EQ(lane(haraka_rc[39], 0), 0xe9c59da1u);

  __m128i before[40];
  std::memcpy(before, haraka_rc, sizeof before);
  haraka_init();
  EXPECT_EQ(std::memcmp(before, haraka_rc, sizeof before), 0);
}

TEST_F(HarakaTest, KeyedWithACopyOfTheConstantsIsTheUnkeyedPermutation) {
  alignas(16) __m128i copy[40];
  std::memcpy(copy, haraka_rc, sizeof copy);
  for (int trial = 0; trial < 4; trial++) {
    for (int i = 0; i < 64; i++) in_[i] = static_cast<uint8_t>(i * 37 + trial * 101);
    uint8_t unkeyed[32], keyed[32];
    haraka512(unkeyed, in_, haraka_rc);
    haraka512_keyed(keyed, in_, copy);
    EXPECT_EQ(hex(unkeyed, 32), hex(keyed, 32));
  }
}

TEST_F(HarakaTest, TruncationTakesHighHalvesThenLowHalves) {
  const __m128i* in = reinterpret_cast<const __m128i*>(in_);
  __m128i s0 = _mm_loadu_si128(in), s1 = _mm_loadu_si128(in + 1);
  __m128i s2 = _mm_loadu_si128(in + 2), s3 = _mm_loadu_si128(in + 3);
  haraka512_words(s0, s1, s2, s3, haraka_rc);
  uint8_t words[64], out[32];
  std::memcpy(words, &s0, 16);
  std::memcpy(words + 16, &s1, 16);
  std::memcpy(words + 32, &s2, 16);
  std::memcpy(words + 48, &s3, 16);
  haraka512(out, in_, haraka_rc);
  EXPECT_EQ(hex(out, 8), hex(words + 8, 8));
  EXPECT_EQ(hex(out + 8, 8), hex(words + 24, 8));
  EXPECT_EQ(hex(out + 16, 8), hex(words + 32, 8));
  EXPECT_EQ(hex(out + 24, 8), hex(words + 48, 8));
}

TEST(KeyMixingOpsTest, ExactValues) {
  // 3 x 3 carry-less is 5: the two middle partial products cancel.
  __m128i p = clmul_lohi(_mm_set_epi64x(3, 3));
  EXPECT_EQ(_mm_cvtsi128_si64(p), 5);
  EXPECT_EQ(_mm_extract_epi64(p, 1), 0);
  p = clmul_lohi(_mm_set_epi64x(-1, 2));  // only the low and high halves meet
  EXPECT_EQ(_mm_cvtsi128_si64(p), -2);
  EXPECT_EQ(_mm_extract_epi64(p, 1), 1);

  __m128i r = mulhrs16(_mm_set1_epi16(0x4000), _mm_set1_epi16(0x4000));
  EXPECT_EQ(_mm_movemask_epi8(_mm_cmpeq_epi16(r, _mm_set1_epi16(0x2000))), 0xFFFF);
  r = mulhrs16(_mm_set1_epi16(INT16_MIN), _mm_set1_epi16(INT16_MIN));
  EXPECT_EQ(_mm_movemask_epi8(_mm_cmpeq_epi16(r, _mm_set1_epi16(INT16_MIN))), 0xFFFF);
}

}  // namespace
