// The QVX encoder: Windows bitmaps brought into the form QVX stores, and
// stored as QVX. Format logic only: bytes in, bytes out, no system calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Turns a Windows BMP file into a QVX picture: the file header, the header
// bytes that are read, every colour entry that is read and the pixel bytes
// before offset 100 are complemented. A core-header colour table of 3-byte
// entries becomes one of 4-byte entries. Returns false with a reason in why
// for bitmaps that QVX cannot hold.
bool EncodeQvx(const std::vector<uint8_t>& bmp, std::vector<uint8_t>* qvx, std::string* why);

// Brings any BMP file that can be read into one that EncodeQvx stores: a
// header of 108, 124 or more bytes becomes a 40-byte one, and bit-field and
// run-length pictures become plain ones of a depth QVX holds, showing the
// same pixels. Files EncodeQvx takes as they are come back unchanged.
// Returns false with a reason and what to do for a picture it cannot bring.
bool PlainBmp(const std::vector<uint8_t>& bmp, std::vector<uint8_t>* plain, std::string* why);

// The picture's width and number of rows from a BMP file's header, to
// weigh it before PlainBmp unpacks it (a small run-length file may hold a
// huge picture). False when bmp is no BMP file.
bool BmpDimensions(const std::vector<uint8_t>& bmp, uint64_t* width, uint64_t* rows);

// Complements, in place, the regions of a bitmap laid out as BMP that QVX
// stores complemented, trusting the header fields as they are. For building
// pictures whose headers EncodeQvx would refuse.
void ComplementQvxRegions(std::vector<uint8_t>* bytes);

// Bytes per stored row of a bitmap width pixels wide at bits per pixel
// (rows padded to 4 bytes).
uint64_t BmpStride(uint64_t width, uint32_t bits);

// Scales an n-bit colour field to 8 bits by repeating its bits, as Windows
// and the common readers do (5 bits: 0 -> 0x00, 1 -> 0x08, 31 -> 0xFF).
uint8_t ScaleChannel(uint32_t field, int n);

// A picture held as rows in memory, to be stored as QVX: red, green and
// blue bytes for 24 bits, or one colour-table index byte a pixel for 1 and
// 8 bits (1-bit indices stored packed, the leftmost pixel in the highest bit).
struct QvxRowsPicture {
  uint64_t width;
  uint64_t height;
  uint32_t bits;            // 1, 8 or 24
  const uint8_t* pixels;    // the top row
  uint64_t stride;          // bytes from one row to the next
  const uint8_t* colours;   // red, green, blue of each colour-table entry
  uint32_t colourCount;     // entries; at most 1 << bits
  int32_t xPelsPerMeter;    // the density stored; 0 for none
  int32_t yPelsPerMeter;
};

// The bytes of the QVX file that StoreQvxRows writes, or 0 with a reason in
// why for a picture that QVX cannot hold (no pixels, a depth or a table it
// does not store, more than a QVX file's 2 GiB).
uint64_t QvxRowsFileBytes(const QvxRowsPicture& picture, std::string* why);

// Lays the picture out as a bottom-up QVX file of QvxRowsFileBytes bytes
// into out. False, with why set and out left partly written, when an index
// does not fit the stored bits.
bool StoreQvxRows(const QvxRowsPicture& picture, uint8_t* out, std::string* why);
