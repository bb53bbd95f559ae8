#include "stratum/hex.h"

#include <gtest/gtest.h>

namespace {

TEST(Hex, DecodesExactlyTwoDigitsPerByte) {
  uint8_t out[2] = {0x55, 0x55};
  EXPECT_TRUE(tlm::hex_to_bin("0aFf", out, 2));
  EXPECT_EQ(out[0], 0x0a);
  EXPECT_EQ(out[1], 0xff);

  uint8_t untouched[2] = {0x55, 0x55};
  EXPECT_FALSE(tlm::hex_to_bin("0aF", untouched, 2));
  EXPECT_FALSE(tlm::hex_to_bin("0aFf00", untouched, 2));
  EXPECT_FALSE(tlm::hex_to_bin("0g12", untouched, 2));
  EXPECT_EQ(untouched[0], 0x55);
  EXPECT_EQ(untouched[1], 0x55);
  EXPECT_TRUE(tlm::hex_to_bin("", nullptr, 0));

  uint8_t partial[2] = {0x55, 0x55};
  EXPECT_FALSE(tlm::hex_to_bin("12g0", partial, 2));
  EXPECT_EQ(partial[0], 0x12);
  EXPECT_EQ(partial[1], 0x55);
  EXPECT_FALSE(tlm::hex_to_bin("0x", partial, 1));
  EXPECT_FALSE(tlm::hex_to_bin(" 1", partial, 1));
}

TEST(Hex, EncodesLowerCaseHighNibbleFirst) {
  const uint8_t bytes[] = {0x00, 0xab, 0xff};
  EXPECT_EQ(tlm::bin_to_hex(bytes, 3), "00abff");
  EXPECT_EQ(tlm::bin_to_hex(bytes, 0), "");
  uint8_t back[3];
  ASSERT_TRUE(tlm::hex_to_bin("00ABFF", back, 3));
  EXPECT_EQ(tlm::bin_to_hex(back, 3), "00abff");
}

}  // namespace
