// The hash's 128-bit word in plain C++: no special instruction at all. The AES
// round, the carry-less multiply and the rounding multiply are done in software,
// so that this word runs on any 64-bit processor and, as the reference the tests
// check every kernel against, shares no instruction with the kernels.
//
// Internal linkage throughout, as for every word layer (see hash/x86/word.h).
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#define TLM_WORD_LAYER "portable"

static_assert(std::endian::native == std::endian::little, "the word layer reads memory as little-endian");

namespace {

// Bytes 0..7 in lo and 8..15 in hi, little-endian, as in memory.
struct alignas(16) Word {
  uint64_t lo, hi;
};

inline Word operator^(Word a, Word b) { return {a.lo ^ b.lo, a.hi ^ b.hi}; }
inline Word operator&(Word a, Word b) { return {a.lo & b.lo, a.hi & b.hi}; }
inline Word operator|(Word a, Word b) { return {a.lo | b.lo, a.hi | b.hi}; }
inline Word& operator^=(Word& a, Word b) { return a = a ^ b; }

inline Word load(const void* p) {
  Word w;
  std::memcpy(&w, p, sizeof w);
  return w;
}
inline Word loadu(const void* p) { return load(p); }
inline void store(void* p, Word v) { std::memcpy(p, &v, sizeof v); }
inline void storeu(void* p, Word v) { store(p, v); }
inline Word zero_word() { return {0, 0}; }
inline Word andnot(Word a, Word b) { return {~a.lo & b.lo, ~a.hi & b.hi}; }

namespace aes {

constexpr uint8_t times2(uint8_t x) { return uint8_t((x << 1) ^ ((x >> 7) * 0x1B)); }

constexpr uint8_t gf_mul(uint8_t a, uint8_t b) {
  uint8_t p = 0;
  for (int i = 0; i < 8; ++i, a = times2(a), b >>= 1) {
    if (b & 1) p ^= a;
  }
  return p;
}

// The AES S-box: the inverse in GF(2^8), x^254 = x^2 x^4 ... x^128, then the affine
// map.
struct SBox {
  uint8_t at[256];
  constexpr SBox() : at() {
    for (int x = 0; x < 256; ++x) {
      uint8_t inv = 1;
      for (uint8_t power = uint8_t(x), i = 0; i < 7; ++i) {
        power = gf_mul(power, power);
        inv = gf_mul(inv, power);
      }
      const auto rotl = [](uint8_t v, int n) { return uint8_t((v << n) | (v >> (8 - n))); };
      at[x] = uint8_t(inv ^ rotl(inv, 1) ^ rotl(inv, 2) ^ rotl(inv, 3) ^ rotl(inv, 4) ^ 0x63);
    }
  }
};
constexpr SBox kSBox;
static_assert(kSBox.at[0] == 0x63 && kSBox.at[1] == 0x7C && kSBox.at[0x53] == 0xED);

// MixColumns of one column, its four bytes in a u32 (row 0 lowest):
// b_i = 2a_i ^ 3a_(i+1) ^ a_(i+2) ^ a_(i+3).
inline uint32_t mix_column(uint32_t a) {
  const auto times2_all = [](uint32_t v) {
    return ((v & 0x7F7F7F7Fu) << 1) ^ (((v >> 7) & 0x01010101u) * 0x1B);
  };
  const uint32_t next = std::rotr(a, 8);  // byte i holds a_(i+1)
  return times2_all(a ^ next) ^ next ^ std::rotr(a, 16) ^ std::rotr(a, 24);
}

}  // namespace aes

// One AES encryption round as x86's AESENC does it: ShiftRows, SubBytes,
// MixColumns, then the key XOR. Byte 0 is the state's first byte (row 0, column 0).
inline Word aes_round(Word s, Word key) {
  uint8_t in[16];
  std::memcpy(in, &s, 16);
  uint32_t column[4];
  for (int c = 0; c < 4; ++c) {
    // ShiftRows moves row r left by r columns: row r of column c comes from column c + r.
    uint32_t v = 0;
    for (int r = 0; r < 4; ++r) v |= uint32_t(aes::kSBox.at[in[r + 4 * ((c + r) & 3)]]) << (8 * r);
    column[c] = aes::mix_column(v);
  }
  Word out;
  std::memcpy(&out, column, 16);
  return out ^ key;
}

// The 128-bit carry-less product of a and b, four bits of b at a time.
inline Word clmul64(uint64_t a, uint64_t b) {
  // a times 0..15, 67 bits each: low 64 bits and the 3 above.
  uint64_t lo_of[16] = {}, hi_of[16] = {};
  for (int n = 1; n < 16; ++n) {
    const int top = std::bit_width(unsigned(n)) - 1;  // n's highest set bit
    const int rest = n ^ (1 << top);
    lo_of[n] = lo_of[rest] ^ (a << top);
    hi_of[n] = hi_of[rest] ^ (top == 0 ? 0 : a >> (64 - top));
  }
  uint64_t lo = 0, hi = 0;
  for (int shift = 60; shift >= 0; shift -= 4) {
    hi = (hi << 4) | (lo >> 60);
    lo <<= 4;
    const unsigned n = unsigned(b >> shift) & 15;
    lo ^= lo_of[n];
    hi ^= hi_of[n];
  }
  return {lo, hi};
}

inline Word clmul_lohi(Word x) { return clmul64(x.lo, x.hi); }
inline Word clmul_high_low(Word a, Word b) { return clmul64(a.hi, b.lo); }

inline Word mulhrs16(Word a, Word b) {
  int16_t x[8], y[8], r[8];
  std::memcpy(x, &a, 16);
  std::memcpy(y, &b, 16);
  for (int i = 0; i < 8; ++i) r[i] = int16_t(uint16_t(uint32_t((int32_t(x[i]) * y[i] + 0x4000) >> 15)));
  Word out;
  std::memcpy(&out, r, 16);
  return out;
}

inline Word lo32(Word a, Word b) {
  return {(a.lo & 0xFFFFFFFFu) | (b.lo << 32), (a.lo >> 32) | (b.lo & 0xFFFFFFFF00000000u)};
}
inline Word hi32(Word a, Word b) {
  return {(a.hi & 0xFFFFFFFFu) | (b.hi << 32), (a.hi >> 32) | (b.hi & 0xFFFFFFFF00000000u)};
}
inline Word lo64(Word a, Word b) { return {a.lo, b.lo}; }
inline Word hi64(Word a, Word b) { return {a.hi, b.hi}; }

inline uint64_t low64(Word x) { return x.lo; }
inline uint64_t high64(Word x) { return x.hi; }
inline Word make_word(uint64_t low, uint64_t high) { return {low, high}; }
inline Word low32_word(uint32_t v) { return {v, 0}; }
inline Word broadcast64(uint64_t v) { return {v, v}; }
inline Word with_byte15(Word x, uint8_t b) { return {x.lo, (x.hi & 0x00FFFFFFFFFFFFFFu) | (uint64_t(b) << 56)}; }

// Byte masks count by each byte's top bit, as in the other word layers.
inline uint64_t whole_bytes(uint64_t mask) { return ((mask >> 7) & 0x0101010101010101u) * 0xFF; }
inline Word select(Word a, Word b, Word mask) {
  const uint64_t lo = whole_bytes(mask.lo), hi = whole_bytes(mask.hi);
  return {(a.lo & ~lo) | (b.lo & lo), (a.hi & ~hi) | (b.hi & hi)};
}
inline Word clear_where(Word mask, Word w) { return {w.lo & ~whole_bytes(mask.lo), w.hi & ~whole_bytes(mask.hi)}; }
inline Word bytes_of(uint8_t b) { return broadcast64(0x0101010101010101u * b); }
inline Word next_bit(Word mask) {
  return {(mask.lo << 1) & 0xFEFEFEFEFEFEFEFEu, (mask.hi << 1) & 0xFEFEFEFEFEFEFEFEu};
}
inline Word bit0_mask(Word x) { return bytes_of(uint8_t((x.lo & 1) << 7)); }
template <int kBit>
inline uint32_t byte_bits(Word bytes) {
  uint32_t bits = 0;
  for (int i = 0; i < 8; ++i) {
    bits |= uint32_t((bytes.lo >> (8 * i + kBit)) & 1) << i;
    bits |= uint32_t((bytes.hi >> (8 * i + kBit)) & 1) << (8 + i);
  }
  return bits;
}

}  // namespace
