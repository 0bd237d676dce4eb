// The real DLL's exports, strings, recognition and resources.
#include <cstring>

#include "common/pictures.h"
#include "tests/wine/host.h"

namespace {

TEST(Dll, InformationStringsAndTruncation) {
  struct Case {
    int index, size;
    const char* text;
  } cases[] = {{0, 5, "00IN"},   {0, 3, "00"},    {0, 1, ""},    {1, 64, "QVX(PELKO) to DIB filter version.0.04"},
               {2, 100, "*.QVX"}, {3, 64, "QVX(PELKO)(1,2,4,8,16(15),24,32bit)"}, {4, 8, ""}, {-1, 8, ""}};
  for (const Case& c : cases) {
    char buffer[128];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(Plugin.getPluginInfo(c.index, buffer, c.size), static_cast<int>(std::strlen(c.text)));
    EXPECT_STREQ(buffer, c.text);
    EXPECT_EQ(buffer[c.size], 'x') << "nothing past the buffer";
  }
  char buffer[100];
  std::memset(buffer, 'x', sizeof buffer);
  Plugin.getPluginInfo(2, buffer, 100);
  for (int i = 5; i < 100; ++i) EXPECT_EQ(buffer[i], 0) << i;
}

TEST(Dll, PreviewIsNotProvided) {
  HLOCAL a = nullptr, b = nullptr;
  EXPECT_EQ(Plugin.getPreview(nullptr, 0, 0, &a, &b, nullptr, 0), -1);
  EXPECT_EQ(Plugin.getPreview(const_cast<char*>("x.qvx"), 3, 1, nullptr, nullptr, nullptr, 99), -1);
}

TEST(Dll, RecognitionFromARealHandleAndFromMemory) {
  PictureShape shape = ShapeOf(8, 4, 4, 256);
  std::vector<uint8_t> picture = MakeQvx(shape);
  std::vector<uint8_t> file = AfterFill(300, 0x33, picture);
  std::string path = TempDir() + "tavko-handle.qvx";
  ASSERT_TRUE(WriteFileBytes(path, file));
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  SetFilePointer(handle, 300, nullptr, FILE_BEGIN);
  EXPECT_EQ(Plugin.isSupported(const_cast<char*>(path.c_str()), reinterpret_cast<ULONG_PTR>(handle)), 1);
  EXPECT_EQ(SetFilePointer(handle, 0, nullptr, FILE_CURRENT), 300u + 1024) << "position after the read";
  SetFilePointer(handle, 0, nullptr, FILE_BEGIN);
  EXPECT_EQ(Plugin.isSupported(nullptr, reinterpret_cast<ULONG_PTR>(handle)), 0);
  EXPECT_TRUE(CloseHandle(handle)) << "the handle stays the caller's";
  DeleteFileA(path.c_str());

  EXPECT_EQ(Plugin.isSupported(nullptr, reinterpret_cast<ULONG_PTR>(picture.data())), 1);
  std::vector<uint8_t> plain = MakeBmp(shape);
  EXPECT_EQ(Plugin.isSupported(nullptr, reinterpret_cast<ULONG_PTR>(plain.data())), 0);
}

TEST(Dll, FilesOfFourGigabytesOrMoreAreSizedWhole) {
  std::vector<uint8_t> picture = MakeQvx(ShapeOf(8, 4, 4, 256));
  Decoded expected = HostDecodeMemory(&picture);
  ASSERT_EQ(expected.result, kResultSuccess);
  std::string path = TempDir() + "tavko-4g.qvx";
  // Past 4 GiB by fewer bytes than recognition reads, and by fewer than bfSize.
  for (uint64_t size : {(1ull << 32) + 17, (1ull << 32) + 100}) {
    SCOPED_TRACE(size);
    ASSERT_TRUE(WriteSparseFile(path, size, {{0, picture}}));
    HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Plugin.isSupported(nullptr, reinterpret_cast<ULONG_PTR>(handle)), 1);
    CloseHandle(handle);
    Decoded d = HostDecodeFile(path, 0);
    ASSERT_EQ(d.result, kResultSuccess);
    EXPECT_EQ(d.info, expected.info);
    EXPECT_EQ(d.pixels, expected.pixels);
  }
  DeleteFileA(path.c_str());
}

