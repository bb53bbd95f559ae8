// The kernels' algorithm: VerusHash 2.2 for up to 64 consecutive nonces side by
// side, written once against the hash's 128-bit word. Each architecture's folder
// includes its word header first, then this, and compiles the two entry points
// with its own instruction flags (the x86 one several times); everything here has
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
// finds each pristine word at a fixed distance from the lane's word.
//
// Three steps are hooks (see PlainHooks) that an instruction set with wider
// registers may replace: the final keyed Haraka-512 and the passes of the two
// looped branches.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "engine/engine.h"
#include "hash/core.h"

namespace {

constexpr int kKeyWords = int(tlm::kKeyWords);
constexpr int kSteps = 32;
constexpr int kBranches = 8;

// One lane's record inside the lane area, kTlmLaneStride bytes apart.
struct Lane {
  Word key[kKeyWords];  // working key; equal to the job's key between hashes
  uint8_t spare[64];
  Word mix[4];     // buffer words u0..u3 for this lane's nonce
  Word mix_sq[4];  // clmul_lohi of each mix word
  Word tail;       // final-block word 2 with the nonce in
  Word acc;        // accumulator
};
static_assert(sizeof(Word) == 16);
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
  Word* word[kSteps][2][kTlmMaxLanes];
};
static_assert(kTlmMaxLanes * kTlmLaneStride + sizeof(Moves) <= kTlmLaneAreaSize);

inline Moves* moves_of(uint8_t* scratch) {
  return reinterpret_cast<Moves*>(scratch + kTlmMaxLanes * kTlmLaneStride);
}

inline int64_t divisor_of(uint64_t sel) { return int64_t(int32_t(uint32_t(sel))); }

// One Haraka AES layer on two states and the two-state mix after it.
inline void aes2_mix(Word& s0, Word& s1, const Word* k) {
  haraka_aes2(s0, s1, k);
  haraka_mix2(s0, s1);
}

inline Lane* lane_at(uint8_t* scratch, int i) {
  return reinterpret_cast<Lane*>(scratch + size_t(i) * kTlmLaneStride);
}

// The forms of three steps that every word layer runs; an instruction set with
// wider registers derives from this and replaces some of them.
struct PlainHooks {
  // Haraka-512 before truncation (haraka512_words): the final keyed step.
  static void haraka512(Word& s0, Word& s1, Word& s2, Word& s3, const Word* k) {
    haraka512_words(s0, s1, s2, s3, k);
  }

  // Branch 0x14's passes r = n..0 added to acc. Pass r's word is key[n - r]; its
  // selector bit (set for the carry-less alternative) is the top bit of `bits`
  // shifted left by n - r; B is its AES partner on even r and its clmul partner
  // on odd r, O the other, and with_aes and with_clmul are the first pass's.
  static Word aes_clmul_passes(Word acc, const Word* key, int n, int64_t bits, Word with_aes,
                               Word with_clmul) {
    // The bits in every byte, for the masks that count by each byte's top bit:
    // shifting the bytes left brings the next pass's bit to the top.
    Word use_clmul = bytes_of(uint8_t(uint64_t(bits) >> 56));
    const Word* k = key;
    const Word* aes_keys = key + 1;  // the key word after k, plus the AES offset
    for (int r = n; r >= 0; --r) {
      const Word word = load(k++);
      const Word by_clmul = clmul_lohi(word ^ with_clmul);
      Word s0 = word, s1 = with_aes;
      aes2_mix(s0, s1, aes_keys);
      acc = acc ^ select(s0 ^ s1, by_clmul, use_clmul);
      // One word on, and four more past the round keys when the AES one was kept.
      aes_keys += 5 + 4 * (bits >> 63);
      bits = int64_t(uint64_t(bits) << 1);
      use_clmul = next_bit(use_clmul);
      const Word swap = with_clmul;
      with_clmul = with_aes;
      with_aes = swap;
    }
    return acc;
  }

