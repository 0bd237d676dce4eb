// Stored pixels into the caller's layouts (see qvx_rows.h): one conversion
// per stored depth and layout, chosen once per picture.
#pragma once

#include <cstdint>

#include "decode/qvx.h"
#include "decode/qvx_rows.h"

// Each index's delivered bytes: 3 (RGB) or 4 (BGRA, RGBA); unused for indices.
typedef uint8_t LayoutTable[256][4];

// Converts count pixels from src, stored as the file stores them (the
// complemented bytes already undone; paletted pixels from the first bits
// of src[0]), into dst. Writes exactly count pixels of the layout.
typedef void (*LayoutRow)(const uint8_t* src, uint8_t* dst, uint64_t count, const LayoutTable& table,
                          const QvxCpu& cpu);

// The conversion for a stored depth (1, 2, 4, 8, 16, 24, 32) into a layout;
// null for other depths. Paletted depths take kQvxIndex8 too.
LayoutRow LayoutRowFor(uint32_t bits, QvxPixelLayout layout);

// The table for a layout from red, green, blue, 255 entries.
void FillLayoutTable(QvxPixelLayout layout, const uint8_t (*rgb)[4], LayoutTable& table);
