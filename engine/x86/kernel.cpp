// The x86 kernels: engine/lane_kernel.h with SSE words, compiled once per
// instruction set (SSE4.1, AVX, AVX2 with VAES, AVX-512 with VAES). TLM_SCAN and
// TLM_FULL are this build's entry-point names (tlm_scan_avx2, ...).
#include "hash/x86/word.h"

#include "engine/lane_kernel.h"
#include "engine/x86/wide_hooks.h"

extern "C" uint32_t TLM_SCAN(const uint8_t* job, uint8_t* scratch, int32_t lanes, uint32_t nonce_start,
                             uint32_t count, uint64_t target_hi, uint32_t* found, int32_t* nfound) {
  return scan<WideHooks>(job, scratch, lanes, nonce_start, count, target_hi, found, nfound);
}
extern "C" void TLM_FULL(const uint8_t* job, uint8_t* scratch, int32_t lanes, uint32_t nonce_base,
                         uint8_t* out) {
  full<WideHooks>(job, scratch, lanes, nonce_base, out);
}
