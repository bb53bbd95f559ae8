// Every kernel this machine runs (the portable one too) against the portable hash
// core, which shares no instruction with them: full hashes, the nonce scan with
// its target filter, and the self-test that checks them at start.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "engine/engine.h"
#include "engine/selftest.h"
#include "hash/known_answer.h"
#include "hash/sample_header.h"
#include "hash/verushash.h"

namespace {

using Bytes = std::vector<uint8_t>;

const Bytes kKat(kat_hdr, kat_hdr + kTlmHeaderSize);  // its engine nonce is 1

// A made-up header; `clearing` decides whether the canonical clearing applies.
Bytes random_header(uint32_t seed, bool clearing) {
  Bytes h(kTlmHeaderSize);
  tlm::sample_header(seed, h.data(), clearing);
  return h;
}

// The portable hash of `h` with `nonce` as its engine nonce (bytes 1483..1486).
Bytes reference(Bytes h, uint32_t nonce) {
  for (int i = 0; i < 4; ++i) h[1483 + i] = uint8_t(nonce >> (8 * i));
  Bytes out(kTlmHashSize);
  vh_portable.hash_header(out.data(), h.data());
  return out;
}

class Kernel : public ::testing::Test {
 protected:
  void SetUp() override {
    tlm_engine_global_init();
    engine_ = tlm_engine_new(kTlmMaxLanes);
    ASSERT_NE(engine_, nullptr);
    int32_t count = 0;
    const tlm_kernel* all = tlm_engine_kernels(&count);
    for (int i = 0; i < count; ++i) {
      if (const char* reason = tlm_engine_unusable(&all[i])) {
        std::printf("kernel %s skipped: %s\n", all[i].name, reason);
      } else {
        kernels_.push_back(all[i]);
      }
    }
  }
  void TearDown() override { tlm_engine_free(engine_); }

  // True when every lane record's key equals the job's key again.
  bool keys_restored() const {
    for (int i = 0; i < engine_->lanes; ++i) {
      if (std::memcmp(engine_->scratch + size_t(i) * kTlmLaneStride, engine_->job, kTlmKeySize) != 0) {
        return false;
      }
    }
    return true;
  }

