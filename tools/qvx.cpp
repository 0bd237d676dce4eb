// BMP to QVX, and delivered bitmaps to RGB or BMP files.
#include "tools/qvx.h"

#include <cstdint>
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

// A field of the stored information header, or 0 when it lies past the
// stored header size (a header of 16 to 39 bytes holds only the first few).
static uint32_t HeaderField(const std::vector<uint8_t>& bytes, uint32_t headerSize, uint32_t at, int size) {
  if (at + size > 14 + static_cast<uint64_t>(headerSize) || at + size > bytes.size()) return 0;
  return size == 2 ? Get16(&bytes[at]) : Get32(&bytes[at]);
}

void ComplementQvxRegions(std::vector<uint8_t>* bytes) {
  std::vector<uint8_t>& out = *bytes;
  if (out.size() < 18) {
    Complement(&out, 0, out.size());
    return;
  }
  // The regions overlap when the header is short or the pixels start early;
  // each byte of their union is complemented once.
  std::vector<bool> marked(out.size() < 100 ? 100 : out.size(), false);
  auto mark = [&](uint64_t from, uint64_t count) {
    for (uint64_t i = from; i < from + count && i < marked.size(); ++i) marked[i] = true;
  };
  uint32_t offBits = Get32(&out[10]);
  uint32_t headerSize = Get32(&out[14]);
  bool core = headerSize == 12;
  uint32_t bits = core ? HeaderField(out, headerSize, 24, 2) : HeaderField(out, headerSize, 28, 2);
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
    if (marked[i]) out[i] ^= 0xFF;
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
  if (bmp.size() < 14 + static_cast<uint64_t>(headerSize)) {
    *why = "the file ends inside its header";
    return false;
  }
  bool core = headerSize == 12;
  int64_t width = core ? static_cast<int64_t>(Get16(&bmp[18])) : static_cast<int32_t>(HeaderField(bmp, headerSize, 18, 4));
  int64_t height = core ? static_cast<int64_t>(Get16(&bmp[20])) : static_cast<int32_t>(HeaderField(bmp, headerSize, 22, 4));
  uint32_t bits = core ? Get16(&bmp[24]) : HeaderField(bmp, headerSize, 28, 2);
  uint32_t compression = core ? 0 : HeaderField(bmp, headerSize, 30, 4);
  // The QVX core form holds width and height as signed 16-bit values.
  if (core && (width >= 32768 || height >= 32768)) {
    *why = "its 12-byte header gives a " + std::string(width >= 32768 ? "width" : "height") + " of " +
           std::to_string(width >= 32768 ? width : height) +
           ", more than QVX holds with that header (32767); save it with a 40-byte header first";
    return false;
  }
  if (bits != 1 && bits != 2 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) {
    *why = std::to_string(bits) + "-bit pictures are not held by QVX; save it with 24 or 32 bits per pixel first";
    return false;
  }
  if (compression != 0) {
    *why = compression == 3 && bits == 1 ? "Huffman-compressed bitmaps are not held by QVX"
           : compression == 3 || compression == 6 ? "bit-field bitmaps are not held by QVX"
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
  if (core && bits <= 8) {
    uint64_t tableEntries = (offBits - tableStart) / 3;
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
  } else {
    out.assign(bmp.begin(), bmp.begin() + offBits + pixelBytes);
    // The length check of a reader holding the file handle wants bfSize
    // no larger than the file.
    if (Get32(&out[2]) > out.size()) Put32(&out[2], static_cast<uint32_t>(out.size()));
  }
  // Bytes 14 to 53 are read as a 40-byte header whatever the stored size;
  // a short file gets zeros there.
  if (!core && out.size() < 54) out.resize(54, 0);

  ComplementQvxRegions(&out);
  *qvx = std::move(out);
  return true;
}

namespace {

// Reads the RLE8 or RLE4 rows of a bitmap into plain rows (bottom-up, the
// given stride). Pixels the data skips keep colour index 0.
bool Unpack(const uint8_t* data, size_t bytes, uint32_t bits, uint64_t width, uint64_t rows, uint64_t stride,
            uint8_t* out, std::string* why) {
  uint64_t x = 0, y = 0;
  size_t at = 0;
  auto put = [&](uint32_t index) {
    if (x < width && y < rows) {
      uint8_t* row = out + y * stride;
      if (bits == 8)
        row[x] = static_cast<uint8_t>(index);
      else
        row[x / 2] |= static_cast<uint8_t>((index & 15) << (x % 2 ? 0 : 4));
    }
    ++x;
  };
  while (at + 1 < bytes) {
    uint8_t count = data[at], value = data[at + 1];
    at += 2;
    if (count > 0) {
      for (uint32_t i = 0; i < count; ++i) put(bits == 8 ? value : (i % 2 ? value & 15 : value >> 4));
    } else if (value == 0) {
      x = 0;
      ++y;
    } else if (value == 1) {
      return true;
    } else if (value == 2) {
      if (at + 1 >= bytes) break;
      x += data[at];
      y += data[at + 1];
      at += 2;
    } else {
      uint64_t literal = bits == 8 ? value : (value + 1) / 2;
      if (at + literal > bytes) break;
      for (uint32_t i = 0; i < value; ++i)
        put(bits == 8 ? data[at + i] : (i % 2 ? data[at + i / 2] & 15 : data[at + i / 2] >> 4));
      at += (literal + 1) / 2 * 2;
    }
  }
  *why = "its run-length data ends early or is damaged";
  return false;
}

}  // namespace

bool PlainBmp(const std::vector<uint8_t>& bmp, std::vector<uint8_t>* plain, std::string* why) {
  if (bmp.size() < 18 || bmp[0] != 'B' || bmp[1] != 'M') {
    *why = "not a BMP or PNG file";
    return false;
  }
  uint32_t headerSize = Get32(&bmp[14]);
  if (headerSize == 12 || headerSize < 16) {
    *plain = bmp;  // as it is; EncodeQvx says what it cannot hold
    return true;
  }
  if (bmp.size() < 14 + static_cast<uint64_t>(headerSize) && bmp.size() < 54) {
    *why = "the file ends inside its header";
    return false;
  }
  int64_t width = static_cast<int32_t>(HeaderField(bmp, headerSize, 18, 4));
  int64_t height = static_cast<int32_t>(HeaderField(bmp, headerSize, 22, 4));
  uint32_t bits = HeaderField(bmp, headerSize, 28, 2);
  uint32_t compression = HeaderField(bmp, headerSize, 30, 4);
  uint32_t offBits = Get32(&bmp[10]);
  if (compression == 0 && headerSize <= 64) {
    *plain = bmp;
    return true;
  }
  const char* refusal = nullptr;
  if (compression == 4) refusal = "it holds a JPEG picture; convert that to PNG and encode the PNG";
  if (compression == 5) refusal = "it holds a PNG picture; save it as a plain PNG and encode that";
  if (compression == 3 && bits == 1) refusal = "Huffman-compressed bitmaps are not held by QVX; save it uncompressed first";
  if (bits == 64) refusal = "64-bit pictures are not held by QVX; save it with 24 or 32 bits per pixel first";
  if (!refusal && compression > 6) refusal = "its compression method is unknown; save it uncompressed first";
  bool rle = compression == 1 || compression == 2;
  bool fields = compression == 3 || compression == 6;
  if (!refusal && ((compression == 1 && bits != 8) || (compression == 2 && bits != 4) ||
                   (fields && bits != 16 && bits != 32)))
    refusal = "its compression does not fit its depth; the file is damaged";
  if (!refusal && rle && height < 0) refusal = "run-length bitmaps cannot be stored top-down; the file is damaged";
  if (!refusal && (bits == 0 || (bits > 8 && bits != 16 && bits != 24 && bits != 32) || (bits < 8 && 8 % bits)))
    refusal = "its bit depth is not one of 1, 2, 4, 8, 16, 24 or 32";
  if (!refusal && (width <= 0 || height == 0)) refusal = "the picture has no pixels";
  if (refusal) {
    *why = refusal;
    return false;
  }
  uint64_t rows = height < 0 ? -height : height;
  uint64_t tableStart = 14 + static_cast<uint64_t>(headerSize);
  if (offBits > bmp.size() || offBits < 54) {
    *why = "its pixel data lies outside the file";
    return false;
  }
  // Bit fields become plain pixels: 5-5-5 16-bit and 8-8-8 32-bit ones as
  // they are, any other layout as 24-bit pixels.
  uint32_t masks[3] = {0, 0, 0};
  if (fields) {
    if (bmp.size() < 66) {
      *why = "the file ends inside its bit fields";
      return false;
    }
    for (int c = 0; c < 3; ++c) masks[c] = Get32(&bmp[54 + 4 * c]);
  }
  uint32_t outBits = bits;
  if (fields && !(bits == 16 && masks[0] == 0x7C00 && masks[1] == 0x3E0 && masks[2] == 0x1F) &&
      !(bits == 32 && masks[0] == 0xFF0000 && masks[1] == 0xFF00 && masks[2] == 0xFF))
    outBits = 24;
  uint64_t inStride = StoredStride(width, bits), outStride = StoredStride(width, outBits);
  if (outStride * rows > 0x7FFF0000) {
    *why = "the picture is larger than a QVX file holds (2 GiB)";
    return false;
  }
  uint64_t colours = 0;
  if (bits <= 8) {
    uint64_t used = HeaderField(bmp, headerSize, 46, 4);
    colours = used == 0 || used > (1u << bits) ? (1u << bits) : used;
    uint64_t room = offBits > tableStart ? (offBits - tableStart) / 4 : 0;
    if (colours > room) colours = room;
  }
  std::vector<uint8_t> out(54 + 4 * colours, 0);
  out[0] = 'B';
  out[1] = 'M';
  Put32(&out[10], static_cast<uint32_t>(out.size()));
  Put32(&out[14], 40);
  Put32(&out[18], static_cast<uint32_t>(width));
  Put32(&out[22], static_cast<uint32_t>(height));
  out[26] = 1;
  out[28] = static_cast<uint8_t>(outBits);
  Put32(&out[38], HeaderField(bmp, headerSize, 38, 4));
  Put32(&out[42], HeaderField(bmp, headerSize, 42, 4));
  Put32(&out[46], static_cast<uint32_t>(colours));
  if (colours > 0) std::memcpy(&out[54], &bmp[tableStart], 4 * colours);
  size_t pixelsAt = out.size();
  out.resize(pixelsAt + outStride * rows, 0);
  const uint8_t* in = &bmp[offBits];
  size_t available = bmp.size() - offBits;
  if (rle) {
    if (!Unpack(in, available, bits, width, rows, outStride, &out[pixelsAt], why)) return false;
  } else {
    if (inStride * rows > available) {
      *why = "the file is shorter than its header promises";
      return false;
    }
    if (outBits == bits) {
      std::memcpy(&out[pixelsAt], in, inStride * rows);
    } else {
      int shift[3], size[3];
      for (int c = 0; c < 3; ++c) {
        shift[c] = size[c] = 0;
        if (masks[c] == 0) continue;
        while (!((masks[c] >> shift[c]) & 1)) ++shift[c];
        while (shift[c] + size[c] < 32 && ((masks[c] >> (shift[c] + size[c])) & 1)) ++size[c];
      }
      for (uint64_t r = 0; r < rows; ++r) {
        const uint8_t* row = in + r * inStride;
        uint8_t* dst = &out[pixelsAt + r * outStride];
        for (uint64_t x = 0; x < static_cast<uint64_t>(width); ++x, dst += 3) {
          uint32_t v = bits == 16 ? Get16(row + 2 * x) : Get32(row + 4 * x);
          for (int c = 0; c < 3; ++c)
            dst[2 - c] = masks[c] == 0 ? 0 : Scale((v & masks[c]) >> shift[c], size[c]);
        }
      }
    }
  }
  Put32(&out[2], static_cast<uint32_t>(out.size()));
  *plain = std::move(out);
  return true;
}

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
  int32_t width = static_cast<int32_t>(Get32(info + 4));
  int32_t height = static_cast<int32_t>(Get32(info + 8));
  v.bits = Get16(info + 14);
  uint32_t compression = Get32(info + 16);
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
  v.stride = StoredStride(v.width, v.bits);
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
    for (int i = 0; i < 3; ++i) masks[i] = Get32(info + 40 + 4 * i);
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
      uint32_t v = view.bits == 16 ? Get16(row + 2 * static_cast<uint64_t>(x)) : Get32(row + 4 * static_cast<uint64_t>(x));
      for (int c = 0; c < 3; ++c)
        out[c] = view.masks[c] == 0 ? 0 : Scale((v & view.masks[c]) >> view.shifts[c], view.sizes[c]);
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
