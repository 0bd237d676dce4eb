// Row conversions. Each has a plain version that runs everywhere and, on
// x86, a wide one that the caller's processor flags allow; both give the
// same bytes. The wide versions handle whole groups of pixels and leave the
// rest of the row to the plain loop, never reading or writing past the row.
#include "decode/rows.h"

#include <cstring>

#include "decode/bytes.h"
#include "decode/wide.h"

namespace {

inline uint8_t Widen5(uint32_t x) { return static_cast<uint8_t>((x << 3) | (x >> 2)); }

// Two output bytes of 4-bit pixels for each byte of 2-bit pixels.
struct ExpandTable {
  uint16_t pairs[256];
  ExpandTable() {
    for (int b = 0; b < 256; ++b) {
      uint8_t first = static_cast<uint8_t>(((b & 0xC0) >> 2) | ((b & 0x30) >> 4));
      uint8_t second = static_cast<uint8_t>(((b & 0x0C) << 2) | (b & 0x03));
      pairs[b] = static_cast<uint16_t>(first | (second << 8));  // first byte first in memory
    }
  }
};
const ExpandTable kExpand;

#if TAVKO_ROWS_X86
// Stores sixteen 4-byte pixels (a..d, four each) as 48 bytes.
TAVKO_SSSE3 inline void Store48(uint8_t* dst, __m128i a, __m128i b, __m128i c, __m128i d) {
  Store48Packed(dst, Pack12(a), Pack12(b), Pack12(c), Pack12(d));
}

// The wide loops count whole groups in a size_t: a row in memory never
// holds more, and a 32-bit build then keeps its registers for the pixels.
TAVKO_SSSE3 uint64_t Convert32To24Ssse3(const uint8_t* src, uint8_t* dst, uint64_t width) {
  size_t groups = static_cast<size_t>(width / 16);
  for (size_t g = 0; g < groups; ++g, src += 64, dst += 48) {
    Store48(dst, _mm_loadu_si128(reinterpret_cast<const __m128i*>(src)),
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 16)),
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 32)),
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 48)));
  }
  return 16 * static_cast<uint64_t>(groups);
}

TAVKO_SSSE3 uint64_t Convert555To24Ssse3(const uint8_t* src, uint8_t* dst, uint64_t width) {
  size_t groups = static_cast<size_t>(width / 16);
  for (size_t g = 0; g < groups; ++g, src += 32, dst += 48) {
    __m128i a, b, c, d;
    Widen555(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src)), &a, &b);
    Widen555(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 16)), &c, &d);
    Store48(dst, a, b, c, d);
  }
  return 16 * static_cast<uint64_t>(groups);
}

TAVKO_SSSE3 uint64_t Expand2To4Ssse3(const uint8_t* src, uint8_t* dst, uint64_t sourceBytes) {
  // A nibble of two 2-bit pixels becomes a byte of two 4-bit pixels.
  const __m128i table = _mm_setr_epi8(0x00, 0x01, 0x02, 0x03, 0x10, 0x11, 0x12, 0x13, 0x20, 0x21, 0x22, 0x23, 0x30,
                                      0x31, 0x32, 0x33);
  const __m128i nibble = _mm_set1_epi8(0x0F);
  uint64_t i = 0;
  for (; i + 16 <= sourceBytes; i += 16) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
    __m128i first = _mm_shuffle_epi8(table, _mm_and_si128(_mm_srli_epi16(v, 4), nibble));
    __m128i second = _mm_shuffle_epi8(table, _mm_and_si128(v, nibble));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 2 * i), _mm_unpacklo_epi8(first, second));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 2 * i + 16), _mm_unpackhi_epi8(first, second));
  }
  return i;
}

// Copies (when dst is not null) whole 16-byte groups of the pixel bytes and
// tells whether any pixel among them has bit 15 set; returns the bytes done
// in *done.
TAVKO_SSE2 bool CopyScan16Sse2(const uint8_t* src, uint8_t* dst, uint64_t pixelBytes, uint64_t* done) {
  __m128i any = _mm_setzero_si128();
  uint64_t i = 0;
  for (; i + 16 <= pixelBytes; i += 16) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
    if (dst != nullptr) _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), v);
    any = _mm_or_si128(any, v);
  }
  *done = i;
  return (_mm_movemask_epi8(any) & 0xAAAA) != 0;  // the high byte of each pixel
}
#endif

}  // namespace

void CopyRow(const uint8_t* src, uint8_t* dst, uint64_t count) {
  std::memcpy(dst, src, static_cast<size_t>(count));
}

namespace {

// Tells whether any of the first width 16-bit pixels at src has bit 15 set;
// with dst given, the whole groups that the wide loop reads are copied
// there as well. *done gets the bytes copied.
bool Scan16(const uint8_t* src, uint8_t* dst, uint64_t width, const QvxCpu& cpu, uint64_t* done) {
  uint64_t pixelBytes = 2 * width;
  bool any = false;
  *done = 0;
#if TAVKO_ROWS_X86
  if (cpu.sse2) any = CopyScan16Sse2(src, dst, pixelBytes, done);
#else
  (void)cpu, (void)dst;
#endif
  uint32_t high = 0;
  for (uint64_t i = *done + 1; i < pixelBytes; i += 2) high |= src[i];
  return any || (high & 0x80) != 0;
}

}  // namespace

bool CopyRowScan16(const uint8_t* src, uint8_t* dst, uint64_t count, uint64_t width, const QvxCpu& cpu) {
  uint64_t done = 0;
  bool any = Scan16(src, dst, width, cpu, &done);
  // The rest of the row, padding included, is copied but not scanned.
  std::memcpy(dst + done, src + done, static_cast<size_t>(count - done));
  return any;
}

bool ScanRow16(const uint8_t* row, uint64_t width, const QvxCpu& cpu) {
  uint64_t done = 0;
  return Scan16(row, nullptr, width, cpu, &done);
}

void Expand2To4(const uint8_t* src, uint8_t* dst, uint64_t sourceBytes, const QvxCpu& cpu) {
  uint64_t i = 0;
#if TAVKO_ROWS_X86
  if (cpu.ssse3) i = Expand2To4Ssse3(src, dst, sourceBytes);
#else
  (void)cpu;
#endif
  for (; i < sourceBytes; ++i) std::memcpy(dst + 2 * i, &kExpand.pairs[src[i]], 2);
}

void Convert555To24(const uint8_t* src, uint8_t* dst, uint64_t width, const QvxCpu& cpu) {
  uint64_t x = 0;
#if TAVKO_ROWS_X86
  if (cpu.ssse3) x = Convert555To24Ssse3(src, dst, width);
#else
  (void)cpu;
#endif
  for (; x < width; ++x) {
    uint32_t v = ReadU16(src + 2 * x);
    dst[3 * x] = Widen5(v & 0x1F);
    dst[3 * x + 1] = Widen5((v >> 5) & 0x1F);
    dst[3 * x + 2] = Widen5((v >> 10) & 0x1F);
  }
}

void Convert32To24(const uint8_t* src, uint8_t* dst, uint64_t width, const QvxCpu& cpu) {
  uint64_t x = 0;
#if TAVKO_ROWS_X86
  if (cpu.ssse3) x = Convert32To24Ssse3(src, dst, width);
#else
  (void)cpu;
#endif
  for (; x < width; ++x) {
    dst[3 * x] = src[4 * x];
    dst[3 * x + 1] = src[4 * x + 1];
    dst[3 * x + 2] = src[4 * x + 2];
  }
}
