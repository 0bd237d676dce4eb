// PNG input through libpng (Linux build).
#include <png.h>

#include <cstring>

#include "tools/png_read.h"

namespace {

struct Reader {
  const std::vector<uint8_t>* bytes;
  size_t at;
};

void ReadBytes(png_structp png, png_bytep out, png_size_t count) {
  Reader* reader = static_cast<Reader*>(png_get_io_ptr(png));
  if (count > reader->bytes->size() - reader->at) png_error(png, "the file ends early");
  std::memcpy(out, reader->bytes->data() + reader->at, count);
  reader->at += count;
}

void Complain(png_structp png, png_const_charp message) {
  std::string* why = static_cast<std::string*>(png_get_error_ptr(png));
  *why = message;
  png_longjmp(png, 1);
}

void Ignore(png_structp, png_const_charp) {}

}  // namespace

bool ReadsAsPicture(const std::vector<uint8_t>& bytes) { return LooksLikePng(bytes); }

bool PictureDimensions(const std::vector<uint8_t>& bytes, uint32_t* width, uint32_t* height) {
  return PngDimensions(bytes, width, height);
}

bool PngToBmp(const std::vector<uint8_t>& bytes, std::vector<uint8_t>* bmp, std::string* why) {
  std::string reason = "not a PNG file";
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &reason, Complain, Ignore);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (info == nullptr) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    *why = "not enough memory to read the PNG";
    return false;
  }
  Reader reader{&bytes, 0};
  // libpng reports errors by jumping back here.
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    *why = "unreadable PNG: " + reason;
    return false;
  }
  png_set_read_fn(png, &reader, ReadBytes);
  png_set_user_limits(png, 0x7FFFFFFF, 0x7FFFFFFF);
  png_read_info(png, info);
  uint32_t width = png_get_image_width(png, info), height = png_get_image_height(png, info);
  if (static_cast<uint64_t>(width) * 3 * height > 0x7FFF0000) {
    png_destroy_read_struct(&png, &info, nullptr);
    *why = "the picture is larger than a QVX file holds (2 GiB)";
    return false;
  }
  // Every kind of PNG as 8-bit red, green, blue; alpha dropped.
  png_set_expand(png);
  png_set_strip_16(png);
  png_set_strip_alpha(png);
  png_set_gray_to_rgb(png);
  png_set_bgr(png);
  int passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);
  *bmp = NewBmp24(width, height);
  for (int pass = 0; pass < passes; ++pass)
    for (uint32_t y = 0; y < height; ++y) png_read_row(png, RowOf(bmp, width, height, y), nullptr);
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  KeepPngDensity(bytes, bmp);
  return true;
}
