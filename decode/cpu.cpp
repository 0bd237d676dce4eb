// Processor feature probe.
#include "decode/cpu.h"

#include <cstdint>

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

int ProbeCpuid() {
  // CPUID exists when the ID flag can be flipped.
  uintptr_t before = ReadFlags();
  WriteFlags(before ^ kIdFlag);
  uintptr_t after = ReadFlags();
  WriteFlags(before);
  return ((before ^ after) & kIdFlag) != 0;
}

// EDX and ECX of leaf 1, or zeros without it.
void Leaf1(unsigned* edx, unsigned* ecx) {
  *edx = *ecx = 0;
  if (!HasCpuid()) return;
  unsigned a, b, c, d;
  __cpuid(0, a, b, c, d);
  if (static_cast<int>(a) < 1) return;
  __cpuid(1, a, b, c, d);
  *edx = d;
  *ecx = c;
}

int ProbeSse2() {
  unsigned edx, ecx;
  Leaf1(&edx, &ecx);
  return (edx >> 26) & 1;
}

int ProbeSsse3() {
  unsigned edx, ecx;
  Leaf1(&edx, &ecx);
  return ((edx >> 26) & 1) && ((ecx >> 9) & 1);
}

}  // namespace

int HasCpuid() {
  static const int found = ProbeCpuid();
  return found;
}
int HasSse2() {
  static const int found = ProbeSse2();
  return found;
}
int HasSsse3() {
  static const int found = ProbeSsse3();
  return found;
}
#else
int HasCpuid() { return 0; }
int HasSse2() { return 0; }
int HasSsse3() { return 0; }
#endif
