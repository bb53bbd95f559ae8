// The ARM64 kernel list: neon where the kernel reports AES and PMULL
// (hash/arm64/cpu.h), portable everywhere.

#include <iterator>

#include "engine/arch.h"
#include "hash/arm64/cpu.h"

extern "C" {
tlm_scan_kernel tlm_scan_neon;
tlm_full_kernel tlm_full_neon;
}

namespace tlm::arch {

namespace {

const tlm_kernel kKernels[] = {
    {"neon", "NEON with the crypto extension's AES and PMULL", "ARMv8 AES and PMULL", tlm_scan_neon, tlm_full_neon},
    kPortableKernel,
};

}  // namespace

const tlm_kernel* kernels(int* count) {
  *count = int(std::size(kKernels));
  return kKernels;
}

const char* unusable(int k) { return k == 0 ? arm64::missing_for_core() : nullptr; }

std::string processor_name() { return arm64::cpu().name; }

}  // namespace tlm::arch
