// The x86 kernels' wider forms of the hooks of engine/lane_kernel.h (PlainHooks),
// for the builds with VAES: the four states of the final Haraka-512 in one 512-bit
// register (two 256-bit ones), branch 0x14's passes all at once instead of in a
// loop, and with AVX-512 branch 0x18's pass operands four at a time. Builds
// without VAES use PlainHooks as they are.
#pragma once

#include <immintrin.h>
#include <stdint.h>

#include "engine/lane_kernel.h"

namespace {

#if defined(__VAES__)
// Branch 0x14's passes with VAES: all eight pass slots at once, whatever the
// lane's pass count, so that no loop exit is mispredicted. The carry-less multiply
// takes four passes per instruction (two with 256 bits) and AES two (one), the two
// states of a pass side by side; the slots past the pass count and the
// alternative each pass does not take are masked off before the terms are added
// up.

// For each pattern of the passes' bits (pass j's at bit 7 - j): where each pass's
// AES round keys start in branch 0x14, in bytes from its first key word (they
// follow the pass's own word, and each AES pass uses four), and the passes whose
// bit is set (clmul in branch 0x14, division in 0x18) as a mask of 64-bit
// elements, two per pass. The slots past the pass count read words too, at most
// 39 words past the first, which is word 511 at most: still inside the key.
struct PassPlan {
  uint16_t key_at[256][8];
  uint16_t bit_set[256];
};

constexpr PassPlan make_pass_plan() {
  PassPlan plan{};
  for (int pattern = 0; pattern < 256; ++pattern) {
    int word = 1;
    for (int j = 0; j < 8; ++j) {
      const bool clmul = (pattern >> (7 - j)) & 1;
      plan.key_at[pattern][j] = uint16_t(16 * word);
      word += clmul ? 1 : 5;
      if (clmul) plan.bit_set[pattern] |= uint16_t(3u << (2 * j));
    }
  }
  return plan;
}

constexpr PassPlan kPassPlan = make_pass_plan();

inline __m256i load2(const uint8_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
#endif

#if defined(__AVX512F__) && defined(__VAES__)
// Masked forms with every mask bit set are the plain instructions; GCC 12 warns
// about the undefined filler that the unmasked intrinsics pass.
inline __m512i broadcast_word(__m128i v) { return _mm512_maskz_broadcast_i32x4(0xFFFF, v); }
// The partners of four consecutive passes: `even` for passes 0 and 2, `odd` for 1 and 3.
inline __m512i by_parity(__m128i even, __m128i odd) {
  return _mm512_mask_blend_epi64(0xCC, broadcast_word(even), broadcast_word(odd));
}
// Two key words at lo, then two at hi.
inline __m512i words_2x2(const uint8_t* lo, const uint8_t* hi) {
  return _mm512_mask_broadcast_i64x4(_mm512_maskz_broadcast_i64x4(0x0F, load2(lo)), 0xF0, load2(hi));
}

// The XOR of the terms of passes 0..n. Pass j's word is key[j]; its AES partner is
// with_aes on even passes and with_clmul on odd ones, its clmul partner the other.
inline __m128i all_aes_clmul_passes(const __m128i* key, int n, uint8_t pattern, __m128i with_aes,
                                    __m128i with_clmul) {
  const uint8_t* base = reinterpret_cast<const uint8_t*>(key);
  const uint16_t* key_at = kPassPlan.key_at[pattern];
  const __m512i aes_partner = by_parity(with_aes, with_clmul);
  const __m512i clmul_partner = by_parity(with_clmul, with_aes);
  // 64-bit elements: pass j's word and AES partner as the two states of a pair.
  const __m512i first_pair = _mm512_setr_epi64(0, 1, 8, 9, 2, 3, 10, 11);
  const __m512i second_pair = _mm512_setr_epi64(4, 5, 8, 9, 6, 7, 10, 11);
  // 32-bit elements of two pair registers: each pass's mix layer (lo32 ^ hi32).
  const __m512i lo32 = _mm512_setr_epi32(0, 4, 1, 5, 8, 12, 9, 13, 16, 20, 17, 21, 24, 28, 25, 29);
  const __m512i hi32 = _mm512_setr_epi32(2, 6, 3, 7, 10, 14, 11, 15, 18, 22, 19, 23, 26, 30, 27, 31);
  __m512i by_aes[2], by_clmul[2];
  for (int half = 0; half < 2; ++half) {
    const __m512i words = _mm512_loadu_si512(key + 4 * half);
    const __m512i to_clmul = _mm512_xor_si512(words, clmul_partner);
    by_clmul[half] = _mm512_clmulepi64_epi128(to_clmul, to_clmul, 0x10);
    __m512i pair[2];
    for (int p = 0; p < 2; ++p) {
      const int j = 4 * half + 2 * p;
      const uint8_t* k0 = base + key_at[j];
      const uint8_t* k1 = base + key_at[j + 1];
      __m512i s = _mm512_permutex2var_epi64(words, p == 0 ? first_pair : second_pair, aes_partner);
      s = _mm512_aesenc_epi128(s, words_2x2(k0, k1));
      pair[p] = _mm512_aesenc_epi128(s, words_2x2(k0 + 32, k1 + 32));
    }
    by_aes[half] = _mm512_xor_si512(_mm512_permutex2var_epi32(pair[0], lo32, pair[1]),
                                    _mm512_permutex2var_epi32(pair[0], hi32, pair[1]));
  }
  const unsigned clmul = kPassPlan.bit_set[pattern];
  const unsigned valid = (4u << (2 * n)) - 1;
  __m512i sum = _mm512_setzero_si512();
  for (int half = 0; half < 2; ++half) {
    const __m512i term = _mm512_mask_blend_epi64(__mmask8(clmul >> (8 * half)), by_aes[half], by_clmul[half]);
    sum = _mm512_mask_xor_epi64(sum, __mmask8(valid >> (8 * half)), sum, term);
  }
  const __m256i sum2 = _mm256_xor_si256(_mm512_maskz_extracti64x4_epi64(0xF, sum, 0),
                                        _mm512_maskz_extracti64x4_epi64(0xF, sum, 1));
  return _mm_xor_si128(_mm256_castsi256_si128(sum2), _mm256_extracti128_si256(sum2, 1));
}

// Branch 0x18's per-pass operands for all eight pass slots at once, four to a
// register: the dividend word of each division pass (zero for a multiply pass)
// and the clmul product of each multiply pass (zero for a division pass). Pass j's
// word is key[j]; its division partner is with_div on even passes and with_mul on
// odd ones, its multiply partner the other.
inline void div_mul_terms(const __m128i* key, uint8_t pattern, __m128i with_div, __m128i with_mul,
                          __m128i dividend[8], __m128i product[8]) {
  const __m512i div_partner = by_parity(with_div, with_mul);
  const __m512i mul_partner = by_parity(with_mul, with_div);
  const unsigned division = kPassPlan.bit_set[pattern];
  for (int half = 0; half < 2; ++half) {
    const __m512i words = _mm512_loadu_si512(key + 4 * half);
    const __mmask8 div_slots = __mmask8(division >> (8 * half));
    const __m512i to_mul = _mm512_maskz_xor_epi64(__mmask8(~div_slots), words, mul_partner);
    _mm512_storeu_si512(dividend + 4 * half, _mm512_maskz_xor_epi64(div_slots, words, div_partner));
    _mm512_storeu_si512(product + 4 * half, _mm512_clmulepi64_epi128(to_mul, to_mul, 0x10));
  }
}
#elif defined(__AVX2__) && defined(__VAES__)
// As above, with 256-bit registers: register q holds passes 2q and 2q + 1.
inline __m128i all_aes_clmul_passes(const __m128i* key, int n, uint8_t pattern, __m128i with_aes,
                                    __m128i with_clmul) {
  const uint8_t* base = reinterpret_cast<const uint8_t*>(key);
  const uint16_t* key_at = kPassPlan.key_at[pattern];
  const __m256i aes_partner = _mm256_set_m128i(with_clmul, with_aes);
  const __m256i clmul_partner = _mm256_set_m128i(with_aes, with_clmul);
  // The blends read the top bit of each 64-bit element: element e of register q
  // takes bit 4q + e of the 16-bit masks.
  const __m256i clmul = _mm256_set1_epi64x(kPassPlan.bit_set[pattern]);
  const __m256i valid = _mm256_set1_epi64x((4 << (2 * n)) - 1);
  __m256i sum = _mm256_setzero_si256();
  for (int q = 0; q < 4; ++q) {
    const __m256i words = load2(base + 32 * q);
    const __m256i to_clmul = _mm256_xor_si256(words, clmul_partner);
    const __m256i by_clmul = _mm256_clmulepi64_epi128(to_clmul, to_clmul, 0x10);
    // Pass 2q's word and partner, then pass 2q + 1's, each with its round keys.
    const uint8_t* k0 = base + key_at[2 * q];
    const uint8_t* k1 = base + key_at[2 * q + 1];
    __m256i s[2] = {_mm256_permute2x128_si256(words, aes_partner, 0x20),
                    _mm256_permute2x128_si256(words, aes_partner, 0x31)};
    s[0] = _mm256_aesenc_epi128(_mm256_aesenc_epi128(s[0], load2(k0)), load2(k0 + 32));
    s[1] = _mm256_aesenc_epi128(_mm256_aesenc_epi128(s[1], load2(k1)), load2(k1 + 32));
    const __m256i first = _mm256_permute2x128_si256(s[0], s[1], 0x20);
    const __m256i second = _mm256_permute2x128_si256(s[0], s[1], 0x31);
    const __m256i by_aes = _mm256_xor_si256(_mm256_unpacklo_epi32(first, second),
                                            _mm256_unpackhi_epi32(first, second));
    const __m256i shift = _mm256_setr_epi64x(63 - 4 * q, 62 - 4 * q, 61 - 4 * q, 60 - 4 * q);
    const __m256d term = _mm256_blendv_pd(_mm256_castsi256_pd(by_aes), _mm256_castsi256_pd(by_clmul),
                                          _mm256_castsi256_pd(_mm256_sllv_epi64(clmul, shift)));
    const __m256d kept = _mm256_blendv_pd(_mm256_setzero_pd(), term,
                                          _mm256_castsi256_pd(_mm256_sllv_epi64(valid, shift)));
    sum = _mm256_xor_si256(sum, _mm256_castpd_si256(kept));
  }
  return _mm_xor_si128(_mm256_castsi256_si128(sum), _mm256_extracti128_si256(sum, 1));
}
#endif

#if defined(__VAES__) && defined(__AVX512F__)
struct WideHooks : PlainHooks {
  static void haraka512(Word& s0, Word& s1, Word& s2, Word& s3, const Word* k) {
    // The masked forms with every mask bit set are the plain instructions; GCC 12
    // warns about the undefined filler that the unmasked intrinsics pass.
    const __m512i low = _mm512_mask_broadcast_i64x4(_mm512_setzero_si512(), 0x0F, _mm256_set_m128i(s1, s0));
    const __m512i in = _mm512_mask_broadcast_i64x4(low, 0xF0, _mm256_set_m128i(s3, s2));
    // haraka_mix4 as a gather of 32-bit words: word i of the result is word mix[i].
    const __m512i mix = _mm512_setr_epi32(3, 11, 7, 15, 8, 0, 12, 4, 9, 1, 13, 5, 2, 10, 6, 14);
    __m512i s = in;
    for (int r = 0; r < 5; r++) {
      s = _mm512_aesenc_epi128(s, _mm512_loadu_si512(k + 8 * r));
      s = _mm512_aesenc_epi128(s, _mm512_loadu_si512(k + 8 * r + 4));
      s = _mm512_mask_permutexvar_epi32(s, 0xFFFF, mix, s);
    }
    s = _mm512_xor_si512(s, in);
    const __m128i zero = _mm_setzero_si128();
    s0 = _mm512_mask_extracti32x4_epi32(zero, 0xF, s, 0);
    s1 = _mm512_mask_extracti32x4_epi32(zero, 0xF, s, 1);
    s2 = _mm512_mask_extracti32x4_epi32(zero, 0xF, s, 2);
    s3 = _mm512_mask_extracti32x4_epi32(zero, 0xF, s, 3);
  }

  static Word aes_clmul_passes(Word acc, const Word* key, int n, int64_t bits, Word with_aes, Word with_clmul) {
    return acc ^ all_aes_clmul_passes(key, n, uint8_t(uint64_t(bits) >> 56), with_aes, with_clmul);
  }

  // Each pass adds one term to the accumulator, the other being zero: the
  // product's rounding multiply, or the remainder (0 % q is 0).
  static Word div_mul_passes(Word& acc, const Word* key, int n, int64_t bits, int64_t q, Word with_div,
                             Word with_mul) {
    alignas(64) __m128i dividend[8], product[8];
    div_mul_terms(key, uint8_t(uint64_t(bits) >> 56), with_div, with_mul, dividend, product);
    for (int j = 0; j <= n; ++j) {
      const __m128i remainder = low32_word(uint32_t(int64_t(low64(dividend[j])) % q));
      acc = _mm_ternarylogic_epi64(acc, mulhrs16(acc, product[j]), remainder, 0x96);
    }
    return dividend[n] ^ product[n];
  }
};
#elif defined(__VAES__) && defined(__AVX2__)
struct WideHooks : PlainHooks {
  static void haraka512(Word& s0, Word& s1, Word& s2, Word& s3, const Word* k) {
    const __m256i in01 = _mm256_set_m128i(s1, s0), in23 = _mm256_set_m128i(s3, s2);
    // haraka_mix4 across the two registers: each is permuted so that every word
    // sits where one of the two results wants it, then blends pick the halves.
    const __m256i from01 = _mm256_setr_epi32(3, 1, 7, 5, 2, 0, 6, 4);
    const __m256i from23 = _mm256_setr_epi32(1, 3, 5, 7, 0, 2, 4, 6);
    __m256i a = in01, b = in23;
    for (int r = 0; r < 5; r++) {
      const __m256i* key = reinterpret_cast<const __m256i*>(k + 8 * r);
      a = _mm256_aesenc_epi128(a, _mm256_loadu_si256(key));
      b = _mm256_aesenc_epi128(b, _mm256_loadu_si256(key + 1));
      a = _mm256_aesenc_epi128(a, _mm256_loadu_si256(key + 2));
      b = _mm256_aesenc_epi128(b, _mm256_loadu_si256(key + 3));
      const __m256i pa = _mm256_permutevar8x32_epi32(a, from01);
      const __m256i pb = _mm256_permutevar8x32_epi32(b, from23);
      a = _mm256_blend_epi32(pa, pb, 0x5A);
      b = _mm256_blend_epi32(pa, pb, 0xA5);
    }
    a = _mm256_xor_si256(a, in01);
    b = _mm256_xor_si256(b, in23);
    s0 = _mm256_castsi256_si128(a);
    s1 = _mm256_extracti128_si256(a, 1);
    s2 = _mm256_castsi256_si128(b);
    s3 = _mm256_extracti128_si256(b, 1);
  }

  static Word aes_clmul_passes(Word acc, const Word* key, int n, int64_t bits, Word with_aes, Word with_clmul) {
    return acc ^ all_aes_clmul_passes(key, n, uint8_t(uint64_t(bits) >> 56), with_aes, with_clmul);
  }
};
#else
using WideHooks = PlainHooks;
#endif

}  // namespace
