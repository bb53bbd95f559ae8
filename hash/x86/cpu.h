// What this x86 processor and its operating system offer, read once with CPUID and
// XGETBV. Built for any x86-64, so that a processor without the hash's
// instructions can still be told so.
#pragma once

#include <string>

#include "hash/verushash.h"

namespace tlm::x86 {

struct Cpu {
  bool sse41, ssse3, aes, pclmul;  // what the x86 hash core and every x86 kernel need
  bool avx, avx2, vaes, vpclmul, bmi1, bmi2, avx512f, avx512bw, avx512vl;
  bool os_avx;     // the operating system saves the SSE and AVX register state
  bool os_avx512;  // ... and the AVX-512 mask registers and upper ZMM halves
  std::string brand;  // the processor's name, spaces trimmed; empty when it has none
};

const Cpu& cpu();

// Null when the processor runs the x86 hash core (and the sse4.1 kernel),
// otherwise the first instruction set it lacks, as "the processor lacks AES-NI".
const char* missing_for_core();

}  // namespace tlm::x86

// The x86 hash core (hash/x86/core.cpp); vh_native() offers it where it runs.
extern "C" const vh_core vh_x86;
