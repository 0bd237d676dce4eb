// Decoding: blocks, colour tables, row methods, progress and release.
#include <cstring>

#include "standin/standin.h"
#include "encode/encode.h"
#include "unit/helpers.h"

namespace {

class Decoding : public PluginTest {};

// The stored pixel rows of a plain BMP of the shape.
std::vector<uint8_t> StoredPixels(const PictureShape& shape) {
  std::vector<uint8_t> bmp = MakeBmp(shape);
  return std::vector<uint8_t>(bmp.begin() + PixelOffsetOf(shape), bmp.end());
}

TEST_F(Decoding, EightBitWithAFullTable) {
  for (int mmx : {0, 1}) {
    SetOptions(0, 0, mmx);
    PictureShape shape = ShapeOf(8, 5, 3, 256);
    std::vector<uint8_t> image = MakeQvx(shape), before = image;
    std::vector<uint8_t> bmp = MakeBmp(shape);
    Decoded d = DecodeMemory(&image);
    ASSERT_EQ(d.result, kResultSuccess);
    EXPECT_EQ(image, before) << "memory image restored";
    ASSERT_EQ(d.info.size(), 44u + 4 * 256);
    EXPECT_EQ(U32At(d.info, 0), 40u);
    EXPECT_EQ(U16At(d.info, 14), 8);
    EXPECT_EQ(U32At(d.info, 20), 8u * 3) << "biSizeImage";
    for (int i = 0; i < 256; ++i) {
      EXPECT_EQ(std::memcmp(&d.info[40 + 4 * i], &bmp[54 + 4 * i], 3), 0) << "slot " << i;
      EXPECT_EQ(d.info[40 + 4 * i + 3], 0xFF) << "reserved byte of slot " << i;
    }
    EXPECT_EQ(U32At(d.info, 40 + 1024), 0u) << "trailing four bytes";
    EXPECT_EQ(d.pixels, StoredPixels(shape));
  }
}

TEST_F(Decoding, PixelBytesBeforeOffsetHundredAreUncomplemented) {
  PictureShape shape = ShapeOf(24, 7, 9);  // pixels from 54
  std::vector<uint8_t> image = MakeQvx(shape), before = image;
  Decoded d = DecodeMemory(&image);
  ASSERT_EQ(d.result, kResultSuccess);
  EXPECT_EQ(d.pixels, StoredPixels(shape));
  EXPECT_EQ(image, before);
  EXPECT_EQ(d.info.size(), 44u);
}

TEST_F(Decoding, ColourCountFollowsTheGap) {
  struct Case {
    uint16_t bits;
    uint32_t colours, gap;
    int64_t offBits;  // -1: after colours and gap
    uint32_t header;
    uint64_t expectColours, expectInfo;
  } cases[] = {
      {8, 16, 0, -1, 40, 16, 44 + 1024},
      {8, 0, 3, -1, 40, 0, 44 + 1024},      // 1 to 3 bytes: no colour, all slots zero
      {8, 0, 0, -1, 40, 0, 44 + 1024},      // pixels right at the table: whole table, all zero
      {8, 256, 0, -1, 12, 256, 44 + 1024},  // core header, 4-byte entries from 26
      {1, 2, 0, -1, 40, 2, 44 + 8},
      {1, 1, 0, -1, 40, 1, 44 + 8},
      {2, 4, 0, -1, 40, 4, 44 + 64},
      {2, 2, 0, -1, 40, 2, 44 + 64},
      {4, 16, 0, -1, 40, 16, 44 + 64},
      {4, 16, 0, 54, 40, 0, 44 + 64},       // pixels where the table would start: none taken
      {24, 256, 0, -1, 40, 0, 44},
      {32, 1, 0, -1, 40, 0, 44},            // 32 to 24 bits: never a table
      {8, 256, 0, -1, 64, 256, 44 + 1024},  // table after a 64-byte header
  };
  for (const Case& c : cases) {
    PictureShape shape = ShapeOf(c.bits, 3, 2, c.colours, c.header);
    shape.gapBytes = c.gap;
    shape.offBits = c.offBits;
    std::vector<uint8_t> image = MakeQvx(shape), before = image;
    std::vector<uint8_t> bmp = MakeBmp(shape);
    Decoded d = DecodeMemory(&image);
    ASSERT_EQ(d.result, kResultSuccess) << c.bits << " bits, " << c.colours << " colours";
    EXPECT_EQ(image, before);
    ASSERT_EQ(d.info.size(), c.expectInfo) << c.bits << " bits, " << c.colours << " colours";
    EXPECT_EQ(U32At(d.info, 0), 40u) << "delivered biSize";
    EXPECT_EQ(U32At(d.info, 16), 0u) << "biCompression";
    uint64_t table = c.header == 12 ? 26 : 14 + c.header;
    for (uint64_t i = 0; 40 + 4 * i + 4 <= d.info.size() - 4; ++i) {
      if (i < c.expectColours) {
        EXPECT_EQ(std::memcmp(&d.info[40 + 4 * i], &bmp[table + 4 * i], 3), 0) << i;
        EXPECT_EQ(d.info[40 + 4 * i + 3], 0xFF);
      } else {
        EXPECT_EQ(U32At(d.info, 40 + 4 * i), 0u) << "unfilled slot " << i;
      }
    }
  }
}

TEST_F(Decoding, StridesAndRowMethods) {
  struct Case {
    uint16_t bits;
    int32_t width;
    int keep;
    uint64_t outStride;
    uint16_t depth;
  } cases[] = {
      {1, 1, 0, 4, 1},    {1, 33, 0, 8, 1},   {2, 1, 0, 4, 4},    {2, 17, 0, 12, 4},
      {2, 8, 0, 4, 4},    {4, 9, 0, 8, 4},    {8, 5, 0, 8, 8},    {16, 3, 0, 12, 24},
      {16, 3, 1, 8, 16},  {24, 5, 0, 16, 24}, {32, 3, 0, 12, 24}, {32, 3, 1, 12, 32},
      // Blocks beyond the caches, whose rows are written past them.
      {32, 1000000, 0, 3000000, 24}, {16, 1500000, 0, 4500000, 24}, {16, 1400000, 1, 2800000, 16},
      {2, 12000000, 0, 6000000, 4},  {24, 1000000, 0, 3000000, 24},
  };
  for (const Case& c : cases) {
    SetOptions(c.keep, c.keep, 1);
    PictureShape shape = ShapeOf(c.bits, c.width, 3, c.bits <= 8 ? 1u << c.bits : 0);
    std::vector<uint8_t> image = MakeQvx(shape), before = image;
    std::vector<uint8_t> stored = StoredPixels(shape);
    uint64_t inStride = StrideOf(c.width, c.bits);
    Decoded d = DecodeMemory(&image);
    ASSERT_EQ(d.result, kResultSuccess);
    EXPECT_EQ(image, before);
    ASSERT_EQ(d.pixels.size(), c.outStride * 3) << c.bits << " bits, width " << c.width;
    EXPECT_EQ(U16At(d.info, 14), c.depth);
    EXPECT_EQ(U32At(d.info, 20), c.outStride * 3);
    for (int row = 0; row < 3; ++row) {
      const uint8_t* in = &stored[row * inStride];
      const uint8_t* out = &d.pixels[row * c.outStride];
      for (uint64_t i = 0; i < c.outStride; ++i) {
        uint64_t x = i / 3, channel = i % 3;
        uint8_t expected;
        if (c.bits == 2) {
          uint8_t b = in[i / 2];
          expected = i % 2 == 0 ? ((b & 0xC0) >> 2) | ((b & 0x30) >> 4) : ((b & 0x0C) << 2) | (b & 3);
        } else if (c.bits == 16 && !c.keep) {
          uint32_t v = in[2 * x] | (in[2 * x + 1] << 8), f = (v >> (5 * channel)) & 31;
          expected = x < static_cast<uint64_t>(c.width) ? static_cast<uint8_t>((f << 3) | (f >> 2)) : 0;
        } else if (c.bits == 32 && !c.keep) {
          expected = x < static_cast<uint64_t>(c.width) ? in[4 * x + channel] : 0;
        } else {
          expected = in[i];  // copied, padding included
        }
        ASSERT_EQ(out[i], expected) << c.bits << " bits, width " << c.width << ", row " << row
                                    << ", byte " << i;
      }
    }
  }
}

TEST_F(Decoding, TwoBitByteExpansion) {
  PictureShape shape = ShapeOf(2, 4, 1, 4);
  std::vector<uint8_t> bmp = MakeBmp(shape);
  bmp[PixelOffsetOf(shape)] = 0xE4;
  ComplementQvxRegions(&bmp);
  Decoded d = DecodeMemory(&bmp);
  ASSERT_EQ(d.result, kResultSuccess);
  EXPECT_EQ(d.pixels[0], 0x32);
  EXPECT_EQ(d.pixels[1], 0x10);
}

std::vector<uint8_t> SixteenBit(std::vector<uint16_t> pixels, int width, int height) {
  PictureShape shape = ShapeOf(16, width, height);
  std::vector<uint8_t> bmp = MakeBmp(shape);
  uint64_t stride = StrideOf(width, 16);
  std::fill(bmp.begin() + 54, bmp.end(), 0);
  for (size_t i = 0; i < pixels.size(); ++i) {
    size_t at = 54 + (i / width) * stride + 2 * (i % width);
    bmp[at] = pixels[i] & 0xFF;
    bmp[at + 1] = pixels[i] >> 8;
  }
  return bmp;
}

TEST_F(Decoding, SixteenBitConversionAndMasks) {
  // Widened: 5-5-5 with the bits repeated, blue first.
  std::vector<uint8_t> image = SixteenBit({0x7FFF, 0x001F, 0x0001, 0x8000}, 4, 1);
  ComplementQvxRegions(&image);
  Decoded d = DecodeMemory(&image);
  ASSERT_EQ(d.result, kResultSuccess);
  std::vector<uint8_t> expected = {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0x08, 0, 0, 0, 0, 0};
  EXPECT_EQ(std::vector<uint8_t>(d.pixels.begin(), d.pixels.begin() + 12), expected);

  SetOptions(1, 0, 0);
  struct Case {
    std::vector<uint16_t> pixels;
    int width;
    uint32_t red, green;
  } cases[] = {
      {{0x7FFF, 0x1234, 0x0001, 0x7000}, 2, 0x7C00, 0x03E0},
      {{0x0000, 0x0000, 0x8000, 0x0000}, 2, 0xF800, 0x07E0},
      {{0x0001, 0x0002, 0x0003}, 3, 0x7C00, 0x03E0},  // padding of width 3 is never read
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> bmp = SixteenBit(c.pixels, c.width, 2);
    if (c.width == 3) bmp[54 + 7] = 0x80;  // bit 15 set in the first row's padding
    ComplementQvxRegions(&bmp);
    Decoded k = DecodeMemory(&bmp);
    ASSERT_EQ(k.result, kResultSuccess);
    ASSERT_EQ(k.info.size(), 60u);
    EXPECT_EQ(U32At(k.info, 16), 3u);
    EXPECT_EQ(U32At(k.info, 40), c.red);
    EXPECT_EQ(U32At(k.info, 44), c.green);
    EXPECT_EQ(U32At(k.info, 48), 0x1Fu);
    EXPECT_EQ(U32At(k.info, 52), 0u);
  }
}

TEST_F(Decoding, ThirtyTwoBit) {
  PictureShape shape = ShapeOf(32, 1, 1);
  std::vector<uint8_t> bmp = MakeBmp(shape);
  bmp[54] = 0x11, bmp[55] = 0x22, bmp[56] = 0x33, bmp[57] = 0x44;
  std::vector<uint8_t> image = bmp;
  ComplementQvxRegions(&image);
  Decoded narrow = DecodeMemory(&image);
  ASSERT_EQ(narrow.result, kResultSuccess);
  EXPECT_EQ(narrow.pixels, (std::vector<uint8_t>{0x11, 0x22, 0x33, 0}));
  EXPECT_EQ(narrow.info.size(), 44u);
  SetOptions(0, 1, 0);
  Decoded kept = DecodeMemory(&image);
  ASSERT_EQ(kept.result, kResultSuccess);
  EXPECT_EQ(kept.pixels, (std::vector<uint8_t>{0x11, 0x22, 0x33, 0x44}));
  EXPECT_EQ(U32At(kept.info, 40), 0xFF0000u);
  EXPECT_EQ(U32At(kept.info, 44), 0xFF00u);
  EXPECT_EQ(U32At(kept.info, 48), 0xFFu);
  EXPECT_EQ(U32At(kept.info, 16), 3u);
}

TEST_F(Decoding, CompressedInformationHeadersAreRefusedBeforeAnything) {
  // What recognition refuses, decoding refuses too, with nothing allocated
  // and no progress call: run-length, bit-field and every other compression.
  for (uint16_t bits : {1, 2, 4, 8, 16, 24, 32}) {
    for (uint32_t compression : {1u, 2u, 3u, 4u, 5u, 0x80000000u}) {
      SetOptions(1, 1, 0);
      PictureShape shape = ShapeOf(bits, 3, 2, bits <= 8 ? 1u << bits : 0);
      shape.compression = compression;
      std::vector<uint8_t> image = MakeQvx(shape), before = image;
      standin::Reset();
      Decoded d = DecodeMemory(&image);
      EXPECT_EQ(d.result, kResultNotQvx) << bits << " bits, compression " << compression;
      EXPECT_TRUE(d.progressRows.empty());
      EXPECT_EQ(standin::Calls(standin::kLocalAlloc), 0);
      EXPECT_EQ(image, before);
    }
  }
}

TEST_F(Decoding, DeliveredHeaderDescribesItsBlocks) {
  struct Case {
    uint16_t bits;
    int keep;
    uint32_t colours, storedClrUsed;
    uint16_t storedPlanes;
    uint32_t clrUsed;
    size_t infoBytes;
  } cases[] = {
      {8, 0, 256, 256, 1, 256, 44 + 1024},
      {8, 0, 16, 16, 3, 16, 44 + 1024},     // planes always 1
      {8, 0, 256, 300, 1, 0, 44 + 1024},    // more than the slots: the whole table
      {4, 0, 0, 16, 30000, 16, 44 + 64},    // no room for colours: the whole table, zero
      {1, 0, 2, 2, 1, 2, 44 + 8},
      {24, 0, 256, 256, 1, 0, 44},          // no table delivered
      {16, 1, 0, 256, 1, 0, 60},            // masks, not colours
      {32, 0, 0, 7, 1, 0, 44},
  };
  for (const Case& c : cases) {
    SetOptions(c.keep, c.keep, 0);
    PictureShape shape = ShapeOf(c.bits, 3, 2, c.colours);
    std::vector<uint8_t> bmp = MakeBmp(shape);
    bmp[26] = static_cast<uint8_t>(c.storedPlanes), bmp[27] = static_cast<uint8_t>(c.storedPlanes >> 8);
    for (int i = 0; i < 4; ++i) bmp[46 + i] = static_cast<uint8_t>(c.storedClrUsed >> (8 * i));
    ComplementQvxRegions(&bmp);
    Decoded d = DecodeMemory(&bmp);
    ASSERT_EQ(d.result, kResultSuccess) << c.bits << " bits";
    EXPECT_EQ(U16At(d.info, 12), 1) << c.bits << " bits, planes " << c.storedPlanes;
    EXPECT_EQ(U32At(d.info, 32), c.clrUsed) << c.bits << " bits, stored count " << c.storedClrUsed;
    EXPECT_EQ(d.info.size(), c.infoBytes) << c.bits << " bits";
    EXPECT_EQ(U32At(d.info, 16), c.keep ? 3u : 0u);
  }
}

TEST_F(Decoding, ShortHeadersReadZeroPastTheirEnd) {
  // 16 to 39-byte headers: the colour table starts right after them, and
  // fields that are not there read as zero, so the first colours are never
  // taken for compression or colour counts.
  for (uint32_t size : {16u, 20u, 24u, 36u}) {
    for (uint16_t bits : {1, 4, 8, 24}) {
      PictureShape shape = ShapeOf(bits, 5, 3, bits <= 8 ? 1u << bits : 0, size);
      shape.seed = 7 + size;
      std::vector<uint8_t> bmp = MakeBmp(shape), image = MakeQvx(shape);
      ASSERT_NE(bmp[14 + size], 0) << "first colour not black";
      EXPECT_EQ(IsSupported(nullptr, reinterpret_cast<ULONG_PTR>(image.data())), 1) << size << "/" << bits;
      Decoded d = DecodeMemory(&image);
      ASSERT_EQ(d.result, kResultSuccess) << size << "/" << bits;
      // Densities lie at header bytes 24..31, the colour count at 32..35.
      EXPECT_EQ(U32At(d.info, 24), size >= 28 ? 2835u : 0u) << size << "/" << bits;
      EXPECT_EQ(U32At(d.info, 32), size >= 36 && bits <= 8 ? shape.colours : 0u) << size << "/" << bits;
      EXPECT_EQ(d.pixels, StoredPixels(shape));
      for (uint32_t i = 0; i < shape.colours; ++i)
        ASSERT_EQ(std::memcmp(&d.info[40 + 4 * i], &bmp[14 + size + 4 * i], 3), 0) << size << "/" << bits;
    }
  }
}

TEST_F(Decoding, ProgressAndStops) {
  PictureShape shape = ShapeOf(8, 4, 5, 256);
  std::vector<uint8_t> image = MakeQvx(shape), before = image;
  Decoded all = DecodeMemory(&image);
  ASSERT_EQ(all.result, kResultSuccess);
  EXPECT_EQ(all.progressRows, (std::vector<int>{0, 1, 2, 3, 4}));
  EXPECT_EQ(all.progressHeights, std::vector<int>(5, 5));

  for (int stop : {0, 2, 4}) {
    for (bool fromFile : {false, true}) {
      std::string path = TempFile("p.qvx", image);
      Decoded d = fromFile ? DecodeFile(path, 0, stop) : DecodeMemory(&image, stop);
      EXPECT_EQ(d.result, kResultAborted);
      EXPECT_EQ(d.progressRows.size(), static_cast<size_t>(stop + 1));
      EXPECT_EQ(d.infoHandle, nullptr) << "no freed handle is left with the caller";
      EXPECT_EQ(d.bitsHandle, nullptr);
      EXPECT_EQ(standin::LiveBlocks(), 0);
      EXPECT_EQ(image, before);
    }
  }

  HLOCAL info = nullptr, bits = nullptr;
  ASSERT_EQ(GetPicture(reinterpret_cast<char*>(image.data()), static_cast<int32_t>(image.size()), 1,
                       &info, &bits, nullptr, 0),
            kResultSuccess)
      << "no progress function";
  LocalFree(info);
  LocalFree(bits);
}

TEST_F(Decoding, WithoutProgressTheSameBlocksComeOut) {
  // Without a progress function rows may move in one piece; nothing else changes.
  struct Case {
    uint16_t bits;
    int32_t width;
    int keep;
    int bit15At;  // pixel given bit 15, or -1
  } cases[] = {{8, 9, 0, -1}, {24, 7, 0, -1}, {1, 33, 0, -1}, {16, 6, 1, -1}, {16, 6, 1, 17},
               {16, 5, 1, -1}, {16, 5, 1, 3}, {32, 3, 1, -1}, {16, 4, 0, -1}, {2, 9, 0, -1}};
  for (const Case& c : cases) {
    SetOptions(c.keep, c.keep, 0);
    PictureShape shape = ShapeOf(c.bits, c.width, 4, c.bits <= 8 ? 1u << c.bits : 0);
    std::vector<uint8_t> bmp = MakeBmp(shape);
    for (size_t i = PixelOffsetOf(shape) + 1; i < bmp.size(); i += 2) bmp[i] &= 0x7F;
    if (c.bit15At >= 0) bmp[PixelOffsetOf(shape) + 2 * c.bit15At + 1] |= 0x80;
    ComplementQvxRegions(&bmp);
    std::vector<uint8_t> before = bmp;
    Decoded watched = DecodeMemory(&bmp);
    Decoded quiet = CaptureDecode(
        [](char* s, LONG_PTR n, uint32_t f, HLOCAL* i, HLOCAL* b, ProgressCallback, LONG_PTR u) {
          return GetPicture(s, n, f, i, b, nullptr, u);
        },
        reinterpret_cast<char*>(bmp.data()), static_cast<int32_t>(bmp.size()), 1, -1);
    ASSERT_EQ(watched.result, kResultSuccess);
    ASSERT_EQ(quiet.result, kResultSuccess);
    EXPECT_EQ(quiet.info, watched.info) << c.bits << " bits, width " << c.width;
    EXPECT_EQ(quiet.pixels, watched.pixels) << c.bits << " bits, width " << c.width;
    EXPECT_TRUE(quiet.progressRows.empty());
    EXPECT_EQ(bmp, before);
  }
}

TEST_F(Decoding, TopDownRowsKeepTheirOrder) {
  PictureShape shape = ShapeOf(24, 3, -4);
  std::vector<uint8_t> image = MakeQvx(shape);
  Decoded d = DecodeMemory(&image);
  ASSERT_EQ(d.result, kResultSuccess);
  EXPECT_EQ(static_cast<int32_t>(U32At(d.info, 8)), -4);
  EXPECT_EQ(U32At(d.info, 20), 12u * 4);
  EXPECT_EQ(d.pixels, StoredPixels(shape));
  EXPECT_EQ(d.progressRows, (std::vector<int>{0, 1, 2, 3}));
  EXPECT_EQ(d.progressHeights, std::vector<int>(4, 4));
}

TEST_F(Decoding, LengthTestAtTheBoundary) {
  PictureShape shape = ShapeOf(24, 3, 40);  // runs past offset 100
  std::vector<uint8_t> image = MakeQvx(shape);
  Decoded exact = DecodeMemory(&image);
  EXPECT_EQ(exact.result, kResultSuccess);
  image.pop_back();
  std::vector<uint8_t> before = image;
  Decoded shortOne = DecodeMemory(&image);
  EXPECT_EQ(shortOne.result, kResultTruncated);
  EXPECT_EQ(image, before);
}

TEST_F(Decoding, RefusedPicturesWriteNoHandle) {
  PictureShape good = ShapeOf(8, 4, 4, 256);
  auto with = [&](auto change) {
    PictureShape s = good;
    change(&s);
    return MakeQvx(s);
  };
  std::vector<uint8_t> full = MakeQvx(good);
  // A header field stored complemented, set to value.
  auto field = [](std::vector<uint8_t> bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(~(value >> (8 * i)));
    return bytes;
  };
  std::vector<uint8_t> core = MakeQvx(ShapeOf(24, 4, 4, 0, 12));
  core.resize(40);
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    ResultCode result;
  } cases[] = {
      {"17 bytes", std::vector<uint8_t>(17, 0xBD), kResultNotQvx},
      {"plain bitmap", MakeBmp(good), kResultNotQvx},
      {"ends in header", std::vector<uint8_t>(full.begin(), full.begin() + 40), kResultNotQvx},
      {"3 bits", with([](PictureShape* s) { s->bits = 3; }), kResultNotQvx},
      {"48 bits", with([](PictureShape* s) { s->bits = 48; }), kResultNotQvx},
      {"width 0", with([](PictureShape* s) { s->width = 0; s->pixelBytes = 64; }), kResultNotQvx},
      {"width -3", with([](PictureShape* s) { s->width = -3; s->pixelBytes = 64; }), kResultNotQvx},
      {"height 0", with([](PictureShape* s) { s->height = 0; }), kResultNotQvx},
      {"pixels missing", with([](PictureShape* s) { s->pixelBytes = 15; }), kResultTruncated},
      {"offset past end", with([](PictureShape* s) { s->offBits = 5000; s->pixelBytes = 0; }), kResultTruncated},
      {"huge rows", with([](PictureShape* s) { s->height = INT32_MIN; s->pixelBytes = 16; }), kResultTruncated},
      // Pixels that would start inside the headers, refused before the length test.
      {"pixels at byte 3", field(full, 10, 3), kResultNotQvx},
      {"core form, short, pixels at 25", field(core, 10, 25), kResultNotQvx},
      {"header size 0xFFFFFFF0", field(full, 14, 0xFFFFFFF0), kResultNotQvx},
  };
  for (Case& c : cases) {
    std::vector<uint8_t> before = c.bytes;
    HLOCAL info = reinterpret_cast<HLOCAL>(0x11), bits = reinterpret_cast<HLOCAL>(0x22);
    int calls = 0;
    auto count = [](int, int, LONG_PTR user) -> int { ++*reinterpret_cast<int*>(user); return 0; };
    EXPECT_EQ(GetPicture(reinterpret_cast<char*>(c.bytes.data()), static_cast<int32_t>(c.bytes.size()), 1,
                         &info, &bits, count, reinterpret_cast<LONG_PTR>(&calls)),
              c.result)
        << c.name;
    EXPECT_EQ(info, reinterpret_cast<HLOCAL>(0x11)) << c.name;
    EXPECT_EQ(bits, reinterpret_cast<HLOCAL>(0x22)) << c.name;
    EXPECT_EQ(calls, 0) << c.name;
    EXPECT_EQ(c.bytes, before) << c.name;
    EXPECT_EQ(standin::LiveBlocks(), 0) << c.name;
  }
}

