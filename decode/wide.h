// Wide-instruction pieces shared by the row conversions: SSSE3 packing of
// 4-byte pixels and the widening of 5-5-5 pixels; WebAssembly SIMD.
#pragma once

#include <cstdint>

#if defined(__i386__) || defined(__x86_64__)
#include <emmintrin.h>
#include <tmmintrin.h>
#define TAVKO_ROWS_X86 1
#define TAVKO_SSE2 __attribute__((target("sse2")))
#define TAVKO_SSSE3 __attribute__((target("ssse3")))
#else
#define TAVKO_ROWS_X86 0
#endif

// WebAssembly's 128-bit instructions, where the build enables them (the
// module then runs only where they exist, so they need no probe).
#if defined(__wasm_simd128__)
#include <wasm_simd128.h>
#define TAVKO_ROWS_WASM 1
#else
#define TAVKO_ROWS_WASM 0
#endif

#if TAVKO_ROWS_X86
namespace {

// Packs four 4-byte pixels, whose fourth bytes are dropped, into 12 bytes.
TAVKO_SSSE3 inline __m128i Pack12(__m128i v) {
  const __m128i order = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
  return _mm_shuffle_epi8(v, order);
}

// Stores four vectors of 12 packed bytes each as 48 bytes.
TAVKO_SSSE3 inline void Store48Packed(uint8_t* dst, __m128i a, __m128i b, __m128i c, __m128i d) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm_or_si128(a, _mm_slli_si128(b, 12)));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 16), _mm_or_si128(_mm_srli_si128(b, 4), _mm_slli_si128(c, 8)));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 32), _mm_or_si128(_mm_srli_si128(c, 8), _mm_slli_si128(d, 4)));
}

// Eight 5-5-5 pixels to eight blue-green-red-0 pixels (two vectors). Each
// 5-bit field is moved to the top of its lane and multiplied: the high half
// of (x << 11) * 264 is (x << 3) | (x >> 2).
TAVKO_SSSE3 inline void Widen555(__m128i v, __m128i* low, __m128i* high) {
  const __m128i top = _mm_set1_epi16(static_cast<short>(0xF800));
  const __m128i widen = _mm_set1_epi16(264);
  __m128i b = _mm_mulhi_epu16(_mm_slli_epi16(v, 11), widen);
  __m128i g = _mm_mulhi_epu16(_mm_and_si128(_mm_slli_epi16(v, 6), top), widen);
  __m128i r = _mm_mulhi_epu16(_mm_and_si128(_mm_slli_epi16(v, 1), top), widen);
  __m128i bg = _mm_or_si128(b, _mm_slli_epi16(g, 8));
  *low = _mm_unpacklo_epi16(bg, r);
  *high = _mm_unpackhi_epi16(bg, r);
}

}  // namespace
#endif
