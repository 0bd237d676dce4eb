// Row conversions from stored rows into delivered rows. Each uses the wide
// instructions that cpu allows and gives the same bytes as the plain loop.
#pragma once

#include <cstdint>

#include "decode/qvx.h"

// Copies count bytes.
void CopyRow(const uint8_t* src, uint8_t* dst, uint64_t count);

// Copies count bytes of a 16-bit row and tells whether any of its first
// width pixels has bit 15 set (row padding is not looked at).
bool CopyRowScan16(const uint8_t* src, uint8_t* dst, uint64_t count, uint64_t width, const QvxCpu& cpu);

// Tells whether any of the first width 16-bit pixels of row has bit 15 set.
bool ScanRow16(const uint8_t* row, uint64_t width, const QvxCpu& cpu);

// Widens sourceBytes bytes of 2-bit pixels into twice as many bytes of 4-bit pixels.
void Expand2To4(const uint8_t* src, uint8_t* dst, uint64_t sourceBytes, const QvxCpu& cpu);

// Widens width 5-5-5 pixels into blue, green, red bytes.
void Convert555To24(const uint8_t* src, uint8_t* dst, uint64_t width, const QvxCpu& cpu);

// Drops the fourth byte of width 32-bit pixels.
void Convert32To24(const uint8_t* src, uint8_t* dst, uint64_t width, const QvxCpu& cpu);
