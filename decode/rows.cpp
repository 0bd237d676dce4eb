// Row conversions.
#include "decode/rows.h"

#include <cstring>

#include "decode/bytes.h"

void CopyRow(const uint8_t* src, uint8_t* dst, uint64_t count) {
  std::memcpy(dst, src, static_cast<size_t>(count));
}

bool CopyRowScan16(const uint8_t* src, uint8_t* dst, uint64_t count, uint64_t width) {
  std::memcpy(dst, src, static_cast<size_t>(count));
  uint32_t any = 0;
  for (uint64_t i = 0; i < width; ++i) any |= src[2 * i + 1];
  return (any & 0x80) != 0;
}

void Expand2To4(const uint8_t* src, uint8_t* dst, uint64_t sourceBytes) {
  for (uint64_t i = 0; i < sourceBytes; ++i) {
    uint8_t b = src[i];
    dst[2 * i] = static_cast<uint8_t>(((b & 0xC0) >> 2) | ((b & 0x30) >> 4));
    dst[2 * i + 1] = static_cast<uint8_t>(((b & 0x0C) << 2) | (b & 0x03));
  }
}

namespace {
inline uint8_t Widen5(uint32_t x) { return static_cast<uint8_t>((x << 3) | (x >> 2)); }
}  // namespace

void Convert555To24(const uint8_t* src, uint8_t* dst, uint64_t width) {
  for (uint64_t i = 0; i < width; ++i) {
    uint32_t v = ReadU16(src + 2 * i);
    dst[3 * i] = Widen5(v & 0x1F);
    dst[3 * i + 1] = Widen5((v >> 5) & 0x1F);
    dst[3 * i + 2] = Widen5((v >> 10) & 0x1F);
  }
}

void Convert32To24(const uint8_t* src, uint8_t* dst, uint64_t width) {
  for (uint64_t i = 0; i < width; ++i) {
    dst[3 * i] = src[4 * i];
    dst[3 * i + 1] = src[4 * i + 1];
    dst[3 * i + 2] = src[4 * i + 2];
  }
}
