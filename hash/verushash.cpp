// The per-job half of VerusHash 2.2 (canonical clearing, prefix chain, key
// generation, job state) and the whole-header reference hash built on it.
#include "hash/verushash.h"

#include <immintrin.h>

#include <cstdint>
#include <cstring>
#include <mutex>

#include "hash/haraka.h"
#include "hash/haraka_ops.h"
#include "hash/header_layout.h"

namespace {

constexpr int kKeyBytes = 8832;
constexpr int kKeyChunks = kKeyBytes / 32;  // 276 chained Haraka-256 outputs
constexpr int kPrefixChunks = tlm::kTailOffset / 32;  // 46 compressions
constexpr int kJobBlock = 8896;             // the final block inside a job state
constexpr int kJobAccStart = 8960;          // the accumulator's start word
constexpr int kAccStartInKey = 8208;        // key word 513

// The final block's bytes 47..63 repeat its first 16 bytes and then its first byte.
void complete_block(uint8_t block[64]) {
  std::memcpy(block + 47, block, 16);
  block[63] = block[0];
}

}  // namespace

extern "C" {

void vh_clear_noncanonical(uint8_t header[tlm::kHeaderSize]) {
  if (header[143] <= 6 || header[148] == 0) return;
  std::memset(header + 4, 0, 96);    // previous block hash, merkle and sapling roots
  std::memset(header + 104, 0, 36);  // bits and the nonce field
  std::memset(header + 151, 0, 64);  // solution bytes 8..71
}

void vh_prefix(const uint8_t header[tlm::kHeaderSize], uint8_t block[64]) {
  __m128i chain[2] = {_mm_setzero_si128(), _mm_setzero_si128()};
  for (int i = 0; i < kPrefixChunks; i++) {
    const __m128i* piece = reinterpret_cast<const __m128i*>(header + 32 * i);
    __m128i s0 = chain[0], s1 = chain[1];
    __m128i s2 = _mm_loadu_si128(piece), s3 = _mm_loadu_si128(piece + 1);
    haraka512_words(s0, s1, s2, s3, haraka_rc);
    haraka512_truncate(chain, s0, s1, s2, s3);
  }
  std::memcpy(block, chain, 32);
  std::memcpy(block + 32, header + tlm::kTailOffset, 15);
}

void vh_genkey(const uint8_t* seed, uint8_t key[8832]) {
  // A local copy of RC0..RC19 tells the compiler the stores into the key cannot
  // change them, so they stay loaded across the 276 calls.
  __m128i rc[20];
  std::memcpy(rc, haraka_rc, sizeof rc);
  __m128i s0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(seed));
  __m128i s1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(seed) + 1);
  __m128i* out = reinterpret_cast<__m128i*>(key);
  for (int j = 0; j < kKeyChunks; j++) {
    haraka256_words(s0, s1, rc);
    _mm_storeu_si128(out + 2 * j, s0);
    _mm_storeu_si128(out + 2 * j + 1, s1);
  }
}

void vh_job_init(uint8_t job[9024], const uint8_t header[tlm::kHeaderSize]) {
  uint8_t copy[tlm::kHeaderSize];
  std::memcpy(copy, header, tlm::kHeaderSize);
  vh_clear_noncanonical(copy);
  uint8_t* block = job + kJobBlock;
  vh_prefix(copy, block);
  complete_block(block);
  vh_genkey(block, job);
  std::memcpy(job + kJobAccStart, job + kAccStartInKey, 16);
}

void vh_hash_header(uint8_t out[32], const uint8_t header[tlm::kHeaderSize]) {
  uint8_t copy[tlm::kHeaderSize];
  std::memcpy(copy, header, tlm::kHeaderSize);
  vh_clear_noncanonical(copy);
  alignas(32) uint8_t block[64];
  vh_prefix(copy, block);
  // Both keys live on the stack: this path has no allocation that could fail.
  alignas(64) uint8_t pristine[kKeyBytes];
  alignas(64) uint8_t working[kKeyBytes];
  vh_genkey(block, pristine);
  std::memcpy(working, pristine, kKeyBytes);
  vh_hash_ref(out, block, working, pristine);
}

void vh_oracle(uint8_t out[32], const uint8_t header[tlm::kHeaderSize]) {
  static std::once_flag filled;
  std::call_once(filled, haraka_init);
  vh_hash_header(out, header);
}

}  // extern "C"
