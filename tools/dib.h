// Delivered bitmaps (the information block and the pixel block a decode
// hands out) as the tool and the tests read them: a checked view, RGB rows,
// and a BMP file holding the bitmap as it is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// An 8-bit RGB picture, rows top to bottom.
struct RgbImage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;  // width * height * 3
};

// A delivered bitmap as its header describes it, checked against the sizes
// of its blocks.
struct DibView {
  const uint8_t* info = nullptr;
  const uint8_t* pixels = nullptr;
  uint32_t width = 0, rows = 0;
  bool topDown = false;
  uint32_t bits = 0;
  uint64_t stride = 0;          // bytes per stored row
  uint32_t paletteEntries = 0;  // colour entries after the 40-byte header
  uint32_t masks[3] = {0, 0, 0}, shifts[3] = {0, 0, 0};
  int sizes[3] = {0, 0, 0};  // red, green, blue fields of 16- and 32-bit pixels
};

// Checks a delivered bitmap and describes it. Returns false with a reason
// for a bitmap it does not understand or whose blocks are too small.
bool ViewDib(const uint8_t* info, size_t infoBytes, const uint8_t* pixels, size_t pixelBytes, DibView* view,
             std::string* why);
// The stored bytes of picture row y (0 = top).
const uint8_t* DibRow(const DibView& view, uint32_t y);
// The colour index of pixel x in a row of 1, 2, 4 or 8 bits per pixel.
uint32_t DibIndex(const uint8_t* row, uint32_t x, uint32_t bits);
// Row y (0 = top) as 8-bit red, green, blue; colour indices outside the
// table give black.
void DibRowRgb(const DibView& view, uint32_t y, uint8_t* rgb);

// Renders a delivered bitmap (information block and pixel block) to RGB.
// Returns false with a reason for a bitmap it does not understand or whose
// blocks are too small for what the header says.
bool RenderDib(const uint8_t* info, size_t infoBytes, const uint8_t* pixels, size_t pixelBytes,
               RgbImage* image, std::string* why);

// A BMP file holding the delivered bitmap as it is: file header, the
// information block, then the pixel block.
std::vector<uint8_t> DibToBmpFile(const uint8_t* info, size_t infoBytes, const uint8_t* pixels,
                                  size_t pixelBytes);
