// What both PNG readers share: the signature and the BMP they fill.
#include "tools/png_read.h"

#include <cstring>

bool LooksLikePng(const std::vector<uint8_t>& bytes) {
  static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  return bytes.size() >= 8 && std::memcmp(bytes.data(), kSignature, 8) == 0;
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
