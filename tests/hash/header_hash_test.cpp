// Whole-header hashing against the known answer, the canonical clearing, and the
// job state the engine's kernels start from.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include "hash/haraka.h"
#include "hash/known_answer.h"
#include "hash/verushash.h"

namespace {

using Header = std::vector<uint8_t>;

Header kat() { return Header(kat_hdr, kat_hdr + 1487); }

std::vector<uint8_t> hash_of(const Header& h) {
  std::vector<uint8_t> out(32);
  vh_hash_header(out.data(), h.data());
  return out;
}

const std::vector<uint8_t> kKatHash(kat_hash, kat_hash + 32);

bool in_cleared_range(int i) {
  return (i >= 4 && i <= 99) || (i >= 104 && i <= 139) || (i >= 151 && i <= 214);
}

// Representative bytes: the edges of every field and a few from the long tail.
const int kSampleBytes[] = {0,   3,   4,   35,  36,  67,  68,  99,   100,  103,  104,
                            107, 108, 139, 140, 142, 143, 147, 148,  149,  150,  151,
                            214, 215, 267, 268, 900, 1471, 1472, 1482, 1483, 1486};

TEST(OracleTest, FirstUseFromManyThreadsAtOnce) {
  std::vector<std::vector<uint8_t>> outs(4, std::vector<uint8_t>(32));
  std::vector<std::thread> threads;
  for (auto& out : outs) threads.emplace_back([&out] { vh_oracle(out.data(), kat_hdr); });
  for (auto& t : threads) t.join();
  for (const auto& out : outs) EXPECT_EQ(out, kKatHash);
}

class HeaderHashTest : public ::testing::Test {
 protected:
  void SetUp() override { haraka_init(); }
};

TEST_F(HeaderHashTest, KnownAnswerAndInputLeftAlone) {
  Header h = kat();
  EXPECT_EQ(hash_of(h), kKatHash);
  EXPECT_EQ(h, kat());  // the clearing worked on a private copy
}

TEST_F(HeaderHashTest, ClearedBytesDoNotReachTheHashAndOthersDo) {
  // The known-answer header has byte 143 = 8 and byte 148 = 1.
  for (int i : kSampleBytes) {
    Header h = kat();
    h[i] ^= 0xFF;
    if (in_cleared_range(i))
      EXPECT_EQ(hash_of(h), kKatHash) << "byte " << i;
    else
      EXPECT_NE(hash_of(h), kKatHash) << "byte " << i;
  }
}

TEST_F(HeaderHashTest, WithoutClearingEveryByteCounts) {
  for (auto [b143, b148] : {std::pair{6, 1}, std::pair{8, 0}}) {
    Header base = kat();
    base[143] = static_cast<uint8_t>(b143);
    base[148] = static_cast<uint8_t>(b148);
    const auto base_hash = hash_of(base);
    for (int i : kSampleBytes) {
      if (i == 143 || i == 148) continue;  // these would switch the clearing on
      Header h = base;
      h[i] ^= 0xFF;
      EXPECT_NE(hash_of(h), base_hash) << b143 << "/" << b148 << " byte " << i;
    }
  }
}

}  // namespace
