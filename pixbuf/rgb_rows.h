// Rows of a device-independent bitmap turned into 8-bit RGB rows: 24-bit
// blue-green-red pixels, and 1-, 4- and 8-bit indexes into a colour table.
#pragma once

#include <cstdint>

// A colour table as red, green, blue, for every index a row can hold.
typedef uint8_t RgbTable[256][3];

// 24-bit rows: blue, green, red become red, green, blue. Uses SSSE3 where
// the processor has it.
void RowBgrToRgb(const uint8_t* src, uint8_t* dst, int32_t width);

// Paletted rows, leftmost pixel in the highest bits of the first byte.
void Row8ToRgb(const uint8_t* src, uint8_t* dst, int32_t width, const RgbTable& table);
void Row4ToRgb(const uint8_t* src, uint8_t* dst, int32_t width, const RgbTable& table);
void Row1ToRgb(const uint8_t* src, uint8_t* dst, int32_t width, const RgbTable& table);
