// Each thread's range of the nonce space and the header it hashes, byte for byte.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <set>
#include <vector>

#include "miner/job_header.h"
#include "miner/search.h"

namespace {

using namespace tlm;

using Bytes = std::vector<uint8_t>;

TEST(NonceField, PrefixThenHighRangeBitsThenLowRangeBitsInBytes20To23) {
  const uint64_t range = 0x0102030405060708;
  const Bytes job(kNonceSize, 0);
  Bytes nonce(kNonceSize);
  build_nonce(job.data(), 2, range, nonce.data());
  Bytes expected(kNonceSize, 0);
  for (size_t i = 0; i < 4; ++i) expected[20 + i] = static_cast<uint8_t>(8 - i);
  for (size_t i = 0; i < 4; ++i) expected[2 + i] = static_cast<uint8_t>(4 - i);
  EXPECT_EQ(nonce, expected);
}

TEST(WorkingHeader, JobBytesNonceCopiesAndZeroEngineNonce) {
  Bytes job(kJobHeaderSize), solution(kSolutionSize);
  for (size_t i = 0; i < job.size(); ++i) job[i] = static_cast<uint8_t>(i + 1);
  for (size_t i = 0; i < solution.size(); ++i) solution[i] = static_cast<uint8_t>(i * 7 + 3);
  Bytes nonce(kNonceSize);
  for (size_t i = 0; i < nonce.size(); ++i) nonce[i] = static_cast<uint8_t>(0xC0 + i);
  Bytes hdr(kHeaderSize, 0xEE);
  build_header(job.data(), solution.data(), nonce.data(), hdr.data());

  EXPECT_EQ(Bytes(hdr.begin(), hdr.begin() + 108), Bytes(job.begin(), job.begin() + 108));
  EXPECT_EQ(Bytes(hdr.begin() + 108, hdr.begin() + 140), nonce);
  EXPECT_EQ(Bytes(hdr.begin() + 140, hdr.begin() + 143), (Bytes{0xFD, 0x40, 0x05}));
  EXPECT_EQ(Bytes(hdr.begin() + 143, hdr.begin() + 1472), Bytes(solution.begin(), solution.begin() + 1329));
  EXPECT_EQ(Bytes(hdr.begin() + 1472, hdr.end()),
            (Bytes{0xC0, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xD4, 0xD5, 0xD6, 0xD7, 0, 0, 0, 0}));
}

std::shared_ptr<const Work> publication(size_t prefix_len, uint64_t seq) {
  auto w = std::make_shared<Work>();
  w->seq = seq;
  w->job_id = "j";
  for (size_t i = 0; i < prefix_len; ++i) w->header[kNonceOffset + i] = 0xA5;
  w->extranonce1 = Bytes(w->header + kNonceOffset, w->header + kNonceOffset + prefix_len);
  w->target[31] = static_cast<uint8_t>(seq);  // every republication retargets
  return w;
}

// Prefix lengths x republications x refreshes, two threads each: every range a
// thread starts has a header of its own, and a republication moves nothing.
TEST(NonceSpace, NoHeaderRepeatsForAnyPrefixRepublicationOrRefresh) {
  std::atomic<uint64_t> ranges{0};
  std::set<Bytes> headers;
  uint64_t seq = 0;
  for (size_t prefix_len = 1; prefix_len <= 7; ++prefix_len) {
    Search threads[2] = {Search(ranges), Search(ranges)};
    for (Search& t : threads) {
      ASSERT_TRUE(t.take(publication(prefix_len, ++seq)));
      headers.insert(Bytes(t.header(), t.header() + kEngineNonceOffset));
    }
    for (int step = 0; step < 600; ++step) {
      for (Search& t : threads) {
        const Bytes before(t.header(), t.header() + kHeaderSize);
        if (step % 3 != 2) {
          t.position = 1000 + static_cast<uint32_t>(step);
          EXPECT_FALSE(t.take(publication(prefix_len, ++seq)));
          EXPECT_EQ(t.position, 1000u + static_cast<uint32_t>(step));
          EXPECT_EQ(Bytes(t.header(), t.header() + kHeaderSize), before);
          EXPECT_EQ(t.job().seq, seq);
        } else {
          t.position = UINT32_MAX - 256;  // the last batch whose end fits in 32 bits
          EXPECT_FALSE(t.refresh_if_exhausted(256));
          t.position = UINT32_MAX - 255;
          ASSERT_TRUE(t.refresh_if_exhausted(256));
          EXPECT_EQ(t.position, 0u);
          ASSERT_TRUE(headers.insert(Bytes(t.header(), t.header() + kEngineNonceOffset)).second)
              << "prefix " << prefix_len << " step " << step;
        }
      }
    }
  }
  EXPECT_EQ(headers.size(), 7u * 2 * 201);
}

}  // namespace
