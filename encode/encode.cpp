// BMP to QVX.
#include "encode/encode.h"

#include <cstdint>
#include <cstring>

#include "decode/bytes.h"

namespace {

void Complement(std::vector<uint8_t>* bytes, uint64_t from, uint64_t count) {
  for (uint64_t i = from; i < from + count && i < bytes->size(); ++i) (*bytes)[i] ^= 0xFF;
}

}  // namespace

uint8_t ScaleChannel(uint32_t field, int n) {
  if (n >= 8) return static_cast<uint8_t>(field >> (n - 8));
  uint32_t out = 0;
  for (int filled = 0; filled < 8; filled += n) out |= (field << 8 >> n) >> filled;
  return static_cast<uint8_t>(out);
}

uint64_t BmpStride(uint64_t width, uint32_t bits) { return (width * bits + 31) / 32 * 4; }

// A field of the stored information header, or 0 when it lies past the
// stored header size (a header of 16 to 39 bytes holds only the first few).
static uint32_t HeaderField(const std::vector<uint8_t>& bytes, uint32_t headerSize, uint32_t at, int size) {
  if (at + size > 14 + static_cast<uint64_t>(headerSize) || at + size > bytes.size()) return 0;
  return size == 2 ? ReadU16(&bytes[at]) : ReadU32(&bytes[at]);
}

// Why a picture of this size cannot be stored.
static std::string NoPixels(int64_t width, int64_t height) {
  if (width < 0) return "its width is negative (" + std::to_string(width) + "); the file is damaged";
  return "the picture has no pixels (" + std::to_string(width) + " x " + std::to_string(height) + ")";
}

