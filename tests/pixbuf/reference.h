// The plug-in's own decode of a picture, rendered to RGB independently of
// the loader's adapter: what the loader's pixels must equal.
#pragma once

#include <cstdint>
#include <vector>

#include "tools/dib.h"

// True when the plug-in recognises the picture and decodes it with the
// default options; image then holds its pixels, top row first.
bool ReferenceDecode(const std::vector<uint8_t>& bytes, RgbImage* image);
