// The hash's 128-bit word on x86: an SSE register, with AES-NI, PCLMULQDQ, SSSE3
// and SSE4.1 (translation units that include this are built with -maes -mpclmul
// -mssse3 -msse4.1, and wider flags for the wider kernels).
//
// Every function has internal linkage: the kernels include this in translation
// units built with different instruction-set flags, and an ordinary inline
// function would be merged by the linker, so that the SSE build could end up
// running an AVX-encoded copy.
#pragma once

#include <immintrin.h>

#include <cstdint>

#define TLM_WORD_LAYER "x86"

namespace {

using Word = __m128i;  // ^, & and | are the vector extension's own

inline Word load(const void* p) { return _mm_load_si128(static_cast<const __m128i*>(p)); }
inline Word loadu(const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }
inline void store(void* p, Word v) { _mm_store_si128(static_cast<__m128i*>(p), v); }
inline void storeu(void* p, Word v) { _mm_storeu_si128(static_cast<__m128i*>(p), v); }
inline Word zero_word() { return _mm_setzero_si128(); }
// ~a & b.
inline Word andnot(Word a, Word b) { return _mm_andnot_si128(a, b); }

// One AES encryption round: ShiftRows, SubBytes, MixColumns, then the key XOR.
inline Word aes_round(Word s, Word key) { return _mm_aesenc_si128(s, key); }
// The 128-bit carry-less product of the low and the high 64 bits of x.
inline Word clmul_lohi(Word x) { return _mm_clmulepi64_si128(x, x, 0x10); }
// The carry-less product of a's high 64 bits and b's low 64 bits.
inline Word clmul_high_low(Word a, Word b) { return _mm_clmulepi64_si128(a, b, 0x01); }
// Per signed 16-bit lane, (a * b + 0x4000) >> 15 keeping the low 16 bits: both
// lanes -32768 give 0x8000.
inline Word mulhrs16(Word a, Word b) { return _mm_mulhrs_epi16(a, b); }

// 32-bit interleaves: (a0, b0, a1, b1) and (a2, b2, a3, b3).
inline Word lo32(Word a, Word b) { return _mm_unpacklo_epi32(a, b); }
inline Word hi32(Word a, Word b) { return _mm_unpackhi_epi32(a, b); }
// 64-bit interleaves: (a's low half, b's low half) and (a's high half, b's high half).
inline Word lo64(Word a, Word b) { return _mm_unpacklo_epi64(a, b); }
inline Word hi64(Word a, Word b) { return _mm_unpackhi_epi64(a, b); }

inline uint64_t low64(Word x) { return uint64_t(_mm_cvtsi128_si64(x)); }
inline uint64_t high64(Word x) { return uint64_t(_mm_extract_epi64(x, 1)); }
inline Word make_word(uint64_t low, uint64_t high) { return _mm_set_epi64x(int64_t(high), int64_t(low)); }
// Bits 0..31 from v, the rest zero.
inline Word low32_word(uint32_t v) { return _mm_cvtsi32_si128(int32_t(v)); }
inline Word broadcast64(uint64_t v) { return _mm_set1_epi64x(int64_t(v)); }
inline Word with_byte15(Word x, uint8_t b) { return _mm_insert_epi8(x, b, 15); }

// Byte masks: a mask byte counts by its top bit alone.
// a where the mask byte's top bit is clear, b where it is set.
inline Word select(Word a, Word b, Word mask) { return _mm_blendv_epi8(a, b, mask); }
// w with the bytes whose mask byte has its top bit set cleared.
inline Word clear_where(Word mask, Word w) { return _mm_andnot_si128(_mm_cmplt_epi8(mask, _mm_setzero_si128()), w); }
// Every byte equal to b.
inline Word bytes_of(uint8_t b) { return _mm_set1_epi8(char(b)); }
// Every byte shifted left by one bit, so that the next bit comes to the top.
inline Word next_bit(Word mask) { return _mm_add_epi8(mask, mask); }
// A mask that selects everywhere when bit 0 of x is set.
inline Word bit0_mask(Word x) { return _mm_shuffle_epi8(_mm_slli_epi16(x, 7), _mm_setzero_si128()); }
// Bit i of the result is bit kBit of byte i.
template <int kBit>
inline uint32_t byte_bits(Word bytes) {
  return uint32_t(_mm_movemask_epi8(_mm_slli_epi16(bytes, 7 - kBit)));
}

}  // namespace
