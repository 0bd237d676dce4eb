// Building test pictures: plain BMP layouts with chosen header fields,
// turned into QVX by complementing the stored regions.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct PictureShape {
  uint32_t headerSize = 40;     // 12 for the core form
  int32_t width = 4;
  int32_t height = 4;
  uint16_t bits = 8;
  uint32_t compression = 0;
  uint32_t colours = 0;         // 4-byte colour entries written after the header
  uint32_t gapBytes = 0;        // further bytes between the colour table and the pixels
  int64_t offBits = -1;         // pixel offset; -1 = straight after table and gap
  int64_t pixelBytes = -1;      // stored pixel bytes; -1 = stride * |height|
  uint32_t seed = 1;            // pixel and colour content
};

// A shape with the fields most tests set.
PictureShape ShapeOf(uint16_t bits, int32_t width, int32_t height, uint32_t colours = 0, uint32_t headerSize = 40);

// Bytes per stored row.
uint64_t StrideOf(int32_t width, uint16_t bits);

// A plain BMP file (not complemented) of the given shape.
std::vector<uint8_t> MakeBmp(const PictureShape& shape);

// The same picture as QVX.
std::vector<uint8_t> MakeQvx(const PictureShape& shape);

// Offset of the first pixel byte of a picture made from shape.
uint64_t PixelOffsetOf(const PictureShape& shape);

// count bytes of fill, then bytes: a picture inside a larger file.
std::vector<uint8_t> AfterFill(size_t count, uint8_t fill, const std::vector<uint8_t>& bytes);

// The first length bytes; the bytes with extra bytes of 0x5A after them.
std::vector<uint8_t> Cut(std::vector<uint8_t> bytes, size_t length);
std::vector<uint8_t> Appended(std::vector<uint8_t> bytes, size_t extra);

// A 4 x 4 24-bit QVX picture whose stored header size is size, its pixels
// after the header's bytes and never before byte 54.
std::vector<uint8_t> WithHeaderSize(uint32_t size);

// A 4 x 4 8-bit picture of header size 0 whose rows start at byte 20 and
// end inside the 54 header bytes: a file of 54 bytes.
std::vector<uint8_t> RowsAmongHeaders();

// A QVX header that promises far more than the 16 pixel bytes it carries.
std::vector<uint8_t> Huge(int32_t width, int32_t height, uint16_t bits);

std::vector<uint8_t> ReadFileBytes(const std::string& path);
bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);
