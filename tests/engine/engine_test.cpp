// Engine contexts, the dispatched calls and the self-test's counting.

#include <gtest/gtest.h>

#include <vector>

#include "engine/engine.h"
#include "engine/selftest.h"
#include "hash/verushash.h"
#include "tests/engine/test_jobs.h"

namespace {

using namespace engine_test;

class Engine : public ::testing::Test {
 protected:
  void SetUp() override { tlm_engine_global_init(); }
};

TEST_F(Engine, NewClampsLaneCountAndAlignsBuffers) {
  const int asked[] = {0, -5, 1, 64, 65, 1000};
  const int want[] = {1, 1, 1, 64, 64, 64};
  for (int i = 0; i < 6; ++i) {
    tlm_engine* e = tlm_engine_new(asked[i]);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->lanes, want[i]) << "asked " << asked[i];
    EXPECT_EQ(reinterpret_cast<uintptr_t>(e->job) % 64, 0u);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(e->scratch) % kTlmLaneAreaSize, 0u);
    tlm_engine_free(e);
  }
  tlm_engine_free(nullptr);
}

// Through the dispatch with each kernel forced in turn, down to SSE4.1.
TEST_F(Engine, SetGivesEveryLaneTheKeyAndCallsGoThroughDispatch) {
  tlm_engine* e = tlm_engine_new(5);
  ASSERT_NE(e, nullptr);
  const Header h = random_header(21, true);
  tlm_engine_set(e, h.data());
  EXPECT_TRUE(keys_restored(e));
  for (const tlm_kernel& k : runnable_kernels()) {
    ASSERT_EQ(tlm_engine_use(k.name), nullptr);
    std::vector<uint8_t> out(5 * kTlmHashSize);
    tlm_engine_full(e, 40, out.data());
    EXPECT_EQ(Hash(out.begin() + 64, out.begin() + 96), reference(h, 42)) << k.name;

    uint32_t found[kTlmMaxFound];
    int32_t nfound = 0;
    EXPECT_EQ(tlm_engine_scan(e, 40, 6, ~0ull, found, &nfound), 10u);
    EXPECT_EQ(nfound, 8);
    EXPECT_EQ(found[2], 42u);
    EXPECT_TRUE(keys_restored(e)) << k.name;
    EXPECT_EQ(tlm_engine_selftest(0), 0) << k.name;  // clamped to one lane
  }
  tlm_engine_free(e);
}

// Seams: a reference hash that is wrong, and full kernels that agree with it or
// that leave one lane's key damaged.
void wrong_reference(uint8_t* out, const uint8_t* header) {
  vh_hash_header(out, header);
  out[5] ^= 1;
}

void full_agreeing_with_wrong_reference(const uint8_t* job, uint8_t* scratch, int32_t lanes,
                                        uint32_t base, uint8_t* out) {
  g_full(job, scratch, lanes, base, out);
  for (int i = 0; i < lanes; ++i) out[32 * i + 5] ^= 1;
}

void full_damaging_lane_two(const uint8_t* job, uint8_t* scratch, int32_t lanes, uint32_t base,
                            uint8_t* out) {
  g_full(job, scratch, lanes, base, out);
  scratch[2 * kTlmLaneStride + 16 * 300] ^= 0x40;
}

TEST_F(Engine, SelfTestCountsEveryFailedComparison) {
  EXPECT_EQ(tlm::selftest_with(4, vh_hash_header, g_full), 0);
  EXPECT_EQ(tlm::selftest_with(4, wrong_reference, full_agreeing_with_wrong_reference), 1);
  // The known answer and both passes of all four lanes.
  EXPECT_EQ(tlm::selftest_with(4, wrong_reference, g_full), 1 + 2 * 4);
  EXPECT_EQ(tlm::selftest_with(4, vh_hash_header, full_damaging_lane_two), 2);
}

}  // namespace
