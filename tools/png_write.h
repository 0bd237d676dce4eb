// Writing PNG files: 8-bit RGB, grey or palette pictures of 1 to 8 bits,
// with per-row filters and zlib compression, the same in both builds.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

enum PngColour : uint8_t { kPngGrey = 0, kPngRgb = 2, kPngPalette = 3 };

struct PngLayout {
  uint32_t width = 0;
  uint32_t height = 0;
  PngColour colour = kPngRgb;
  uint8_t bits = 8;              // bits per sample: 1, 2, 4 or 8
  std::vector<uint8_t> palette;  // red, green, blue per entry (palette pictures)
  uint32_t xDensity = 0, yDensity = 0;  // pixels per metre (a pHYs chunk when both are set)
};

// Fills row y (0 = top) with its packed samples, PngRowBytes(layout) bytes.
typedef void (*PngRowSource)(uint32_t y, uint8_t* row, void* context);

uint64_t PngRowBytes(const PngLayout& layout);

// Compression levels: 1 is fastest, 9 smallest; kPngDefaultLevel balances
// time against size.
const int kPngDefaultLevel = 2;

// Writes the picture to an open file, compressing on up to threads threads
// (the source is then called from several threads at once). Returns false
// with a reason when memory or writing fails.
bool WritePng(FILE* file, const PngLayout& layout, PngRowSource source, void* context, int level, int threads,
              std::string* why);
