// The 64-bit module's wide-character entries: file names outside the
// system code page, the same answers as the ANSI entries for memory images,
// and a picture whose pixel block is over 2 GiB.
#include <cstring>

#include "common/pictures.h"
#include "tests/wine/host.h"
#include "encode/encode.h"

namespace {

struct WideEntries {
  int(WINAPI* getPluginInfo)(int, wchar_t*, int);
  int(WINAPI* isSupported)(const wchar_t*, ULONG_PTR);
  ResultCode(WINAPI* getPictureInfo)(const wchar_t*, LONG_PTR, uint32_t, PictureInfo*);
  ResultCode(WINAPI* getPicture)(const wchar_t*, LONG_PTR, uint32_t, HLOCAL*, HLOCAL*, ProgressCallback, LONG_PTR);
  ResultCode(WINAPI* getPreview)(const wchar_t*, LONG_PTR, uint32_t, HLOCAL*, HLOCAL*, ProgressCallback, LONG_PTR);
};

template <typename Function>
void Find(const char* name, Function* function) {
  *function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(PluginModule, name)));
  ASSERT_NE(*function, nullptr) << name;
}

WideEntries Wide() {
  WideEntries w = {};
  Find("GetPluginInfoW", &w.getPluginInfo);
  Find("IsSupportedW", &w.isSupported);
  Find("GetPictureInfoW", &w.getPictureInfo);
  Find("GetPictureW", &w.getPicture);
  Find("GetPreviewW", &w.getPreview);
  return w;
}

std::wstring WideTempDir() {
  wchar_t path[MAX_PATH];
  GetTempPathW(MAX_PATH, path);
  return path;
}

std::vector<uint8_t> Block(HLOCAL handle) {
  const uint8_t* bytes = static_cast<const uint8_t*>(LocalLock(handle));
  std::vector<uint8_t> copy(bytes, bytes + LocalSize(handle));
  LocalUnlock(handle);
  LocalFree(handle);
  return copy;
}

TEST(DllWide, StringsAsUtf16) {
  WideEntries w = Wide();
  struct Case {
    int index, size;
    const wchar_t* text;
  } cases[] = {{0, 5, L"00IN"}, {0, 3, L"00"}, {1, 64, L"QVX(PELKO) to DIB filter version.0.04"},
               {2, 100, L"*.QVX"}, {3, 64, L"QVX(PELKO)(1,2,4,8,16(15),24,32bit)"}, {4, 8, L""}};
  for (const Case& c : cases) {
    wchar_t buffer[128];
    std::wmemset(buffer, L'x', 128);
    EXPECT_EQ(w.getPluginInfo(c.index, buffer, c.size), static_cast<int>(std::wcslen(c.text)));
    EXPECT_EQ(std::wstring(buffer), c.text);
    EXPECT_EQ(buffer[c.index <= 3 ? c.size : 1], L'x') << "nothing past the buffer";
  }
  HLOCAL a = nullptr, b = nullptr;
  EXPECT_EQ(w.getPreview(L"x", 0, 0, &a, &b, nullptr, 0), -1);
}

