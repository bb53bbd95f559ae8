// The SIMD kernels: VerusHash 2.2 for up to 64 consecutive nonces side by side.
//
// This file is compiled once per instruction set (SSE4.1, AVX, AVX2 with VAES,
// AVX-512 with VAES). Everything except the two entry points of each build has
// internal linkage, so that no wider-encoded function can be picked by the linker
// for a narrower build.
//
// Each lane hashes one nonce with its own working key. The 32 mixing steps run for
// all lanes together: at every step the lanes are grouped by the branch their
// accumulator selects, and each group runs its branch in a tight loop. A lane's
// steps form one long dependency chain, so running many independent lanes per
// loop lets the processor overlap their latencies.
//
// Where the per-branch code differs in form from a one-lane-at-a-time hash, it
// computes the same values more cheaply: each lane's selector is kept in a table
// as its step ends, and before the next step one vector loop over that table
// records every lane's two picked words in the move record and takes out the
// branch bytes, from which the lanes of a branch are found as a bit set; the
// carry-less squares of the buffer words come from the lane record; the looped
// branches compute both alternatives of each pass and keep one by mask, with the
// pass parity and selector bit carried from pass to pass; and the key restore
// finds each pristine word at a fixed distance from the lane's word. With VAES the
// final keyed Haraka-512 holds its four states in one 512-bit register (two
// 256-bit ones), and branch 0x14 computes all its passes at once instead of looping.
// With AVX-512, branch 0x18 computes its passes' operands four at a time before
// its loop, which is then left with the rounding multiplies and the divisions.

#include <immintrin.h>
#include <stddef.h>
#include <stdint.h>

#include "engine/engine.h"
#include "hash/haraka_ops.h"
#include "hash/verushash.h"

