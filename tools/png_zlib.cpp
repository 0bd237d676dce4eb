// PNG output for the Windows build, where libpng is not at hand: the file
// is laid out here and its pixel data compressed with zlib.
#include <zlib.h>

#include <vector>

#include "tools/png.h"

namespace {

void Put32(std::vector<uint8_t>* out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out->push_back(static_cast<uint8_t>(v >> shift));
}

void Chunk(std::vector<uint8_t>* out, const char* type, const std::vector<uint8_t>& data) {
  Put32(out, static_cast<uint32_t>(data.size()));
  size_t start = out->size();
  out->insert(out->end(), type, type + 4);
  out->insert(out->end(), data.begin(), data.end());
  uLong crc = crc32(0, &(*out)[start], static_cast<uInt>(out->size() - start));
  Put32(out, static_cast<uint32_t>(crc));
}

}  // namespace

bool WritePng(FILE* file, const RgbImage& image, std::string* why) {
  // Each row starts with filter type 0 (none).
  size_t rowBytes = static_cast<size_t>(image.width) * 3;
  std::vector<uint8_t> raw;
  raw.reserve((rowBytes + 1) * image.height);
  for (int y = 0; y < image.height; ++y) {
    raw.push_back(0);
    const uint8_t* row = &image.rgb[y * rowBytes];
    raw.insert(raw.end(), row, row + rowBytes);
  }
  uLongf packedBytes = compressBound(static_cast<uLong>(raw.size()));
  std::vector<uint8_t> packed(packedBytes);
  if (compress2(packed.data(), &packedBytes, raw.data(), static_cast<uLong>(raw.size()), 6) != Z_OK) {
    *why = "compression failed";
    return false;
  }
  packed.resize(packedBytes);

  std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<uint8_t> header;
  Put32(&header, static_cast<uint32_t>(image.width));
  Put32(&header, static_cast<uint32_t>(image.height));
  header.insert(header.end(), {8, 2, 0, 0, 0});  // 8 bits, RGB, deflate, no filter, no interlace
  Chunk(&out, "IHDR", header);
  Chunk(&out, "IDAT", packed);
  Chunk(&out, "IEND", {});
  if (std::fwrite(out.data(), 1, out.size(), file) != out.size()) {
    *why = "write error";
    return false;
  }
  return true;
}
