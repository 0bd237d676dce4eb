// Real bitmaps: every BMP of the BMP Suite corpus turned into QVX, decoded, and
// compared pixel for pixel with an independent BMP reader.
#include <algorithm>
#include <cstring>

#include <stb_image.h>

#include "common/files.h"
#include "standin/standin.h"
#include "encode/encode.h"
#include "tools/dib.h"
#include "unit/helpers.h"

namespace {

const std::string kGood = std::string(TAVKO_CORPUS_DIR) + "/g";
const std::string kBad = std::string(TAVKO_CORPUS_DIR) + "/b";

class Corpus : public PluginTest {};

TEST_F(Corpus, AcceptedBitmapsDecodeLikeAnIndependentReader) {
  std::vector<std::string> files = FilesIn(kGood);
  ASSERT_GT(files.size(), 20u) << "corpus missing at " << kGood;
  int decoded = 0, refused = 0, unreadable = 0;
  for (int keep : {0, 1}) {
    SetOptions(keep, keep, keep);
    for (const std::string& path : files) {
      SCOPED_TRACE(path);
      std::vector<uint8_t> bmp = ReadFileBytes(path), qvx;
      std::string why;
      bool encoded = EncodeQvx(bmp, &qvx, &why);
      if (!encoded) {
        ++refused;
        // What the encoder cannot hold, recognition must refuse too.
        std::vector<uint8_t> raw = bmp;
        raw.resize(std::max<size_t>(raw.size(), 64));
        ComplementQvxRegions(&raw);
        EXPECT_EQ(IsSupported(nullptr, reinterpret_cast<ULONG_PTR>(raw.data())), 0) << why;
        continue;
      }
      ++decoded;
      ASSERT_EQ(IsSupported(nullptr, reinterpret_cast<ULONG_PTR>(qvx.data())), 1);
      std::vector<uint8_t> before = qvx;
      Decoded d = DecodeMemory(&qvx);
      ASSERT_EQ(d.result, kResultSuccess);
      EXPECT_EQ(qvx, before);
      RgbImage ours;
      ASSERT_TRUE(RenderDib(d.info.data(), d.info.size(), d.pixels.data(), d.pixels.size(), &ours, &why))
          << why;
      int w = 0, h = 0, n = 0;
      unsigned char* theirs = stbi_load_from_memory(bmp.data(), static_cast<int>(bmp.size()), &w, &h, &n, 3);
      if (theirs == nullptr) {
        // The reference cannot read it; the decode itself was still checked.
        ++unreadable;
        continue;
      }
      EXPECT_EQ(ours.width, w);
      EXPECT_EQ(ours.height, h);
      if (ours.width == w && ours.height == h) {
        size_t bad = 0;
        for (size_t i = 0; i < ours.rgb.size(); ++i) bad += ours.rgb[i] != theirs[i];
        EXPECT_EQ(bad, 0u) << "bytes differing from the independent reader";
      }
      stbi_image_free(theirs);
    }
  }
  EXPECT_GT(decoded, 30);
  EXPECT_LE(unreadable, 2);
  EXPECT_GT(refused, 10);
}

TEST_F(Corpus, BrokenBitmapsAreHandledCleanly) {
  std::vector<std::string> files = FilesIn(kBad);
  ASSERT_GT(files.size(), 10u);
  for (const std::string& path : files) {
    SCOPED_TRACE(path);
    std::vector<uint8_t> raw = ReadFileBytes(path);
    ComplementQvxRegions(&raw);
    std::vector<uint8_t> before = raw;
    Decoded d = DecodeMemory(&raw);
    EXPECT_TRUE(d.result == kResultSuccess || d.result == kResultNotQvx || d.result == kResultTruncated ||
                d.result == kResultNoMemory)
        << d.result;
    EXPECT_EQ(raw, before);
    PictureInfo info;
    GetPictureInfo(reinterpret_cast<char*>(raw.data()), static_cast<int32_t>(raw.size()), 1, &info);
    std::string file = TempFile("b.qvx", raw);
    Decoded f = DecodeFile(file, 0);
    EXPECT_EQ(f.result, d.result);
    EXPECT_EQ(f.pixels, d.pixels);
  }
}

TEST_F(Corpus, SamplePicturesDecode) {
  std::vector<std::string> files = FilesIn(std::string(TAVKO_SOURCE_DIR) + "/samples");
  int seen = 0;
  for (const std::string& path : files) {
    if (path.size() < 4 || path.substr(path.size() - 4) != ".qvx") continue;
    ++seen;
    SCOPED_TRACE(path);
    Decoded d = DecodeFile(path, 0);
    ASSERT_EQ(d.result, kResultSuccess);
    RgbImage image;
    std::string why;
    EXPECT_TRUE(RenderDib(d.info.data(), d.info.size(), d.pixels.data(), d.pixels.size(), &image, &why));
  }
  EXPECT_GE(seen, 5);
}

}  // namespace
