// PNG output through libpng (Linux build).
#include <png.h>

#include "tools/png.h"

bool WritePng(FILE* file, const RgbImage& image, std::string* why) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (info == nullptr) {
    png_destroy_write_struct(&png, nullptr);
    *why = "out of memory";
    return false;
  }
  // libpng reports errors by jumping back here.
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    *why = "write error";
    return false;
  }
  png_init_io(png, file);
  png_set_IHDR(png, info, image.width, image.height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < image.height; ++y)
    png_write_row(png, const_cast<png_bytep>(&image.rgb[static_cast<size_t>(y) * image.width * 3]));
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}
