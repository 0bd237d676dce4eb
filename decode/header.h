// QVX headers: the stored layout.
//
// A QVX picture is a Windows bitmap in which some regions are stored with
// every byte complemented (0xFF - byte). Offsets count from the picture's
// first byte; values are little-endian and given after complementing.
//
//   File header, offsets 0..13, complemented:
//     0  2  bfType     "BM" (stored as 0xBD 0xB2)
//     2  4  bfSize     file size; a file handle must be at least this long
//     6  4  reserved   never read
//    10  4  bfOffBits  offset of the first pixel byte
//   Header size, offset 14, complemented:
//    14  4  biSize     12 = core form; anything else = information form
//   Core form (biSize 12), offsets 14..25 complemented:
//    18  2  bcWidth    signed 16-bit
//    20  2  bcHeight   signed 16-bit
//    22  2  bcPlanes
//    24  2  bcBitCount
//   Information form, exactly offsets 14..53 complemented whatever biSize is;
//   for a short header (biSize 16..39) the fields past it read as 0:
//    18  4  biWidth    signed        34  4  biSizeImage
//    22  4  biHeight   signed        38  4  biXPelsPerMeter
//    26  2  biPlanes                 42  4  biYPelsPerMeter
//    28  2  biBitCount               46  4  biClrUsed
//    30  4  biCompression            50  4  biClrImportant
//   Colour table: from 26 (core) or 14 + biSize, 4-byte entries (blue, green,
//   red, unused), complemented wherever the decoder reads them.
//   Pixels: from bfOffBits; those before offset 100 are complemented.
#pragma once

#include <cstdint>

const uint32_t kFileHeaderBytes = 14;
const uint32_t kSignatureBytes = 18;          // file header and biSize
const uint32_t kCoreHeaderEnd = 26;           // 14 + 12
const uint32_t kInfoHeaderEnd = 54;           // 14 + 40
const uint32_t kCoreHeaderSize = 12;
const uint32_t kInfoHeaderBytes = 40;         // the normalised information header
const uint32_t kShortHeaderMin = 16;          // short headers: 16..39 bytes
const uint32_t kMaxRecognisedHeaderSize = 64;
const uint32_t kComplementedPixelsEnd = 100;  // pixel bytes before this are stored complemented
const uint8_t kStoredSignature0 = 0xBD;       // 'B' complemented
const uint8_t kStoredSignature1 = 0xB2;       // 'M' complemented
const uint32_t kBiRgb = 0;
const uint32_t kBiBitFields = 3;

struct QvxSource;

// Reads count bytes from offset of the source: copied from its memory span,
// or through its reader. False when the reader fails.
bool ReadSourceRange(const QvxSource& source, uint64_t offset, uint8_t* out, uint64_t count);
