// Whole-header hashing against the known answer and the canonical clearing, and
// Haraka v2 against its published vectors.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "hash/haraka.h"
#include "hash/haraka_ops.h"
#include "hash/known_answer.h"
#include "hash/verushash.h"
#include "hash/hex.h"

namespace {

using Header = std::vector<uint8_t>;
using tlm::bin_to_hex;

// The oracle fills the round constants on its first use.
std::string hash_of(const Header& h) {
  uint8_t out[32];
  vh_oracle(out, h.data());
  return bin_to_hex(out, 32);
}

TEST(HeaderHash, KnownAnswerFromManyThreadsAtFirstUse) {
  const Header kat(kat_hdr, kat_hdr + 1487);
  std::vector<Header> headers(4, kat);
  std::vector<std::string> hashes(headers.size());
  std::vector<std::thread> threads;
  for (size_t i = 0; i < headers.size(); ++i) threads.emplace_back([&, i] { hashes[i] = hash_of(headers[i]); });
  for (auto& t : threads) t.join();
  for (size_t i = 0; i < headers.size(); ++i) {
    EXPECT_EQ(hashes[i], bin_to_hex(kat_hash, 32));
    EXPECT_EQ(headers[i], kat);  // the clearing works on a private copy
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
    Header base(kat_hdr, kat_hdr + 1487);
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

TEST(Haraka, PublishedVectors) {
  haraka_init();
  uint8_t in[64], out[32];
  for (int i = 0; i < 64; i++) in[i] = static_cast<uint8_t>(i);
  haraka512(out, in, haraka_rc);
  EXPECT_EQ(bin_to_hex(out, 32), "be7f723b4e80a99813b292287f306f625a6d57331cae5f34dd9277b0945be2aa");
  haraka256(out, in);
  EXPECT_EQ(bin_to_hex(out, 32), "8027ccb87949774b78d0545fb72bf70c695c2a0923cbd47bba1159efbf2b2c1c");
}

}  // namespace
