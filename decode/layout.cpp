// Stored pixels into the caller's layouts: RGB, BGR, BGRA and RGBA of 8 bits
// a channel, or colour-table indices, a byte each or packed. Each conversion
// reads stored bytes as they are in the file (after complementing) and
// writes count pixels; the wide versions do whole groups and leave the rest
// to the plain loop, never reading or writing past the pixels they are given.
#include <cstring>

#include "decode/bytes.h"
#include "decode/layout.h"
#include "decode/rows.h"
#include "decode/wide.h"

namespace {

inline uint8_t Widen5(uint32_t x) { return static_cast<uint8_t>((x << 3) | (x >> 2)); }

// Blue, green, red into the layout's byte order.
template <int L>
inline void Put(uint8_t* dst, uint8_t b, uint8_t g, uint8_t r) {
  if (L == kQvxBgra8 || L == kQvxBgr8) {
    dst[0] = b, dst[1] = g, dst[2] = r;
    if (L == kQvxBgra8) dst[3] = 255;
  } else {
    dst[0] = r, dst[1] = g, dst[2] = b;
    if (L == kQvxRgba8) dst[3] = 255;
  }
}

template <int L>
constexpr int Bytes() {
  return L == kQvxRgb8 || L == kQvxBgr8 ? 3 : L == kQvxIndex8 ? 1 : 4;
}

#if TAVKO_ROWS_X86
// Byte orders of pshufb: blue-green-red(-x) pixels into the layout.
TAVKO_SSSE3 inline __m128i SwapRb4() { return _mm_setr_epi8(2, 1, 0, 3, 6, 5, 4, 7, 10, 9, 8, 11, 14, 13, 12, 15); }
TAVKO_SSSE3 inline __m128i PackRgb12() {
  return _mm_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1);
}
TAVKO_SSSE3 inline __m128i Alpha() { return _mm_set1_epi32(static_cast<int>(0xFF000000u)); }

// Sixteen blue-green-red-x pixels (four vectors) into the layout.
template <int L>
TAVKO_SSSE3 inline void Store16(uint8_t* dst, __m128i a, __m128i b, __m128i c, __m128i d) {
  if (L == kQvxBgr8) {
    Store48Packed(dst, Pack12(a), Pack12(b), Pack12(c), Pack12(d));
    return;
  }
  if (L == kQvxRgb8) {
    const __m128i order = PackRgb12();
    Store48Packed(dst, _mm_shuffle_epi8(a, order), _mm_shuffle_epi8(b, order), _mm_shuffle_epi8(c, order),
                  _mm_shuffle_epi8(d, order));
    return;
  }
  if (L == kQvxRgba8) {
    const __m128i swap = SwapRb4();
    a = _mm_shuffle_epi8(a, swap), b = _mm_shuffle_epi8(b, swap);
    c = _mm_shuffle_epi8(c, swap), d = _mm_shuffle_epi8(d, swap);
  }
  const __m128i alpha = Alpha();
  _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm_or_si128(a, alpha));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 16), _mm_or_si128(b, alpha));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 32), _mm_or_si128(c, alpha));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 48), _mm_or_si128(d, alpha));
}

TAVKO_SSSE3 inline __m128i Load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

template <int L>
TAVKO_SSSE3 uint64_t From32Ssse3(const uint8_t* src, uint8_t* dst, uint64_t count) {
  size_t groups = static_cast<size_t>(count / 16);
  for (size_t g = 0; g < groups; ++g, src += 64, dst += 16 * Bytes<L>())
    Store16<L>(dst, Load(src), Load(src + 16), Load(src + 32), Load(src + 48));
  return 16 * static_cast<uint64_t>(groups);
}

template <int L>
TAVKO_SSSE3 uint64_t From555Ssse3(const uint8_t* src, uint8_t* dst, uint64_t count) {
  size_t groups = static_cast<size_t>(count / 16);
  for (size_t g = 0; g < groups; ++g, src += 32, dst += 16 * Bytes<L>()) {
    __m128i a, b, c, d;
    Widen555(Load(src), &a, &b);
    Widen555(Load(src + 16), &c, &d);
    Store16<L>(dst, a, b, c, d);
  }
  return 16 * static_cast<uint64_t>(groups);
}

