// Kernel selection. A program of its own, because the first check needs a process
// in which the engine has not been initialised yet.

#include <gtest/gtest.h>

#include <string>

#include "engine/engine.h"

namespace {

TEST(Dispatch, PicksTheWidestUsableKernelAndRefusesWhatCannotRun) {
  EXPECT_EQ(std::string(tlm_engine_isa()), "sse4.1");
  EXPECT_EQ(g_scan, tlm_scan_sse);

  int32_t count = 0;
  const tlm_kernel* kernels = tlm_engine_kernels(&count);
  ASSERT_EQ(count, 4);
  int widest = 0;
  while (tlm_engine_unusable(&kernels[widest]) != nullptr) ++widest;
  tlm_engine_global_init();
  EXPECT_EQ(std::string(tlm_engine_isa()), kernels[widest].name);
  EXPECT_EQ(g_scan, kernels[widest].scan);
  EXPECT_EQ(g_full, kernels[widest].full);
  std::string choice = kernels[widest].name;
  if (widest > 0) {
    choice += std::string("; ") + kernels[widest - 1].name + " not usable: " +
              tlm_engine_unusable(&kernels[widest - 1]);
  }
  EXPECT_EQ(std::string(tlm_engine_choice()), choice);

  for (int k = count - 1; k >= 0; --k) {
    const char* reason = tlm_engine_unusable(&kernels[k]);
    const char* refusal = tlm_engine_use(kernels[k].name);
    if (reason == nullptr) {
      EXPECT_EQ(refusal, nullptr) << kernels[k].name;
      EXPECT_EQ(std::string(tlm_engine_isa()), kernels[k].name);
      EXPECT_EQ(g_full, kernels[k].full);
      EXPECT_EQ(std::string(tlm_engine_choice()), std::string(kernels[k].name) + ", forced");
    } else {
      ASSERT_NE(refusal, nullptr) << kernels[k].name;
      EXPECT_EQ(std::string(refusal),
                std::string("kernel ") + kernels[k].name + " cannot run here: " + reason);
    }
  }
  const std::string before = tlm_engine_isa();
  EXPECT_EQ(std::string(tlm_engine_use("neon")),
            "no kernel named 'neon'; the kernels are avx512, avx2, avx and sse4.1");
  EXPECT_EQ(std::string(tlm_engine_isa()), before);
}

}  // namespace