  // Branch 0x18's passes: updates acc and returns the last pass's t. Bits and
  // words as for branch 0x14, the set bit picking the division; with_div and
  // with_mul are the first pass's partners.
  static Word div_mul_passes(Word& acc, const Word* key, int n, int64_t bits, int64_t q, Word with_div,
                             Word with_mul) {
    Word use_div = bytes_of(uint8_t(uint64_t(bits) >> 56));
    Word last = zero_word();
    for (int j = 0; j <= n; ++j) {
      const Word word = load(key + j);
      const Word by_div = word ^ with_div;
      const Word by_mul = clmul_lohi(clear_where(use_div, word ^ with_mul));
      acc = acc ^ mulhrs16(acc, by_mul);
      const int64_t dividend = int64_t(low64(by_div)) & (bits >> 63);
      acc = acc ^ low32_word(uint32_t(dividend % q));
      last = select(by_mul, by_div, use_div);
      bits = int64_t(uint64_t(bits) << 1);
      use_div = next_bit(use_div);
      const Word swap = with_div;
      with_div = with_mul;
      with_mul = swap;
    }
    return last;
  }
};

// Gives lane i of the batch starting at `base` its nonce, buffer words and start
// accumulator.
inline void setup_lanes(const uint8_t* job, uint8_t* scratch, int lanes, uint32_t base) {
  const Word b0 = load(job + tlm::kJobBlock);
  const Word b1 = load(job + tlm::kJobBlock + 16);
  const Word b3 = load(job + tlm::kJobBlock + 48);
  // The nonce is block bytes 43..46, bytes 11..14 of word 2.
  const Word b2 = load(job + tlm::kJobBlock + 32) & make_word(~0ull, 0xFF00000000FFFFFFull);
  const Word acc = load(job + tlm::kJobAccStart);
  const Word u1 = b1 ^ b3;
  const Word u1_sq = clmul_lohi(u1);
  const Word u3_sq = clmul_lohi(b3);
  for (int i = 0; i < lanes; ++i) {
    Lane* lane = lane_at(scratch, i);
    const uint32_t nonce = base + uint32_t(i);
    const Word b2n = b2 | make_word(0, uint64_t(nonce) << 24);
    const Word u0 = b0 ^ b2n;
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
  Word* P;
  Word* X;
  Word p, x;  // the picked words' values before the step
  Word B, O;
  Word B_sq, O_sq;  // clmul_lohi of B and O, from the lane record
  Word acc;

  Step(Lane* lane, uint64_t selector, Word* first, Word* second) {
    acc = load(&lane->acc);
    sel = selector;
    P = first;
    X = second;
    p = load(P);
    x = load(X);
    // As byte offsets, so that O's offset is B's with one bit flipped.
    const uint8_t* mix = reinterpret_cast<const uint8_t*>(lane->mix);
    const uint8_t* mix_sq = reinterpret_cast<const uint8_t*>(lane->mix_sq);
    const size_t b_offset = size_t(sel & 3) * sizeof(Word);
    const size_t o_offset = b_offset ^ sizeof(Word);
    B = load(mix + b_offset);
    O = load(mix + o_offset);
    B_sq = load(mix_sq + b_offset);
    O_sq = load(mix_sq + o_offset);
  }
};

// The eight branches. Each reads every key word it needs before its first store;
// where P and X are the same word the later store is the one that stays.
template <class Hooks, int kBranch>
inline Word run_step(Lane* lane, uint64_t sel, Word* P, Word* X) {
  Step t(lane, sel, P, X);
  Word acc = t.acc;
  if constexpr (kBranch == 0) {
    acc = acc ^ clmul_lohi(t.x ^ t.O);
    const Word np = t.x ^ mulhrs16(acc, t.x);
    acc = acc ^ clmul_lohi(t.p ^ t.B);
    store(t.P, np);
    store(t.X, t.p ^ mulhrs16(acc, t.p));
  } else if constexpr (kBranch == 1) {
    acc = acc ^ (t.B_sq ^ clmul_lohi(t.B ^ t.p));
    const Word nx = t.p ^ mulhrs16(acc, t.p);
    acc = acc ^ (t.x ^ t.O);
    store(t.X, nx);
    store(t.P, t.x ^ mulhrs16(acc, t.x));
  } else if constexpr (kBranch == 2) {
    acc = acc ^ (t.B ^ t.x);
    const Word np = t.x ^ mulhrs16(acc, t.x);
    acc = acc ^ (t.O_sq ^ clmul_lohi(t.O ^ t.p));
    store(t.P, np);
    store(t.X, t.p ^ mulhrs16(acc, t.p));
  } else if constexpr (kBranch == 3) {
    acc = acc ^ (t.p ^ t.O);
    const int64_t d = int64_t(low64(acc));
    // Odd and even dividends both computed; the parity of d keeps one.
    const Word odd = bit0_mask(acc);
    acc = acc ^ low32_word(uint32_t(d % divisor_of(t.sel)));
    const Word nx = t.p ^ mulhrs16(acc, t.p);
    const Word acc_odd = acc ^ (t.B_sq ^ clmul_lohi(t.x ^ t.B));
    const Word np_odd = t.x ^ mulhrs16(acc_odd, t.x);
    acc = select(acc ^ t.B, acc_odd, odd);
    store(t.X, nx);
    store(t.P, select(t.x, np_odd, odd));
  } else if constexpr (kBranch == 4) {
    Word s0 = t.O, s1 = t.B;
    aes2_mix(s0, s1, t.P);
    aes2_mix(s0, s1, t.P + 4);
    aes2_mix(s0, s1, t.P + 8);
    acc = acc ^ (s0 ^ s1);
    store(t.X, t.p ^ mulhrs16(acc, t.p));
    store(t.P, t.x);
  } else if constexpr (kBranch == 5) {
    // Pass r tests bit 28 + r: shifted so that each pass finds its bit on top.
    const int n = int(t.sel >> 61);
    const int64_t bits = int64_t(t.sel << (35 - n));
    // B is the clmul operand on odd passes and the AES one on even passes, so the
    // two swap from pass to pass; the first pass (r = n) gives B to AES when n is
    // even.
    const uint64_t first_aes = (t.sel & 3) ^ (uint64_t(n) & 1);
    const Word with_clmul = load(&lane->mix[first_aes ^ 1]);
    const Word with_aes = load(&lane->mix[first_aes]);
    acc = Hooks::aes_clmul_passes(acc, t.P, n, bits, with_aes, with_clmul);
    store(t.X, t.p ^ mulhrs16(acc, t.p));
    store(t.P, t.x);
  } else if constexpr (kBranch == 6) {
    const int n = int(t.sel >> 61);
    const int64_t bits = int64_t(t.sel << (35 - n));
    // B goes with the division on odd passes and with the multiply on even ones;
    // the first pass (r = n) gives B to the multiply when n is even.
    const uint64_t first_mul = (t.sel & 3) ^ (uint64_t(n) & 1);
    const Word with_div = load(&lane->mix[first_mul ^ 1]);
    const Word with_mul = load(&lane->mix[first_mul]);
    store(t.X, Hooks::div_mul_passes(acc, t.P, n, bits, divisor_of(t.sel), with_div, with_mul));
    store(t.P, t.x ^ acc);
  } else {
    acc = acc ^ clmul_lohi(t.B ^ t.x);
    const Word np = t.x ^ mulhrs16(acc, t.x);
    acc = acc ^ (t.p ^ t.O);
    store(t.P, np);
    store(t.X, t.p ^ mulhrs16(acc, t.p));
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
      first[i] = key + ((selector[i] >> 1) & (kKeyWordMask << 4));
      second[i] = key + ((selector[i] >> 28) & (kKeyWordMask << 4));
      bytes[i] = uint8_t(selector[i]);
    }
  }
  // The lanes of `in_use` that take each branch, as bit sets (bit i for lane i).
  void groups(uint64_t in_use, int vectors, uint64_t bucket[kBranches]) const {
    // Bits 2, 3 and 4 of every lane's byte as three bit sets.
    uint64_t bit2 = 0, bit3 = 0, bit4 = 0;
    for (int v = 0; v < vectors; ++v) {
      const Word bytes = load(low_byte + 16 * v);
      bit2 |= uint64_t(byte_bits<2>(bytes)) << (16 * v);
      bit3 |= uint64_t(byte_bits<3>(bytes)) << (16 * v);
      bit4 |= uint64_t(byte_bits<4>(bytes)) << (16 * v);
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
template <class Hooks, int kBranch>
inline void run_bucket(LaneTable* table, const Moves* moves, uint64_t lanes, int s) {
  Word* const* first = moves->word[s][0];
  Word* const* second = moves->word[s][1];
  while (lanes != 0) {
    const size_t i = size_t(__builtin_ctzll(lanes));
    lanes &= lanes - 1;
    table->sel[i] = low64(run_step<Hooks, kBranch>(table->lane[i], table->sel[i], first[i], second[i]));
  }
}

// The 32 mixing steps for every lane, grouped by branch at each step: all lanes
// of one branch run in one loop.
template <class Hooks>
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
    run_bucket<Hooks, 0>(&table, moves, bucket[0], s);
    run_bucket<Hooks, 1>(&table, moves, bucket[1], s);
    run_bucket<Hooks, 2>(&table, moves, bucket[2], s);
    run_bucket<Hooks, 3>(&table, moves, bucket[3], s);
    run_bucket<Hooks, 4>(&table, moves, bucket[4], s);
    run_bucket<Hooks, 5>(&table, moves, bucket[5], s);
    run_bucket<Hooks, 6>(&table, moves, bucket[6], s);
    run_bucket<Hooks, 7>(&table, moves, bucket[7], s);
  }
}

// Reduces one lane's accumulator and runs its final keyed Haraka-512, leaving the
// four output words (after the feed-forward, before the truncation) in out.
// Inlined so that the scan, which uses only word 3, skips the work for the others.
template <class Hooks>
[[gnu::always_inline]] inline void finish_lane(const uint8_t* job, Lane* lane, Word out[4]) {
  const uint64_t i = reduce(load(&lane->acc));
  // Block bytes 47..63 are I, I and I's low byte: byte 15 of word 2, then word 3.
  // Work on locals: out may alias the key as far as the compiler knows, which
  // would force every round's states out to memory.
  Word s0 = load(job + tlm::kJobBlock);
  Word s1 = load(job + tlm::kJobBlock + 16);
  Word s2 = with_byte15(load(&lane->tail), uint8_t(i));
  Word s3 = broadcast64((i >> 8) | (i << 56));
  Hooks::haraka512(s0, s1, s2, s3, &lane->key[i & kKeyWordMask]);
  out[0] = s0;
  out[1] = s1;
  out[2] = s2;
  out[3] = s3;
}

// Puts back every key word the 32 steps changed in lane i.
inline void restore_key(const uint8_t* job, uint8_t* scratch, int i) {
  // Lane i's column of the move record: entry m is word[m / 2][m % 2][i].
  Word* const* column = &moves_of(scratch)->word[0][0][i];
  // The pristine copy of a word lies at a fixed distance from the lane's copy.
  const uintptr_t to_pristine = uintptr_t(job) - uintptr_t(lane_at(scratch, i)->key);
#pragma GCC unroll 16
  for (int m = 0; m < 2 * kSteps; ++m) {
    Word* word = column[m * kTlmMaxLanes];
    store(word, load(reinterpret_cast<const void*>(uintptr_t(word) + to_pristine)));
  }
}

template <class Hooks>
uint32_t scan(const uint8_t* job, uint8_t* scratch, int32_t lanes_in, uint32_t nonce_start, uint32_t count,
              uint64_t target_hi, uint32_t* found, int32_t* nfound) {
  const int lanes = tlm_clamp_lanes(lanes_in);
  uint32_t done = 0;
  uint32_t base = nonce_start;
  // The u32 count of hashes must not wrap, or the loop would never end.
  while (done < count && done <= UINT32_MAX - uint32_t(lanes)) {
    setup_lanes(job, scratch, lanes, base);
    mix_lanes<Hooks>(scratch, lanes);
    for (int i = 0; i < lanes; ++i) {
      Lane* lane = lane_at(scratch, i);
      Word out[4];
      finish_lane<Hooks>(job, lane, out);
      restore_key(job, scratch, i);
      const uint64_t h = low64(out[3]);
      if (h <= target_hi && *nfound >= 0 && *nfound < kTlmMaxFound) {
        found[(*nfound)++] = base + uint32_t(i);
      }
    }
    done += uint32_t(lanes);
    base += uint32_t(lanes);
  }
  return done;
}

template <class Hooks>
void full(const uint8_t* job, uint8_t* scratch, int32_t lanes_in, uint32_t nonce_base, uint8_t* out) {
  const int lanes = tlm_clamp_lanes(lanes_in);
  setup_lanes(job, scratch, lanes, nonce_base);
  mix_lanes<Hooks>(scratch, lanes);
  for (int i = 0; i < lanes; ++i) {
    Lane* lane = lane_at(scratch, i);
    if (out != nullptr) {
      Word words[4];
      finish_lane<Hooks>(job, lane, words);
      haraka512_truncate(out + 32 * size_t(i), words[0], words[1], words[2], words[3]);
    }
    restore_key(job, scratch, i);
  }
}

}  // namespace
