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
