// A mining thread's block header for a job: its range of the nonce space and the
// 1487 bytes the engine hashes. Pure functions, so the layout can be checked
// byte for byte without running a thread.
#pragma once

#include <cstddef>
#include <cstdint>

#include "hash/header_layout.h"

namespace tlm {

// Fills `nonce` from the job's nonce field (`job_nonce`, whose first `prefix_len`
// bytes, 1..7, are the pool's prefix) for the engine nonce range `range`: its low
// 32 bits in bytes 20..23 (little-endian), its higher bits in the bytes between the
// prefix and byte 6. No other field uses these bytes; the rest come from the job.
void build_nonce(const uint8_t job_nonce[kNonceSize], size_t prefix_len, uint64_t range, uint8_t nonce[kNonceSize]);

// Fills `hdr` from the job's first 108 header bytes, `nonce`, the compact-size
// prefix and the solution template, whose last 15 bytes carry nonce bytes 0..6,
// 20..23 and a zero engine nonce.
void build_header(const uint8_t job_header[kJobHeaderSize], const uint8_t solution[kSolutionSize],
                  const uint8_t nonce[kNonceSize], uint8_t hdr[kHeaderSize]);

// Writes the engine nonce `n` little-endian into header bytes 1483..1486.
inline void put_engine_nonce(uint8_t hdr[kHeaderSize], uint32_t n) {
  for (int i = 0; i < 4; ++i) hdr[kEngineNonceOffset + i] = static_cast<uint8_t>(n >> (8 * i));
}

}  // namespace tlm