namespace {

constexpr int kKeyWords = 552;
constexpr uint64_t kWordMask = 511;  // the byte mask 0x1FFF in 16-byte words
constexpr int kSteps = 32;
constexpr int kBranches = 8;

// One lane's record inside the lane area, kTlmLaneStride bytes apart.
struct Lane {
  __m128i key[kKeyWords];  // working key; equal to the job's key between hashes
  uint8_t spare[64];
  __m128i mix[4];     // buffer words u0..u3 for this lane's nonce
  __m128i mix_sq[4];  // clmul_lohi of each mix word
  __m128i tail;       // final-block word 2 with the nonce in
  __m128i acc;        // accumulator
};
static_assert(offsetof(Lane, mix) == 8896);
static_assert(offsetof(Lane, mix_sq) == 8960);
static_assert(offsetof(Lane, tail) == 9024);
static_assert(offsetof(Lane, acc) == 9040);
static_assert(sizeof(Lane) <= kTlmLaneStride);

// The move records of all lanes, after the last lane record: the key words each
// step picked (P, then X), filled for every lane at once before the step runs and
// read by the step and by the key restore. One table for all lanes lets that fill
// run as a vector loop over the lanes.
struct Moves {
  __m128i* word[kSteps][2][kTlmMaxLanes];
};
static_assert(kTlmMaxLanes * kTlmLaneStride + sizeof(Moves) <= kTlmLaneAreaSize);

inline Moves* moves_of(uint8_t* scratch) {
  return reinterpret_cast<Moves*>(scratch + kTlmMaxLanes * kTlmLaneStride);
}

// Job state offsets.
constexpr size_t kJobBlock = 8896;
constexpr size_t kJobAcc = 8960;

inline __m128i load(const void* p) { return _mm_load_si128(static_cast<const __m128i*>(p)); }
inline void store(void* p, __m128i v) { _mm_store_si128(static_cast<__m128i*>(p), v); }

// Byte by byte: a where the mask byte's top bit is clear, b where it is set.
inline __m128i pick(__m128i a, __m128i b, __m128i mask) { return _mm_blendv_epi8(a, b, mask); }
// Every byte set to the top byte of v: the pass masks of the looped branches'
// per-pass forms, which the AVX-512 build does not use.
[[maybe_unused]] inline __m128i top_byte_everywhere(int64_t v) {
  return _mm_set1_epi8(char(uint8_t(uint64_t(v) >> 56)));
}
inline uint64_t low64(__m128i x) { return uint64_t(_mm_cvtsi128_si64(x)); }
// A word whose bits 0..31 are the low 32 bits of v, the rest zero.
inline __m128i low32_word(int64_t v) { return _mm_cvtsi32_si128(int32_t(uint32_t(v))); }
inline int64_t divisor_of(uint64_t sel) { return int64_t(int32_t(uint32_t(sel))); }

// One Haraka AES layer on two states and the two-state mix after it.
inline void aes2_mix(__m128i& s0, __m128i& s1, const __m128i* k) {
  haraka_aes2(s0, s1, k);
  haraka_mix2(s0, s1);
}

inline Lane* lane_at(uint8_t* scratch, int i) {
  return reinterpret_cast<Lane*>(scratch + size_t(i) * kTlmLaneStride);
}

// Gives lane i of the batch starting at `base` its nonce, buffer words and start
// accumulator.
void setup_lanes(const uint8_t* job, uint8_t* scratch, int lanes, uint32_t base) {
  const __m128i b0 = load(job + kJobBlock);
  const __m128i b1 = load(job + kJobBlock + 16);
  const __m128i b3 = load(job + kJobBlock + 48);
  // The nonce is block bytes 43..46, bytes 11..14 of word 2.
  const __m128i b2 = _mm_and_si128(load(job + kJobBlock + 32),
                                   _mm_set_epi64x(int64_t(0xFF00000000FFFFFFull), -1));
  const __m128i acc = load(job + kJobAcc);
  const __m128i u1 = _mm_xor_si128(b1, b3);
  const __m128i u1_sq = clmul_lohi(u1);
  const __m128i u3_sq = clmul_lohi(b3);
  for (int i = 0; i < lanes; ++i) {
    Lane* lane = lane_at(scratch, i);
    uint32_t nonce = base + uint32_t(i);
    __m128i b2n = _mm_or_si128(b2, _mm_set_epi64x(int64_t(uint64_t(nonce) << 24), 0));
    __m128i u0 = _mm_xor_si128(b0, b2n);
    store(&lane->mix[0], u0);
    store(&lane->mix[1], u1);
    store(&lane->mix[2], b2n);
    store(&lane->mix[3], b3);
    store(&lane->mix_sq[0], clmul_lohi(u0));
    store(&lane->mix_sq[1], u1_sq);
    store(&lane->mix_sq[2], clmul_lohi(b2n));
    store(&lane->mix_sq[3], u3_sq);
    store(&lane->tail, b2n);
    store(&lane->acc, acc);
  }
}

// What every branch starts from: the selector, the two picked key words (already
// in the move record) and the two buffer words.
struct Step {
  uint64_t sel;
  __m128i* P;
  __m128i* X;
  __m128i p, x;  // the picked words' values before the step
  __m128i B, O;
  __m128i B_sq, O_sq;  // clmul_lohi of B and O, from the lane record
  __m128i acc;

