// Each thread's slice of the nonce space and the header it hashes, byte for byte.
#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "miner/job_header.h"

namespace {

using namespace tlm;

using Bytes = std::vector<uint8_t>;

Bytes nonce_for(const Bytes& prefix, uint64_t seq, uint16_t index) {
  Bytes job_nonce(kNonceSize, 0);
  std::copy(prefix.begin(), prefix.end(), job_nonce.begin());
  Bytes nonce(kNonceSize);
  build_nonce(job_nonce.data(), prefix.size(), seq, index, nonce.data());
  return nonce;
}

Bytes with_tail(Bytes head) {
  head.resize(kNonceSize, 0);
  return head;
}

TEST(NonceField, PrefixThenSequenceThenThreadThenRefreshByte) {
  const uint64_t seq = 0x0102030405060708;
  // 1-byte prefix: six sequence bytes follow it.
  EXPECT_EQ(nonce_for({0xA1}, seq, 0),
            with_tail({0xA1, 0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x00, 0,
                       0x08}));
  // 4-byte prefix: three sequence bytes; thread 0x0203 little-endian in bytes 20..21.
  EXPECT_EQ(nonce_for({0xA1, 0xA2, 0xA3, 0xA4}, seq, 0x0203),
            with_tail({0xA1, 0xA2, 0xA3, 0xA4, 0x08, 0x07, 0x06, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x03, 0x02, 0,
                       0x08}));
  // 7-byte prefix: no sequence bytes, only the refresh byte carries the sequence.
  EXPECT_EQ(nonce_for({1, 2, 3, 4, 5, 6, 7}, 0x1FF, 0xFFFF),
            with_tail({1, 2, 3, 4, 5, 6, 7, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0, 0xFF}));
}

TEST(WorkingHeader, JobBytesNonceCopiesAndZeroEngineNonce) {
  Bytes job(kJobHeaderSize), solution(kSolutionSize);
  for (size_t i = 0; i < job.size(); ++i) job[i] = static_cast<uint8_t>(i + 1);
  for (size_t i = 0; i < solution.size(); ++i) solution[i] = static_cast<uint8_t>(i * 7 + 3);
  Bytes nonce(kNonceSize);
  for (size_t i = 0; i < nonce.size(); ++i) nonce[i] = static_cast<uint8_t>(0xC0 + i);
  Bytes hdr(kBlockHeaderSize, 0xEE);
  build_header(job.data(), solution.data(), nonce.data(), hdr.data());

  EXPECT_EQ(Bytes(hdr.begin(), hdr.begin() + 108), Bytes(job.begin(), job.begin() + 108));
  EXPECT_EQ(Bytes(hdr.begin() + 108, hdr.begin() + 140), nonce);
  EXPECT_EQ(Bytes(hdr.begin() + 140, hdr.begin() + 143), (Bytes{0xFD, 0x40, 0x05}));
  EXPECT_EQ(Bytes(hdr.begin() + 143, hdr.begin() + 1472), Bytes(solution.begin(), solution.begin() + 1329));
  EXPECT_EQ(Bytes(hdr.begin() + 1472, hdr.end()),
            (Bytes{0xC0, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xD4, 0xD5, 0xD6, 0xD7, 0, 0, 0, 0}));

  put_engine_nonce(hdr.data(), 0x11223344);
  EXPECT_EQ(Bytes(hdr.end() - 4, hdr.end()), (Bytes{0x44, 0x33, 0x22, 0x11}));
}

TEST(WorkingHeader, NoTwoThreadsOrPublicationsShareAHeader) {
  Bytes job(kJobHeaderSize, 0), solution(kSolutionSize, 0);
  job[108] = 0x5A;  // the pool's 1-byte prefix
  std::set<Bytes> headers;
  for (uint64_t seq : {1, 2, 257})
    for (uint16_t index : {0, 1, 2, 255, 256, 65535}) {
      Bytes nonce(kNonceSize), hdr(kBlockHeaderSize);
      build_nonce(job.data() + kNonceOffset, 1, seq, index, nonce.data());
      build_header(job.data(), solution.data(), nonce.data(), hdr.data());
      EXPECT_TRUE(headers.insert(hdr).second) << "seq " << seq << " thread " << index;
    }
}

// Walks the worker's refresh rule from just below the top of the engine nonce range.
TEST(NonceRefresh, TopOfTheRangeRaisesByte23EverywhereAndRestartsAtZero) {
  const uint32_t batch = 256;
  EXPECT_FALSE(range_exhausted(UINT32_MAX - batch, batch));
  EXPECT_TRUE(range_exhausted(UINT32_MAX - batch + 1, batch));
  EXPECT_TRUE(range_exhausted(UINT32_MAX, 1));
  EXPECT_FALSE(range_exhausted(0, UINT32_MAX));

  Bytes job(kJobHeaderSize, 0), solution(kSolutionSize, 0), nonce(kNonceSize), hdr(kBlockHeaderSize);
  job[108] = 0x5A;
  build_nonce(job.data() + kNonceOffset, 1, 0xFE, 3, nonce.data());
  build_header(job.data(), solution.data(), nonce.data(), hdr.data());
  uint32_t nonce_pos = 0u - 3 * batch;
  int refreshes = 0;
  for (int i = 0; i < 5; ++i) {
    if (range_exhausted(nonce_pos, batch)) {
      raise_refresh_byte(nonce.data(), hdr.data());
      nonce_pos = 0;
      ++refreshes;
    }
    nonce_pos += batch;
  }
  EXPECT_EQ(refreshes, 1);
  // Two batches below the top, the last batch below 2^32 skipped, three from 0.
  EXPECT_EQ(nonce_pos, 3 * batch);
  EXPECT_EQ(nonce[23], 0xFF);
  EXPECT_EQ(hdr[131], 0xFF);
  EXPECT_EQ(hdr[1482], 0xFF);

  // The byte wraps modulo 256; nothing else in the header moves.
  Bytes before = hdr;
  raise_refresh_byte(nonce.data(), hdr.data());
  EXPECT_EQ(nonce[23], 0x00);
  before[131] = before[1482] = 0x00;
  EXPECT_EQ(hdr, before);
}

}  // namespace
