// BMP to QVX, and delivered bitmaps to RGB or BMP files.
#include "tools/qvx.h"

#include <cstring>

namespace {

uint32_t Get16(const uint8_t* p) { return p[0] | (p[1] << 8); }
uint32_t Get32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void Complement(std::vector<uint8_t>* bytes, uint64_t from, uint64_t count) {
  for (uint64_t i = from; i < from + count && i < bytes->size(); ++i) (*bytes)[i] ^= 0xFF;
}

// Scales an n-bit channel to 8 bits by repeating its bits, as Windows and
// the common readers do (5 bits: 0 -> 0x00, 1 -> 0x08, 31 -> 0xFF).
uint8_t Scale(uint32_t field, int n) {
  if (n >= 8) return static_cast<uint8_t>(field >> (n - 8));
  uint32_t out = 0;
  for (int filled = 0; filled < 8; filled += n) out |= (field << 8 >> n) >> filled;
  return static_cast<uint8_t>(out);
}

// Bytes per stored row of a bit depth.
uint64_t StoredStride(uint64_t width, uint32_t bits) { return (width * bits + 31) / 32 * 4; }

}  // namespace

void ComplementQvxRegions(std::vector<uint8_t>* bytes) {
  std::vector<uint8_t>& out = *bytes;
  if (out.size() < 18) {
    Complement(&out, 0, out.size());
    return;
  }
  uint32_t offBits = Get32(&out[10]);
  uint32_t headerSize = Get32(&out[14]);
  bool core = headerSize == 12;
  uint32_t bits = out.size() >= (core ? 26u : 54u) ? Get16(&out[core ? 24 : 28]) : 0;
  // The regions may overlap (a short header's fields run into the colour
  // table, a small table into the first pixels): mark their union and
  // complement each byte once.
  std::vector<bool> stored(out.size(), false);
  auto mark = [&](uint64_t from, uint64_t count) {
    for (uint64_t i = from; i < from + count && i < stored.size(); ++i) stored[i] = true;
  };
  mark(0, core ? 26 : 54);
  // The colour entries a reader takes: the full table when it fits before
  // the pixels, else as many whole entries as the gap holds (up to 8 bits).
  uint64_t tableStart = core ? 26 : 14 + static_cast<uint64_t>(headerSize);
  uint64_t colours = 0;
  if (bits < 32) {
    uint64_t fullTable = static_cast<uint64_t>(1) << bits;
    if (tableStart + 4 * fullTable <= offBits)
      colours = fullTable;
    else if (bits <= 8 && offBits > tableStart)
      colours = (offBits - tableStart) / 4;
  }
  mark(tableStart, 4 * colours);
  if (offBits < 100) mark(offBits, 100 - offBits);
  for (size_t i = 0; i < out.size(); ++i)
    if (stored[i]) out[i] ^= 0xFF;
}

bool EncodeQvx(const std::vector<uint8_t>& bmp, std::vector<uint8_t>* qvx, std::string* why) {
  if (bmp.size() < 26 || bmp[0] != 'B' || bmp[1] != 'M') {
    *why = "not a BMP file";
    return false;
  }
  uint32_t offBits = Get32(&bmp[10]);
  uint32_t headerSize = Get32(&bmp[14]);
  if (headerSize != 12 && (headerSize < 16 || headerSize > 64)) {
    *why = "its " + std::to_string(headerSize) +
           "-byte header is not one QVX holds (12, or 16 to 64 bytes)";
    return false;
  }
  if (bmp.size() < 14 + static_cast<uint64_t>(headerSize) || (headerSize != 12 && bmp.size() < 54)) {
    *why = "the file ends inside its header";
    return false;
  }
  bool core = headerSize == 12;
  int64_t width = core ? Get16(&bmp[18]) : static_cast<int32_t>(Get32(&bmp[18]));
  int64_t height = core ? static_cast<int16_t>(Get16(&bmp[20]))
                        : static_cast<int32_t>(Get32(&bmp[22]));
  uint32_t bits = core ? Get16(&bmp[24]) : Get16(&bmp[28]);
  uint32_t compression = core ? 0 : Get32(&bmp[30]);
  if (bits != 1 && bits != 2 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) {
    *why = std::to_string(bits) + " bits per pixel is not a depth QVX holds";
    return false;
  }
  if (compression != 0) {
    *why = compression == 3 || compression == 6 ? "bit-field bitmaps are not held by QVX"
                                                 : "compressed bitmaps are not held by QVX";
    return false;
  }
  if (width <= 0 || height == 0) {
    *why = "the picture has no pixels";
    return false;
  }
  uint64_t tableStart = 14 + static_cast<uint64_t>(headerSize);
  if (offBits < tableStart) {
    *why = "its pixel data starts inside its header";
    return false;
  }
  uint64_t rows = height < 0 ? -height : height;
  uint64_t pixelBytes = StoredStride(width, bits) * rows;
  if (offBits > bmp.size() || pixelBytes > bmp.size() - offBits) {
    *why = "the file is shorter than its header promises";
    return false;
  }

  // Lay out the QVX: headers as they are; a core header's 3-byte colour
  // entries become 4-byte entries, moving the pixels along.
  std::vector<uint8_t> out;
  uint64_t tableEntries = 0;
  if (core && bits <= 8) {
    tableEntries = (offBits - tableStart) / 3;
    if (tableEntries > (1u << bits)) tableEntries = 1u << bits;
    out.assign(bmp.begin(), bmp.begin() + tableStart);
    for (uint64_t i = 0; i < tableEntries; ++i) {
      const uint8_t* entry = &bmp[tableStart + 3 * i];
      out.insert(out.end(), {entry[0], entry[1], entry[2], 0});
    }
    uint32_t newOffBits = static_cast<uint32_t>(out.size());
    out.insert(out.end(), bmp.begin() + offBits, bmp.begin() + offBits + pixelBytes);
    Put32(&out[10], newOffBits);
    Put32(&out[2], static_cast<uint32_t>(out.size()));
    offBits = newOffBits;
  } else {
    out.assign(bmp.begin(), bmp.begin() + offBits + pixelBytes);
    // The length check of a reader holding the file handle wants bfSize
    // no larger than the file.
    if (Get32(&out[2]) > out.size()) Put32(&out[2], static_cast<uint32_t>(out.size()));
  }

  ComplementQvxRegions(&out);
  *qvx = std::move(out);
  return true;
}