  tlm_engine* engine_ = nullptr;
  std::vector<tlm_kernel> kernels_;  // those this processor runs, widest first
};

// Every kernel at every lane count, on jobs of both clearing paths, across the nonce
// wrap and on the known answer.
TEST_F(Kernel, FullHashesMatchTheReferenceAtEveryLaneCount) {
  EXPECT_EQ(reference(kKat, 1), Bytes(kat_hash, kat_hash + kTlmHashSize));
  const struct {
    Bytes header;
    uint32_t base;
  } jobs[] = {
      {random_header(1, true), 0xFFFFFFE0},  // lanes 32 and up wrap to nonce 0
      {random_header(2, false), 0x7FFFFFF0},
      {random_header(3, true), 0},
      {kKat, 1},
  };
  for (const auto& job : jobs) {
    std::vector<Bytes> refs;
    for (int i = 0; i < kTlmMaxLanes; ++i) refs.push_back(reference(job.header, job.base + i));
    tlm_engine_set(engine_, job.header.data());
    for (const tlm_kernel& k : kernels_) {
      // Without output it hashes all 64 lanes (1000 is clamped) and writes nothing.
      k.full(engine_->job, engine_->scratch, 1000, job.base, nullptr);
      ASSERT_TRUE(keys_restored()) << k.name << " without output";
      for (int lanes = 1; lanes <= kTlmMaxLanes; ++lanes) {
        Bytes out(size_t(lanes) * kTlmHashSize);
        k.full(engine_->job, engine_->scratch, lanes, job.base, out.data());
        for (int i = 0; i < lanes; ++i) {
          ASSERT_EQ(Bytes(out.begin() + 32 * i, out.begin() + 32 * i + 32), refs[i])
              << k.name << " lanes " << lanes << " base " << job.base << " lane " << i;
        }
        ASSERT_TRUE(keys_restored()) << k.name << " lanes " << lanes;
      }
    }
  }
  // Nonces of the known answer at which a step of branch 0, 1, ..., 7 picks one key
  // word as both P and X, and a later read of that word shows which store came last.
  tlm_engine_set(engine_, kat_hdr);
  for (uint32_t nonce : {843u, 2479u, 1004u, 1780u, 846u, 857u, 179u, 928u}) {
    for (const tlm_kernel& k : kernels_) {
      Bytes out(kTlmHashSize);
      k.full(engine_->job, engine_->scratch, 1, nonce, out.data());
      EXPECT_EQ(out, reference(kKat, nonce)) << k.name << " nonce " << nonce;
    }
  }
}

TEST_F(Kernel, ScanCountsWholeBatchesAndListsTheFirstEightNoncesThatMeetTheTarget) {
  constexpr uint64_t kAll = ~0ull;
  constexpr uint32_t kUnset = 0xDEADBEEF;
  // The top words (hash bytes 24..31, little-endian) of 66 nonces across the wrap,
  // and a target that exactly five of the first 64 meet, the fifth with equality.
  const uint32_t wrap = 0xFFFFFFF0;
  std::vector<uint64_t> top(66);
  for (uint32_t i = 0; i < top.size(); ++i) std::memcpy(&top[i], reference(kKat, wrap + i).data() + 24, 8);
  std::vector<uint64_t> sorted(top.begin(), top.begin() + 64);
  std::sort(sorted.begin(), sorted.end());
  const uint64_t five = sorted[4];
  auto meeting = [&](uint32_t n) {
    std::vector<uint32_t> nonces;
    for (uint32_t i = 0; i < n; ++i) {
      if (top[i] <= five) nonces.push_back(wrap + i);
    }
    return nonces;
  };
  ASSERT_EQ(meeting(64).size(), 5u);

  const struct {
    int32_t lanes;
    uint32_t start, count;
    uint64_t target;
    int32_t listed;  // entries already in the list
    uint32_t done;
    std::vector<uint32_t> found;
  } cases[] = {
      {32, 5, 0, kAll, 3, 0, {}},  // nothing to do leaves the list alone
      {32, 5, 1, 0, 0, 32, {}},
      {64, 5, 10, 0, 0, 64, {}},
      {8, 5, 64, 0, 0, 64, {}},
      {7, 5, 15, 0, 0, 21, {}},
      {1000, 0, 1, 0, 0, 64, {}},  // lane counts are clamped to 1..64
      {0, 0, 1, 0, 0, 1, {}},
      {64, 100, 10, kAll, 0, 64, {100, 101, 102, 103, 104, 105, 106, 107}},
      {4, 0xFFFFFFFE, 4, kAll, 0, 4, {0xFFFFFFFE, 0xFFFFFFFF, 0, 1}},
      {16, 0, 32, kAll, 8, 32, {}},  // a full list stays as it is, the hashes still done
      {4, 0, 4, kAll, -1, 4, {}},
      {1, 1, 1, 0x2E96E2B, 0, 1, {}},  // the known answer's top word is 0x2E96E2C
      {1, 1, 1, 0x2E96E2C, 0, 1, {1}},
      {64, wrap, 64, five, 0, 64, meeting(64)},
      {16, wrap, 64, five, 0, 64, meeting(64)},
      {3, wrap, 64, five, 0, 66, meeting(66)},
  };
  tlm_engine_set(engine_, kat_hdr);
  for (const tlm_kernel& k : kernels_) {
    for (const auto& c : cases) {
      const auto row = &c - cases;
      uint32_t found[kTlmMaxFound + 1];
      std::fill(std::begin(found), std::end(found), kUnset);
      int32_t nfound = c.listed;
      EXPECT_EQ(k.scan(engine_->job, engine_->scratch, c.lanes, c.start, c.count, c.target, found, &nfound),
                c.done)
          << k.name << " case " << row;
      std::vector<uint32_t> want(std::size(found), kUnset);
      std::copy(c.found.begin(), c.found.end(), want.begin() + std::max(c.listed, 0));
      EXPECT_EQ(std::vector<uint32_t>(std::begin(found), std::end(found)), want) << k.name << " case " << row;
      EXPECT_EQ(nfound, c.listed + int32_t(c.found.size())) << k.name << " case " << row;
      ASSERT_TRUE(keys_restored()) << k.name << " case " << row;
    }
  }
}

// Seams for the self-test: a wrong reference, and a kernel that damages lane 2's key.
void wrong_reference(uint8_t* out, const uint8_t* header) {
  vh_hash_header(out, header);
  out[5] ^= 1;
}

void full_damaging_lane_two(const uint8_t* job, uint8_t* scratch, int32_t lanes, uint32_t base, uint8_t* out) {
  g_full(job, scratch, lanes, base, out);
  scratch[2 * kTlmLaneStride + 16 * 300] ^= 0x40;
}

TEST_F(Kernel, SelfTestCountsEveryFailedComparison) {
  using Cases = std::vector<tlm::SelftestCase>;
  const struct {
    Cases cases;
    tlm::RefHashFn reference;
    int32_t failures;
  } table[] = {
      {{{g_full, 4}}, vh_hash_header, 0},
      // The known answer once, then both passes of every lane of every case.
      {{{g_full, 3}, {g_full, 2}}, wrong_reference, 1 + 2 * 3 + 2 * 2},
      // A damaged key fails its own case only, once per pass.
      {{{g_full, 16}, {full_damaging_lane_two, 3}, {g_full, 64}}, vh_hash_header, 2},
      {{{full_damaging_lane_two, 2}}, vh_hash_header, 0},  // lane 2 is not among them
  };
  for (const auto& row : table) EXPECT_EQ(tlm::selftest_with(row.cases, row.reference), row.failures) << &row - table;
}

}  // namespace