TEST(Dll, PictureInfoFromFileAtOffsetAndFromMemory) {
  PictureShape shape = ShapeOf(4, 21, -16, 16, 12);
  std::vector<uint8_t> picture = MakeQvx(shape), before = picture;
  std::vector<uint8_t> file = AfterFill(5000, 0, picture);
  std::string path = TempDir() + "tavko-info.bin";
  ASSERT_TRUE(WriteFileBytes(path, file));
  for (int fromFile : {1, 0}) {
    PictureInfo info;
    std::memset(&info, 0x77, sizeof info);
    ResultCode r = fromFile ? Plugin.getPictureInfo(const_cast<char*>(path.c_str()), 5000, 0, &info)
                            : Plugin.getPictureInfo(reinterpret_cast<char*>(picture.data()),
                                                    static_cast<int32_t>(picture.size()), 1, &info);
    ASSERT_EQ(r, kResultSuccess);
    EXPECT_EQ(+info.left, 0);
    EXPECT_EQ(+info.top, 0);
    EXPECT_EQ(+info.width, 21);
    EXPECT_EQ(+info.height, -16);
    EXPECT_EQ(+info.horizontalDensity, 1);
    EXPECT_EQ(+info.verticalDensity, 1);
    EXPECT_EQ(+info.bitDepth, 4);
    EXPECT_TRUE(info.textInfoHandle == 0);
  }
  EXPECT_EQ(picture, before);
  PictureInfo info;
  EXPECT_EQ(Plugin.getPictureInfo(const_cast<char*>(path.c_str()), 0, 0, &info), kResultNotQvx);
  EXPECT_EQ(Plugin.getPictureInfo(const_cast<char*>(path.c_str()), -4, 0, &info), kResultFileError);
  EXPECT_EQ(Plugin.getPictureInfo(const_cast<char*>(path.c_str()), 1 << 30, 0, &info), kResultNoMemory);
  EXPECT_EQ(Plugin.getPictureInfo(const_cast<char*>("Z:/no/such/file.qvx"), 0, 0, &info), kResultFileError);
  DeleteFileA(path.c_str());
  // A file locked against reading by someone else.
  std::string locked = TempDir() + "tavko-locked.qvx";
  ASSERT_TRUE(WriteFileBytes(locked, picture));
  HANDLE exclusive = CreateFileA(locked.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(exclusive, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Plugin.getPictureInfo(const_cast<char*>(locked.c_str()), 0, 0, &info), kResultFileError);
  HLOCAL a, b;
  EXPECT_EQ(Plugin.getPicture(const_cast<char*>(locked.c_str()), 0, 0, &a, &b, nullptr, 0), kResultFileError);
  CloseHandle(exclusive);
  DeleteFileA(locked.c_str());
}

std::wstring VersionString(const std::vector<char>& block, const wchar_t* name) {
  wchar_t query[128];
  swprintf(query, 128, L"\\StringFileInfo\\041104b0\\%ls", name);
  wchar_t* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(block.data(), query, reinterpret_cast<void**>(&value), &length)) return L"<missing>";
  return value;
}

