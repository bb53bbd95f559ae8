// Kernel selection. A program of its own, because the first check needs a process
// in which the engine has not been initialised yet.

#include <gtest/gtest.h>

#include <string>

#include "engine/engine.h"

namespace {

TEST(Dispatch, StartsWithSseAndPicksAvxOnlyWhereSupported) {
  EXPECT_EQ(std::string(tlm_engine_isa()), "SSE4.1");
  EXPECT_EQ(g_scan, tlm_scan_sse);
  EXPECT_EQ(g_full, tlm_full_sse);

  tlm_engine_global_init();
  __builtin_cpu_init();
  const bool avx = __builtin_cpu_supports("avx");
  EXPECT_EQ(std::string(tlm_engine_isa()), avx ? "AVX" : "SSE4.1");
  EXPECT_EQ(g_scan, avx ? tlm_scan_avx : tlm_scan_sse);
  EXPECT_EQ(g_full, avx ? tlm_full_avx : tlm_full_sse);

  EXPECT_EQ(std::string(tlm_engine_force_sse()), "SSE4.1");
  EXPECT_EQ(std::string(tlm_engine_isa()), "SSE4.1");
  EXPECT_EQ(g_scan, tlm_scan_sse);
  EXPECT_EQ(g_full, tlm_full_sse);
}

}  // namespace
