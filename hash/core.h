// VerusHash 2.2 written once against the 128-bit word: the prefix chain, the key
// generation and job precomputation, the key mixing, its reduction and the keyed
// final step. Each architecture's folder compiles it with its word header
// (included first) into one hash core (hash/verushash.h); the engine's kernels use
// the same pieces for many nonces at once. Internal linkage throughout.
#pragma once

#include <cstdint>
#include <cstring>

#include "hash/haraka_ops.h"
#include "hash/header_layout.h"
#include "hash/job_layout.h"
#include "hash/verushash.h"

namespace {

constexpr uint64_t kKeyWordMask = tlm::kKeyMask >> 4;  // words 0..511

// The final block's bytes 47..63 repeat its first 16 bytes and then its first byte.
inline void complete_block(uint8_t block[64]) {
  std::memcpy(block + 47, block, 16);
  block[63] = block[0];
}

// The 46 Haraka-512 compressions over header bytes 0..1471, with haraka_rc: block
// bytes 0..31 are the chain value, 32..46 the header's last 15 bytes.
inline void prefix_chain(const uint8_t header[tlm::kHeaderSize], uint8_t block[64]) {
  alignas(16) uint8_t chain[32] = {};
  for (size_t i = 0; i < tlm::kTailOffset / 32; i++) {
    Word s0 = load(chain), s1 = load(chain + 16);
    Word s2 = loadu(header + 32 * i), s3 = loadu(header + 32 * i + 16);
    haraka512_words(s0, s1, s2, s3, haraka_rc_words());
    haraka512_truncate(chain, s0, s1, s2, s3);
  }
  std::memcpy(block, chain, 32);
  std::memcpy(block + 32, header + tlm::kTailOffset, 15);
}

// The key: 276 chained Haraka-256 outputs from seed bytes 0..31.
inline void generate_key(const uint8_t* seed, uint8_t key[tlm::kKeyBytes]) {
  // A local copy of RC0..RC19 tells the compiler the stores into the key cannot
  // change them, so they stay loaded across the 276 calls.
  Word rc[20];
  std::memcpy(rc, haraka_rc.bytes, sizeof rc);
  Word s0 = loadu(seed), s1 = loadu(seed + 16);
  for (size_t j = 0; j < tlm::kKeyBytes / 32; j++) {
    haraka256_words(s0, s1, rc);
    storeu(key + 32 * j, s0);
    storeu(key + 32 * j + 16, s1);
  }
}

inline void job_init(uint8_t job[tlm::kJobBytes], const uint8_t header[tlm::kHeaderSize]) {
  uint8_t copy[tlm::kHeaderSize];
  std::memcpy(copy, header, tlm::kHeaderSize);
  vh_clear_noncanonical(copy);
  uint8_t* block = job + tlm::kJobBlock;
  prefix_chain(copy, block);
  complete_block(block);
  generate_key(block, job);
  std::memcpy(job + tlm::kJobAccStart, job + tlm::kAccStartInKey, 16);
}

// A word holding, in bits 0..31, the low 32 bits of dividend modulo the low 32
// bits of sel read as a signed number. The division truncates, so a negative
// dividend gives a negative remainder. The branches that divide are picked by
// bits 2..4 of sel being 011 or 110, so the divisor is never 0 or -1.
inline Word remainder_word(int64_t dividend, uint64_t sel) {
  const int64_t divisor = int32_t(uint32_t(sel));
  return low32_word(uint32_t(dividend % divisor));
}

// The 32 mixing steps over the key (552 words, changed) driven by the completed
// block: records the addresses of the 64 key words the steps picked, in order, and
// returns the accumulator. Written for clarity; the kernels must match it bit for
// bit.
inline Word mix(Word* key, const uint8_t block[64], Word* moves[64]) {
  Word acc = load(key + tlm::kAccStartInKey / 16);
  const Word b0 = loadu(block), b1 = loadu(block + 16), b2 = loadu(block + 32), b3 = loadu(block + 48);
  const Word u[4] = {b0 ^ b2, b1 ^ b3, b2, b3};

  for (int step = 0; step < 32; step++) {
    const uint64_t sel = low64(acc);
    Word* const pw = key + ((sel >> 5) & kKeyWordMask);
    Word* const xw = key + ((sel >> 32) & kKeyWordMask);
    moves[2 * step] = pw;
    moves[2 * step + 1] = xw;
    // Both words are read before either is stored, so when pw == xw each branch
    // sees the old value and its later store wins.
    const Word p = load(pw);
    const Word x = load(xw);
    const unsigned i = sel & 3;
    const Word b = u[i];
    const Word o = u[i ^ 1];  // u1, u0, u3, u2 for i = 0, 1, 2, 3

    switch (sel & 0x1C) {
      case 0x00:
        acc = acc ^ clmul_lohi(x ^ o);
        store(pw, x ^ mulhrs16(acc, x));
        acc = acc ^ clmul_lohi(p ^ b);
        store(xw, p ^ mulhrs16(acc, p));
        break;
      case 0x04:
        acc = acc ^ clmul_lohi(b) ^ clmul_lohi(b ^ p);
        store(xw, p ^ mulhrs16(acc, p));
        acc = acc ^ x ^ o;
        store(pw, x ^ mulhrs16(acc, x));
        break;
      case 0x08:
        acc = acc ^ b ^ x;
        store(pw, x ^ mulhrs16(acc, x));
        acc = acc ^ clmul_lohi(o) ^ clmul_lohi(o ^ p);
        store(xw, p ^ mulhrs16(acc, p));
        break;
      case 0x0C: {
        acc = acc ^ p ^ o;
        const int64_t d = int64_t(low64(acc));
        acc = acc ^ remainder_word(d, sel);
        store(xw, p ^ mulhrs16(acc, p));
        if (d & 1) {
          acc = acc ^ clmul_lohi(b) ^ clmul_lohi(x ^ b);
          store(pw, x ^ mulhrs16(acc, x));
        } else {
          store(pw, x);
          acc = acc ^ b;
        }
        break;
      }
      case 0x10: {
        Word s0 = o, s1 = b;
        for (int j = 0; j < 3; j++) {
          haraka_aes2(s0, s1, pw + 4 * j);
          haraka_mix2(s0, s1);
        }
        acc = acc ^ s0 ^ s1;
        store(xw, p ^ mulhrs16(acc, p));
        store(pw, x);
        break;
      }
      case 0x14: {
        const int n = int(sel >> 61);
        int w = 0, a = 0;
        for (int r = n; r >= 0; r--) {
          const Word k = load(pw + w++);
          if ((sel >> (28 + r)) & 1) {
            acc = acc ^ clmul_lohi(k ^ ((r & 1) ? b : o));
          } else {
            Word s0 = k, s1 = (r & 1) ? o : b;
            haraka_aes2(s0, s1, pw + w + a);
            a += 4;
            haraka_mix2(s0, s1);
            acc = acc ^ s0 ^ s1;
          }
        }
        store(xw, p ^ mulhrs16(acc, p));
        store(pw, x);
        break;
      }
      case 0x18: {
        const int n = int(sel >> 61);
        Word t = zero_word();
        for (int r = n; r >= 0; r--) {
          const Word k = load(pw + (n - r));
          if ((sel >> (28 + r)) & 1) {
            t = k ^ ((r & 1) ? b : o);
            acc = acc ^ remainder_word(int64_t(low64(t)), sel);
          } else {
            t = clmul_lohi(k ^ ((r & 1) ? o : b));
            acc = acc ^ mulhrs16(acc, t);
          }
        }
        store(xw, t);
        store(pw, x ^ acc);
        break;
      }
      case 0x1C:
        acc = acc ^ clmul_lohi(b ^ x);
        store(pw, x ^ mulhrs16(acc, x));
        acc = acc ^ p ^ o;
        store(xw, p ^ mulhrs16(acc, p));
        break;
    }
  }
  return acc;
}

// Reduces the mixing accumulator, with its length term, to the 64-bit intermediate.
inline uint64_t reduce(Word acc) {
  // Entry n is the carry-less product of n and 0x1B.
  static constexpr uint8_t kFold[16] = {0x00, 0x1B, 0x36, 0x2D, 0x6C, 0x77, 0x5A, 0x41,
                                        0xD8, 0xC3, 0xEE, 0xF5, 0xB4, 0xAF, 0x82, 0x99};
  // The length term is the carry-less product of 64 and 1024, i.e. bit 16.
  const Word a = acc ^ low32_word(0x10000);
  // Fold the high half into the low one modulo x^64 + x^4 + x^3 + x + 1; the
  // product is at most 68 bits, the 4 bits above 64 are folded once more by table.
  const Word q = clmul_high_low(a, low32_word(0x1B));
  return low64(a) ^ low64(q) ^ kFold[high64(q) & 15];
}

// The per-nonce half: block bytes 0..46 and the working key (16-byte aligned,
// changed during the call and equal to the pristine key again at its end) give out.
inline void hash_ref(uint8_t out[32], const uint8_t* block, uint8_t key[tlm::kKeyBytes],
                     const uint8_t pristine[tlm::kKeyBytes]) {
  alignas(16) uint8_t local[64];
  std::memcpy(local, block, 47);
  complete_block(local);

  Word* const words = reinterpret_cast<Word*>(key);
  Word* moves[64];
  const uint64_t inter = reduce(mix(words, local, moves));

  std::memcpy(local + 47, &inter, 8);
  std::memcpy(local + 55, &inter, 8);
  local[63] = uint8_t(inter);
  // The round keys are read as the mixing left them, before the restore.
  Word s0 = load(local), s1 = load(local + 16), s2 = load(local + 32), s3 = load(local + 48);
  haraka512_words(s0, s1, s2, s3, words + (inter & kKeyWordMask));
  haraka512_truncate(out, s0, s1, s2, s3);

  for (Word* w : moves) std::memcpy(w, pristine + 16 * (w - words), 16);
}

inline void hash_header(uint8_t out[32], const uint8_t header[tlm::kHeaderSize]) {
  uint8_t copy[tlm::kHeaderSize];
  std::memcpy(copy, header, tlm::kHeaderSize);
  vh_clear_noncanonical(copy);
  alignas(32) uint8_t block[64];
  prefix_chain(copy, block);
  // Both keys live on the stack: this path has no allocation that could fail.
  alignas(64) uint8_t pristine[tlm::kKeyBytes];
  alignas(64) uint8_t working[tlm::kKeyBytes];
  generate_key(block, pristine);
  std::memcpy(working, pristine, tlm::kKeyBytes);
  hash_ref(out, block, working, pristine);
}

}  // namespace

