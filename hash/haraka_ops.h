// The Haraka v2 building blocks on 128-bit words, shared by the portable hash and
// the engine's SIMD kernels.
//
// Every function here has internal linkage on purpose: the engine includes this
// header in translation units built with different instruction-set flags (with and
// without -mavx). An ordinary inline function would be merged by the linker, and
// the SSE build could end up running the AVX-encoded copy.
//
// Needs AES-NI, PCLMULQDQ and SSSE3 (-maes -mpclmul -mssse3).
#pragma once

#include <immintrin.h>

#include <cstdint>

// The 40 Haraka v2 round constants RC0..RC39, filled by haraka_init() and only
// read afterwards.
extern "C" alignas(16) __m128i haraka_rc[40];

// Two AES rounds on each of two states, interleaved: s0 with k[0] and k[2],
// s1 with k[1] and k[3].
static inline void haraka_aes2(__m128i& s0, __m128i& s1, const __m128i* k) {
  s0 = _mm_aesenc_si128(s0, k[0]);
  s1 = _mm_aesenc_si128(s1, k[1]);
  s0 = _mm_aesenc_si128(s0, k[2]);
  s1 = _mm_aesenc_si128(s1, k[3]);
}

// The two-state mixing layer: (s0, s1) becomes (lo32(s0, s1), hi32(s0, s1)).
static inline void haraka_mix2(__m128i& s0, __m128i& s1) {
  __m128i lo = _mm_unpacklo_epi32(s0, s1);
  s1 = _mm_unpackhi_epi32(s0, s1);
  s0 = lo;
}

// Two AES rounds on each of four states: first s_j with k[j], then s_j with k[4 + j].
static inline void haraka_aes4(__m128i& s0, __m128i& s1, __m128i& s2, __m128i& s3,
                               const __m128i* k) {
  s0 = _mm_aesenc_si128(s0, k[0]);
  s1 = _mm_aesenc_si128(s1, k[1]);
  s2 = _mm_aesenc_si128(s2, k[2]);
  s3 = _mm_aesenc_si128(s3, k[3]);
  s0 = _mm_aesenc_si128(s0, k[4]);
  s1 = _mm_aesenc_si128(s1, k[5]);
  s2 = _mm_aesenc_si128(s2, k[6]);
  s3 = _mm_aesenc_si128(s3, k[7]);
}

// The four-state mixing layer of Haraka-512.
static inline void haraka_mix4(__m128i& s0, __m128i& s1, __m128i& s2, __m128i& s3) {
  __m128i t = _mm_unpacklo_epi32(s0, s1);
  __m128i u = _mm_unpackhi_epi32(s0, s1);
  __m128i v = _mm_unpacklo_epi32(s2, s3);
  __m128i w = _mm_unpackhi_epi32(s2, s3);
  s0 = _mm_unpackhi_epi32(u, w);
  s1 = _mm_unpacklo_epi32(v, t);
  s2 = _mm_unpackhi_epi32(v, t);
  s3 = _mm_unpacklo_epi32(u, w);
}

// Haraka-512 before truncation: five rounds of haraka_aes4 and haraka_mix4 with
// the 40 round keys k[0..39], then the feed-forward. s0..s3 hold the 64 input
// bytes on entry and the four output words on return. With k = haraka_rc this is
// the unkeyed permutation; the final step of VerusHash passes a pointer into its key.
//
// With VAES the four states share one 512-bit register (or two 256-bit ones): each
// AES layer is then one instruction per register with its round keys loaded
// straight from the four (or two) consecutive key words, and the mixing layer is
// one 32-bit permutation of the register (two and a blend each with 256 bits).
static inline void haraka512_words(__m128i& s0, __m128i& s1, __m128i& s2, __m128i& s3,
                                   const __m128i* k) {
#if defined(__VAES__) && defined(__AVX512F__)
  // The masked forms with every mask bit set are the plain instructions; GCC 12
  // warns about the undefined filler that the unmasked intrinsics pass.
  const __m512i low = _mm512_mask_broadcast_i64x4(_mm512_setzero_si512(), 0x0F,
                                                  _mm256_set_m128i(s1, s0));
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
#elif defined(__VAES__) && defined(__AVX2__)
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
#else
  const __m128i in0 = s0, in1 = s1, in2 = s2, in3 = s3;
  for (int r = 0; r < 5; r++) {
    haraka_aes4(s0, s1, s2, s3, k + 8 * r);
    haraka_mix4(s0, s1, s2, s3);
  }
  s0 = _mm_xor_si128(s0, in0);
  s1 = _mm_xor_si128(s1, in1);
  s2 = _mm_xor_si128(s2, in2);
  s3 = _mm_xor_si128(s3, in3);
#endif
}

// The 32-byte truncation of Haraka-512's output words: the high halves of s0 and
// s1, then the low halves of s2 and s3.
static inline void haraka512_truncate(void* out, __m128i s0, __m128i s1, __m128i s2,
                                      __m128i s3) {
  __m128i* o = static_cast<__m128i*>(out);
  _mm_storeu_si128(o, _mm_unpackhi_epi64(s0, s1));
  _mm_storeu_si128(o + 1, _mm_unpacklo_epi64(s2, s3));
}

// Haraka-512 of the 64 bytes at `in` (any alignment) with round keys k[0..39];
// writes 32 bytes to `out`.
static inline void haraka512_keyed(void* out, const void* in, const __m128i* k) {
  const __m128i* i = static_cast<const __m128i*>(in);
  __m128i s0 = _mm_loadu_si128(i);
  __m128i s1 = _mm_loadu_si128(i + 1);
  __m128i s2 = _mm_loadu_si128(i + 2);
  __m128i s3 = _mm_loadu_si128(i + 3);
  haraka512_words(s0, s1, s2, s3, k);
  haraka512_truncate(out, s0, s1, s2, s3);
}

// Haraka-256: five rounds of haraka_aes2 and haraka_mix2 with the round constants
// rc[0..19] (callers pass haraka_rc or a copy they keep in registers), then the
// feed-forward. s0, s1 hold the 32 input bytes on entry and the output on return.
static inline void haraka256_words(__m128i& s0, __m128i& s1, const __m128i* rc) {
  const __m128i in0 = s0, in1 = s1;
  for (int r = 0; r < 5; r++) {
    haraka_aes2(s0, s1, rc + 4 * r);
    haraka_mix2(s0, s1);
  }
  s0 = _mm_xor_si128(s0, in0);
  s1 = _mm_xor_si128(s1, in1);
}

// The 128-bit carry-less product of the low and the high 64 bits of x.
static inline __m128i clmul_lohi(__m128i x) { return _mm_clmulepi64_si128(x, x, 0x10); }

// Rounding high multiply of eight signed 16-bit lanes (PMULHRSW): per lane
// (a * b + 0x4000) >> 15, keeping the low 16 bits.
static inline __m128i mulhrs16(__m128i a, __m128i b) { return _mm_mulhrs_epi16(a, b); }
