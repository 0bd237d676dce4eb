// Helpers around the plug-in for the command-line tool and the tests:
// turning a BMP file into QVX, and a delivered bitmap into RGB pixels or a
// BMP file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Turns a Windows BMP file into a QVX picture: the file header, the header
// bytes that are read, every colour entry that is read and the pixel bytes
// before offset 100 are complemented. A core-header colour table of 3-byte
// entries becomes one of 4-byte entries. Returns false with a reason in why
// for bitmaps that QVX cannot hold.
bool EncodeQvx(const std::vector<uint8_t>& bmp, std::vector<uint8_t>* qvx, std::string* why);

// Complements, in place, the regions of a bitmap laid out as BMP that QVX
// stores complemented, trusting the header fields as they are. For building
// pictures whose headers EncodeQvx would refuse.
void ComplementQvxRegions(std::vector<uint8_t>* bytes);

// An 8-bit RGB picture, rows top to bottom.
struct RgbImage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;  // width * height * 3
};

// Renders a delivered bitmap (information block and pixel block) to RGB.
// Returns false with a reason for a bitmap it does not understand or whose
// blocks are too small for what the header says.
bool RenderDib(const uint8_t* info, size_t infoBytes, const uint8_t* pixels, size_t pixelBytes,
               RgbImage* image, std::string* why);

// A BMP file holding the delivered bitmap as it is: file header, the
// information block, then the pixel block.
std::vector<uint8_t> DibToBmpFile(const uint8_t* info, size_t infoBytes, const uint8_t* pixels,
                                  size_t pixelBytes);
