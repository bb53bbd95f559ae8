// What this ARM64 processor offers, as the kernel reports it (the hardware
// capability bits of the auxiliary vector), read once. Built for any ARMv8-A, so
// that a processor without the crypto extension can still be told so.
#pragma once

#include <string>

#include "hash/verushash.h"

namespace tlm::arm64 {

struct Cpu {
  bool aes, pmull;    // the crypto extension's AES and 64-bit carry-less multiply
  std::string name;   // the core's name from its main ID register, empty when unknown
};

const Cpu& cpu();

// Null when the processor runs the ARM64 hash core (and the neon kernel),
// otherwise what it lacks, as "the processor lacks the AES instructions".
const char* missing_for_core();

}  // namespace tlm::arm64

// The ARM64 hash core (hash/arm64/core.cpp); vh_native() offers it where it runs.
extern "C" const vh_core vh_arm64;