TEST_F(Decoding, ShortImageIsTouchedOnlyUpToItsEnd) {
  // 24 bits, 1x1: pixel bytes 54..57, image ends at 58, well before 100.
  PictureShape shape = ShapeOf(24, 1, 1);
  std::vector<uint8_t> bmp = MakeBmp(shape);
  std::vector<uint8_t> image = bmp;
  ComplementQvxRegions(&image);
  std::vector<uint8_t> buffer(image);
  buffer.resize(image.size() + 64, 0xEE);  // guard bytes past the image's length
  Decoded d;
  d.result = GetPicture(reinterpret_cast<char*>(buffer.data()), static_cast<int32_t>(image.size()), 1,
                        &d.infoHandle, &d.bitsHandle, nullptr, 0);
  ASSERT_EQ(d.result, kResultSuccess);
  const uint8_t* pixels = static_cast<const uint8_t*>(LocalLock(d.bitsHandle));
  EXPECT_EQ(std::memcmp(pixels, &bmp[54], 3), 0);
  LocalUnlock(d.bitsHandle);
  LocalFree(d.infoHandle);
  LocalFree(d.bitsHandle);
  EXPECT_EQ(std::vector<uint8_t>(buffer.begin(), buffer.begin() + image.size()), image);
  for (size_t i = image.size(); i < buffer.size(); ++i) ASSERT_EQ(buffer[i], 0xEE) << i;
}

