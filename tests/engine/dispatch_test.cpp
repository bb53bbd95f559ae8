// Kernel selection. A program of its own, because the first check needs a process
// in which the engine has not been initialised yet.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "engine/engine.h"

namespace {

// Each architecture's kernels, widest first, with the features Linux lists for
// what each needs in /proc/cpuinfo (x86's "flags", ARM64's "Features"), without
// those whose register state it does not enable: a second opinion on what the
// engine reads from the processor.
struct Expected {
  std::string name;
  std::vector<std::string> features;
};
#if defined(__x86_64__)
const char* const kFeatureLine = "flags";
const std::vector<std::string> kSse = {"sse4_1", "ssse3", "aes", "pclmulqdq"};
const std::vector<std::string> kAvx2 = {"avx", "avx2", "vaes", "vpclmulqdq", "bmi1", "bmi2"};
std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
const std::vector<Expected> kExpected = {
    {"avx512", kSse + kAvx2 + std::vector<std::string>{"avx512f", "avx512bw", "avx512vl"}},
    {"avx2", kSse + kAvx2},
    {"avx", kSse + std::vector<std::string>{"avx"}},
    {"sse4.1", kSse},
    {"portable", {}},
};
const char* const kNames = "avx512, avx2, avx, sse4.1 and portable";
#elif defined(__aarch64__)
const char* const kFeatureLine = "Features";
const std::vector<Expected> kExpected = {{"neon", {"aes", "pmull"}}, {"portable", {}}};
const char* const kNames = "neon and portable";
#else
const char* const kFeatureLine = "";
const std::vector<Expected> kExpected = {{"portable", {}}};
const char* const kNames = "portable";
#endif

// The feature line of /proc/cpuinfo, empty when it lists no features of this
// architecture (under an emulator it may describe the machine beneath).
std::string feature_line() {
  std::ifstream in("/proc/cpuinfo");
  std::string line;
  while (std::getline(in, line)) {
    if (*kFeatureLine != '\0' && line.rfind(kFeatureLine, 0) == 0) return line + ' ';
  }
  return "";
}

TEST(Dispatch, PicksTheWidestUsableKernelAndRefusesWhatCannotRun) {
  EXPECT_EQ(std::string(tlm_engine_isa()), "portable");
  EXPECT_EQ(g_scan, tlm_scan_portable);

  int32_t count = 0;
  const tlm_kernel* kernels = tlm_engine_kernels(&count);
  ASSERT_EQ(size_t(count), kExpected.size());
  const std::string features = feature_line();
  for (int k = 0; k < count; ++k) {
    EXPECT_EQ(kernels[k].name, kExpected[k].name);
    if (features.empty() && !kExpected[k].features.empty()) continue;  // no second opinion here
    const bool usable = std::all_of(kExpected[k].features.begin(), kExpected[k].features.end(),
                                    [&](const std::string& f) { return features.find(' ' + f + ' ') != std::string::npos; });
    EXPECT_EQ(tlm_engine_unusable(&kernels[k]) == nullptr, usable) << kernels[k].name;
  }
  EXPECT_EQ(tlm_engine_unusable(&kernels[count - 1]), nullptr);  // the portable kernel runs anywhere
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
  EXPECT_EQ(std::string(tlm_engine_use("avx3")), std::string("no kernel named 'avx3'; the kernels are ") + kNames);
  EXPECT_EQ(std::string(tlm_engine_isa()), kernels[widest].name);
}

// What a miner may mine with, which it measures and the self-test covers: the
// selected kernel at a given lane count (at most 64); with auto (0 or less) every
// tuned count with the widest kernel and the next usable one short of the
// portable, or with a forced kernel alone.
TEST(Dispatch, SettingsAMinerMayMineWith) {
  tlm_engine_global_init();
  const auto settings = [](int32_t lanes) {
    tlm_setting out[kTlmMaxSettings];
    std::string all;
    for (int32_t i = 0, n = tlm_engine_settings(lanes, out); i < n; ++i)
      all += std::string(out[i].kernel->name) + " " + std::to_string(out[i].lanes) + ", ";
    return all;
  };
  const auto tuned = [](const std::string& k) { return k + " 16, " + k + " 32, " + k + " 48, " + k + " 64, "; };
  int32_t count = 0;
  const tlm_kernel* kernels = tlm_engine_kernels(&count);
  const std::string widest = tlm_engine_isa();
  std::string next;
  for (int k = count - 2; k >= 0 && kernels[k].name != widest; --k)
    if (tlm_engine_unusable(&kernels[k]) == nullptr) next = kernels[k].name;
  EXPECT_EQ(settings(48), widest + " 48, ");
  EXPECT_EQ(settings(100), widest + " 64, ");
  EXPECT_EQ(settings(0), tuned(widest) + (next.empty() ? "" : tuned(next)));
  EXPECT_EQ(settings(-3), settings(0));
  EXPECT_EQ(tlm_engine_selftest(0), 0);
  ASSERT_EQ(tlm_engine_use("portable"), nullptr);
  EXPECT_EQ(settings(0), tuned("portable"));
  EXPECT_EQ(settings(1), "portable 1, ");
}

}  // namespace
