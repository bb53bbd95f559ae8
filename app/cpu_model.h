// The processor's name for the start-up line.
#pragma once

#include <string>

namespace tlm {

// The brand string the processor reports (CPUID), spaces trimmed; "unknown CPU"
// when it has none. Read from the processor, not /proc, which a hardened service
// may not see.
std::string cpu_model();

}  // namespace tlm
