// VerusHash 2.2: the reference hash of whole headers and the per-job
// precomputation the engine's kernels start from. Plain C entry points on
// caller-owned buffers of fixed size; none of them allocates or reports failure,
// and none needs any initialisation first.
//
// The hash is computed by a hash core: the portable one, in plain C++, runs on any
// processor; an architecture's own (AES-NI and PCLMULQDQ on x86, the crypto
// extension's AES and PMULL on ARM64) is faster where the processor has it.
#pragma once

#include <cstdint>

#include "hash/header_layout.h"
#include "hash/job_layout.h"

extern "C" {

// One build of the hash.
typedef struct vh_core {
  const char* name;  // "portable", "x86", "arm64"
  // Precomputes a job state (64-byte aligned, laid out as hash/job_layout.h says)
  // for the header: the pristine key, the completed final block and the
  // accumulator's start word. The header is not modified.
  void (*job_init)(uint8_t job[tlm::kJobBytes], const uint8_t header[tlm::kHeaderSize]);
  // The VerusHash 2.2 of a whole header into out. The header is not modified.
  // Uses about 20 KiB of stack.
  void (*hash_header)(uint8_t out[32], const uint8_t header[tlm::kHeaderSize]);
  // The per-nonce half: block bytes 0..46 (any alignment) and the working key
  // give out. The working key (16-byte aligned) is changed during the call and
  // equals the pristine key again when it returns.
  void (*hash_ref)(uint8_t out[32], const uint8_t* block, uint8_t key[tlm::kKeyBytes],
                   const uint8_t pristine[tlm::kKeyBytes]);
} vh_core;

// The portable hash core: no special instruction, any processor.
extern const vh_core vh_portable;
// This architecture's own hash core when this processor has its instructions,
// otherwise null (always null where there is none).
const vh_core* vh_native(void);
// The fastest hash core this processor runs: vh_native(), or else vh_portable.
const vh_core* vh_fastest(void);

// Zeroes the header fields that do not enter the hash when header byte 143 is
// above 6 and byte 148 is not 0; otherwise leaves the header alone.
void vh_clear_noncanonical(uint8_t header[tlm::kHeaderSize]);

// vh_fastest()'s job_init and hash_header.
void vh_job_init(uint8_t job[tlm::kJobBytes], const uint8_t header[tlm::kHeaderSize]);
void vh_hash_header(uint8_t out[32], const uint8_t header[tlm::kHeaderSize]);

}  // extern "C"