TEST(Dll, VersionRecord) {
  char path[MAX_PATH];
  GetModuleFileNameA(PluginModule, path, MAX_PATH);
  wchar_t widePath[MAX_PATH];
  MultiByteToWideChar(CP_ACP, 0, path, -1, widePath, MAX_PATH);
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeW(widePath, &ignored);
  ASSERT_GT(size, 0u);
  std::vector<char> block(size);
  ASSERT_TRUE(GetFileVersionInfoW(widePath, 0, size, block.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00000000u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0x00040000u);
  EXPECT_EQ(fixed->dwProductVersionMS, (TAVKO_VERSION_MAJOR << 16u) | TAVKO_VERSION_MINOR);
  EXPECT_EQ(fixed->dwProductVersionLS, TAVKO_VERSION_PATCH << 16u);
  EXPECT_EQ(fixed->dwFileFlagsMask, 0x3Fu);
  EXPECT_EQ(fixed->dwFileFlags, 0u);
  EXPECT_EQ(fixed->dwFileOS, static_cast<DWORD>(VOS__WINDOWS32));
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
  EXPECT_EQ(VersionString(block, L"FileVersion"), L"0.04");
  EXPECT_EQ(VersionString(block, L"ProductVersion"), std::wstring(L"" TAVKO_VERSION));
  EXPECT_EQ(VersionString(block, L"FileDescription"), L"Susie 32bit Plug-in for QVX(PELKO)");
  EXPECT_EQ(VersionString(block, L"InternalName"), L"QVX(PELKO) to DIB filter");
  EXPECT_EQ(VersionString(block, L"OriginalFilename"), std::wstring(kPluginFileName, kPluginFileName + 9));
  WORD* translation = nullptr;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length));
  EXPECT_EQ(translation[0], 0x0411);
  EXPECT_EQ(translation[1], 1200);
}

uint32_t Dword(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24); }
uint16_t Word(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

TEST(Dll, DialogTemplate) {
  HRSRC found = FindResourceExA(PluginModule, reinterpret_cast<LPCSTR>(RT_DIALOG), "TAVKOCFG", 0x0411);
  ASSERT_NE(found, nullptr) << "TAVKOCFG in language 0x0411";
  const uint8_t* t = static_cast<const uint8_t*>(LockResource(LoadResource(PluginModule, found)));
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(Dword(t), 0x90C00080u) << "style";
  EXPECT_NE(Word(t + 2), 0xFFFF) << "classic template, not extended";
  EXPECT_EQ(Word(t + 8), 4) << "controls";
  EXPECT_EQ(Word(t + 10), 20);
  EXPECT_EQ(Word(t + 12), 20);
  EXPECT_EQ(Word(t + 14), 90);
  EXPECT_EQ(Word(t + 16), 40);
  const uint8_t* p = t + 18;
  EXPECT_EQ(Word(p), 0) << "no menu";
  EXPECT_EQ(Word(p + 2), 0) << "default class";
  p += 4;
  std::wstring caption(reinterpret_cast<const wchar_t*>(p));
  EXPECT_EQ(caption, L"TAVKO configuration");
  p += 2 * (caption.size() + 1);  // no font follows: DS_SETFONT is not in the style
  struct Item {
    uint16_t id;
    const wchar_t* text;
    int x, y, cx, cy;
    uint32_t style;
  } items[] = {{111, L"&16bit", 5, 5, 40, 10, 0x50010003}, {112, L"&32bit", 5, 15, 40, 10, 0x50010003},
               {113, L"&MMX", 5, 25, 40, 10, 0x50010003}, {101, L"&Done", 55, 5, 30, 30, 0x50010000}};
  for (const Item& item : items) {
    p = t + ((p - t + 3) & ~3);
    EXPECT_EQ(Dword(p), item.style) << item.id;
    EXPECT_EQ(static_cast<int16_t>(Word(p + 8)), item.x);
    EXPECT_EQ(static_cast<int16_t>(Word(p + 10)), item.y);
    EXPECT_EQ(static_cast<int16_t>(Word(p + 12)), item.cx);
    EXPECT_EQ(static_cast<int16_t>(Word(p + 14)), item.cy);
    EXPECT_EQ(Word(p + 16), item.id);
    p += 18;
    EXPECT_EQ(Word(p), 0xFFFF);
    EXPECT_EQ(Word(p + 2), 0x0080) << "button class";
    p += 4;
    std::wstring text(reinterpret_cast<const wchar_t*>(p));
    EXPECT_EQ(text, item.text);
    p += 2 * (text.size() + 1);
    p += 2;  // no creation data
  }
}

}  // namespace