bool RenderDib(const uint8_t* info, size_t infoBytes, const uint8_t* pixels, size_t pixelBytes,
               RgbImage* image, std::string* why) {
  if (infoBytes < 40) {
    *why = "information block shorter than its header";
    return false;
  }
  int32_t width = static_cast<int32_t>(Get32(info + 4));
  int32_t height = static_cast<int32_t>(Get32(info + 8));
  uint32_t bits = Get16(info + 14);
  uint32_t compression = Get32(info + 16);
  if (width <= 0 || height == 0 || width > (1 << 24) || height == INT32_MIN) {
    *why = "unusable picture size";
    return false;
  }
  uint64_t rows = height < 0 ? -static_cast<int64_t>(height) : height;
  uint64_t stride = StoredStride(width, bits);
  if (stride * rows > pixelBytes) {
    *why = "pixel block shorter than the picture";
    return false;
  }
  uint32_t masks[3] = {0x7C00, 0x03E0, 0x001F};
  if (compression == 3) {
    if (infoBytes < 52) {
      *why = "information block too short for its masks";
      return false;
    }
    for (int i = 0; i < 3; ++i) masks[i] = Get32(info + 40 + 4 * i);
  } else if (compression != 0) {
    *why = "compressed bitmap";
    return false;
  }
  if (bits == 32 && compression == 0) {
    masks[0] = 0xFF0000;
    masks[1] = 0xFF00;
    masks[2] = 0xFF;
  }
  uint64_t paletteEntries = bits <= 8 ? (infoBytes - 40) / 4 : 0;
  image->width = width;
  image->height = static_cast<int>(rows);
  image->rgb.assign(static_cast<size_t>(width) * rows * 3, 0);
  for (uint64_t r = 0; r < rows; ++r) {
    // Bottom-up rows unless the height is negative.
    uint64_t y = height > 0 ? rows - 1 - r : r;
    const uint8_t* row = pixels + r * stride;
    uint8_t* out = &image->rgb[y * width * 3];
    for (int32_t x = 0; x < width; ++x, out += 3) {
      if (bits <= 8) {
        uint32_t index = (row[x * bits / 8] >> (8 - bits - (x * bits) % 8)) & ((1u << bits) - 1);
        if (index >= paletteEntries) continue;  // outside the table: black
        const uint8_t* slot = info + 40 + 4 * index;
        out[0] = slot[2];
        out[1] = slot[1];
        out[2] = slot[0];
      } else if (bits == 24) {
        out[0] = row[3 * x + 2];
        out[1] = row[3 * x + 1];
        out[2] = row[3 * x];
      } else if (bits == 16 || bits == 32) {
        uint32_t v = bits == 16 ? Get16(row + 2 * x) : Get32(row + 4 * x);
        for (int c = 0; c < 3; ++c) {
          uint32_t mask = masks[c];
          if (mask == 0) continue;
          int shift = 0;
          while (!((mask >> shift) & 1)) ++shift;
          int n = 0;
          while (n < 32 - shift && ((mask >> (shift + n)) & 1)) ++n;
          out[c] = Scale((v & mask) >> shift, n);
        }
      } else {
        *why = std::to_string(bits) + " bits per pixel is not a delivered depth";
        return false;
      }
    }
  }
  return true;
}

std::vector<uint8_t> DibToBmpFile(const uint8_t* info, size_t infoBytes, const uint8_t* pixels,
                                  size_t pixelBytes) {
  std::vector<uint8_t> file(14);
  uint64_t total = 14 + infoBytes + pixelBytes;
  file[0] = 'B';
  file[1] = 'M';
  Put32(&file[2], static_cast<uint32_t>(total));
  Put32(&file[10], static_cast<uint32_t>(14 + infoBytes));
  file.insert(file.end(), info, info + infoBytes);
  file.insert(file.end(), pixels, pixels + pixelBytes);
  return file;
}
