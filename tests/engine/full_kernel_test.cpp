// The full-hash kernels against the portable reference.

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/engine.h"
#include "hash/known_answer.h"
#include "hash/verushash.h"
#include "tests/engine/test_jobs.h"

namespace {

using namespace engine_test;

class FullKernel : public ::testing::Test {
 protected:
  void SetUp() override {
    tlm_engine_global_init();
    engine_ = tlm_engine_new(kTlmMaxLanes);
    ASSERT_NE(engine_, nullptr);
  }
  void TearDown() override { tlm_engine_free(engine_); }

  // Runs `full` on the first `lanes` lane records and checks every lane against
  // the reference hashes of base, base+1, ... in refs.
  void expect_matches(const tlm_kernel& k, int lanes, uint32_t base, const std::vector<Hash>& refs) {
    std::vector<uint8_t> out(size_t(lanes) * kTlmHashSize);
    k.full(engine_->job, engine_->scratch, lanes, base, out.data());
    for (int i = 0; i < lanes; ++i) {
      Hash got(out.begin() + 32 * i, out.begin() + 32 * i + 32);
      ASSERT_EQ(got, refs[i]) << k.name << " lanes " << lanes << " base " << base << " lane " << i;
    }
    ASSERT_TRUE(keys_restored(engine_)) << k.name << " lanes " << lanes;
  }

  tlm_engine* engine_ = nullptr;
};

// Every kernel, every lane count, on jobs of both clearing paths, across the nonce
// wrap, and on the known-answer header, whose lane 0 must give the known answer.
TEST_F(FullKernel, EveryKernelMatchesReferenceForEveryLaneCount) {
  struct Job {
    Header header;
    uint32_t base;
  };
  const Job jobs[] = {
      {random_header(1, true), 0xFFFFFFE0},  // lanes 32 and up wrap to nonce 0
      {random_header(2, false), 0x7FFFFFF0},
      {random_header(3, true), 0},
      {Header(kat_hdr, kat_hdr + kTlmHeaderSize), 1},
  };
  for (const Job& job : jobs) {
    std::vector<Hash> refs;
    for (int i = 0; i < kTlmMaxLanes; ++i) refs.push_back(reference(job.header, job.base + i));
    tlm_engine_set(engine_, job.header.data());
    for (const tlm_kernel& k : runnable_kernels()) {
      for (int lanes = 1; lanes <= kTlmMaxLanes; ++lanes) expect_matches(k, lanes, job.base, refs);
    }
  }
  EXPECT_EQ(reference(jobs[3].header, 1), Hash(kat_hash, kat_hash + kTlmHashSize));
}

TEST_F(FullKernel, NullOutputWritesNothingAndRestoresKeys) {
  const Header h = random_header(4, true);
  tlm_engine_set(engine_, h.data());
  for (const tlm_kernel& k : runnable_kernels()) {
    k.full(engine_->job, engine_->scratch, kTlmMaxLanes, 77, nullptr);
    EXPECT_TRUE(keys_restored(engine_)) << k.name;
    expect_matches(k, 3, 77, {reference(h, 77), reference(h, 78), reference(h, 79)});
  }
}

// A nonce of the header whose mixing picks one key word as both P and X at some
// step, found with the reference's move record.
uint32_t nonce_with_shared_word(const Header& h, tlm_engine* engine) {
  tlm_engine_set(engine, h.data());
  alignas(16) uint8_t block[64];
  std::memcpy(block, engine->job + 8896, 64);
  auto* key = static_cast<__m128i*>(std::aligned_alloc(16, kTlmKeySize));
  __m128i* moves[64];
  uint32_t result = 0;
  for (uint32_t nonce = 1; nonce < 100000 && result == 0; ++nonce) {
    std::memcpy(block + 43, &nonce, 4);
    std::memcpy(key, engine->job, kTlmKeySize);
    vh22_clmul_ref(key, reinterpret_cast<const __m128i*>(block), 0x1FFF, moves);
    for (int s = 0; s < 32; ++s) {
      if (moves[2 * s] == moves[2 * s + 1]) result = nonce;
    }
  }
  std::free(key);
  return result;
}

TEST_F(FullKernel, StepThatPicksOneWordTwiceMatchesReference) {
  const Header h = random_header(6, true);
  const uint32_t nonce = nonce_with_shared_word(h, engine_);
  ASSERT_NE(nonce, 0u) << "no such nonce found";
  for (const tlm_kernel& k : runnable_kernels()) {
    expect_matches(k, 1, nonce, {reference(h, nonce)});
    uint32_t found[kTlmMaxFound];
    int32_t nfound = 0;
    EXPECT_EQ(k.scan(engine_->job, engine_->scratch, 8, nonce - 3, 8, ~0ull, found, &nfound), 8u);
    EXPECT_TRUE(keys_restored(engine_)) << k.name;
  }
}

}  // namespace
