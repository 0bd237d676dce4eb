// Reading pictures for encoding: PNG on Linux through libpng; on Windows
// any format through the system's imaging component (WIC).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// True when bytes start with the PNG signature.
bool LooksLikePng(const std::vector<uint8_t>& bytes);

// True when bytes go to PngToBmp rather than to the BMP reader: a PNG in
// the Linux build; in the Windows build any file that is not a BMP, as the
// imaging component reads every format it has a decoder for (QVX too, where
// TAVKOWIC.dll is registered).
bool ReadsAsPicture(const std::vector<uint8_t>& bytes);

// The picture's size from the PNG's header, to weigh it before it is
// decoded. False when png holds no header.
bool PngDimensions(const std::vector<uint8_t>& png, uint32_t* width, uint32_t* height);

// The size of the picture in bytes that PngToBmp reads (the PNG's header;
// on Windows the first frame's size as the imaging component reports it,
// whatever the format), to weigh it before any pixel is decoded. False
// when there is none to be had.
bool PictureDimensions(const std::vector<uint8_t>& bytes, uint32_t* width, uint32_t* height);

// Turns a PNG file into a 24-bit BMP file of the same colours (alpha is
// dropped, as the plug-in drops it) and density (a pHYs chunk in pixels per
// metre). Returns false with a reason.
bool PngToBmp(const std::vector<uint8_t>& png, std::vector<uint8_t>* bmp, std::string* why);

// Lays out a 24-bit bottom-up BMP file for width x height pixels; the
// caller fills the rows (blue, green, red) from RowOf.
std::vector<uint8_t> NewBmp24(uint32_t width, uint32_t height);
// Gives the BMP the density of the PNG's pHYs chunk, if it has one in
// pixels per metre.
void KeepPngDensity(const std::vector<uint8_t>& png, std::vector<uint8_t>* bmp);
uint8_t* RowOf(std::vector<uint8_t>* bmp, uint32_t width, uint32_t height, uint32_t y);  // y = 0 is the top