TEST(DllWide, FileNamesOutsideTheCodePage) {
  WideEntries w = Wide();
  std::vector<uint8_t> picture = MakeQvx(ShapeOf(8, 13, 6, 256));
  Decoded expected = HostDecodeMemory(&picture);
  ASSERT_EQ(expected.result, kResultSuccess);
  const wchar_t* names[] = {L"\u5199\u771f\u306e\u7d75.qvx", L"caf\u00e9 cr\u00e8me.qvx", L"\U0001F5BC picture.qvx",
                            L"plain.qvx"};
  for (const wchar_t* name : names) {
    std::wstring path = WideTempDir() + name;
    SCOPED_TRACE(std::string(path.begin(), path.end()));
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(file, picture.data(), static_cast<DWORD>(picture.size()), &written, nullptr);
    CloseHandle(file);

    PictureInfo info = {};
    EXPECT_EQ(w.getPictureInfo(path.c_str(), 0, 0, &info), kResultSuccess);
    EXPECT_EQ(info.width, 13);
    HLOCAL infoBlock = nullptr, bitsBlock = nullptr;
    ASSERT_EQ(w.getPicture(path.c_str(), 0, 0, &infoBlock, &bitsBlock, nullptr, 0), kResultSuccess);
    EXPECT_EQ(Block(infoBlock), expected.info);
    EXPECT_EQ(Block(bitsBlock), expected.pixels);

    // The ANSI entries take the name in the system code page: where it
    // cannot hold the name, the file cannot be opened, and they say so.
    BOOL lossy = FALSE;
    char ansi[MAX_PATH * 2];
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, path.c_str(), -1, ansi, sizeof ansi, nullptr, &lossy);
    ResultCode narrow = Plugin.getPictureInfo(ansi, 0, 0, &info);
    EXPECT_EQ(narrow, lossy ? kResultFileError : kResultSuccess);
    DeleteFileW(path.c_str());
  }
  PictureInfo info;
  EXPECT_EQ(w.getPictureInfo(L"Z:/no/such/\u5199\u771f.qvx", 0, 0, &info), kResultFileError);
}

TEST(DllWide, MemoryImagesAsTheAnsiEntries) {
  WideEntries w = Wide();
  for (uint16_t bits : {1, 4, 8, 16, 24, 32}) {
    std::vector<uint8_t> image = MakeQvx(ShapeOf(bits, 11, 4, bits <= 8 ? 1u << bits : 0));
    Decoded ansi = HostDecodeMemory(&image);
    HLOCAL infoBlock = nullptr, bitsBlock = nullptr;
    ASSERT_EQ(w.getPicture(reinterpret_cast<const wchar_t*>(image.data()), static_cast<LONG_PTR>(image.size()), 1,
                           &infoBlock, &bitsBlock, nullptr, 0),
              kResultSuccess);
    EXPECT_EQ(Block(infoBlock), ansi.info);
    EXPECT_EQ(Block(bitsBlock), ansi.pixels);
    EXPECT_EQ(w.isSupported(nullptr, reinterpret_cast<ULONG_PTR>(image.data())), 1);
    EXPECT_EQ(w.getPicture(reinterpret_cast<const wchar_t*>(image.data()), -1, 1, &infoBlock, &bitsBlock, nullptr, 0),
              kResultNotQvx)
        << "a negative length";
  }
}

