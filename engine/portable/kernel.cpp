// The portable kernel: engine/lane_kernel.h with the plain C++ word, for any
// 64-bit processor.
#include "hash/portable/word.h"

#include "engine/lane_kernel.h"

extern "C" uint32_t tlm_scan_portable(const uint8_t* job, uint8_t* scratch, int32_t lanes, uint32_t nonce_start,
                                      uint32_t count, uint64_t target_hi, uint32_t* found, int32_t* nfound) {
  return scan<PlainHooks>(job, scratch, lanes, nonce_start, count, target_hi, found, nfound);
}
extern "C" void tlm_full_portable(const uint8_t* job, uint8_t* scratch, int32_t lanes, uint32_t nonce_base,
                                  uint8_t* out) {
  full<PlainHooks>(job, scratch, lanes, nonce_base, out);
}
