// Byte complementing, on the byte path or eight bytes a step with MMX.
#include <cstring>

#include "decode/qvx.h"

#if defined(__i386__) || defined(__x86_64__)
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
#endif

int32_t InvertBytes(uint8_t* start, int32_t count, bool mmx) {
  if (count <= 0) return count;
#if TAVKO_HAVE_X86
  if (mmx) {
    InvertBytesMmx(start, count);
    return count;
  }
#else
  (void)mmx;
#endif
  for (int32_t i = 0; i < count; ++i) start[i] = static_cast<uint8_t>(~start[i]);
  return count;
}
