#include "hash/x86/cpu.h"

#include <cpuid.h>

#include <cstdint>
#include <cstring>

namespace tlm::x86 {

namespace {

bool bit(unsigned reg, int n) { return ((reg >> n) & 1) != 0; }

// The brand string of CPUID leaves 0x80000002..4, spaces trimmed and doubled
// spaces made single.
std::string read_brand() {
  unsigned regs[12] = {};
  // g++ declares the result unsigned, clang int.
  const unsigned highest = __get_cpuid_max(0x80000000, nullptr);
  if (highest < 0x80000004) return "";
  for (unsigned i = 0; i < 3; ++i) {
    unsigned* r = &regs[4 * i];
    __get_cpuid(0x80000002 + i, &r[0], &r[1], &r[2], &r[3]);
  }
  char text[sizeof regs + 1] = {};
  std::memcpy(text, regs, sizeof regs);
  std::string brand(text);
  while (!brand.empty() && brand.back() == ' ') brand.pop_back();
  brand.erase(0, brand.find_first_not_of(' '));
  for (size_t at; (at = brand.find("  ")) != std::string::npos;) brand.erase(at, 1);
  return brand;
}

Cpu read() {
  unsigned a = 0, b = 0, c = 0, d = 0;
  unsigned ecx1 = 0, ebx7 = 0, ecx7 = 0;
  if (__get_cpuid(1, &a, &b, &c, &d)) ecx1 = c;
  if (__get_cpuid_count(7, 0, &a, &b, &c, &d)) {
    ebx7 = b;
    ecx7 = c;
  }
  // XCR0 says which register state the operating system saves: bits 1 and 2 for
  // SSE and AVX, 5 to 7 for the AVX-512 mask registers and upper ZMM halves.
  uint64_t xcr0 = 0;
  if (bit(ecx1, 27)) {  // OSXSAVE: XGETBV may be executed
    uint32_t lo = 0, hi = 0;
    __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
    xcr0 = uint64_t(hi) << 32 | lo;
  }
  Cpu cpu;
  cpu.sse41 = bit(ecx1, 19);
  cpu.ssse3 = bit(ecx1, 9);
  cpu.aes = bit(ecx1, 25);
  cpu.pclmul = bit(ecx1, 1);
  cpu.avx = bit(ecx1, 28);
  cpu.avx2 = bit(ebx7, 5);
  cpu.vaes = bit(ecx7, 9);
  cpu.vpclmul = bit(ecx7, 10);
  cpu.bmi1 = bit(ebx7, 3);
  cpu.bmi2 = bit(ebx7, 8);
  cpu.avx512f = bit(ebx7, 16);
  cpu.avx512bw = bit(ebx7, 30);
  cpu.avx512vl = bit(ebx7, 31);
  cpu.os_avx = (xcr0 & 0x6) == 0x6;
  cpu.os_avx512 = (xcr0 & 0xE6) == 0xE6;
  cpu.brand = read_brand();
  return cpu;
}

}  // namespace

const Cpu& cpu() {
  static const Cpu c = read();
  return c;
}

const char* missing_for_core() {
  const Cpu& c = cpu();
  if (!c.sse41) return "the processor lacks SSE4.1";
  if (!c.ssse3) return "the processor lacks SSSE3";
  if (!c.aes) return "the processor lacks AES-NI";
  if (!c.pclmul) return "the processor lacks PCLMULQDQ";
  return nullptr;
}

}  // namespace tlm::x86

extern "C" const vh_core* vh_native(void) { return tlm::x86::missing_for_core() == nullptr ? &vh_x86 : nullptr; }
