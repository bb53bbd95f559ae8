// Kernel selection. A program of its own, because the first check needs a process
// in which the engine has not been initialised yet.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <initializer_list>
#include <string>

#include "engine/engine.h"

namespace {

// The processor features Linux lists in /proc/cpuinfo, without those whose register
// state it does not enable: a second opinion on what the engine reads from CPUID.
bool cpu_has(std::initializer_list<std::string> features) {
  std::ifstream in("/proc/cpuinfo");
  std::string line;
  while (std::getline(in, line) && line.rfind("flags", 0) != 0) continue;
  line += ' ';
  return std::all_of(features.begin(), features.end(),
                     [&](const std::string& f) { return line.find(' ' + f + ' ') != std::string::npos; });
}

TEST(Dispatch, PicksTheWidestUsableKernelAndRefusesWhatCannotRun) {
  EXPECT_EQ(std::string(tlm_engine_isa()), "sse4.1");
  EXPECT_EQ(g_scan, tlm_scan_sse);

  int32_t count = 0;
  const tlm_kernel* kernels = tlm_engine_kernels(&count);
  ASSERT_EQ(count, 4);
  const bool sse = cpu_has({"sse4_1", "ssse3", "aes", "pclmulqdq"});
  const bool avx = sse && cpu_has({"avx"});
  const bool avx2 = avx && cpu_has({"avx2", "vaes", "vpclmulqdq", "bmi1", "bmi2"});
  const bool usable[] = {avx2 && cpu_has({"avx512f", "avx512bw", "avx512vl"}), avx2, avx, sse};
  for (int k = 0; k < count; ++k) EXPECT_EQ(tlm_engine_unusable(&kernels[k]) == nullptr, usable[k]) << kernels[k].name;
  int widest = 0;
  while (tlm_engine_unusable(&kernels[widest]) != nullptr) ++widest;
  tlm_engine_global_init();
  EXPECT_EQ(g_full, kernels[widest].full);
  EXPECT_EQ(std::string(tlm_engine_choice()),
            widest == 0 ? std::string(kernels[0].name)
                        : std::string(kernels[widest].name) + "; " + kernels[widest - 1].name +
                              " not usable: " + tlm_engine_unusable(&kernels[widest - 1]));

  for (int k = count - 1; k >= 0; --k) {
    const char* reason = tlm_engine_unusable(&kernels[k]);
    const char* refusal = tlm_engine_use(kernels[k].name);
    if (reason != nullptr) {
      ASSERT_NE(refusal, nullptr) << kernels[k].name;
      EXPECT_EQ(std::string(refusal),
                std::string("kernel ") + kernels[k].name + " cannot run here: " + reason);
      continue;
    }
    EXPECT_EQ(refusal, nullptr) << kernels[k].name;
    EXPECT_EQ(std::string(tlm_engine_isa()), kernels[k].name);
    EXPECT_EQ(g_scan, kernels[k].scan);
    EXPECT_EQ(std::string(tlm_engine_choice()), std::string(kernels[k].name) + ", forced");
  }
  EXPECT_EQ(std::string(tlm_engine_use("neon")),
            "no kernel named 'neon'; the kernels are avx512, avx2, avx and sse4.1");
  EXPECT_EQ(std::string(tlm_engine_isa()), kernels[widest].name);
}

}  // namespace
