// What each architecture's folder (engine/x86, engine/arm64, engine/portable)
// gives the dispatch: its kernel list with the reasons a kernel cannot run here,
// read from the processor once, and the processor's name.
#pragma once

#include <string>

#include "engine/engine.h"

namespace tlm::arch {

// The last entry of every list: runs on any processor.
inline constexpr tlm_kernel kPortableKernel = {
    "portable", "plain C++, no special instruction: for processors without AES or carry-less multiply",
    "nothing beyond a 64-bit processor", tlm_scan_portable, tlm_full_portable};

// This architecture's kernels, widest first, kPortableKernel last.
const tlm_kernel* kernels(int* count);
// Null when kernels()[k] runs on this processor and operating system, otherwise
// the first thing missing.
const char* unusable(int k);
// The processor's name, empty when it tells none.
std::string processor_name();

}  // namespace tlm::arch
