#include "common/pictures.h"

#include <cstdio>
#include <cstring>

#include "encode/encode.h"

namespace {

void Put(std::vector<uint8_t>* out, size_t at, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) (*out)[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

// A small deterministic byte sequence.
uint8_t NextByte(uint32_t* state) {
  *state = *state * 1664525u + 1013904223u;
  return static_cast<uint8_t>(*state >> 24);
}

}  // namespace

PictureShape ShapeOf(uint16_t bits, int32_t width, int32_t height, uint32_t colours, uint32_t headerSize) {
  PictureShape s;
  s.bits = bits;
  s.width = width;
  s.height = height;
  s.colours = colours;
  s.headerSize = headerSize;
  return s;
}

uint64_t StrideOf(int32_t width, uint16_t bits) {
  return (static_cast<uint64_t>(width < 0 ? 0 : width) * bits + 31) / 32 * 4;
}

uint64_t PixelOffsetOf(const PictureShape& shape) {
  if (shape.offBits >= 0) return static_cast<uint64_t>(shape.offBits);
  return 14 + static_cast<uint64_t>(shape.headerSize) + 4ull * shape.colours + shape.gapBytes;
}

std::vector<uint8_t> MakeBmp(const PictureShape& shape) {
  uint64_t offBits = PixelOffsetOf(shape);
  uint64_t rows = shape.height < 0 ? -static_cast<int64_t>(shape.height) : shape.height;
  uint64_t pixels =
      shape.pixelBytes >= 0 ? static_cast<uint64_t>(shape.pixelBytes) : StrideOf(shape.width, shape.bits) * rows;
  // A short header (16 to 39 bytes) holds only the fields that fit in it.
  bool shortHeader = shape.headerSize >= 16 && shape.headerSize < 40;
  uint64_t headerEnd = 14 + static_cast<uint64_t>(shape.headerSize == 12 ? 12 : 40);
  if (shape.headerSize != 12 && shape.headerSize > 40) headerEnd = 14 + shape.headerSize;
  if (shortHeader) headerEnd = 14 + shape.headerSize;
  uint64_t size = offBits + pixels;
  if (size < headerEnd) size = headerEnd;
  std::vector<uint8_t> out(size, 0);
  out[0] = 'B';
  out[1] = 'M';
  Put(&out, 2, size, 4);
  Put(&out, 10, offBits, 4);
  Put(&out, 14, shape.headerSize, 4);
  if (shape.headerSize == 12) {
    Put(&out, 18, static_cast<uint16_t>(shape.width), 2);
    Put(&out, 20, static_cast<uint16_t>(shape.height), 2);
    Put(&out, 22, 1, 2);
    Put(&out, 24, shape.bits, 2);
  } else {
    auto field = [&](size_t at, uint64_t value, int bytes) {
      if (!shortHeader || at + bytes <= headerEnd) Put(&out, at, value, bytes);
    };
    field(18, static_cast<uint32_t>(shape.width), 4);
    field(22, static_cast<uint32_t>(shape.height), 4);
    field(26, 1, 2);
    field(28, shape.bits, 2);
    field(30, shape.compression, 4);
    field(34, pixels, 4);
    field(38, 2835, 4);
    field(42, 2835, 4);
    field(46, shape.colours, 4);
  }
  uint32_t state = shape.seed;
  uint64_t table = shape.headerSize == 12 ? 26 : 14 + static_cast<uint64_t>(shape.headerSize);
  for (uint64_t i = 0; i < 4ull * shape.colours && table + i < out.size(); ++i)
    out[table + i] = (i % 4 == 3) ? 0 : NextByte(&state);
  for (uint64_t i = offBits; i < out.size(); ++i) out[i] = NextByte(&state);
  return out;
}

std::vector<uint8_t> MakeQvx(const PictureShape& shape) {
  std::vector<uint8_t> bytes = MakeBmp(shape);
  ComplementQvxRegions(&bytes);
  return bytes;
}

std::vector<uint8_t> AfterFill(size_t count, uint8_t fill, const std::vector<uint8_t>& bytes) {
  std::vector<uint8_t> out(count + bytes.size(), fill);
  if (!bytes.empty()) std::memcpy(out.data() + count, bytes.data(), bytes.size());
  return out;
}

std::vector<uint8_t> Cut(std::vector<uint8_t> bytes, size_t length) {
  bytes.resize(length);
  return bytes;
}

std::vector<uint8_t> Appended(std::vector<uint8_t> bytes, size_t extra) {
  bytes.insert(bytes.end(), extra, 0x5A);
  return bytes;
}

std::vector<uint8_t> WithHeaderSize(uint32_t size) {
  PictureShape shape = ShapeOf(24, 4, 4, 0, size);
  shape.offBits = 14 + (size > 40 ? size : 40);
  return MakeQvx(shape);
}

std::vector<uint8_t> RowsAmongHeaders() {
  PictureShape shape = ShapeOf(8, 4, 4, 0, 0);
  shape.offBits = 54;
  shape.pixelBytes = 0;
  std::vector<uint8_t> bytes = MakeBmp(shape);  // the 54 header bytes alone
  Put(&bytes, 10, 20, 4);                       // the rows among them
  ComplementQvxRegions(&bytes);
  return bytes;
}

std::vector<uint8_t> Huge(int32_t width, int32_t height, uint16_t bits) {
  PictureShape shape = ShapeOf(bits, width, height);
  shape.pixelBytes = 16;
  return MakeQvx(shape);
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::vector<uint8_t> bytes;
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return bytes;
  uint8_t buffer[65536];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
    bytes.insert(bytes.end(), buffer, buffer + got);
  std::fclose(file);
  return bytes;
}

bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && ok;
}
