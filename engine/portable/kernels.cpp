// The kernel list of an architecture without kernels of its own: the portable one.

#include <sys/utsname.h>

#include "engine/arch.h"

namespace tlm::arch {

const tlm_kernel* kernels(int* count) {
  *count = 1;
  return &kPortableKernel;
}

const char* unusable(int) { return nullptr; }

// The machine's architecture, as "riscv64 processor": the processor's own name
// is not to be had in the same way everywhere.
std::string processor_name() {
  utsname u{};
  if (uname(&u) != 0) return "";
  return std::string(u.machine) + " processor";
}

}  // namespace tlm::arch