// 24-bit pixels: RGB five at a time, each store's last byte written again
// by the next; four at a time into 4-byte pixels. Each load takes 16 bytes,
// so the last 16 stored bytes are left to the plain loop.
template <int L>
TAVKO_SSSE3 uint64_t From24Ssse3(const uint8_t* src, uint8_t* dst, uint64_t count) {
  uint64_t x = 0;
  if (L == kQvxRgb8) {
    const __m128i swap = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15);
    for (; 3 * x + 16 <= 3 * count; x += 5)
      _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 3 * x), _mm_shuffle_epi8(Load(src + 3 * x), swap));
    return x;
  }
  const __m128i spread = L == kQvxBgra8 ? _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1)
                                        : _mm_setr_epi8(2, 1, 0, -1, 5, 4, 3, -1, 8, 7, 6, -1, 11, 10, 9, -1);
  const __m128i alpha = Alpha();
  for (; 3 * x + 16 <= 3 * count; x += 4)
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 4 * x),
                     _mm_or_si128(_mm_shuffle_epi8(Load(src + 3 * x), spread), alpha));
  return x;
}
#endif

#if TAVKO_ROWS_WASM
// The same byte orders with WebAssembly's swizzle (indices of 16 and more,
// here -1, give 0).
template <int L>
v128_t Spread24() {
  return L == kQvxBgra8 ? wasm_i8x16_make(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1)
                        : wasm_i8x16_make(2, 1, 0, -1, 5, 4, 3, -1, 8, 7, 6, -1, 11, 10, 9, -1);
}

// 24-bit pixels into 4-byte ones, four at a time as From24Ssse3 takes them;
// RGB rows are left to the plain loop.
template <int L>
uint64_t From24Simd128(const uint8_t* src, uint8_t* dst, uint64_t count) {
  uint64_t x = 0;
  if (L == kQvxRgb8) return x;
  const v128_t spread = Spread24<L>(), alpha = wasm_i32x4_splat(static_cast<int32_t>(0xFF000000u));
  for (; 3 * x + 16 <= 3 * count; x += 4)
    wasm_v128_store(dst + 4 * x, wasm_v128_or(wasm_i8x16_swizzle(wasm_v128_load(src + 3 * x), spread), alpha));
  return x;
}
#endif

template <int L>
void From32(const uint8_t* src, uint8_t* dst, uint64_t count, const LayoutTable&, const QvxCpu& cpu) {
  uint64_t x = 0;
#if TAVKO_ROWS_X86
  if (cpu.ssse3) x = From32Ssse3<L>(src, dst, count);
#else
  (void)cpu;
#endif
  for (; x < count; ++x) Put<L>(dst + Bytes<L>() * x, src[4 * x], src[4 * x + 1], src[4 * x + 2]);
}

template <int L>
void From24(const uint8_t* src, uint8_t* dst, uint64_t count, const LayoutTable&, const QvxCpu& cpu) {
  if (L == kQvxBgr8) {
    CopyRow(src, dst, 3 * count);
    return;
  }
  uint64_t x = 0;
#if TAVKO_ROWS_X86
  if (cpu.ssse3) x = From24Ssse3<L>(src, dst, count);
#else
  (void)cpu;
#endif
#if TAVKO_ROWS_WASM
  x = From24Simd128<L>(src, dst, count);
#endif
  for (; x < count; ++x) Put<L>(dst + Bytes<L>() * x, src[3 * x], src[3 * x + 1], src[3 * x + 2]);
}

template <int L>
void From555(const uint8_t* src, uint8_t* dst, uint64_t count, const LayoutTable&, const QvxCpu& cpu) {
  uint64_t x = 0;
#if TAVKO_ROWS_X86
  if (cpu.ssse3) x = From555Ssse3<L>(src, dst, count);
#else
  (void)cpu;
#endif
  for (; x < count; ++x) {
    uint32_t v = ReadU16(src + 2 * x);
    Put<L>(dst + Bytes<L>() * x, Widen5(v & 0x1F), Widen5((v >> 5) & 0x1F), Widen5((v >> 10) & 0x1F));
  }
}

// One paletted pixel, index i, into the layout: the index itself, or the
// table's bytes (three-byte pixels stored four bytes at a time, the next
// pixel's first byte written again by the next store; the last one three).
template <int L>
inline void PutIndex(uint8_t* dst, uint64_t x, unsigned i, const LayoutTable& table, bool last) {
  if (L == kQvxIndex8)
    dst[x] = static_cast<uint8_t>(i);
  else if (Bytes<L>() == 3 && last)
    std::memcpy(dst + 3 * x, table[i], 3);
  else
    std::memcpy(dst + Bytes<L>() * x, table[i], 4);
}

