// One QVX picture as the codec serves it: what the header says (size,
// delivered depth, density, colours), known without decoding the rows,
// and the decoded rows once they are asked for. Pictures are decoded as
// the plug-in delivers them with its options clear, but top row first: 1, 4
// (also for 2-bit) and 8 bits of packed indices, everything else 24-bit
// blue, green, red.
#pragma once

#include <cstdint>

#include "decode/qvx.h"
#include "decode/qvx_rows.h"

struct WicPicture {
  QvxHeader header;
  QvxPlan plan;
  QvxOptions options;
  uint32_t colours[256];   // the delivered colour table as WIC colours (0xAARRGGBB)
  uint32_t colourCount;    // entries of the delivered table; 0 for 24-bit pictures
  uint64_t rowBytes;       // bytes of a delivered row, without padding
  // The decoded rows, top row first, rowBytes apart: null until
  // DecodePictureRows succeeds.
  uint8_t* pixels;
};

// Reads the header and the colour table from source and plans the decode.
// kQvxNotQvx for what recognition refuses, kQvxTruncated for data that ends
// inside the header or before the last row or the stated file size,
// kQvxNoMemory for a picture too large to hold, kQvxReadError when the
// source fails.
QvxStatus DescribePicture(const QvxSource& source, WicPicture* picture);

// Decodes the whole picture from source straight into rows of the caller,
// top row first, stride bytes apart (at least rowBytes); nothing is
// written outside a row's rowBytes. A source that no longer holds the
// picture described is refused (kQvxNotQvx) before any row is written.
QvxStatus DecodePictureInto(const QvxSource& source, const WicPicture& picture, uint8_t* pixels, uint64_t stride);

// Decodes the whole picture into the picture's own memory; on failure
// nothing is kept. The rows are then reached through PictureRow.
QvxStatus DecodePictureRows(const QvxSource& source, WicPicture* picture);

// Row y of the decoded picture, 0 being the top row.
inline const uint8_t* PictureRow(const WicPicture& picture, uint32_t y) {
  return picture.pixels + y * picture.rowBytes;
}

void FreePictureRows(WicPicture* picture);
