// The processor probe and the byte complementing.
#include <cstring>

#include "decode/cpu.h"
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
  if (!HasCpuid()) return 0;
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