bool BmpDimensions(const std::vector<uint8_t>& bmp, uint64_t* width, uint64_t* rows) {
  if (bmp.size() < 26 || bmp[0] != 'B' || bmp[1] != 'M') return false;
  uint32_t headerSize = ReadU32(&bmp[14]);
  bool core = headerSize == 12;
  int64_t w = core ? static_cast<int64_t>(ReadU16(&bmp[18])) : static_cast<int32_t>(HeaderField(bmp, headerSize, 18, 4));
  int64_t h = core ? static_cast<int64_t>(ReadU16(&bmp[20])) : static_cast<int32_t>(HeaderField(bmp, headerSize, 22, 4));
  *width = w < 0 ? 0 : static_cast<uint64_t>(w);
  *rows = h < 0 ? static_cast<uint64_t>(-h) : static_cast<uint64_t>(h);
  return true;
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
  uint32_t offBits = ReadU32(&out[10]);
  uint32_t headerSize = ReadU32(&out[14]);
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
  uint32_t offBits = ReadU32(&bmp[10]);
  uint32_t headerSize = ReadU32(&bmp[14]);
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
  int64_t width = core ? static_cast<int64_t>(ReadU16(&bmp[18])) : static_cast<int32_t>(HeaderField(bmp, headerSize, 18, 4));
  int64_t height = core ? static_cast<int64_t>(ReadU16(&bmp[20])) : static_cast<int32_t>(HeaderField(bmp, headerSize, 22, 4));
  uint32_t bits = core ? ReadU16(&bmp[24]) : HeaderField(bmp, headerSize, 28, 2);
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
    *why = NoPixels(width, height);
    return false;
  }
  uint64_t tableStart = 14 + static_cast<uint64_t>(headerSize);
  if (offBits < tableStart) {
    *why = "its pixel data starts inside its header";
    return false;
  }
  uint64_t rows = height < 0 ? -height : height;
  uint64_t pixelBytes = BmpStride(width, bits) * rows;
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
    WriteU32(&out[10], newOffBits);
    WriteU32(&out[2], static_cast<uint32_t>(out.size()));
  } else {
    out.assign(bmp.begin(), bmp.begin() + offBits + pixelBytes);
    // The length check of a reader holding the file handle wants bfSize
    // no larger than the file.
    if (ReadU32(&out[2]) > out.size()) WriteU32(&out[2], static_cast<uint32_t>(out.size()));
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
  uint32_t headerSize = ReadU32(&bmp[14]);
  // A colour table shorter than the header promises would leave pixels
  // black that every reader shows in colour.
  bool core = headerSize == 12;
  uint32_t depth = core ? HeaderField(bmp, 64, 24, 2) : HeaderField(bmp, headerSize, 28, 2);
  uint64_t start = 14 + static_cast<uint64_t>(headerSize), entry = core ? 3 : 4;
  if (depth >= 1 && depth <= 8 && (core || headerSize >= 16)) {
    uint64_t promised = core ? 0 : HeaderField(bmp, headerSize, 46, 4);
    if (promised == 0 || promised > (1u << depth)) promised = 1u << depth;
    uint64_t pixels = ReadU32(&bmp[10]), end = pixels < bmp.size() ? pixels : bmp.size();
    uint64_t held = end > start ? (end - start) / entry : 0;
    if (held < promised) {
      *why = "it promises " + std::to_string(promised) + " colours but its colour table holds " +
             std::to_string(held) + "; the file is damaged";
      return false;
    }
  }
  if (core || headerSize < 16) {
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
  uint32_t offBits = ReadU32(&bmp[10]);
  if (compression == 0 && headerSize <= 64) {
    *plain = bmp;
    return true;
  }
  const char* refusal = nullptr;
  // OS/2 headers (16 to 64 bytes, other than Windows' 40, 52 and 56) use 3
  // and 4 for Huffman and 24-bit run-length data.
  bool os2 = headerSize <= 64 && headerSize != 40 && headerSize != 52 && headerSize != 56;
  if (compression == 4)
    refusal = os2 ? "its 24-bit run-length data (an OS/2 form) is not held by QVX; save it uncompressed first"
                  : "it holds a JPEG picture; convert that to PNG and encode the PNG";
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
  if (refusal) {
    *why = refusal;
    return false;
  }
  if (width <= 0 || height == 0) {
    *why = NoPixels(width, height);
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
    for (int c = 0; c < 3; ++c) masks[c] = ReadU32(&bmp[54 + 4 * c]);
  }
  uint32_t outBits = bits;
  if (fields && !(bits == 16 && masks[0] == 0x7C00 && masks[1] == 0x3E0 && masks[2] == 0x1F) &&
      !(bits == 32 && masks[0] == 0xFF0000 && masks[1] == 0xFF00 && masks[2] == 0xFF))
    outBits = 24;
  uint64_t inStride = BmpStride(width, bits), outStride = BmpStride(width, outBits);
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
  WriteU32(&out[10], static_cast<uint32_t>(out.size()));
  WriteU32(&out[14], 40);
  WriteU32(&out[18], static_cast<uint32_t>(width));
  WriteU32(&out[22], static_cast<uint32_t>(height));
  out[26] = 1;
  out[28] = static_cast<uint8_t>(outBits);
  WriteU32(&out[38], HeaderField(bmp, headerSize, 38, 4));
  WriteU32(&out[42], HeaderField(bmp, headerSize, 42, 4));
  WriteU32(&out[46], static_cast<uint32_t>(colours));
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
          uint32_t v = bits == 16 ? ReadU16(row + 2 * x) : ReadU32(row + 4 * x);
          for (int c = 0; c < 3; ++c)
            dst[2 - c] = masks[c] == 0 ? 0 : ScaleChannel((v & masks[c]) >> shift[c], size[c]);
        }
      }
    }
  }
  WriteU32(&out[2], static_cast<uint32_t>(out.size()));
  *plain = std::move(out);
  return true;
}

