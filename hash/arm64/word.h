// The hash's 128-bit word on ARM64: a NEON register, with the crypto extension's
// AES and PMULL (translation units that include this are built with
// -march=armv8-a+crypto).
//
// Where the instructions differ in meaning from x86's, the functions keep x86's:
// - AESE XORs the key before SubBytes and ShiftRows; the round here is AESE with a
//   zero key, AESMC, then the key XOR, as AESENC does it.
// - SQRDMULH saturates where both lanes are -32768; the rounding multiply here
//   keeps 0x8000 there, as PMULHRSW does.
// - NEON selects by whole bits; the byte masks here count by each byte's top bit.
//
// Internal linkage throughout, as for every word layer (see hash/x86/word.h).
#pragma once

#include <arm_neon.h>

#include <cstdint>

#define TLM_WORD_LAYER "arm64"

namespace {

using Word = uint8x16_t;  // ^, & and | are the vector extension's own

inline Word load(const void* p) { return vld1q_u8(static_cast<const uint8_t*>(p)); }
inline Word loadu(const void* p) { return load(p); }
inline void store(void* p, Word v) { vst1q_u8(static_cast<uint8_t*>(p), v); }
inline void storeu(void* p, Word v) { store(p, v); }
inline Word zero_word() { return vdupq_n_u8(0); }
// ~a & b.
inline Word andnot(Word a, Word b) { return vbicq_u8(b, a); }

inline Word aes_round(Word s, Word key) { return vaesmcq_u8(vaeseq_u8(s, vdupq_n_u8(0))) ^ key; }
// The 128-bit carry-less product of the low and the high 64 bits of x: PMULL2 of
// x's high half and the high half of x with its halves swapped.
inline Word clmul_lohi(Word x) {
  const poly64x2_t p = vreinterpretq_p64_u8(x);
  const poly64x2_t swapped = vreinterpretq_p64_u8(vextq_u8(x, x, 8));
  return vreinterpretq_u8_p128(vmull_high_p64(p, swapped));
}
inline Word clmul_high_low(Word a, Word b) {
  return vreinterpretq_u8_p128(
      vmull_p64(vgetq_lane_p64(vreinterpretq_p64_u8(a), 1), vgetq_lane_p64(vreinterpretq_p64_u8(b), 0)));
}
// The full 32-bit products, rounded and narrowed to their bits 15..30: no
// saturation, so -32768 times -32768 gives 0x8000.
inline Word mulhrs16(Word a, Word b) {
  const int16x8_t x = vreinterpretq_s16_u8(a), y = vreinterpretq_s16_u8(b);
  const int16x4_t low = vrshrn_n_s32(vmull_s16(vget_low_s16(x), vget_low_s16(y)), 15);
  return vreinterpretq_u8_s16(vrshrn_high_n_s32(low, vmull_high_s16(x, y), 15));
}

inline Word lo32(Word a, Word b) {
  return vreinterpretq_u8_u32(vzip1q_u32(vreinterpretq_u32_u8(a), vreinterpretq_u32_u8(b)));
}
inline Word hi32(Word a, Word b) {
  return vreinterpretq_u8_u32(vzip2q_u32(vreinterpretq_u32_u8(a), vreinterpretq_u32_u8(b)));
}
inline Word lo64(Word a, Word b) {
  return vreinterpretq_u8_u64(vzip1q_u64(vreinterpretq_u64_u8(a), vreinterpretq_u64_u8(b)));
}
inline Word hi64(Word a, Word b) {
  return vreinterpretq_u8_u64(vzip2q_u64(vreinterpretq_u64_u8(a), vreinterpretq_u64_u8(b)));
}

inline uint64_t low64(Word x) { return vgetq_lane_u64(vreinterpretq_u64_u8(x), 0); }
inline uint64_t high64(Word x) { return vgetq_lane_u64(vreinterpretq_u64_u8(x), 1); }
inline Word make_word(uint64_t low, uint64_t high) {
  return vreinterpretq_u8_u64(vcombine_u64(vcreate_u64(low), vcreate_u64(high)));
}
inline Word low32_word(uint32_t v) { return vreinterpretq_u8_u32(vsetq_lane_u32(v, vdupq_n_u32(0), 0)); }
inline Word broadcast64(uint64_t v) { return vreinterpretq_u8_u64(vdupq_n_u64(v)); }
inline Word with_byte15(Word x, uint8_t b) { return vsetq_lane_u8(b, x, 15); }

// Byte masks count by each byte's top bit; whole_bytes makes NEON's bit mask of it.
inline Word whole_bytes(Word mask) { return vreinterpretq_u8_s8(vshrq_n_s8(vreinterpretq_s8_u8(mask), 7)); }
inline Word select(Word a, Word b, Word mask) { return vbslq_u8(whole_bytes(mask), b, a); }
inline Word clear_where(Word mask, Word w) { return vbicq_u8(w, whole_bytes(mask)); }
inline Word bytes_of(uint8_t b) { return vdupq_n_u8(b); }
inline Word next_bit(Word mask) { return vaddq_u8(mask, mask); }
inline Word bit0_mask(Word x) { return vdupq_laneq_u8(vshlq_n_u8(x, 7), 0); }
// Bit i of the result is bit kBit of byte i: each byte's bit weighted by 1 << (i
// mod 8), then each half summed.
template <int kBit>
inline uint32_t byte_bits(Word bytes) {
  static const uint8_t kWeights[16] = {1, 2, 4, 8, 16, 32, 64, 128, 1, 2, 4, 8, 16, 32, 64, 128};
  const Word set = vandq_u8(vtstq_u8(bytes, vdupq_n_u8(1u << kBit)), vld1q_u8(kWeights));
  return uint32_t(vaddv_u8(vget_low_u8(set))) | uint32_t(vaddv_u8(vget_high_u8(set))) << 8;
}

}  // namespace