TEST_F(Decoding, BlocksLargerThanAProcessHoldsAreRefused) {
  // 16 bits widened to 24: the stored rows fit in the stated length, the
  // delivered ones would not fit in 2 GiB. Only the headers are ever read.
  PictureShape shape = ShapeOf(16, 715827883, 1);
  shape.pixelBytes = 0;
  std::vector<uint8_t> image = MakeQvx(shape);
  int32_t claimed = static_cast<int32_t>(54 + StrideOf(shape.width, 16));
  HLOCAL info = nullptr, bits = nullptr;
  EXPECT_EQ(GetPicture(reinterpret_cast<char*>(image.data()), claimed, 1, &info, &bits, nullptr, 0),
            kResultNoMemory);
  EXPECT_EQ(standin::Calls(standin::kLocalAlloc), 0);
}

struct AcquireFailure {
  standin::Op op;
  int nth;
  bool fromFile;
  ResultCode result;
};

class DecodingFailures : public PluginTest, public ::testing::WithParamInterface<AcquireFailure> {};

TEST_P(DecodingFailures, EveryBlockIsFreedAndTheImageRestored) {
  const AcquireFailure& f = GetParam();
  std::vector<uint8_t> image = MakeQvx(ShapeOf(8, 4, 4, 256)), before = image;
  std::string path = TempFile("f.qvx", image);
  standin::FailNth(f.op, f.nth);
  Decoded d = f.fromFile ? DecodeFile(path, 0) : DecodeMemory(&image);
  EXPECT_EQ(d.result, f.result);
  EXPECT_EQ(d.infoHandle, nullptr);
  EXPECT_EQ(d.bitsHandle, nullptr);
  EXPECT_EQ(standin::LiveBlocks(), 0);
  EXPECT_EQ(standin::OpenFiles(), 0);
  EXPECT_EQ(image, before);
}

