// What both PNG readers share: the signature and the BMP they fill.
#include "tools/png_read.h"

#include <cstring>

bool LooksLikePng(const std::vector<uint8_t>& bytes) {
  static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  return bytes.size() >= 8 && std::memcmp(bytes.data(), kSignature, 8) == 0;
}

namespace {

uint32_t BigEndian32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 | p[3];
}

}  // namespace

bool PngDimensions(const std::vector<uint8_t>& png, uint32_t* width, uint32_t* height) {
  // The header chunk comes first: length, "IHDR", width, height.
  if (!LooksLikePng(png) || png.size() < 24 || std::memcmp(&png[12], "IHDR", 4) != 0) return false;
  *width = BigEndian32(&png[16]);
  *height = BigEndian32(&png[20]);
  return true;
}

static void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

std::vector<uint8_t> NewBmp24(uint32_t width, uint32_t height) {
  uint64_t stride = (static_cast<uint64_t>(width) * 3 + 3) / 4 * 4;
  std::vector<uint8_t> bmp(static_cast<size_t>(54 + stride * height), 0);
  bmp[0] = 'B';
  bmp[1] = 'M';
  Put32(&bmp[2], static_cast<uint32_t>(bmp.size()));
  Put32(&bmp[10], 54);
  Put32(&bmp[14], 40);
  Put32(&bmp[18], width);
  Put32(&bmp[22], height);
  bmp[26] = 1;
  bmp[28] = 24;
  return bmp;
}

uint8_t* RowOf(std::vector<uint8_t>* bmp, uint32_t width, uint32_t height, uint32_t y) {
  uint64_t stride = (static_cast<uint64_t>(width) * 3 + 3) / 4 * 4;
  return bmp->data() + 54 + stride * (height - 1 - y);
}

void KeepPngDensity(const std::vector<uint8_t>& png, std::vector<uint8_t>* bmp) {
  // The chunks before the pixel data, each checked to lie in the file.
  for (uint64_t at = 8; at + 12 <= png.size();) {
    uint64_t length = BigEndian32(&png[at]);
    const uint8_t* type = &png[at + 4];
    if (std::memcmp(type, "IDAT", 4) == 0 || at + 12 + length > png.size()) return;
    if (std::memcmp(type, "pHYs", 4) == 0 && length == 9) {
      uint32_t x = BigEndian32(&png[at + 8]), y = BigEndian32(&png[at + 12]);
      bool metres = png[at + 16] == 1;
      if (metres && x <= 0x7FFFFFFF && y <= 0x7FFFFFFF && bmp->size() >= 54) {
        Put32(&(*bmp)[38], x);
        Put32(&(*bmp)[42], y);
      }
      return;
    }
    at += 12 + length;
  }
}
