// The processor probe and the byte complementing.
#include <cstring>

#include "decode/options.h"

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#include <mmintrin.h>
#define TAVKO_HAVE_X86 1
#else
#define TAVKO_HAVE_X86 0
#endif

#if TAVKO_HAVE_X86
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

// The MMX path: eight bytes per step, then the tail one byte at a time.
__attribute__((target("mmx"))) void InvertBytesMmx(uint8_t* start, int32_t count) {
  const __m64 allOnes = _mm_set1_pi32(-1);
  int32_t groups = count / 8;
  uint8_t* at = start;
  for (int32_t i = 0; i < groups; ++i, at += 8) {
    __m64 value;
    std::memcpy(&value, at, 8);
    value = _mm_xor_si64(value, allOnes);
    std::memcpy(at, &value, 8);
  }
  _mm_empty();
  for (uint8_t* tail = start + (count & ~7); tail < start + count; ++tail)
    *tail = static_cast<uint8_t>(~*tail);
}

}  // namespace

int DetectMmx() {
  // CPUID exists when the ID flag can be flipped.
  uintptr_t before = ReadFlags();
  WriteFlags(before ^ kIdFlag);
  uintptr_t after = ReadFlags();
  WriteFlags(before);
  if (((before ^ after) & kIdFlag) == 0) return 0;

  unsigned a, b, c, d;
  __cpuid(0, a, b, c, d);
  if (static_cast<int32_t>(a) < 1) return 0;
  __cpuid(1, a, b, c, d);
  return (d & 0x800000) ? 1 : 0;
}
#else
int DetectMmx() { return 0; }
#endif

int32_t InvertBytes(uint8_t* start, int32_t count) {
  if (count <= 0) return count;
#if TAVKO_HAVE_X86
  if (PluginSettings.cpuHasMmx && PluginSettings.useMmx) {
    InvertBytesMmx(start, count);
    return count;
  }
#endif
  for (int32_t i = 0; i < count; ++i) start[i] = static_cast<uint8_t>(~start[i]);
  return count;
}
