#include "hash/cpu_features.h"

#include <cpuid.h>

extern "C" const char* vh_missing_instructions() {
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (!__get_cpuid(1, &a, &b, &c, &d)) return "the processor does not report its features";
  const struct {
    int bit;  // of ECX in leaf 1
    const char* missing;
  } needed[] = {{19, "the processor lacks SSE4.1"},
                {9, "the processor lacks SSSE3"},
                {25, "the processor lacks AES-NI"},
                {1, "the processor lacks PCLMULQDQ"}};
  for (const auto& n : needed)
    if (((c >> n.bit) & 1) == 0) return n.missing;
  return nullptr;
}
