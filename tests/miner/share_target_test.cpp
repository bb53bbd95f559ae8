// The full 256-bit share test, the kernels' 64-bit bound and share difficulty.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "miner/target.h"

namespace {

using namespace tlm;

TEST(ShareTarget, LittleEndianCompareTopSixtyFourBitsAndDifficulty) {
  uint8_t target[32] = {}, hash[32] = {};
  target[30] = 0x10;
  target[0] = 0x05;
  memcpy(hash, target, 32);
  EXPECT_TRUE(meets_target(hash, target));  // equal is a share
  hash[0] = 0x06;                            // the least significant byte above
  EXPECT_FALSE(meets_target(hash, target));
  hash[30] = 0x0F;  // a more significant byte below outweighs it
  EXPECT_TRUE(meets_target(hash, target));
  hash[31] = 0x01;
  EXPECT_FALSE(meets_target(hash, target));

  for (int i = 0; i < 32; ++i) hash[i] = static_cast<uint8_t>(i);
  EXPECT_EQ(target_hi(hash), 0x1F1E1D1C1B1A1918u);

  uint8_t v[32] = {};
  EXPECT_EQ(share_difficulty(v), 0.0);
  v[31] = v[30] = v[29] = 0x0F;  // 0x0F0F0F x 2^232 is difficulty 1 (the constant is the double just below)
  EXPECT_DOUBLE_EQ(share_difficulty(v), 1.0);
  memset(v, 0, 32);
  v[28] = 1;  // 2^224, a common pool target
  EXPECT_DOUBLE_EQ(share_difficulty(v), 6.811298960915873e75 / 0x1p224);
}

}  // namespace
