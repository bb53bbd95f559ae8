// The kernel table and the choice among its entries: what this processor offers
// (CPUID) and what the operating system saves on a context switch (XGETBV), read
// once.

#include <cpuid.h>

#include <array>
#include <cstring>
#include <string>

#include "engine/engine.h"
#include "hash/cpu_features.h"
#include "hash/haraka.h"

tlm_scan_fn g_scan = tlm_scan_sse;
tlm_full_fn g_full = tlm_full_sse;
const char* g_isa = "sse4.1";

namespace {

constexpr int kKernelCount = 4;

const tlm_kernel kKernels[kKernelCount] = {
    {"avx512", "AVX-512 with VAES and VPCLMULQDQ: up to four AES blocks per instruction",
     "AVX-512 F, BW and VL, VAES, VPCLMULQDQ, AVX2, BMI1, BMI2; AVX-512 state enabled by the OS",
     tlm_scan_avx512, tlm_full_avx512},
    {"avx2", "AVX2 with VAES and VPCLMULQDQ: up to two AES blocks per instruction",
     "AVX2, VAES, VPCLMULQDQ, BMI1, BMI2; AVX state enabled by the OS", tlm_scan_avx2,
     tlm_full_avx2},
    {"avx", "AVX (VEX encodings) with AES-NI and PCLMULQDQ: one block per instruction",
     "AVX, AES-NI, PCLMULQDQ, SSE4.1; AVX state enabled by the OS", tlm_scan_avx, tlm_full_avx},
    {"sse4.1", "SSE4.1 with AES-NI and PCLMULQDQ: for processors without AVX",
     "SSE4.1, SSSE3, AES-NI, PCLMULQDQ", tlm_scan_sse, tlm_full_sse},
};

// For each kernel, null when it can run here, otherwise the first thing missing.
using Reasons = std::array<const char*, kKernelCount>;

Reasons detect() {
  unsigned a = 0, b = 0, c = 0, d = 0;
  unsigned ecx1 = 0, ebx7 = 0, ecx7 = 0;
  if (__get_cpuid(1, &a, &b, &c, &d)) ecx1 = c;
  if (__get_cpuid_count(7, 0, &a, &b, &c, &d)) {
    ebx7 = b;
    ecx7 = c;
  }
  // XCR0 says which register state the operating system saves: bits 1 and 2 for
  // SSE and AVX, 5 to 7 for the AVX-512 mask registers and upper ZMM halves.
  uint64_t xcr0 = 0;
  if (ecx1 & (1u << 27)) {  // OSXSAVE: XGETBV may be executed
    uint32_t lo = 0, hi = 0;
    __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
    xcr0 = uint64_t(hi) << 32 | lo;
  }
  auto bit = [](unsigned reg, int n) { return ((reg >> n) & 1) != 0; };
  const char* const baseline_missing = vh_missing_instructions();
  // Each requirement holds for kernels 0..widest_needing (widest first).
  struct Requirement {
    int up_to;
    bool present;
    const char* missing;
  };
  const Requirement requirements[] = {
      {3, baseline_missing == nullptr, baseline_missing},
      {2, bit(ecx1, 28), "the processor lacks AVX"},
      {2, (xcr0 & 0x6) == 0x6, "the operating system has not enabled the AVX register state"},
      {1, bit(ebx7, 5), "the processor lacks AVX2"},
      {1, bit(ecx7, 9), "the processor lacks VAES"},
      {1, bit(ecx7, 10), "the processor lacks VPCLMULQDQ"},
      {1, bit(ebx7, 3) && bit(ebx7, 8), "the processor lacks BMI1 or BMI2"},
      {0, bit(ebx7, 16), "the processor lacks AVX-512F"},
      {0, bit(ebx7, 30), "the processor lacks AVX-512BW"},
      {0, bit(ebx7, 31), "the processor lacks AVX-512VL"},
      {0, (xcr0 & 0xE6) == 0xE6,
       "the operating system has not enabled the AVX-512 register state"},
  };
  Reasons reasons{};
  for (int k = 0; k < kKernelCount; ++k) {
    for (const Requirement& r : requirements) {
      if (k <= r.up_to && !r.present && reasons[k] == nullptr) reasons[k] = r.missing;
    }
  }
  return reasons;
}

const Reasons& reasons() {
  static const Reasons r = detect();
  return r;
}

std::string g_choice = "sse4.1, before the engine's initialisation";

void select(int k) {
  g_scan = kKernels[k].scan;
  g_full = kKernels[k].full;
  g_isa = kKernels[k].name;
}

}  // namespace

extern "C" {

void tlm_engine_global_init(void) {
  haraka_init();
  int k = 0;
  while (k + 1 < kKernelCount && reasons()[k] != nullptr) ++k;
  select(k);
  g_choice = g_isa;
  if (k > 0) g_choice += std::string("; ") + kKernels[k - 1].name + " not usable: " + reasons()[k - 1];
}

const char* tlm_engine_isa(void) { return g_isa; }

const tlm_kernel* tlm_engine_kernels(int32_t* count) {
  *count = kKernelCount;
  return kKernels;
}

const char* tlm_engine_unusable(const tlm_kernel* kernel) {
  return reasons()[kernel - kKernels];
}

const char* tlm_engine_use(const char* name) {
  static std::string refusal;
  for (int k = 0; k < kKernelCount; ++k) {
    if (std::strcmp(name, kKernels[k].name) != 0) continue;
    if (reasons()[k] != nullptr) {
      refusal = std::string("kernel ") + name + " cannot run here: " + reasons()[k];
      return refusal.c_str();
    }
    select(k);
    g_choice = std::string(g_isa) + ", forced";
    return nullptr;
  }
  refusal = std::string("no kernel named '") + name + "'; the kernels are avx512, avx2, avx and sse4.1";
  return refusal.c_str();
}

const char* tlm_engine_choice(void) { return g_choice.c_str(); }

}  // extern "C"
