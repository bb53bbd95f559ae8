// The ARM64 hash core: the hash with NEON words, AES and PMULL. Built with
// -march=armv8-a+crypto; hash/arm64/cpu.cpp offers it only where the processor
// has them.
#include "hash/arm64/word.h"

#include "hash/arm64/cpu.h"
#include "hash/core.h"

extern "C" const vh_core vh_arm64 = {"arm64", job_init, hash_header, hash_ref};
