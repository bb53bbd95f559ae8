// The processor's name for the start-up line.
#pragma once

#include <string>

namespace tlm {

// The processor's name as the engine reads it from the processor (not from /proc,
// which a hardened service may not see); "unknown CPU" when it tells none.
std::string cpu_model();

}  // namespace tlm
