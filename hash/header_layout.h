// The 1487-byte block header that VerusHash 2.2 hashes, as the pool's job, the
// miner's nonce and the engine's nonce fill it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tlm {

inline constexpr size_t kHeaderSize = 1487;
inline constexpr size_t kHashSize = 32;
// Version .. bits and the 32-byte nonce field: what a pool's job gives.
inline constexpr size_t kJobHeaderSize = 140;
inline constexpr size_t kNonceOffset = 108;
inline constexpr size_t kNonceSize = 32;

// The job's fields before the nonce, as a pool's mining.notify carries them:
// parameter `param` holds `size` bytes in hex, for header bytes `offset` on.
struct JobField {
  size_t param;
  size_t offset;
  size_t size;
};
inline constexpr JobField kJobFields[] = {
    {1, 0, 4},    // version
    {2, 4, 32},   // previous block hash
    {3, 36, 32},  // merkle root
    {4, 68, 32},  // final sapling root
    {5, 100, 4},  // time, echoed with every share
    {6, 104, 4},  // bits
};
inline constexpr JobField kVersionField = kJobFields[0];
inline constexpr JobField kTimeField = kJobFields[4];
inline constexpr JobField kBitsField = kJobFields[5];

// The compact-size prefix FD 40 05, then the solution.
inline constexpr size_t kSolutionOffset = 140;
inline constexpr uint8_t kSolutionPrefix[3] = {0xFD, 0x40, 0x05};
inline constexpr size_t kSolutionSize = 1344;
// The 15 bytes after the hash's 46 chained compressions of 32 bytes: nonce
// copies, then the engine nonce.
inline constexpr size_t kTailOffset = 1472;
// The engine nonce: the last 4 header bytes, little-endian.
inline constexpr size_t kEngineNonceOffset = 1483;

static_assert(kBitsField.offset + kBitsField.size == kNonceOffset);
static_assert(kSolutionOffset + sizeof kSolutionPrefix + kSolutionSize == kHeaderSize);

}  // namespace tlm
