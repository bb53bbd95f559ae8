// The x86 kernel list and what each needs, from CPUID and XGETBV (hash/x86/cpu.h).

#include <array>

#include "engine/arch.h"
#include "hash/x86/cpu.h"

extern "C" {
tlm_scan_kernel tlm_scan_sse, tlm_scan_avx, tlm_scan_avx2, tlm_scan_avx512;
tlm_full_kernel tlm_full_sse, tlm_full_avx, tlm_full_avx2, tlm_full_avx512;
}

namespace tlm::arch {

namespace {

constexpr int kKernelCount = 5;

const tlm_kernel kKernels[kKernelCount] = {
    {"avx512", "AVX-512 with VAES and VPCLMULQDQ: up to four AES blocks per instruction",
     "AVX-512 F, BW and VL, VAES, VPCLMULQDQ, AVX2, BMI1, BMI2; AVX-512 state enabled by the OS",
     tlm_scan_avx512, tlm_full_avx512},
    {"avx2", "AVX2 with VAES and VPCLMULQDQ: up to two AES blocks per instruction",
     "AVX2, VAES, VPCLMULQDQ, BMI1, BMI2; AVX state enabled by the OS", tlm_scan_avx2, tlm_full_avx2},
    {"avx", "AVX (VEX encodings) with AES-NI and PCLMULQDQ: one block per instruction",
     "AVX, AES-NI, PCLMULQDQ, SSE4.1; AVX state enabled by the OS", tlm_scan_avx, tlm_full_avx},
    {"sse4.1", "SSE4.1 with AES-NI and PCLMULQDQ: for processors without AVX", "SSE4.1, SSSE3, AES-NI, PCLMULQDQ",
     tlm_scan_sse, tlm_full_sse},
    kPortableKernel,
};

using Reasons = std::array<const char*, kKernelCount>;

Reasons detect() {
  const x86::Cpu& cpu = x86::cpu();
  // Each requirement holds for kernels 0..up_to (widest first).
  struct Requirement {
    int up_to;
    bool present;
    const char* missing;
  };
  const char* const core_missing = x86::missing_for_core();
  const Requirement requirements[] = {
      {3, core_missing == nullptr, core_missing},
      {2, cpu.avx, "the processor lacks AVX"},
      {2, cpu.os_avx, "the operating system has not enabled the AVX register state"},
      {1, cpu.avx2, "the processor lacks AVX2"},
      {1, cpu.vaes, "the processor lacks VAES"},
      {1, cpu.vpclmul, "the processor lacks VPCLMULQDQ"},
      {1, cpu.bmi1 && cpu.bmi2, "the processor lacks BMI1 or BMI2"},
      {0, cpu.avx512f, "the processor lacks AVX-512F"},
      {0, cpu.avx512bw, "the processor lacks AVX-512BW"},
      {0, cpu.avx512vl, "the processor lacks AVX-512VL"},
      {0, cpu.os_avx512, "the operating system has not enabled the AVX-512 register state"},
  };
  Reasons reasons{};
  for (int k = 0; k < kKernelCount; ++k) {
    for (const Requirement& r : requirements) {
      if (k <= r.up_to && !r.present && reasons[k] == nullptr) reasons[k] = r.missing;
    }
  }
  return reasons;
}

}  // namespace

const tlm_kernel* kernels(int* count) {
  *count = kKernelCount;
  return kKernels;
}

const char* unusable(int k) {
  static const Reasons reasons = detect();
  return reasons[k];
}

std::string processor_name() { return x86::cpu().brand; }

}  // namespace tlm::arch
