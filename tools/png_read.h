// Reading PNG pictures for encoding: Linux through libpng, Windows through
// the system's imaging component (WIC).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// True when bytes start with the PNG signature.
bool LooksLikePng(const std::vector<uint8_t>& bytes);

// Turns a PNG file into a 24-bit BMP file of the same colours (alpha is
// dropped, as the plug-in drops it). Returns false with a reason.
bool PngToBmp(const std::vector<uint8_t>& png, std::vector<uint8_t>* bmp, std::string* why);

// Lays out a 24-bit bottom-up BMP file for width x height pixels; the
// caller fills the rows (blue, green, red) from RowOf.
std::vector<uint8_t> NewBmp24(uint32_t width, uint32_t height);
uint8_t* RowOf(std::vector<uint8_t>* bmp, uint32_t width, uint32_t height, uint32_t y);  // y = 0 is the top