// Only when asked for: it needs about 3.5 GB of memory.
TEST(DllWide, APixelBlockOverTwoGigabytes) {
  if (std::getenv("TAVKO_LARGE") == nullptr) GTEST_SKIP() << "set TAVKO_LARGE=1";
  // 2-bit pixels widened to 4 bits: 32768 x 140000 gives 2.14 GiB of rows.
  const int32_t width = 32768, height = 140000;
  PictureShape shape = ShapeOf(2, width, 1, 4);
  shape.pixelBytes = 0;
  std::vector<uint8_t> head = MakeBmp(shape);
  for (int i = 0; i < 4; ++i) head[22 + i] = static_cast<uint8_t>(height >> (8 * i));
  for (int i = 0; i < 4; ++i) head[2 + i] = 0;  // bfSize: not known to fit 32 bits
  ComplementQvxRegions(&head);  // pixels start at 70, so bytes 70..99 are stored complemented
  const uint64_t stride = width / 4, rows = height, length = head.size() + stride * rows;
  uint8_t* image = static_cast<uint8_t*>(VirtualAlloc(nullptr, length, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  ASSERT_NE(image, nullptr);
  std::memcpy(image, head.data(), head.size());
  for (uint64_t i = head.size(); i < length; ++i) image[i] = static_cast<uint8_t>(i * 7);
  for (uint64_t i = head.size(); i < 100; ++i) image[i] = static_cast<uint8_t>(~image[i]);
  HLOCAL infoBlock = nullptr, bitsBlock = nullptr;
  ASSERT_EQ(Plugin.getPicture(reinterpret_cast<char*>(image), static_cast<LONG_PTR>(length), 1, &infoBlock, &bitsBlock,
                              nullptr, 0),
            kResultSuccess);
  ASSERT_EQ(LocalSize(bitsBlock), 2 * stride * rows);
  EXPECT_GT(LocalSize(bitsBlock), 0x80000000ull);
  const uint8_t* pixels = static_cast<const uint8_t*>(LocalLock(bitsBlock));
  for (uint64_t row : {uint64_t{0}, rows / 2, rows - 1}) {
    for (uint64_t x : {uint64_t{0}, uint64_t{40}, stride - 1}) {
      uint64_t at = head.size() + row * stride + x;
      uint8_t b = static_cast<uint8_t>(at < 100 ? ~image[at] : image[at]);
      ASSERT_EQ(pixels[2 * (row * stride + x)], ((b & 0xC0) >> 2) | ((b & 0x30) >> 4)) << row << "," << x;
      ASSERT_EQ(pixels[2 * (row * stride + x) + 1], ((b & 0x0C) << 2) | (b & 0x03)) << row << "," << x;
    }
  }
  LocalUnlock(bitsBlock);
  LocalFree(infoBlock);
  LocalFree(bitsBlock);
  VirtualFree(image, 0, MEM_RELEASE);
}

// Only when asked for: it needs about 4.5 GB of memory.
TEST(DllWide, APixelBlockOfFourGigabytesFromASparseFile) {
  if (std::getenv("TAVKO_LARGE") == nullptr) GTEST_SKIP() << "set TAVKO_LARGE=1";
  // 8-bit 65536 x 65600: 4,299,161,600 bytes of rows, more than biSizeImage holds.
  const int32_t width = 65536, height = 65600;
  PictureShape shape = ShapeOf(8, width, 1, 256);
  shape.pixelBytes = 0;
  std::vector<uint8_t> head = MakeBmp(shape);
  for (int i = 0; i < 4; ++i) head[22 + i] = static_cast<uint8_t>(height >> (8 * i));
  for (int i = 0; i < 4; ++i) head[2 + i] = 0;  // bfSize: the file is larger than it holds
  ComplementQvxRegions(&head);
  const uint64_t pixelBytes = static_cast<uint64_t>(width) * height;
  // A few marked bytes, around the 4 GiB boundary and at both ends; the
  // rest of the rows is a hole of zeros.
  const uint64_t marks[] = {0, width - 1ull, (1ull << 32) - 1, 1ull << 32, pixelBytes - 1};
  std::vector<FilePiece> pieces = {{0, head}};
  for (uint64_t mark : marks) pieces.push_back({head.size() + mark, {static_cast<uint8_t>(mark % 251 + 1)}});
  std::string path = TempDir() + "tavko-4g-picture.qvx";
  ASSERT_TRUE(WriteSparseFile(path, head.size() + pixelBytes, pieces));
  HLOCAL infoBlock = nullptr, bitsBlock = nullptr;
  ASSERT_EQ(Plugin.getPicture(const_cast<char*>(path.c_str()), 0, 0, &infoBlock, &bitsBlock, nullptr, 0),
            kResultSuccess);
  DeleteFileA(path.c_str());
  ASSERT_EQ(LocalSize(bitsBlock), pixelBytes);
  std::vector<uint8_t> info = Block(infoBlock);
  EXPECT_EQ(std::vector<uint8_t>(info.begin() + 20, info.begin() + 24), std::vector<uint8_t>(4, 0))
      << "biSizeImage of a block of 4 GiB or more";
  const uint8_t* pixels = static_cast<const uint8_t*>(LocalLock(bitsBlock));
  for (uint64_t mark : marks) EXPECT_EQ(pixels[mark], mark % 251 + 1) << mark;
  LocalUnlock(bitsBlock);
  LocalFree(bitsBlock);
}

}  // namespace
