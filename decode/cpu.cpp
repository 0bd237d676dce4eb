// The processor probe: one CPUID reading serves the MMX complementing and
// the wide row conversions.
#include <cstdint>

#include "decode/qvx.h"

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>

namespace {

const uintptr_t kIdFlag = 0x200000;  // EFLAGS bit 21: writable only where CPUID exists

uintptr_t ReadFlags() {
  uintptr_t flags;
#if defined(__x86_64__)
  __asm__ volatile("pushfq\n\tpopq %0" : "=r"(flags));
#else
  __asm__ volatile("pushfl\n\tpopl %0" : "=r"(flags));
#endif
  return flags;
}

void WriteFlags(uintptr_t flags) {
#if defined(__x86_64__)
  __asm__ volatile("pushq %0\n\tpopfq" : : "r"(flags) : "cc");
#else
  __asm__ volatile("pushl %0\n\tpopfl" : : "r"(flags) : "cc");
#endif
}

// CPUID exists when the ID flag can be flipped.
bool HasCpuid() {
  uintptr_t before = ReadFlags();
  WriteFlags(before ^ kIdFlag);
  uintptr_t after = ReadFlags();
  WriteFlags(before);
  return ((before ^ after) & kIdFlag) != 0;
}

}  // namespace

QvxCpu QvxDetectCpu() {
  QvxCpu cpu = {false, false, false};
  if (!HasCpuid()) return cpu;
  unsigned a, b, c, d;
  __cpuid(0, a, b, c, d);
  if (static_cast<int32_t>(a) < 1) return cpu;
  __cpuid(1, a, b, c, d);
  cpu.mmx = (d & 0x800000) != 0;
  cpu.sse2 = (d & 0x4000000) != 0;
  cpu.ssse3 = cpu.sse2 && (c & 0x200) != 0;
  return cpu;
}
#else
QvxCpu QvxDetectCpu() { return QvxCpu{false, false, false}; }
#endif

int DetectMmx() { return QvxDetectCpu().mmx ? 1 : 0; }
