#include "pixbuf/rgb_rows.h"

#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define TAVKO_RGB_X86 1
#endif

namespace {

// From pixel x on, one byte at a time.
void BgrTail(const uint8_t* src, uint8_t* dst, int32_t x, int32_t width) {
  for (src += 3 * x, dst += 3 * x; x < width; ++x, src += 3, dst += 3) {
    dst[0] = src[2];
    dst[1] = src[1];
    dst[2] = src[0];
  }
}

#if TAVKO_RGB_X86
// Five pixels per 16-byte load and store; the store's last byte is the
// next pixel's first, written again by the next step. Returns the pixels
// done, leaving at least the last 16 bytes of the row to the plain loop.
__attribute__((target("ssse3"))) int32_t BgrSsse3(const uint8_t* src, uint8_t* dst, int32_t width) {
  const __m128i swap = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15);
  int64_t bytes = 3 * static_cast<int64_t>(width);
  int32_t x = 0;
  for (; 3 * static_cast<int64_t>(x) + 16 <= bytes; x += 5) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 3 * x));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 3 * x), _mm_shuffle_epi8(v, swap));
  }
  return x;
}

bool HasSsse3() {
  static const bool has = __builtin_cpu_supports("ssse3");
  return has;
}
#endif

}  // namespace

void RowBgrToRgb(const uint8_t* src, uint8_t* dst, int32_t width) {
  int32_t x = 0;
#if TAVKO_RGB_X86
  if (HasSsse3()) x = BgrSsse3(src, dst, width);
#endif
  BgrTail(src, dst, x, width);
}

void Row8ToRgb(const uint8_t* src, uint8_t* dst, int32_t width, const RgbTable& table) {
  for (int32_t x = 0; x < width; ++x, dst += 3) std::memcpy(dst, table[src[x]], 3);
}

void Row4ToRgb(const uint8_t* src, uint8_t* dst, int32_t width, const RgbTable& table) {
  int32_t pairs = width / 2;
  for (int32_t i = 0; i < pairs; ++i, dst += 6) {
    std::memcpy(dst, table[src[i] >> 4], 3);
    std::memcpy(dst + 3, table[src[i] & 15], 3);
  }
  if (width & 1) std::memcpy(dst, table[src[pairs] >> 4], 3);
}

void Row1ToRgb(const uint8_t* src, uint8_t* dst, int32_t width, const RgbTable& table) {
  for (int32_t x = 0; x < width; ++x, dst += 3) std::memcpy(dst, table[(src[x >> 3] >> (7 - (x & 7))) & 1], 3);
}
