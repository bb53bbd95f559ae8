// The canonical clearing, and the hash entry points that run on the fastest hash
// core this processor has.
#include "hash/verushash.h"

#include <cstring>

extern "C" {

void vh_clear_noncanonical(uint8_t header[tlm::kHeaderSize]) {
  if (header[143] <= 6 || header[148] == 0) return;
  std::memset(header + 4, 0, 96);    // previous block hash, merkle and sapling roots
  std::memset(header + 104, 0, 36);  // bits and the nonce field
  std::memset(header + 151, 0, 64);  // solution bytes 8..71
}

const vh_core* vh_fastest(void) {
  static const vh_core* const fastest = vh_native() != nullptr ? vh_native() : &vh_portable;
  return fastest;
}

void vh_job_init(uint8_t job[tlm::kJobBytes], const uint8_t header[tlm::kHeaderSize]) {
  vh_fastest()->job_init(job, header);
}

void vh_hash_header(uint8_t out[32], const uint8_t header[tlm::kHeaderSize]) {
  vh_fastest()->hash_header(out, header);
}

}  // extern "C"
