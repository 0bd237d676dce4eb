// Writing an RGB picture as a PNG file.
#pragma once

#include <cstdio>
#include <string>

#include "tools/qvx.h"

// Writes image to an open file as an 8-bit RGB PNG. Returns false with a
// reason when writing fails.
bool WritePng(FILE* file, const RgbImage& image, std::string* why);
