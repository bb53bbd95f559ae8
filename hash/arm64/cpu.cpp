#include "hash/arm64/cpu.h"

#include <asm/hwcap.h>
#include <sys/auxv.h>

#include <cstdint>
#include <cstdio>

namespace tlm::arm64 {

namespace {

// Cores seen in single-board computers, phones and servers, by implementer and
// part number of the main ID register.
struct Part {
  unsigned implementer, part;
  const char* name;
};
constexpr Part kParts[] = {
    {0x41, 0xd03, "ARM Cortex-A53"},     {0x41, 0xd04, "ARM Cortex-A35"},     {0x41, 0xd05, "ARM Cortex-A55"},
    {0x41, 0xd07, "ARM Cortex-A57"},     {0x41, 0xd08, "ARM Cortex-A72"},     {0x41, 0xd09, "ARM Cortex-A73"},
    {0x41, 0xd0a, "ARM Cortex-A75"},     {0x41, 0xd0b, "ARM Cortex-A76"},     {0x41, 0xd0c, "ARM Neoverse-N1"},
    {0x41, 0xd0d, "ARM Cortex-A77"},     {0x41, 0xd40, "ARM Neoverse-V1"},    {0x41, 0xd41, "ARM Cortex-A78"},
    {0x41, 0xd44, "ARM Cortex-X1"},      {0x41, 0xd46, "ARM Cortex-A510"},    {0x41, 0xd47, "ARM Cortex-A710"},
    {0x41, 0xd48, "ARM Cortex-X2"},      {0x41, 0xd49, "ARM Neoverse-N2"},    {0x41, 0xd4d, "ARM Cortex-A715"},
    {0x41, 0xd4e, "ARM Cortex-X3"},      {0x41, 0xd4f, "ARM Neoverse-V2"},    {0x41, 0xd80, "ARM Cortex-A520"},
    {0x41, 0xd81, "ARM Cortex-A720"},    {0x41, 0xd82, "ARM Cortex-X4"},      {0xc0, 0xac3, "Ampere-1"},
    {0xc0, 0xac4, "Ampere-1a"},
};

// The main ID register, which Linux lets user space read where it sets
// HWCAP_CPUID; 0 elsewhere.
uint64_t main_id(unsigned long hwcap) {
  if ((hwcap & HWCAP_CPUID) == 0) return 0;
  uint64_t midr = 0;
  __asm__ volatile("mrs %0, midr_el1" : "=r"(midr));
  return midr;
}

std::string name_of(uint64_t midr) {
  if (midr == 0) return "";
  const unsigned implementer = unsigned(midr >> 24) & 0xFF, part = unsigned(midr >> 4) & 0xFFF;
  for (const Part& p : kParts) {
    if (p.implementer == implementer && p.part == part) return p.name;
  }
  char text[64];
  std::snprintf(text, sizeof text, "ARM64 implementer 0x%02x part 0x%03x", implementer, part);
  return text;
}

Cpu read() {
  const unsigned long hwcap = getauxval(AT_HWCAP);
  return Cpu{(hwcap & HWCAP_AES) != 0, (hwcap & HWCAP_PMULL) != 0, name_of(main_id(hwcap))};
}

}  // namespace

const Cpu& cpu() {
  static const Cpu c = read();
  return c;
}

const char* missing_for_core() {
  if (!cpu().aes) return "the processor lacks the AES instructions";
  if (!cpu().pmull) return "the processor lacks PMULL";
  return nullptr;
}

}  // namespace tlm::arm64

extern "C" const vh_core* vh_native(void) {
  return tlm::arm64::missing_for_core() == nullptr ? &vh_arm64 : nullptr;
}
