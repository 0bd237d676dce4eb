// Decoding through the real DLL: the corpus from files and memory,
// progress, stops, and pictures inside larger files.
#include <cstring>

#include "common/pictures.h"
#include "tests/wine/host.h"
#include "encode/encode.h"
#include "tools/dib.h"

namespace {

TEST(DllDecode, CorpusFromFileAndMemoryAgree) {
  std::vector<std::string> files = FilesIn(CorpusDir() + "/g");
  ASSERT_GT(files.size(), 20u) << CorpusDir();
  std::string temp = TempDir() + "tavko-corpus.qvx";
  int decoded = 0;
  for (const std::string& path : files) {
    SCOPED_TRACE(path);
    std::vector<uint8_t> qvx;
    std::string why;
    if (!EncodeQvx(ReadFileBytes(path), &qvx, &why)) continue;
    std::vector<uint8_t> before = qvx;
    Decoded memory = HostDecodeMemory(&qvx);
    ASSERT_EQ(memory.result, kResultSuccess);
    EXPECT_EQ(qvx, before) << "memory image restored";
    ASSERT_TRUE(WriteFileBytes(temp, qvx));
    Decoded file = HostDecodeFile(temp, 0);
    ASSERT_EQ(file.result, kResultSuccess);
    EXPECT_EQ(file.info, memory.info);
    EXPECT_EQ(file.pixels, memory.pixels);
    RgbImage image;
    EXPECT_TRUE(RenderDib(memory.info.data(), memory.info.size(), memory.pixels.data(), memory.pixels.size(),
                          &image, &why))
        << why;
    ++decoded;
  }
  DeleteFileA(temp.c_str());
  EXPECT_GT(decoded, 15);
}

TEST(DllDecode, ProgressIsReportedAndCanStop) {
  PictureShape shape = ShapeOf(24, 9, 6);
  std::vector<uint8_t> image = MakeQvx(shape), before = image;
  Decoded all = HostDecodeMemory(&image);
  ASSERT_EQ(all.result, kResultSuccess);
  EXPECT_EQ(all.progressRows, (std::vector<int>{0, 1, 2, 3, 4, 5}));
  EXPECT_EQ(all.progressHeights, std::vector<int>(6, 6));
  for (int stop : {0, 3}) {
    Decoded d = HostDecodeMemory(&image, stop);
    EXPECT_EQ(d.result, kResultAborted);
    EXPECT_EQ(d.progressRows.size(), static_cast<size_t>(stop + 1));
    EXPECT_EQ(d.infoHandle, nullptr);
    EXPECT_EQ(d.bitsHandle, nullptr);
    EXPECT_EQ(image, before);
  }
}

TEST(DllDecode, PictureInsideALargerFile) {
  PictureShape shape = ShapeOf(2, 17, 5, 4);
  std::vector<uint8_t> picture = MakeQvx(shape);
  std::vector<uint8_t> file = AfterFill(4096, 0xA5, picture);
  std::string path = TempDir() + "tavko-offset.bin";
  ASSERT_TRUE(WriteFileBytes(path, file));
  Decoded inside = HostDecodeFile(path, 4096);
  Decoded alone = HostDecodeMemory(&picture);
  ASSERT_EQ(inside.result, kResultSuccess);
  EXPECT_EQ(inside.info, alone.info);
  EXPECT_EQ(inside.pixels, alone.pixels);
  EXPECT_EQ(inside.pixels.size(), 12u * 5);
  EXPECT_EQ(HostDecodeFile(path, 0).result, kResultNotQvx);
  EXPECT_EQ(HostDecodeFile(path, -1).result, kResultFileError);
  // Nothing left after the offset, or an empty file: no picture, not a lock failure.
  EXPECT_EQ(HostDecodeFile(path, static_cast<int32_t>(file.size())).result, kResultNotQvx);
  PictureInfo info;
  EXPECT_EQ(Plugin.getPictureInfo(const_cast<char*>(path.c_str()), static_cast<int32_t>(file.size()), 0, &info),
            kResultNotQvx);
  DeleteFileA(path.c_str());
}

TEST(DllDecode, RefusalsHandBackNothing) {
  std::vector<uint8_t> tiny(17, 0xBD);
  HLOCAL info = reinterpret_cast<HLOCAL>(1), bits = reinterpret_cast<HLOCAL>(2);
  EXPECT_EQ(Plugin.getPicture(reinterpret_cast<char*>(tiny.data()), 17, 1, &info, &bits, nullptr, 0), kResultNotQvx);
  EXPECT_EQ(info, reinterpret_cast<HLOCAL>(1));
  EXPECT_EQ(bits, reinterpret_cast<HLOCAL>(2));
  PictureShape shape = ShapeOf(8, 4, 4, 256);
  std::vector<uint8_t> cut = MakeQvx(shape);
  cut.pop_back();
  EXPECT_EQ(Plugin.getPicture(reinterpret_cast<char*>(cut.data()), static_cast<int32_t>(cut.size()), 1, &info,
                              &bits, nullptr, 0),
            kResultTruncated);
}

TEST(DllDecode, SamplePictures) {
  int seen = 0;
  for (const std::string& path : FilesIn(SamplesDir())) {
    SCOPED_TRACE(path);
    Decoded d = HostDecodeFile(path, 0);
    ASSERT_EQ(d.result, kResultSuccess);
    ++seen;
  }
  EXPECT_GE(seen, 5);
}

}  // namespace
