#include "app/cpu_model.h"

#include <cpuid.h>

#include <cstring>

namespace tlm {

std::string cpu_model() {
  unsigned regs[12] = {};
  // g++ declares the result unsigned, clang int.
  const unsigned highest = __get_cpuid_max(0x80000000, nullptr);
  if (highest < 0x80000004) return "unknown CPU";
  for (unsigned i = 0; i < 3; ++i) {
    unsigned* r = &regs[4 * i];
    __get_cpuid(0x80000002 + i, &r[0], &r[1], &r[2], &r[3]);
  }
  char text[sizeof regs + 1] = {};
  memcpy(text, regs, sizeof regs);
  std::string model(text);
  // Some processors pad the name with spaces at either end, or put two inside.
  while (!model.empty() && model.back() == ' ') model.pop_back();
  model.erase(0, model.find_first_not_of(' '));
  for (size_t at; (at = model.find("  ")) != std::string::npos;) model.erase(at, 1);
  return model.empty() ? "unknown CPU" : model;
}

}  // namespace tlm
