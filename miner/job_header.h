// A mining thread's own block header for a job: its slice of the nonce space and
// the 1487 bytes the engine hashes. Pure functions, so the layout can be checked
// byte for byte without running a thread.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tlm {

inline constexpr size_t kBlockHeaderSize = 1487;
inline constexpr size_t kJobHeaderSize = 140;
inline constexpr size_t kSolutionSize = 1344;
inline constexpr size_t kNonceSize = 32;
// Where the 32-byte nonce field starts in the header.
inline constexpr size_t kNonceOffset = 108;
// Where the compact-size prefix FD 40 05 and the solution start.
inline constexpr size_t kSolutionOffset = 140;
// The engine nonce: the last 4 header bytes, little-endian.
inline constexpr size_t kEngineNonceOffset = 1483;

// Fills `nonce` for thread `index` and publication `seq` from the job's nonce field
// (`job_nonce`, whose first `prefix_len` bytes, 1..7, are the pool's prefix): the
// low bytes of `seq` after the prefix up to byte 6, `index` in bytes 20..21 and the
// low byte of `seq` in byte 23 (the refresh byte). Other bytes come from the job.
void build_nonce(const uint8_t job_nonce[kNonceSize], size_t prefix_len, uint64_t seq, uint16_t index,
                 uint8_t nonce[kNonceSize]);

// Fills `hdr` from the job's first 108 header bytes, `nonce`, the compact-size
// prefix and the solution template, whose last 15 bytes carry nonce bytes 0..6,
// 20..23 and a zero engine nonce.
void build_header(const uint8_t job_header[kJobHeaderSize], const uint8_t solution[kSolutionSize],
                  const uint8_t nonce[kNonceSize], uint8_t hdr[kBlockHeaderSize]);

// Moves to a fresh 2^32 engine nonce range: raises nonce byte 23 by one (mod 256)
// and writes it to both of its places in `hdr`.
void raise_refresh_byte(uint8_t nonce[kNonceSize], uint8_t hdr[kBlockHeaderSize]);

// True when a batch of `batch` nonces from `nonce_pos` would run past 2^32 - 1.
inline bool range_exhausted(uint32_t nonce_pos, uint32_t batch) { return nonce_pos > UINT32_MAX - batch; }

// Writes the engine nonce `n` little-endian into header bytes 1483..1486.
inline void put_engine_nonce(uint8_t hdr[kBlockHeaderSize], uint32_t n) {
  for (int i = 0; i < 4; ++i) hdr[kEngineNonceOffset + i] = static_cast<uint8_t>(n >> (8 * i));
}

}  // namespace tlm