std::vector<AcquireFailure> AcquireFailures() {
  std::vector<AcquireFailure> cases;
  for (bool file : {false, true}) {
    cases.push_back({standin::kLocalAlloc, 1, file, kResultNoMemory});
    cases.push_back({standin::kLocalLock, 1, file, kResultLockFailed});
    cases.push_back({standin::kLocalAlloc, 2, file, kResultNoMemory});
    cases.push_back({standin::kLocalLock, 2, file, kResultLockFailed});
  }
  cases.push_back({standin::kCreateFile, 1, true, kResultFileError});
  cases.push_back({standin::kSetFilePointer, 1, true, kResultFileError});
  // The header, then the colour table, then the rows are read; a file that
  // shrinks under the reader delivers less than asked.
  for (int nth : {1, 2, 3}) {
    cases.push_back({standin::kReadFile, nth, true, kResultFileError});
    cases.push_back({standin::kReadFileShort, nth, true, kResultFileError});
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(EveryAcquireStep, DecodingFailures, ::testing::ValuesIn(AcquireFailures()));

TEST_F(Decoding, FileAndMemoryAndBothRowPathsAgree) {
  // Rows of every method, small and larger than the file reader's buffer,
  // with and without progress, on the plain and the wide row paths.
  struct Case {
    uint16_t bits;
    int32_t width;
    int keep;
  } cases[] = {{1, 33, 0}, {2, 17, 0}, {2, 1200001, 0}, {4, 9, 0},     {8, 5, 0},        {16, 3, 0},
               {16, 37, 1}, {16, 140001, 0}, {24, 7, 0}, {32, 37, 0}, {32, 70001, 0}, {32, 5, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.bits) + " bits, width " + std::to_string(c.width));
    SetOptions(c.keep, c.keep, 1);
    std::vector<uint8_t> image = MakeQvx(ShapeOf(c.bits, c.width, c.width > 1000 ? 2 : 5, c.bits == 2 ? 4 : 0));
    std::string path = TempFile("rows.qvx", image);
    Decoded fromMemory[2];
    for (int wide : {0, 1}) {
      SetWideRows(wide);
      Decoded& memory = fromMemory[wide];
      memory = DecodeMemory(&image);
      Decoded file = DecodeFile(path, 0);
      Decoded quiet = CaptureDecode(
          [](char* s, LONG_PTR n, uint32_t f, HLOCAL* i, HLOCAL* b, ProgressCallback, LONG_PTR u) {
            return GetPicture(s, n, f, i, b, nullptr, u);
          },
          const_cast<char*>(path.c_str()), 0, 0, -1);
      ASSERT_EQ(memory.result, kResultSuccess);
      for (const Decoded* other : {&file, &quiet}) {
        ASSERT_EQ(other->result, kResultSuccess);
        EXPECT_TRUE(other->info == memory.info) << (wide ? "wide" : "plain");
        EXPECT_TRUE(other->pixels == memory.pixels) << (wide ? "wide" : "plain");
      }
    }
    EXPECT_TRUE(fromMemory[0].pixels == fromMemory[1].pixels) << "plain and wide rows";
    EXPECT_TRUE(fromMemory[0].info == fromMemory[1].info);
  }
}

TEST_F(Decoding, FromAFileAtAnOffsetEqualsFromMemory) {
  std::vector<uint8_t> picture = MakeQvx(ShapeOf(4, 13, 7, 16));
  std::vector<uint8_t> file = AfterFill(777, 0x99, picture);
  std::string path = TempFile("inside.bin", file);
  Decoded fromFile = DecodeFile(path, 777);
  Decoded fromMemory = DecodeMemory(&picture);
  ASSERT_EQ(fromFile.result, kResultSuccess);
  EXPECT_EQ(fromFile.info, fromMemory.info);
  EXPECT_EQ(fromFile.pixels, fromMemory.pixels);
}

}  // namespace
