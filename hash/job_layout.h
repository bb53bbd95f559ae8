// The per-job precomputation the kernels start every nonce from: the key and the
// final block of one header.
#pragma once

#include <cstddef>

namespace tlm {

// The key: 552 words of 16 bytes, 276 chained Haraka-256 outputs.
inline constexpr size_t kKeyBytes = 8832;
inline constexpr size_t kKeyWords = kKeyBytes / 16;
// The mixing picks key words 0..511 (the byte mask 0x1FFF).
inline constexpr size_t kKeyMask = 0x1FFF;
// The accumulator starts as key word 513.
inline constexpr size_t kAccStartInKey = 8208;

// The job state, 64-byte aligned: the pristine key, 64 spare bytes, the completed
// 64-byte final block and a copy of the accumulator's start word in a 64-byte
// slot; the rest is not written.
inline constexpr size_t kJobBlock = kKeyBytes + 64;
inline constexpr size_t kJobAccStart = kJobBlock + 64;
inline constexpr size_t kJobBytes = kJobAccStart + 64;
static_assert(kJobBytes == 9024);

}  // namespace tlm
