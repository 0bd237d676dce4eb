// How one picture is decoded: its sizes, colour counts and row method,
// worked out in 64 bits from its headers before anything is allocated.
#pragma once

#include <cstdint>

#include "decode/header.h"
#include "plugin/spi.h"

enum RowMethod {
  kRowCopy,         // 1, 4, 8, 24 bits; 32 bits kept
  kRowCopyScan16,   // 16 bits kept: copy, watching bit 15
  kRowExpand2To4,   // 2 bits widened to 4
  kRow555To24,      // 16 bits widened to 24
  kRow32To24,       // 32 bits narrowed to 24
};

struct DecodePlan {
  uint32_t bits;           // stored bits per pixel
  uint32_t outputDepth;    // delivered bits per pixel
  int32_t width;
  int32_t height;          // as stored; negative for top-down rows
  uint64_t rows;           // |height|
  uint64_t pixelOffset;
  uint64_t paletteOffset;
  uint64_t sourceStride;   // bytes per stored row
  uint64_t outputStride;   // bytes per delivered row
  uint64_t colourCount;    // colour-table entries taken from the source
  uint64_t slotCount;      // 4-byte slots after the delivered header
  uint64_t infoBytes;      // 44 + 4 * slotCount
  uint64_t pixelBytes;     // outputStride * rows
  bool bitFields;          // delivered with three colour masks
  RowMethod method;
};

// Works out the plan for a picture of length bytes whose headers are in
// header. Returns kResultSuccess, kResultNotQvx for depths, compressions and
// sizes that cannot be decoded, kResultTruncated when the pixel data is short, or
// kResultNoMemory when a block would be larger than a 32-bit process holds.
ResultCode PlanDecode(const NormalizedHeader& header, uint64_t length, DecodePlan* plan);

// Row stride: k bytes rounded up to a multiple of 4.
inline uint64_t RowStride(uint64_t k) { return (k + 3) / 4 * 4; }

// Size of the delivered information header.
const uint32_t kDeliveredHeaderBytes = 40;
