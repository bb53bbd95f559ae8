// The per-nonce half of VerusHash 2.2, written for clarity: the key mixing, the
// reduction of its accumulator, the keyed final Haraka-512 and the restore of the
// key words the mixing changed. The engine's kernels must match it bit for bit.
#include <immintrin.h>

#include <cstdint>
#include <cstring>

#include "hash/haraka_ops.h"
#include "hash/verushash.h"

namespace {

constexpr uint64_t kKeyMask = 0x1FFF;  // in bytes: the mixing picks words 0..511

uint64_t low64(__m128i x) { return static_cast<uint64_t>(_mm_cvtsi128_si64(x)); }

// A word holding, in bits 0..31, the low 32 bits of dividend modulo the low 32
// bits of sel read as a signed number. The division truncates, so a negative
// dividend gives a negative remainder. The branches that divide are picked by
// bits 2..4 of sel being 011 or 110, so the divisor is never 0 or -1.
__m128i remainder_word(int64_t dividend, uint64_t sel) {
  const int64_t divisor = static_cast<int32_t>(static_cast<uint32_t>(sel));
  return _mm_cvtsi32_si128(static_cast<int32_t>(dividend % divisor));
}

}  // namespace

extern "C" {

__m128i vh22_clmul_ref(__m128i* key, const __m128i* block, uint64_t mask,
                       __m128i* moves[64]) {
  const uint64_t word_mask = mask >> 4;
  __m128i acc = key[((mask & ~uint64_t{15}) + 32) / 16];
  const __m128i u[4] = {block[0] ^ block[2], block[1] ^ block[3], block[2], block[3]};

  for (int step = 0; step < 32; step++) {
    const uint64_t sel = low64(acc);
    __m128i* const pw = key + ((sel >> 5) & word_mask);
    __m128i* const xw = key + ((sel >> 32) & word_mask);
    moves[2 * step] = pw;
    moves[2 * step + 1] = xw;
    // Both words are read before either is stored, so when pw == xw each branch
    // sees the old value and its later store wins.
    const __m128i p = *pw;
    const __m128i x = *xw;
    const unsigned i = sel & 3;
    const __m128i b = u[i];
    const __m128i o = u[i ^ 1];  // u1, u0, u3, u2 for i = 0, 1, 2, 3

    switch (sel & 0x1C) {
      case 0x00:
        acc ^= clmul_lohi(x ^ o);
        *pw = x ^ mulhrs16(acc, x);
        acc ^= clmul_lohi(p ^ b);
        *xw = p ^ mulhrs16(acc, p);
        break;
      case 0x04:
        acc ^= clmul_lohi(b) ^ clmul_lohi(b ^ p);
        *xw = p ^ mulhrs16(acc, p);
        acc ^= x ^ o;
        *pw = x ^ mulhrs16(acc, x);
        break;
      case 0x08:
        acc ^= b ^ x;
        *pw = x ^ mulhrs16(acc, x);
        acc ^= clmul_lohi(o) ^ clmul_lohi(o ^ p);
        *xw = p ^ mulhrs16(acc, p);
        break;
      case 0x0C: {
        acc ^= p ^ o;
        const int64_t d = static_cast<int64_t>(low64(acc));
        acc ^= remainder_word(d, sel);
        *xw = p ^ mulhrs16(acc, p);
        if (d & 1) {
          acc ^= clmul_lohi(b) ^ clmul_lohi(x ^ b);
          *pw = x ^ mulhrs16(acc, x);
        } else {
          *pw = x;
          acc ^= b;
        }
        break;
      }
      case 0x10: {
        __m128i s0 = o, s1 = b;
        for (int j = 0; j < 3; j++) {
          haraka_aes2(s0, s1, pw + 4 * j);
          haraka_mix2(s0, s1);
        }
        acc ^= s0 ^ s1;
        *xw = p ^ mulhrs16(acc, p);
        *pw = x;
        break;
      }
      case 0x14: {
        const int n = static_cast<int>(sel >> 61);
        int w = 0, a = 0;
        for (int r = n; r >= 0; r--) {
          const __m128i k = pw[w++];
          if ((sel >> (28 + r)) & 1) {
            acc ^= clmul_lohi(k ^ ((r & 1) ? b : o));
          } else {
            __m128i s0 = k, s1 = (r & 1) ? o : b;
            haraka_aes2(s0, s1, pw + w + a);
            a += 4;
            haraka_mix2(s0, s1);
            acc ^= s0 ^ s1;
          }
        }
        *xw = p ^ mulhrs16(acc, p);
        *pw = x;
        break;
      }
      case 0x18: {
        const int n = static_cast<int>(sel >> 61);
        __m128i t = _mm_setzero_si128();
        for (int r = n; r >= 0; r--) {
          const __m128i k = pw[n - r];
          if ((sel >> (28 + r)) & 1) {
            t = k ^ ((r & 1) ? b : o);
            acc ^= remainder_word(static_cast<int64_t>(low64(t)), sel);
          } else {
            t = clmul_lohi(k ^ ((r & 1) ? o : b));
            acc ^= mulhrs16(acc, t);
          }
        }
        *xw = t;
        *pw = x ^ acc;
        break;
      }
      case 0x1C:
        acc ^= clmul_lohi(b ^ x);
        *pw = x ^ mulhrs16(acc, x);
        acc ^= p ^ o;
        *xw = p ^ mulhrs16(acc, p);
        break;
    }
  }
  return acc;
}

uint64_t vh_reduce(__m128i acc) {
  // Entry n is the carry-less product of n and 0x1B.
  static const uint8_t kFold[16] = {0x00, 0x1B, 0x36, 0x2D, 0x6C, 0x77, 0x5A, 0x41,
                                    0xD8, 0xC3, 0xEE, 0xF5, 0xB4, 0xAF, 0x82, 0x99};
  // The length term is the carry-less product of 64 and 1024, i.e. bit 16.
  const __m128i a = acc ^ _mm_cvtsi32_si128(0x10000);
  // Fold the high half into the low one modulo x^64 + x^4 + x^3 + x + 1; the
  // product is at most 68 bits, the 4 bits above 64 are folded once more by table.
  const __m128i q = _mm_clmulepi64_si128(a, _mm_cvtsi32_si128(0x1B), 0x01);
  const uint64_t carry = static_cast<uint64_t>(_mm_extract_epi64(q, 1));
  return low64(a) ^ low64(q) ^ kFold[carry & 15];
}

void vh_hash_ref(uint8_t out[32], const uint8_t* block, uint8_t key[8832],
                 const uint8_t pristine[8832]) {
  alignas(16) uint8_t local[64];
  std::memcpy(local, block, 47);
  std::memcpy(local + 47, local, 16);
  local[63] = local[0];

  __m128i* const words = reinterpret_cast<__m128i*>(key);
  __m128i* moves[64];
  const __m128i acc =
      vh22_clmul_ref(words, reinterpret_cast<const __m128i*>(local), kKeyMask, moves);
  const uint64_t inter = vh_reduce(acc);

  std::memcpy(local + 47, &inter, 8);
  std::memcpy(local + 55, &inter, 8);
  local[63] = static_cast<uint8_t>(inter);
  // The round keys are read as the mixing left them, before the restore.
  haraka512_keyed(out, local, words + (inter & (kKeyMask >> 4)));

  for (__m128i* w : moves) std::memcpy(w, pristine + 16 * (w - words), 16);
}

}  // extern "C"
