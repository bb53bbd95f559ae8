// The nonce scan kernels: counts, candidate lists and the target boundary.

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "engine/engine.h"
#include "hash/known_answer.h"
#include "tests/engine/test_jobs.h"

namespace {

using namespace engine_test;

constexpr uint64_t kAll = ~0ull;
constexpr uint32_t kSentinel = 0xDEADBEEF;

class ScanKernel : public ::testing::Test {
 protected:
  void SetUp() override {
    tlm_engine_global_init();
    engine_ = tlm_engine_new(kTlmMaxLanes);
    ASSERT_NE(engine_, nullptr);
    tlm_engine_set(engine_, random_header(11, true).data());
    std::fill(std::begin(found_), std::end(found_), kSentinel);
  }
  void TearDown() override { tlm_engine_free(engine_); }

  uint32_t scan(const tlm_kernel& k, int lanes, uint32_t start, uint32_t count, uint64_t target) {
    return k.scan(engine_->job, engine_->scratch, lanes, start, count, target, found_, &nfound_);
  }
  std::vector<uint32_t> found() const { return {found_, found_ + std::max(nfound_, 0)}; }

  tlm_engine* engine_ = nullptr;
  uint32_t found_[kTlmMaxFound];
  int32_t nfound_ = 0;
};

TEST_F(ScanKernel, CountsWholeBatches) {
  for (const tlm_kernel& k : runnable_kernels()) {
    nfound_ = 3;
    EXPECT_EQ(scan(k, 32, 5, 0, kAll), 0u) << k.name;
    EXPECT_EQ(nfound_, 3);
    EXPECT_EQ(found_[0], kSentinel);

    nfound_ = 0;
    EXPECT_EQ(scan(k, 32, 5, 1, 0), 32u) << k.name;
    EXPECT_EQ(scan(k, 64, 5, 10, 0), 64u) << k.name;
    EXPECT_EQ(scan(k, 8, 5, 64, 0), 64u) << k.name;
    EXPECT_EQ(scan(k, 7, 5, 15, 0), 21u) << k.name;
    EXPECT_TRUE(keys_restored(engine_)) << k.name;
  }
}

TEST_F(ScanKernel, RecordsOnlyTheFirstEightCandidates) {
  for (const tlm_kernel& k : runnable_kernels()) {
    nfound_ = 0;
    EXPECT_EQ(scan(k, 64, 100, 10, kAll), 64u) << k.name;
    EXPECT_EQ(found(), (std::vector<uint32_t>{100, 101, 102, 103, 104, 105, 106, 107})) << k.name;

    nfound_ = 0;
    EXPECT_EQ(scan(k, 4, 0xFFFFFFFE, 4, kAll), 4u) << k.name;
    EXPECT_EQ(found(), (std::vector<uint32_t>{0xFFFFFFFE, 0xFFFFFFFF, 0, 1})) << k.name;

    // A full list stays as it is; the hashes are still done and counted.
    std::fill(std::begin(found_), std::end(found_), kSentinel);
    nfound_ = 8;
    EXPECT_EQ(scan(k, 16, 0, 32, kAll), 32u) << k.name;
    EXPECT_EQ(nfound_, 8);
    EXPECT_EQ(found_[7], kSentinel);
    EXPECT_TRUE(keys_restored(engine_)) << k.name;
  }
}

TEST_F(ScanKernel, TargetBoundaryOfTheKnownAnswer) {
  tlm_engine_set(engine_, kat_hdr);
  for (const tlm_kernel& k : runnable_kernels()) {
    nfound_ = 0;
    EXPECT_EQ(scan(k, 1, 1, 1, 0x0000000002E96E2Bull), 1u);
    EXPECT_EQ(nfound_, 0) << k.name;
    EXPECT_EQ(scan(k, 1, 1, 1, 0x0000000002E96E2Cull), 1u);
    EXPECT_EQ(found(), std::vector<uint32_t>{1}) << k.name;
  }
}

TEST_F(ScanKernel, ReportsEveryNonceThatMeetsTheTarget) {
  const Header h = random_header(12, false);
  tlm_engine_set(engine_, h.data());
  const uint32_t start = 0xFFFFFFF0;
  std::vector<uint64_t> tops;
  for (uint32_t i = 0; i < 64; ++i) tops.push_back(top_word(reference(h, start + i)));
  // A target that exactly five of the 64 nonces meet, the fifth with equality.
  std::vector<uint64_t> sorted = tops;
  std::sort(sorted.begin(), sorted.end());
  const uint64_t target = sorted[4];
  std::vector<uint32_t> want;
  for (uint32_t i = 0; i < 64; ++i) {
    if (tops[i] <= target) want.push_back(start + i);
  }
  ASSERT_EQ(want.size(), 5u);
  for (const tlm_kernel& k : runnable_kernels()) {
    for (int lanes : {64, 16, 3}) {
      nfound_ = 0;
      uint32_t done = scan(k, lanes, start, 64, target);
      EXPECT_EQ(done, uint32_t((64 + lanes - 1) / lanes * lanes));
      std::vector<uint32_t> got = found();
      // Three lanes overshoot 64 by two nonces; drop any candidates from those.
      got.erase(std::remove_if(got.begin(), got.end(),
                               [&](uint32_t n) { return n - start >= 64; }),
                got.end());
      EXPECT_EQ(got, want) << k.name << " lanes " << lanes;
    }
    EXPECT_TRUE(keys_restored(engine_)) << k.name;
  }
}

TEST_F(ScanKernel, RefusesLaneCountsAndListSizesThatWouldOverrun) {
  for (const tlm_kernel& k : runnable_kernels()) {
    nfound_ = -1;
    EXPECT_EQ(scan(k, 4, 0, 4, kAll), 4u) << k.name;
    EXPECT_EQ(nfound_, -1);
    nfound_ = 0;
    EXPECT_EQ(scan(k, 1000, 0, 1, 0), 64u) << k.name;
    EXPECT_EQ(scan(k, 0, 0, 1, 0), 1u) << k.name;
    std::vector<uint8_t> out(kTlmMaxLanes * kTlmHashSize);
    k.full(engine_->job, engine_->scratch, 1000, 0, out.data());
    EXPECT_TRUE(keys_restored(engine_)) << k.name;
  }
}

}  // namespace
