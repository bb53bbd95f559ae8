// The Haraka v2 building blocks on 128-bit words, shared by the hash core and the
// engine's kernels of every architecture. Include an architecture's word header
// (hash/x86/word.h, hash/arm64/word.h or hash/portable/word.h) first; like the
// words, everything here has internal linkage.
#pragma once

#ifndef TLM_WORD_LAYER
#error "include a word header (hash/<architecture>/word.h) before hash/haraka_ops.h"
#endif

#include <cstdint>

#include "hash/haraka.h"

namespace {

// The round constants as words.
inline const Word* haraka_rc_words() { return reinterpret_cast<const Word*>(haraka_rc.bytes); }

// Two AES rounds on each of two states, interleaved: s0 with k[0] and k[2],
// s1 with k[1] and k[3].
inline void haraka_aes2(Word& s0, Word& s1, const Word* k) {
  s0 = aes_round(s0, load(k));
  s1 = aes_round(s1, load(k + 1));
  s0 = aes_round(s0, load(k + 2));
  s1 = aes_round(s1, load(k + 3));
}

// The two-state mixing layer: (s0, s1) becomes (lo32(s0, s1), hi32(s0, s1)).
inline void haraka_mix2(Word& s0, Word& s1) {
  const Word lo = lo32(s0, s1);
  s1 = hi32(s0, s1);
  s0 = lo;
}

// Two AES rounds on each of four states: first s_j with k[j], then s_j with k[4 + j].
inline void haraka_aes4(Word& s0, Word& s1, Word& s2, Word& s3, const Word* k) {
  s0 = aes_round(s0, load(k));
  s1 = aes_round(s1, load(k + 1));
  s2 = aes_round(s2, load(k + 2));
  s3 = aes_round(s3, load(k + 3));
  s0 = aes_round(s0, load(k + 4));
  s1 = aes_round(s1, load(k + 5));
  s2 = aes_round(s2, load(k + 6));
  s3 = aes_round(s3, load(k + 7));
}

// The four-state mixing layer of Haraka-512.
inline void haraka_mix4(Word& s0, Word& s1, Word& s2, Word& s3) {
  const Word t = lo32(s0, s1);
  const Word u = hi32(s0, s1);
  const Word v = lo32(s2, s3);
  const Word w = hi32(s2, s3);
  s0 = hi32(u, w);
  s1 = lo32(v, t);
  s2 = hi32(v, t);
  s3 = lo32(u, w);
}

// Haraka-512 before truncation: five rounds of haraka_aes4 and haraka_mix4 with
// the 40 round keys k[0..39], then the feed-forward. s0..s3 hold the 64 input
// bytes on entry and the four output words on return. With k = haraka_rc this is
// the unkeyed permutation; the final step of VerusHash passes a pointer into its key.
inline void haraka512_words(Word& s0, Word& s1, Word& s2, Word& s3, const Word* k) {
  const Word in0 = s0, in1 = s1, in2 = s2, in3 = s3;
  for (int r = 0; r < 5; r++) {
    haraka_aes4(s0, s1, s2, s3, k + 8 * r);
    haraka_mix4(s0, s1, s2, s3);
  }
  s0 = s0 ^ in0;
  s1 = s1 ^ in1;
  s2 = s2 ^ in2;
  s3 = s3 ^ in3;
}

// The 32-byte truncation of Haraka-512's output words: the high halves of s0 and
// s1, then the low halves of s2 and s3.
inline void haraka512_truncate(void* out, Word s0, Word s1, Word s2, Word s3) {
  storeu(out, hi64(s0, s1));
  storeu(static_cast<uint8_t*>(out) + 16, lo64(s2, s3));
}

// Haraka-256: five rounds of haraka_aes2 and haraka_mix2 with the round constants
// rc[0..19] (callers pass haraka_rc or a copy they keep in registers), then the
// feed-forward. s0, s1 hold the 32 input bytes on entry and the output on return.
inline void haraka256_words(Word& s0, Word& s1, const Word* rc) {
  const Word in0 = s0, in1 = s1;
  for (int r = 0; r < 5; r++) {
    haraka_aes2(s0, s1, rc + 4 * r);
    haraka_mix2(s0, s1);
  }
  s0 = s0 ^ in0;
  s1 = s1 ^ in1;
}

}  // namespace
