// Each thread's range of the nonce space and the header it hashes, byte for byte.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "miner/job_header.h"
#include "miner/search.h"

namespace {

using namespace tlm;

using Bytes = std::vector<uint8_t>;

// Range 0x0102030405060708 under a two-byte prefix: its low 32 bits go to nonce bytes
// 20..23 and the rest to bytes 2..6, little-endian; every other byte is the job's.
TEST(WorkingHeader, NonceOfARangeAndTheHeaderAroundIt) {
  Bytes job(kJobHeaderSize), solution(kSolutionSize);
  for (size_t i = 0; i < job.size(); ++i) job[i] = static_cast<uint8_t>(i + 1);
  for (size_t i = 0; i < solution.size(); ++i) solution[i] = static_cast<uint8_t>(i * 7 + 3);
  Bytes nonce(kNonceSize);
  build_nonce(job.data() + kNonceOffset, 2, 0x0102030405060708, nonce.data());
  Bytes want(job.begin() + kNonceOffset, job.end());
  for (size_t i = 0; i < 5; ++i) want[2 + i] = static_cast<uint8_t>(4 - i);
  for (size_t i = 0; i < 4; ++i) want[20 + i] = static_cast<uint8_t>(8 - i);
  EXPECT_EQ(nonce, want);

  Bytes hdr(kHeaderSize, 0xEE);
  build_header(job.data(), solution.data(), nonce.data(), hdr.data());
  auto at = [&](size_t from, size_t to) { return Bytes(hdr.begin() + from, hdr.begin() + to); };
  EXPECT_EQ(at(0, 108), Bytes(job.begin(), job.begin() + 108));
  EXPECT_EQ(at(108, 140), nonce);
  EXPECT_EQ(at(140, 143), (Bytes{0xFD, 0x40, 0x05}));
  EXPECT_EQ(at(143, 1472), Bytes(solution.begin(), solution.begin() + 1329));
  // Nonce bytes 0..6 and 20..23 and a zero engine nonce.
  EXPECT_EQ(at(1472, 1487), (Bytes{109, 110, 4, 3, 2, 1, 0, 8, 7, 6, 5, 0, 0, 0, 0}));
}

std::shared_ptr<const Work> publication(size_t prefix_len, uint64_t seq, int job) {
  auto w = std::make_shared<Work>();
  w->seq = seq;
  w->job_id = std::to_string(job);
  for (size_t i = 0; i < prefix_len; ++i) w->header[kNonceOffset + i] = 0xA5;
  w->extranonce1 = Bytes(w->header + kNonceOffset, w->header + kNonceOffset + prefix_len);
  w->target[31] = static_cast<uint8_t>(seq);  // every republication retargets
  return w;
}

// Two threads at every prefix length take new jobs, republications of them and
// refreshes: every range a thread starts has a header of its own (over 256 per
// prefix), and a republication moves nothing.
TEST(NonceSpace, EveryRangeHasItsOwnHeaderAndARepublicationMovesNothing) {
  std::atomic<uint64_t> ranges{0};
  std::set<Bytes> headers;
  uint64_t seq = 0;
  for (size_t prefix_len = 1; prefix_len <= 7; ++prefix_len) {
    Search threads[2] = {Search(ranges), Search(ranges)};
    for (int step = 0; step < 450; ++step) {
      for (Search& t : threads) {
        const Bytes before(t.header(), t.header() + kHeaderSize);
        const uint32_t position = 1000 + static_cast<uint32_t>(step);
        if (step % 3 == 0) {
          t.position = position;
          ASSERT_TRUE(t.take(publication(prefix_len, ++seq, step)));
        } else if (step % 3 == 1) {
          t.position = position;
          EXPECT_FALSE(t.take(publication(prefix_len, ++seq, step - 1)));
          EXPECT_EQ(t.position, position);
          EXPECT_EQ(Bytes(t.header(), t.header() + kHeaderSize), before);
          EXPECT_EQ(t.job().seq, seq);
          continue;
        } else {
          t.position = UINT32_MAX - 256;  // the last batch whose end fits in 32 bits
          EXPECT_FALSE(t.refresh_if_exhausted(256));
          t.position = UINT32_MAX - 255;
          ASSERT_TRUE(t.refresh_if_exhausted(256));
        }
        EXPECT_EQ(t.position, 0u);
        ASSERT_TRUE(headers.insert(Bytes(t.header(), t.header() + kEngineNonceOffset)).second)
            << "prefix " << prefix_len << " step " << step;
      }
    }
  }
  EXPECT_EQ(headers.size(), 7u * 2 * 300);
}

}  // namespace