// Paletted pixels, the leftmost in the highest bits of a byte: whole bytes
// of pixels first, then the pixels of a last, partly used byte. 8-bit
// indices are the stored bytes as they are.
template <int Bits, int L>
void FromTable(const uint8_t* src, uint8_t* dst, uint64_t count, const LayoutTable& table, const QvxCpu&) {
  if (Bits == 8 && L == kQvxIndex8) {
    std::memcpy(dst, src, static_cast<size_t>(count));
    return;
  }
  if (count == 0) return;
  const unsigned perByte = 8 / Bits, mask = (1u << Bits) - 1;
  uint64_t whole = (count - 1) / perByte;  // bytes whose pixels all come before the last pixel
  for (uint64_t b = 0; b < whole; ++b) {
    unsigned byte = src[b];
    for (unsigned k = 0; k < perByte; ++k)
      PutIndex<L>(dst, b * perByte + k, (byte >> (8 - Bits * (k + 1))) & mask, table, false);
  }
  for (uint64_t x = whole * perByte; x < count; ++x)
    PutIndex<L>(dst, x, (src[x / perByte] >> (8 - Bits * (1 + x % perByte))) & mask, table, x + 1 == count);
}

// Packed indices as the delivered bitmap holds them: 1-, 4- and 8-bit
// pixels as stored, 2-bit ones widened to 4 bits. A paletted row comes in
// whole stored bytes, so only its last piece may end inside a byte.
template <int Bits>
void Packed(const uint8_t* src, uint8_t* dst, uint64_t count, const LayoutTable&, const QvxCpu& cpu) {
  if (Bits != 2) {
    CopyRow(src, dst, (count * Bits + 7) / 8);
    return;
  }
  uint64_t whole = count / 4;
  Expand2To4(src, dst, whole, cpu);
  if (count % 4 == 0) return;
  uint8_t pair[2];
  Expand2To4(src + whole, pair, 1, cpu);
  std::memcpy(dst + 2 * whole, pair, count % 4 == 3 ? 2 : 1);
}

template <int Bits>
LayoutRow Paletted(QvxPixelLayout layout) {
  switch (layout) {
    case kQvxIndexPacked: return Packed<Bits>;
    case kQvxBgr8: return FromTable<Bits, kQvxBgr8>;
    case kQvxRgb8: return FromTable<Bits, kQvxRgb8>;
    case kQvxBgra8: return FromTable<Bits, kQvxBgra8>;
    case kQvxRgba8: return FromTable<Bits, kQvxRgba8>;
    default: return FromTable<Bits, kQvxIndex8>;
  }
}

template <template <int> class F>
LayoutRow Direct(QvxPixelLayout layout) {
  switch (layout) {
    case kQvxBgra8: return F<kQvxBgra8>::row;
    case kQvxRgba8: return F<kQvxRgba8>::row;
    case kQvxBgr8: return F<kQvxBgr8>::row;
    default: return F<kQvxRgb8>::row;
  }
}

template <int L> struct Rows32 { static constexpr LayoutRow row = From32<L>; };
template <int L> struct Rows24 { static constexpr LayoutRow row = From24<L>; };
template <int L> struct Rows555 { static constexpr LayoutRow row = From555<L>; };

}  // namespace

LayoutRow LayoutRowFor(uint32_t bits, QvxPixelLayout layout) {
  switch (bits) {
    case 1: return Paletted<1>(layout);
    case 2: return Paletted<2>(layout);
    case 4: return Paletted<4>(layout);
    case 8: return Paletted<8>(layout);
    case 16: return Direct<Rows555>(layout);
    case 24: return Direct<Rows24>(layout);
    case 32: return Direct<Rows32>(layout);
    default: return nullptr;
  }
}

void FillLayoutTable(QvxPixelLayout layout, const uint8_t (*rgb)[4], LayoutTable& table) {
  for (int i = 0; i < 256; ++i) Put<kQvxBgra8>(table[i], rgb[i][2], rgb[i][1], rgb[i][0]);
  if (layout == kQvxBgra8 || layout == kQvxBgr8) return;
  for (int i = 0; i < 256; ++i) Put<kQvxRgba8>(table[i], rgb[i][2], rgb[i][1], rgb[i][0]);
}
