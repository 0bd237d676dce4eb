// Delivered bitmaps as the tool and the tests read them: checked views,
// RGB rows and BMP files.
#include "tools/dib.h"

#include <cstdint>
#include <cstring>

#include "decode/bytes.h"
#include "encode/encode.h"

bool ViewDib(const uint8_t* info, size_t infoBytes, const uint8_t* pixels, size_t pixelBytes, DibView* view,
             std::string* why) {
  if (infoBytes < 40) {
    *why = "information block shorter than its header";
    return false;
  }
  DibView& v = *view;
  v = DibView();
  v.info = info;
  v.pixels = pixels;
  int32_t width = static_cast<int32_t>(ReadU32(info + 4));
  int32_t height = static_cast<int32_t>(ReadU32(info + 8));
  v.bits = ReadU16(info + 14);
  uint32_t compression = ReadU32(info + 16);
  if (width <= 0 || height == 0 || height == INT32_MIN) {
    *why = "unusable picture size";
    return false;
  }
  if (v.bits != 1 && v.bits != 4 && v.bits != 8 && v.bits != 16 && v.bits != 24 && v.bits != 32) {
    *why = std::to_string(v.bits) + " bits per pixel is not a delivered depth";
    return false;
  }
  v.width = static_cast<uint32_t>(width);
  v.rows = static_cast<uint32_t>(height < 0 ? -static_cast<int64_t>(height) : height);
  v.topDown = height < 0;
  v.stride = BmpStride(v.width, v.bits);
  if (v.stride * v.rows > pixelBytes) {
    *why = "pixel block shorter than the picture";
    return false;
  }
  uint32_t masks[3] = {0x7C00, 0x03E0, 0x001F};
  if (v.bits == 32) {
    masks[0] = 0xFF0000;
    masks[1] = 0xFF00;
    masks[2] = 0xFF;
  }
  if (compression == 3 && (v.bits == 16 || v.bits == 32)) {
    if (infoBytes < 52) {
      *why = "information block too short for its masks";
      return false;
    }
    for (int i = 0; i < 3; ++i) masks[i] = ReadU32(info + 40 + 4 * i);
  } else if (compression != 0) {
    *why = "compressed bitmap";
    return false;
  }
  for (int c = 0; c < 3; ++c) {
    v.masks[c] = masks[c];
    v.shifts[c] = 0;
    v.sizes[c] = 0;
    if (masks[c] == 0) continue;
    while (!((masks[c] >> v.shifts[c]) & 1)) ++v.shifts[c];
    while (v.shifts[c] + v.sizes[c] < 32 && ((masks[c] >> (v.shifts[c] + v.sizes[c])) & 1)) ++v.sizes[c];
  }
  uint64_t entries = v.bits <= 8 ? (infoBytes - 40) / 4 : 0;
  v.paletteEntries = static_cast<uint32_t>(entries > 256 ? 256 : entries);
  return true;
}

const uint8_t* DibRow(const DibView& view, uint32_t y) {
  uint64_t stored = view.topDown ? y : view.rows - 1 - y;
  return view.pixels + stored * view.stride;
}

uint32_t DibIndex(const uint8_t* row, uint32_t x, uint32_t bits) {
  if (bits == 8) return row[x];
  uint64_t bit = static_cast<uint64_t>(x) * bits;
  return (row[bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
}

void DibRowRgb(const DibView& view, uint32_t y, uint8_t* out) {
  const uint8_t* row = DibRow(view, y);
  if (view.bits <= 8) {
    for (uint32_t x = 0; x < view.width; ++x, out += 3) {
      uint32_t index = DibIndex(row, x, view.bits);
      if (index >= view.paletteEntries) {  // outside the table: black
        out[0] = out[1] = out[2] = 0;
        continue;
      }
      const uint8_t* slot = view.info + 40 + 4 * index;
      out[0] = slot[2];
      out[1] = slot[1];
      out[2] = slot[0];
    }
  } else if (view.bits == 24) {
    for (uint32_t x = 0; x < view.width; ++x, out += 3, row += 3) {
      out[0] = row[2];
      out[1] = row[1];
      out[2] = row[0];
    }
  } else if (view.bits == 32 && view.masks[0] == 0xFF0000 && view.masks[1] == 0xFF00 && view.masks[2] == 0xFF) {
    for (uint32_t x = 0; x < view.width; ++x, out += 3, row += 4) {
      out[0] = row[2];
      out[1] = row[1];
      out[2] = row[0];
    }
  } else {
    for (uint32_t x = 0; x < view.width; ++x, out += 3) {
      uint32_t v = view.bits == 16 ? ReadU16(row + 2 * static_cast<uint64_t>(x)) : ReadU32(row + 4 * static_cast<uint64_t>(x));
      for (int c = 0; c < 3; ++c)
        out[c] = view.masks[c] == 0 ? 0 : ScaleChannel((v & view.masks[c]) >> view.shifts[c], view.sizes[c]);
    }
  }
}

bool RenderDib(const uint8_t* info, size_t infoBytes, const uint8_t* pixels, size_t pixelBytes,
               RgbImage* image, std::string* why) {
  DibView view;
  if (!ViewDib(info, infoBytes, pixels, pixelBytes, &view, why)) return false;
  uint64_t rowBytes = static_cast<uint64_t>(view.width) * 3;
  if (rowBytes * view.rows > SIZE_MAX / 2 || view.rows > 0x7FFFFFFF || view.width > 0x7FFFFFFF) {
    *why = "picture too large to hold in memory";
    return false;
  }
  image->width = static_cast<int>(view.width);
  image->height = static_cast<int>(view.rows);
  image->rgb.assign(static_cast<size_t>(rowBytes * view.rows), 0);
  for (uint32_t y = 0; y < view.rows; ++y) DibRowRgb(view, y, &image->rgb[static_cast<size_t>(y * rowBytes)]);
  return true;
}

std::vector<uint8_t> DibToBmpFile(const uint8_t* info, size_t infoBytes, const uint8_t* pixels,
                                  size_t pixelBytes) {
  uint64_t total = 14 + infoBytes + pixelBytes;
  std::vector<uint8_t> file(total);
  file[0] = 'B';
  file[1] = 'M';
  WriteU32(&file[2], static_cast<uint32_t>(total));
  WriteU32(&file[10], static_cast<uint32_t>(14 + infoBytes));
  if (infoBytes > 0) std::memcpy(&file[14], info, infoBytes);
  if (pixelBytes > 0) std::memcpy(&file[14 + infoBytes], pixels, pixelBytes);
  return file;
}