  Step(Lane* lane, uint64_t selector, __m128i* first, __m128i* second) {
    acc = load(&lane->acc);
    sel = selector;
    P = first;
    X = second;
    p = load(P);
    x = load(X);
    // As byte offsets, so that O's offset is B's with one bit flipped.
    const uint8_t* mix = reinterpret_cast<const uint8_t*>(lane->mix);
    const uint8_t* mix_sq = reinterpret_cast<const uint8_t*>(lane->mix_sq);
    const size_t b_offset = size_t(sel & 3) * sizeof(__m128i);
    const size_t o_offset = b_offset ^ sizeof(__m128i);
    B = load(mix + b_offset);
    O = load(mix + o_offset);
    B_sq = load(mix_sq + b_offset);
    O_sq = load(mix_sq + o_offset);
  }
};

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
inline __m128i aes_clmul_passes(const __m128i* key, int n, uint8_t pattern, __m128i with_aes,
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
inline __m128i aes_clmul_passes(const __m128i* key, int n, uint8_t pattern, __m128i with_aes,
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

// The eight branches. Each reads every key word it needs before its first store;
// where P and X are the same word the later store is the one that stays.
template <int kBranch>
inline __m128i run_step(Lane* lane, uint64_t sel, __m128i* P, __m128i* X) {
  Step t(lane, sel, P, X);
  __m128i acc = t.acc;
  if constexpr (kBranch == 0) {
    acc = _mm_xor_si128(acc, clmul_lohi(_mm_xor_si128(t.x, t.O)));
    __m128i np = _mm_xor_si128(t.x, mulhrs16(acc, t.x));
    acc = _mm_xor_si128(acc, clmul_lohi(_mm_xor_si128(t.p, t.B)));
    store(t.P, np);
    store(t.X, _mm_xor_si128(t.p, mulhrs16(acc, t.p)));
  } else if constexpr (kBranch == 1) {
    acc = _mm_xor_si128(acc, _mm_xor_si128(t.B_sq, clmul_lohi(_mm_xor_si128(t.B, t.p))));
    __m128i nx = _mm_xor_si128(t.p, mulhrs16(acc, t.p));
    acc = _mm_xor_si128(acc, _mm_xor_si128(t.x, t.O));
    store(t.X, nx);
    store(t.P, _mm_xor_si128(t.x, mulhrs16(acc, t.x)));
  } else if constexpr (kBranch == 2) {
    acc = _mm_xor_si128(acc, _mm_xor_si128(t.B, t.x));
    __m128i np = _mm_xor_si128(t.x, mulhrs16(acc, t.x));
    acc = _mm_xor_si128(acc, _mm_xor_si128(t.O_sq, clmul_lohi(_mm_xor_si128(t.O, t.p))));
    store(t.P, np);
    store(t.X, _mm_xor_si128(t.p, mulhrs16(acc, t.p)));
  } else if constexpr (kBranch == 3) {
    acc = _mm_xor_si128(acc, _mm_xor_si128(t.p, t.O));
    int64_t d = int64_t(low64(acc));
    // Odd and even dividends both computed; the parity of d keeps one. The blends
    // read only each byte's top bit: d's bit 0 moved there and copied to every byte.
    const __m128i odd = _mm_shuffle_epi8(_mm_slli_epi16(acc, 7), _mm_setzero_si128());
    acc = _mm_xor_si128(acc, low32_word(d % divisor_of(t.sel)));
    __m128i nx = _mm_xor_si128(t.p, mulhrs16(acc, t.p));
    __m128i acc_odd =
        _mm_xor_si128(acc, _mm_xor_si128(t.B_sq, clmul_lohi(_mm_xor_si128(t.x, t.B))));
    __m128i np_odd = _mm_xor_si128(t.x, mulhrs16(acc_odd, t.x));
    acc = pick(_mm_xor_si128(acc, t.B), acc_odd, odd);
    store(t.X, nx);
    store(t.P, pick(t.x, np_odd, odd));
  } else if constexpr (kBranch == 4) {
    __m128i s0 = t.O, s1 = t.B;
    aes2_mix(s0, s1, t.P);
    aes2_mix(s0, s1, t.P + 4);
    aes2_mix(s0, s1, t.P + 8);
    acc = _mm_xor_si128(acc, _mm_xor_si128(s0, s1));
    store(t.X, _mm_xor_si128(t.p, mulhrs16(acc, t.p)));
    store(t.P, t.x);
  } else if constexpr (kBranch == 5) {
    // Pass r tests bit 28 + r: shifted so that each pass finds its bit on top.
    const int n = int(t.sel >> 61);
    int64_t bits = int64_t(t.sel << (35 - n));
    // B is the clmul operand on odd passes and the AES one on even passes, so the
    // two swap from pass to pass; the first pass (r = n) gives B to AES when n is
    // even.
    const uint64_t first_aes = (t.sel & 3) ^ (uint64_t(n) & 1);
    __m128i with_clmul = load(&lane->mix[first_aes ^ 1]);
    __m128i with_aes = load(&lane->mix[first_aes]);
#if defined(__VAES__)
    const uint8_t pattern = uint8_t(uint64_t(bits) >> 56);
    acc = _mm_xor_si128(acc, aes_clmul_passes(t.P, n, pattern, with_aes, with_clmul));
#else
    // The same bits in every byte for the blends, which look only at each byte's
    // top bit: doubling the bytes brings the next pass's bit to the top.
    __m128i use_clmul = top_byte_everywhere(bits);
    const __m128i* k = t.P;
    const __m128i* aes_keys = t.P + 1;  // the key word after k, plus the AES offset
    for (int r = n; r >= 0; --r) {
      const __m128i word = load(k++);
      __m128i by_clmul = clmul_lohi(_mm_xor_si128(word, with_clmul));
      __m128i s0 = word, s1 = with_aes;
      aes2_mix(s0, s1, aes_keys);
      acc = _mm_xor_si128(acc, pick(_mm_xor_si128(s0, s1), by_clmul, use_clmul));
      // One word on, and four more past the round keys when the AES one was kept.
      aes_keys += 5 + 4 * (bits >> 63);
      bits = int64_t(uint64_t(bits) << 1);
      use_clmul = _mm_add_epi8(use_clmul, use_clmul);
      __m128i swap = with_clmul;
      with_clmul = with_aes;
      with_aes = swap;
    }
#endif
    store(t.X, _mm_xor_si128(t.p, mulhrs16(acc, t.p)));
    store(t.P, t.x);
  } else if constexpr (kBranch == 6) {
    const int64_t q = divisor_of(t.sel);
    const int n = int(t.sel >> 61);
    int64_t bits = int64_t(t.sel << (35 - n));
    // B goes with the division on odd passes and with the multiply on even ones;
    // the first pass (r = n) gives B to the multiply when n is even.
    const uint64_t first_mul = (t.sel & 3) ^ (uint64_t(n) & 1);
    __m128i with_div = load(&lane->mix[first_mul ^ 1]);
    __m128i with_mul = load(&lane->mix[first_mul]);
#if defined(__AVX512F__) && defined(__VAES__)
    // Each pass adds one term to the accumulator, the other being zero: the
    // product's rounding multiply, or the remainder (0 % q is 0).
    alignas(64) __m128i dividend[8], product[8];
    div_mul_terms(t.P, uint8_t(uint64_t(bits) >> 56), with_div, with_mul, dividend, product);
    for (int j = 0; j <= n; ++j) {
      const __m128i remainder = low32_word(int64_t(low64(dividend[j])) % q);
      acc = _mm_ternarylogic_epi64(acc, mulhrs16(acc, product[j]), remainder, 0x96);
    }
    store(t.X, _mm_xor_si128(dividend[n], product[n]));
#else
    __m128i use_div = top_byte_everywhere(bits);  // as in branch 5
    __m128i last = t.x;
    for (int j = 0; j <= n; ++j) {
      const __m128i word = load(t.P + j);
      const __m128i div_mask = _mm_cmplt_epi8(use_div, _mm_setzero_si128());  // whole bytes
      __m128i by_div = _mm_xor_si128(word, with_div);
      __m128i by_mul = clmul_lohi(_mm_andnot_si128(div_mask, _mm_xor_si128(word, with_mul)));
      acc = _mm_xor_si128(acc, mulhrs16(acc, by_mul));
      int64_t dividend = int64_t(low64(by_div)) & (bits >> 63);
      acc = _mm_xor_si128(acc, low32_word(dividend % q));
      last = pick(by_mul, by_div, use_div);
      bits = int64_t(uint64_t(bits) << 1);
      use_div = _mm_add_epi8(use_div, use_div);
      __m128i swap = with_div;
      with_div = with_mul;
      with_mul = swap;
    }
    store(t.X, last);
#endif
    store(t.P, _mm_xor_si128(t.x, acc));
  } else {
    acc = _mm_xor_si128(acc, clmul_lohi(_mm_xor_si128(t.B, t.x)));
    __m128i np = _mm_xor_si128(t.x, mulhrs16(acc, t.x));
    acc = _mm_xor_si128(acc, _mm_xor_si128(t.p, t.O));
    store(t.P, np);
    store(t.X, _mm_xor_si128(t.p, mulhrs16(acc, t.p)));
  }
  store(&lane->acc, acc);
  return acc;
}

// Every lane's next selector (the low 64 bits of its accumulator, kept here so
// that the picked words' addresses can be computed without waiting for the
// accumulator to come back from memory) and its low byte, which holds the branch
// bits. The groups of a step are bit sets made from those bytes. Appending each
// lane to a list per branch as its step ends would make every append load the
// list's end from an address known only at the end of that step, which the
// processor cannot order ahead of time.
struct LaneTable {
  uint64_t sel[kTlmMaxLanes];
  Lane* lane[kTlmMaxLanes];  // each lane's record, to spare a multiply per step
  alignas(16) uint8_t low_byte[kTlmMaxLanes];

  // Records step s's picked words of every lane in the move record and takes the
  // branch bytes from the selectors: plain loops over the lanes that the compiler
  // turns into vector code.
  void pick(uint8_t* scratch, int lanes, int s, Moves* moves) {
    const uintptr_t area = reinterpret_cast<uintptr_t>(scratch);
    uintptr_t* __restrict__ first = reinterpret_cast<uintptr_t*>(moves->word[s][0]);
    uintptr_t* __restrict__ second = reinterpret_cast<uintptr_t*>(moves->word[s][1]);
    const uint64_t* __restrict__ selector = sel;
    uint8_t* __restrict__ bytes = low_byte;
    for (int i = 0; i < lanes; ++i) {
      const uintptr_t key = area + uintptr_t(i) * kTlmLaneStride;
      // Word (sel >> 5) AND 511 and word (sel >> 32) AND 511, as byte offsets.
      first[i] = key + ((selector[i] >> 1) & (kWordMask << 4));
      second[i] = key + ((selector[i] >> 28) & (kWordMask << 4));
      bytes[i] = uint8_t(selector[i]);
    }
  }
  // The lanes of `in_use` that take each branch, as bit sets (bit i for lane i).
  void groups(uint64_t in_use, int vectors, uint64_t bucket[kBranches]) const {
    // Bits 2, 3 and 4 of every lane's byte as three bit sets: a 16-bit shift by
    // 5, 4 or 3 brings that bit of each byte to the byte's top bit, which the
    // byte mask reads.
    uint64_t bit2 = 0, bit3 = 0, bit4 = 0;
    for (int v = 0; v < vectors; ++v) {
      const __m128i bytes = load(low_byte + 16 * v);
      bit2 |= uint64_t(uint32_t(_mm_movemask_epi8(_mm_slli_epi16(bytes, 5)))) << (16 * v);
      bit3 |= uint64_t(uint32_t(_mm_movemask_epi8(_mm_slli_epi16(bytes, 4)))) << (16 * v);
      bit4 |= uint64_t(uint32_t(_mm_movemask_epi8(_mm_slli_epi16(bytes, 3)))) << (16 * v);
    }
    const uint64_t b00 = in_use & ~bit4 & ~bit3, b01 = in_use & ~bit4 & bit3;
    const uint64_t b10 = in_use & bit4 & ~bit3, b11 = in_use & bit4 & bit3;
    bucket[0] = b00 & ~bit2;
    bucket[1] = b00 & bit2;
    bucket[2] = b01 & ~bit2;
    bucket[3] = b01 & bit2;
    bucket[4] = b10 & ~bit2;
    bucket[5] = b10 & bit2;
    bucket[6] = b11 & ~bit2;
    bucket[7] = b11 & bit2;
  }
};

// Runs step s for the lanes in the bit set, in lane order.
template <int kBranch>
inline void run_bucket(LaneTable* table, const Moves* moves, uint64_t lanes,
                       int s) {
  __m128i* const* first = moves->word[s][0];
  __m128i* const* second = moves->word[s][1];
  while (lanes != 0) {
    const size_t i = size_t(__builtin_ctzll(lanes));
    lanes &= lanes - 1;
    table->sel[i] = low64(run_step<kBranch>(table->lane[i], table->sel[i], first[i], second[i]));
  }
}

// The 32 mixing steps for every lane, grouped by branch at each step: all lanes
// of one branch run in one loop.
void mix_lanes(uint8_t* scratch, int lanes) {
  LaneTable table;
  Moves* moves = moves_of(scratch);
  for (int i = 0; i < kTlmMaxLanes; ++i) table.low_byte[i] = 0;
  for (int i = 0; i < lanes; ++i) {
    table.lane[i] = lane_at(scratch, i);
    table.sel[i] = low64(load(&table.lane[i]->acc));
  }
  const uint64_t in_use = lanes == 64 ? ~0ull : (1ull << lanes) - 1;
  const int vectors = (lanes + 15) / 16;
  for (int s = 0; s < kSteps; ++s) {
    uint64_t bucket[kBranches];
    table.pick(scratch, lanes, s, moves);
    table.groups(in_use, vectors, bucket);
    run_bucket<0>(&table, moves, bucket[0], s);
    run_bucket<1>(&table, moves, bucket[1], s);
    run_bucket<2>(&table, moves, bucket[2], s);
    run_bucket<3>(&table, moves, bucket[3], s);
    run_bucket<4>(&table, moves, bucket[4], s);
    run_bucket<5>(&table, moves, bucket[5], s);
    run_bucket<6>(&table, moves, bucket[6], s);
    run_bucket<7>(&table, moves, bucket[7], s);
  }
}

// Reduces one lane's accumulator and runs its final keyed Haraka-512, leaving the
// four output words (after the feed-forward, before the truncation) in out.
// Inlined so that the scan, which uses only word 3, skips the work for the others.
[[gnu::always_inline]] inline void finish_lane(const uint8_t* job, Lane* lane, __m128i out[4]) {
  uint64_t i = vh_reduce(load(&lane->acc));
  __m128i block[4];
  block[0] = load(job + kJobBlock);
  block[1] = load(job + kJobBlock + 16);
  // Block bytes 47..63 are I, I and I's low byte: byte 15 of word 2, then word 3.
  block[2] = _mm_insert_epi8(load(&lane->tail), int(i & 0xFF), 15);
  block[3] = _mm_set1_epi64x(int64_t((i >> 8) | (i << 56)));
  // Work on locals: out may alias the key as far as the compiler knows, which
  // would force every round's states out to memory.
  __m128i s0 = block[0], s1 = block[1], s2 = block[2], s3 = block[3];
  haraka512_words(s0, s1, s2, s3, &lane->key[i & kWordMask]);
  out[0] = s0;
  out[1] = s1;
  out[2] = s2;
  out[3] = s3;
}

// Puts back every key word the 32 steps changed in lane i.
void restore_key(const uint8_t* job, uint8_t* scratch, int i) {
  // Lane i's column of the move record: entry m is word[m / 2][m % 2][i].
  __m128i* const* column = &moves_of(scratch)->word[0][0][i];
  // The pristine copy of a word lies at a fixed distance from the lane's copy.
  const uintptr_t to_pristine = uintptr_t(job) - uintptr_t(lane_at(scratch, i)->key);
#pragma GCC unroll 16
  for (int m = 0; m < 2 * kSteps; ++m) {
    __m128i* word = column[m * kTlmMaxLanes];
    store(word, load(reinterpret_cast<const void*>(uintptr_t(word) + to_pristine)));
  }
}

uint32_t scan(const uint8_t* job, uint8_t* scratch, int32_t lanes_in, uint32_t nonce_start,
              uint32_t count, uint64_t target_hi, uint32_t* found, int32_t* nfound) {
  const int lanes = tlm_clamp_lanes(lanes_in);
  uint32_t done = 0;
  uint32_t base = nonce_start;
  // The u32 count of hashes must not wrap, or the loop would never end.
  while (done < count && done <= UINT32_MAX - uint32_t(lanes)) {
    setup_lanes(job, scratch, lanes, base);
    mix_lanes(scratch, lanes);
    for (int i = 0; i < lanes; ++i) {
      Lane* lane = lane_at(scratch, i);
      __m128i out[4];
      finish_lane(job, lane, out);
      restore_key(job, scratch, i);
      uint64_t h = low64(out[3]);
      if (h <= target_hi && *nfound >= 0 && *nfound < kTlmMaxFound) {
        found[(*nfound)++] = base + uint32_t(i);
      }
    }
    done += uint32_t(lanes);
    base += uint32_t(lanes);
  }
  return done;
}

void full(const uint8_t* job, uint8_t* scratch, int32_t lanes_in, uint32_t nonce_base,
          uint8_t* out) {
  const int lanes = tlm_clamp_lanes(lanes_in);
  setup_lanes(job, scratch, lanes, nonce_base);
  mix_lanes(scratch, lanes);
  for (int i = 0; i < lanes; ++i) {
    Lane* lane = lane_at(scratch, i);
    if (out != nullptr) {
      __m128i words[4];
      finish_lane(job, lane, words);
      // The truncation: high halves of words 0 and 1, low halves of 2 and 3.
      __m128i lo = _mm_unpackhi_epi64(words[0], words[1]);
      __m128i hi = _mm_unpacklo_epi64(words[2], words[3]);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 32 * size_t(i)), lo);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 32 * size_t(i) + 16), hi);
    }
    restore_key(job, scratch, i);
  }
}

}  // namespace

// TLM_SCAN and TLM_FULL are this build's entry-point names (tlm_scan_avx2, ...).
extern "C" uint32_t TLM_SCAN(const uint8_t* job, uint8_t* scratch, int32_t lanes,
                             uint32_t nonce_start, uint32_t count, uint64_t target_hi,
                             uint32_t* found, int32_t* nfound) {
  return scan(job, scratch, lanes, nonce_start, count, target_hi, found, nfound);
}
extern "C" void TLM_FULL(const uint8_t* job, uint8_t* scratch, int32_t lanes,
                         uint32_t nonce_base, uint8_t* out) {
  full(job, scratch, lanes, nonce_base, out);
}
