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

}  // namespace