uint64_t QvxRowsFileBytes(const QvxRowsPicture& picture, std::string* why) {
  const uint64_t kMostFile = 0x7FFF0000;
  uint32_t bits = picture.bits;
  if (bits != 1 && bits != 8 && bits != 24) {
    *why = std::to_string(bits) + "-bit pictures are not stored from rows (1, 8 or 24 bits)";
    return 0;
  }
  if (picture.width == 0 || picture.height == 0) {
    *why = NoPixels(static_cast<int64_t>(picture.width), static_cast<int64_t>(picture.height));
    return 0;
  }
  if (bits <= 8 && (picture.colourCount == 0 || picture.colourCount > (1u << bits))) {
    *why = "a " + std::to_string(bits) + "-bit picture holds 1 to " + std::to_string(1u << bits) +
           " colours, not " + std::to_string(picture.colourCount);
    return 0;
  }
  if (picture.width > INT32_MAX || picture.height > INT32_MAX) {
    *why = "the picture is larger than a QVX file holds (2 GiB)";
    return 0;
  }
  uint64_t table = bits <= 8 ? 4 * static_cast<uint64_t>(picture.colourCount) : 0;
  uint64_t stride = BmpStride(picture.width, bits);
  if (stride > (kMostFile - 54 - table) / picture.height) {
    *why = "the picture is larger than a QVX file holds (2 GiB)";
    return 0;
  }
  return 54 + table + stride * picture.height;
}

bool StoreQvxRows(const QvxRowsPicture& picture, uint8_t* out, std::string* why) {
  uint64_t size = QvxRowsFileBytes(picture, why);
  if (size == 0) return false;
  uint32_t bits = picture.bits;
  uint64_t table = bits <= 8 ? 4 * static_cast<uint64_t>(picture.colourCount) : 0;
  uint64_t offBits = 54 + table, stride = BmpStride(picture.width, bits);
  std::memset(out, 0, 54);
  out[0] = 'B';
  out[1] = 'M';
  WriteU32(out + 2, static_cast<uint32_t>(size));
  WriteU32(out + 10, static_cast<uint32_t>(offBits));
  WriteU32(out + 14, 40);
  WriteU32(out + 18, static_cast<uint32_t>(picture.width));
  WriteU32(out + 22, static_cast<uint32_t>(picture.height));
  WriteU16(out + 26, 1);
  WriteU16(out + 28, bits);
  WriteU32(out + 34, static_cast<uint32_t>(stride * picture.height));
  WriteU32(out + 38, static_cast<uint32_t>(picture.xPelsPerMeter));
  WriteU32(out + 42, static_cast<uint32_t>(picture.yPelsPerMeter));
  WriteU32(out + 46, bits <= 8 ? picture.colourCount : 0);
  for (uint64_t i = 0; i < table / 4; ++i) {
    const uint8_t* rgb = picture.colours + 3 * i;
    uint8_t* entry = out + 54 + 4 * i;
    entry[0] = rgb[2], entry[1] = rgb[1], entry[2] = rgb[0], entry[3] = 0;
  }
  // Rows bottom-up; a row's padding stays zero.
  const uint32_t limit = bits <= 8 ? 1u << bits : 0;
  for (uint64_t y = 0; y < picture.height; ++y) {
    const uint8_t* src = picture.pixels + y * picture.stride;
    uint8_t* dst = out + offBits + (picture.height - 1 - y) * stride;
    if (bits == 24) {
      for (uint64_t x = 0; x < picture.width; ++x, src += 3, dst += 3) dst[0] = src[2], dst[1] = src[1], dst[2] = src[0];
      std::memset(dst, 0, stride - 3 * picture.width);
      continue;
    }
    std::memset(dst, 0, stride);
    uint32_t perByte = 8 / bits;
    for (uint64_t x = 0; x < picture.width; ++x) {
      if (src[x] >= limit) {
        *why = "the colour index " + std::to_string(src[x]) + " (row " + std::to_string(y) + ", column " +
               std::to_string(x) + ") does not fit " + std::to_string(bits) + " bits";
        return false;
      }
      dst[x / perByte] |= static_cast<uint8_t>(src[x] << (bits * (perByte - 1 - x % perByte)));
    }
  }
  // The regions QVX stores complemented: headers, colour table and the
  // pixel bytes before offset 100.
  uint64_t complemented = offBits > 100 ? offBits : (size < 100 ? size : 100);
  for (uint64_t i = 0; i < complemented; ++i) out[i] ^= 0xFF;
  return true;
}
