// The x86 hash core: the hash with SSE words, AES-NI and PCLMULQDQ. Built with
// -maes -mpclmul -mssse3 -msse4.1; hash/x86/cpu.cpp offers it only where the
// processor has them.
#include "hash/x86/word.h"

#include "hash/core.h"
#include "hash/x86/cpu.h"

extern "C" const vh_core vh_x86 = {"x86", job_init, hash_header, hash_ref};
