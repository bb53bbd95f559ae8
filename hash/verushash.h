// VerusHash 2.2: the portable reference and the per-job precomputation the
// engine's kernels start from. Plain C entry points on caller-owned buffers of
// fixed size; none of them allocates or reports failure.
//
// Everything except vh_oracle() needs haraka_init() (hash/haraka.h) to have run
// first.
#pragma once

#include <emmintrin.h>

#include <cstdint>

#include "hash/header_layout.h"

extern "C" {

// Zeroes the header fields that do not enter the hash when header byte 143 is
// above 6 and byte 148 is not 0; otherwise leaves the header alone.
void vh_clear_noncanonical(uint8_t header[tlm::kHeaderSize]);

// The prefix chain of the (already cleared) header: writes the final block's
// bytes 0..46 (chain value, then header bytes 1472..1486). Bytes 47..63 are not
// written.
void vh_prefix(const uint8_t header[tlm::kHeaderSize], uint8_t block[64]);

// Generates the 8832-byte key (16-byte aligned) from seed bytes 0..31.
void vh_genkey(const uint8_t* seed, uint8_t key[8832]);

// Precomputes a job state (9024 bytes, 64-byte aligned) for the header: the
// pristine key at 0..8831, the completed final block at 8896..8959 and the
// accumulator's start word at 8960..8975. The header is not modified.
void vh_job_init(uint8_t job[9024], const uint8_t header[tlm::kHeaderSize]);

// The VerusHash 2.2 of a whole header into out. The header is not modified. Uses
// about 20 KiB of stack.
void vh_hash_header(uint8_t out[32], const uint8_t header[tlm::kHeaderSize]);

// vh_hash_header() that fills haraka_rc itself the first time it is called, so
// it works before the engine's initialisation. First calls from several threads
// at once are safe; that first fill must not overlap other threads' hashing.
void vh_oracle(uint8_t out[32], const uint8_t header[tlm::kHeaderSize]);

// The 32 mixing steps over the key (552 words, 16-byte aligned, changed) driven by
// the completed 64-byte block (16-byte aligned). mask is the key mask in bytes
// (0x1FFF). moves receives the addresses of the 64 key words the steps picked, in
// order. Returns the accumulator.
__m128i vh22_clmul_ref(__m128i* key, const __m128i* block, uint64_t mask,
                       __m128i* moves[64]);

// Reduces the mixing accumulator, with its length term, to the 64-bit
// intermediate.
uint64_t vh_reduce(__m128i acc);

// The per-nonce half of the hash: block bytes 0..46 (any alignment) and the
// working key give out. The working key (16-byte aligned) is changed during the
// call and equals the pristine key again when it returns.
void vh_hash_ref(uint8_t out[32], const uint8_t* block, uint8_t key[8832],
                 const uint8_t pristine[8832]);

}  // extern "C"
