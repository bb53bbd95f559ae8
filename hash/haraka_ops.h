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
static inline void haraka512_words(__m128i& s0, __m128i& s1, __m128i& s2, __m128i& s3,
                                   const __m128i* k) {
  const __m128i in0 = s0, in1 = s1, in2 = s2, in3 = s3;
  for (int r = 0; r < 5; r++) {
    haraka_aes4(s0, s1, s2, s3, k + 8 * r);
    haraka_mix4(s0, s1, s2, s3);
  }
  s0 = _mm_xor_si128(s0, in0);
  s1 = _mm_xor_si128(s1, in1);
  s2 = _mm_xor_si128(s2, in2);
  s3 = _mm_xor_si128(s3, in3);
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
