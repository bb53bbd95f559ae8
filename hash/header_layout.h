// The 1487-byte block header that VerusHash 2.2 hashes, as the pool's job, the
// miner's nonce and the engine's nonce fill it.
#pragma once

#include <cstddef>

namespace tlm {

inline constexpr size_t kHeaderSize = 1487;
inline constexpr size_t kHashSize = 32;
// Version .. bits and the 32-byte nonce field: what a pool's job gives.
inline constexpr size_t kJobHeaderSize = 140;
inline constexpr size_t kNonceOffset = 108;
inline constexpr size_t kNonceSize = 32;
// The compact-size prefix FD 40 05, then the solution.
inline constexpr size_t kSolutionOffset = 140;
inline constexpr size_t kSolutionSize = 1344;
// The 15 bytes after the hash's 46 chained compressions of 32 bytes: nonce
// copies, then the engine nonce.
inline constexpr size_t kTailOffset = 1472;
// The engine nonce: the last 4 header bytes, little-endian.
inline constexpr size_t kEngineNonceOffset = 1483;

}  // namespace tlm
