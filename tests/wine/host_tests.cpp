// What hosts nobody on the project wrote meet: any stack alignment, worker
// threads, short headers, refused compressions, and delivered headers that
// GDI turns into exactly the picture it reads from the original BMP.
#include <cstring>
#include <limits>

#include "common/pictures.h"
#include "tests/wine/host.h"
#include "encode/encode.h"

namespace {

int WINAPI CountRows(int, int, LONG_PTR userData) {
  ++*reinterpret_cast<int*>(userData);
  return 0;
}

#if defined(__i386__)
// Calls a stdcall function with count 32-bit arguments so that esp % 16 is
// residue at the call instruction, then restores the stack.
extern "C" uint32_t CallWithStack(const void* function, const uint32_t* args, int count, int residue);
asm(R"(
  .text
  .globl _CallWithStack
_CallWithStack:
  pushl %ebp
  movl %esp, %ebp
  pushl %esi
  pushl %edi
  pushl %ebx
  movl 12(%ebp), %esi
  movl 16(%ebp), %ecx
  movl %esp, %eax
  subl $256, %eax
  andl $-16, %eax
  addl 20(%ebp), %eax
  leal (%eax,%ecx,4), %esp
1:
  testl %ecx, %ecx
  jz 2f
  decl %ecx
  pushl (%esi,%ecx,4)
  jmp 1b
2:
  call *8(%ebp)
  leal -12(%ebp), %esp
  popl %ebx
  popl %edi
  popl %esi
  popl %ebp
  ret
)");

uint32_t Arg(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

uint32_t CallAt(int residue, const void* function, std::vector<uint32_t> args) {
  return CallWithStack(function, args.data(), static_cast<int>(args.size()), residue);
}

__attribute__((noinline)) uint32_t WINAPI ArgumentAddress(uint32_t first) {
  volatile uint32_t* at = &first;
  return Arg(const_cast<uint32_t*>(at));
}

void Append(std::vector<uint8_t>* record, uint32_t value) {
  for (int i = 0; i < 4; ++i) record->push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// Appends both blocks of a successful decode and frees them.
void AppendBlocks(std::vector<uint8_t>* record, HLOCAL info, HLOCAL bits) {
  for (HLOCAL block : {info, bits}) {
    const uint8_t* bytes = static_cast<const uint8_t*>(LocalLock(block));
    record->insert(record->end(), bytes, bytes + LocalSize(block));
    LocalUnlock(block);
    LocalFree(block);
  }
}

// Every export, every depth and row method (widths 5: plain rows only;
// 37: wide rows and a plain tail), from memory and from a file, all called
// with esp % 16 equal to residue. Returns what came back, byte for byte.
std::vector<uint8_t> EveryExportAt(int residue) {
  std::vector<uint8_t> record;
  char text[64];
  for (int index = 0; index < 5; ++index) {
    std::memset(text, 'x', sizeof text);
    Append(&record, CallAt(residue, reinterpret_cast<const void*>(Plugin.getPluginInfo),
                           {static_cast<uint32_t>(index), Arg(text), sizeof text}));
    record.insert(record.end(), text, text + sizeof text);
  }
  HLOCAL a = nullptr, b = nullptr;
  Append(&record, CallAt(residue, reinterpret_cast<const void*>(Plugin.getPreview), {0, 0, 0, Arg(&a), Arg(&b), 0, 0}));
  for (uint32_t code : {0u, 2u})
    Append(&record, CallAt(residue, reinterpret_cast<const void*>(Plugin.configurationDlg), {0, code}));

  std::string path = TempDir() + "tavko-aligned.qvx";
  for (uint16_t bits : {1, 2, 4, 8, 16, 24, 32}) {
    for (int32_t width : {5, 37}) {
      std::vector<uint8_t> image = MakeQvx(ShapeOf(bits, width, 3, bits <= 8 ? 1u << bits : 0));
      WriteFileBytes(path, image);
      uint32_t length = static_cast<uint32_t>(image.size());
      Append(&record, CallAt(residue, reinterpret_cast<const void*>(Plugin.isSupported), {0, Arg(image.data())}));
      HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
      Append(&record, CallAt(residue, reinterpret_cast<const void*>(Plugin.isSupported), {0, Arg(file)}));
      CloseHandle(file);
      for (uint32_t flags : {1u, 0u}) {
        uint32_t source = flags ? Arg(image.data()) : Arg(path.c_str());
        uint32_t offsetOrLength = flags ? length : 0;
        PictureInfo info;
        std::memset(&info, 0x5A, sizeof info);
        Append(&record, CallAt(residue, reinterpret_cast<const void*>(Plugin.getPictureInfo),
                               {source, offsetOrLength, flags, Arg(&info)}));
        record.insert(record.end(), reinterpret_cast<uint8_t*>(&info), reinterpret_cast<uint8_t*>(&info + 1));
        int rows = 0;
        HLOCAL infoBlock = nullptr, bitsBlock = nullptr;
        uint32_t progress = flags ? Arg(reinterpret_cast<const void*>(CountRows)) : 0;
        uint32_t result = CallAt(residue, reinterpret_cast<const void*>(Plugin.getPicture),
                                 {source, offsetOrLength, flags, Arg(&infoBlock), Arg(&bitsBlock), progress, Arg(&rows)});
        Append(&record, result);
        Append(&record, static_cast<uint32_t>(rows));
        if (result == kResultSuccess) AppendBlocks(&record, infoBlock, bitsBlock);
      }
    }
  }
  DeleteFileA(path.c_str());
  return record;
}

struct Battery {
  std::vector<uint8_t> byResidue[4];
};

DWORD WINAPI RunBattery(LPVOID out) {
  Battery* battery = static_cast<Battery*>(out);
  for (int r = 0; r < 4; ++r) battery->byResidue[r] = EveryExportAt(4 * r);
  return 0;
}

TEST(DllHost, TheTrampolineSetsTheStackAlignment) {
  for (int residue : {0, 4, 8, 12})
    EXPECT_EQ(CallAt(residue, reinterpret_cast<const void*>(ArgumentAddress), {7}) % 16, static_cast<uint32_t>(residue));
}

TEST(DllHost, EveryExportAtEveryStackAlignmentAndOnAWorkerThread) {
  const int stored[3] = {1, 1, 1};
  for (const int* options : {static_cast<const int*>(nullptr), stored}) {
    SCOPED_TRACE(options ? "options set" : "options clear");
    ReloadPlugin(options);
    Battery main, worker;
    RunBattery(&main);
    HANDLE thread = CreateThread(nullptr, 0, RunBattery, &worker, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    ASSERT_GT(main.byResidue[0].size(), 10000u);
    for (int r = 0; r < 4; ++r) {
      EXPECT_TRUE(main.byResidue[r] == main.byResidue[0]) << "esp % 16 = " << 4 * r;
      EXPECT_TRUE(worker.byResidue[r] == main.byResidue[0]) << "worker thread, esp % 16 = " << 4 * r;
    }
  }
  ReloadPlugin(nullptr);
}
#endif  // __i386__

TEST(DllHost, ShortHeadersThroughEveryEntry) {
  std::string path = TempDir() + "tavko-short.qvx";
  for (uint32_t size : {16u, 20u, 24u, 36u}) {
    for (uint16_t bits : {1, 4, 8, 24}) {
      SCOPED_TRACE(std::to_string(size) + "-byte header, " + std::to_string(bits) + " bits");
      PictureShape shape = ShapeOf(bits, 9, 4, bits <= 8 ? 1u << bits : 0, size);
      shape.seed = 3 + size;  // the first colour is not black
      std::vector<uint8_t> bmp = MakeBmp(shape), image = MakeQvx(shape);
      ASSERT_TRUE(WriteFileBytes(path, image));
      EXPECT_EQ(Plugin.isSupported(nullptr, reinterpret_cast<ULONG_PTR>(image.data())), 1);
      HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
      EXPECT_EQ(Plugin.isSupported(nullptr, reinterpret_cast<ULONG_PTR>(file)), 1);
      CloseHandle(file);
      PictureInfo info;
      ASSERT_EQ(Plugin.getPictureInfo(const_cast<char*>(path.c_str()), 0, 0, &info), kResultSuccess);
      EXPECT_EQ(info.width, 9);
      EXPECT_EQ(info.bitDepth, bits == 24 ? 24 : bits);
      Decoded d = HostDecodeFile(path, 0);
      ASSERT_EQ(d.result, kResultSuccess);
      uint64_t offBits = PixelOffsetOf(shape);
      EXPECT_TRUE(std::equal(d.pixels.begin(), d.pixels.end(), bmp.begin() + offBits));
      for (uint32_t i = 0; i < shape.colours; ++i)
        EXPECT_EQ(std::memcmp(&d.info[40 + 4 * i], &bmp[14 + size + 4 * i], 3), 0) << "colour " << i;
      uint32_t clrUsed = d.info[32] | (d.info[33] << 8) | (d.info[34] << 16) | (d.info[35] << 24);
      EXPECT_EQ(clrUsed, size >= 36 && bits <= 8 ? shape.colours : 0u) << "fields past the header read as 0";
    }
  }
  DeleteFileA(path.c_str());
}

// A header field stored complemented, set to value.
std::vector<uint8_t> WithField(std::vector<uint8_t> bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(~(value >> (8 * i)));
  return bytes;
}

TEST(DllHost, RefusedBeforeAnythingIsAllocatedOrReported) {
  struct Case {
    std::string name;
    std::vector<uint8_t> image;
  };
  std::vector<Case> cases;
  for (uint16_t bits : {1, 2, 4, 8, 16, 24, 32}) {
    for (uint32_t compression : {1u, 2u, 3u, 4u, 5u, 0x80000000u}) {
      PictureShape shape = ShapeOf(bits, 6, 2, bits <= 8 ? 1u << bits : 0);
      shape.compression = compression;
      cases.push_back({std::to_string(bits) + " bits, compression " + std::to_string(compression), MakeQvx(shape)});
    }
  }
  // Pixels that would start inside the headers: header bytes, not rows,
  // even where the data is also too short for the rows.
  std::vector<uint8_t> core = MakeQvx(ShapeOf(24, 4, 4, 0, 12));
  core.resize(40);
  cases.push_back({"pixels at byte 3", WithField(MakeQvx(ShapeOf(8, 4, 4, 256)), 10, 3)});
  cases.push_back({"core form, pixels at 25, short", WithField(core, 10, 25)});
  cases.push_back({"header size 0xFFFFFFF0", WithField(MakeQvx(ShapeOf(24, 4, 4)), 14, 0xFFFFFFF0)});
  std::string path = TempDir() + "tavko-refused.qvx";
  const HLOCAL untouched = reinterpret_cast<HLOCAL>(0x11);
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Plugin.isSupported(nullptr, reinterpret_cast<ULONG_PTR>(c.image.data())), 0);
    ASSERT_TRUE(WriteFileBytes(path, c.image));
    for (uint32_t flags : {1u, 0u}) {
      char* source = flags ? reinterpret_cast<char*>(c.image.data()) : const_cast<char*>(path.c_str());
      LONG_PTR lengthOrOffset = flags ? static_cast<LONG_PTR>(c.image.size()) : 0;
      HLOCAL info = untouched, bits = untouched;
      int calls = 0;
      EXPECT_EQ(Plugin.getPicture(source, lengthOrOffset, flags, &info, &bits, CountRows,
                                  reinterpret_cast<LONG_PTR>(&calls)),
                kResultNotQvx);
      EXPECT_EQ(info, untouched) << "no block was had";
      EXPECT_EQ(bits, untouched);
      EXPECT_EQ(calls, 0);
      PictureInfo record;
      EXPECT_EQ(Plugin.getPictureInfo(source, lengthOrOffset, flags, &record), kResultSuccess) << "the header reads";
    }
  }
  DeleteFileA(path.c_str());
}

TEST(DllHost, MemoryLengthsWithTheTopBitSet) {
  // TAVKO.SPH takes the length signed: a negative one is no picture, and
  // nothing past the image is read. TAVKO.SPI takes it unsigned, so a whole
  // picture decodes whatever larger length is given.
  const bool signedLength = sizeof(LONG_PTR) == 8;
  std::vector<uint8_t> image = MakeQvx(ShapeOf(8, 4, 4, 256));
  char* bytes = reinterpret_cast<char*>(image.data());
  for (LONG_PTR length : {LONG_PTR{-1}, std::numeric_limits<LONG_PTR>::min()}) {
    SCOPED_TRACE(length);
    const HLOCAL untouched = reinterpret_cast<HLOCAL>(0x11);
    HLOCAL info = untouched, bits = untouched;
    int calls = 0;
    ResultCode result = Plugin.getPicture(bytes, length, 1, &info, &bits, CountRows, reinterpret_cast<LONG_PTR>(&calls));
    PictureInfo record;
    ResultCode infoResult = Plugin.getPictureInfo(bytes, length, 1, &record);
    if (signedLength) {
      EXPECT_EQ(result, kResultNotQvx);
      EXPECT_EQ(infoResult, kResultNotQvx);
      EXPECT_EQ(info, untouched);
      EXPECT_EQ(calls, 0);
    } else {
      ASSERT_EQ(result, kResultSuccess);
      EXPECT_EQ(infoResult, kResultSuccess);
      EXPECT_EQ(calls, 4);
      LocalFree(info);
      LocalFree(bits);
    }
  }
}

uint32_t U32(const std::vector<uint8_t>& bytes, size_t at) {
  return bytes[at] | (bytes[at + 1] << 8) | (bytes[at + 2] << 16) | (static_cast<uint32_t>(bytes[at + 3]) << 24);
}

TEST(DllHost, DeliveredHeaderFieldsForEachDepth) {
  struct Case {
    uint16_t bits;
    bool kept;
    uint32_t colours, storedClrUsed;
    uint16_t depth;
    uint32_t compression, clrUsed;
    size_t infoBytes;
  } cases[] = {
      {1, false, 2, 2, 1, 0, 2, 44 + 8},        {2, false, 4, 4, 4, 0, 4, 44 + 64},
      {4, false, 0, 16, 4, 0, 16, 44 + 64},     {8, false, 256, 999, 8, 0, 0, 44 + 1024},
      {16, false, 0, 5, 24, 0, 0, 44},          {16, true, 0, 5, 16, 3, 0, 60},
      {24, false, 256, 256, 24, 0, 0, 44},      {32, false, 0, 0, 24, 0, 0, 44},
      {32, true, 0, 9, 32, 3, 0, 60},
  };
  const int kept[3] = {1, 1, 0};
  for (bool withOptions : {false, true}) {
    ReloadPlugin(withOptions ? kept : nullptr);
    for (const Case& c : cases) {
      if (c.kept != withOptions && (c.bits == 16 || c.bits == 32)) continue;
      SCOPED_TRACE(std::to_string(c.bits) + " bits" + (c.kept ? ", kept" : ""));
      PictureShape shape = ShapeOf(c.bits, 7, 3, c.colours);
      std::vector<uint8_t> bmp = MakeBmp(shape);
      bmp[26] = 0x30, bmp[27] = 0x75;  // 30000 planes stored
      for (int i = 0; i < 4; ++i) bmp[46 + i] = static_cast<uint8_t>(c.storedClrUsed >> (8 * i));
      ComplementQvxRegions(&bmp);
      Decoded d = HostDecodeMemory(&bmp);
      ASSERT_EQ(d.result, kResultSuccess);
      EXPECT_EQ(d.info.size(), c.infoBytes);
      EXPECT_EQ(U32(d.info, 0), 40u);
      EXPECT_EQ(U32(d.info, 12), 1u | (static_cast<uint32_t>(c.depth) << 16)) << "one plane, delivered depth";
      EXPECT_EQ(U32(d.info, 16), c.compression);
      EXPECT_EQ(U32(d.info, 20), d.pixels.size()) << "biSizeImage";
      EXPECT_EQ(U32(d.info, 32), c.clrUsed);
    }
  }
  ReloadPlugin(nullptr);
}

// The picture as 0x00RRGGBB values, top row first, as GDI reads a bitmap.
std::vector<uint32_t> GdiPixels(HBITMAP bitmap, int width, int height) {
  BITMAPINFO request = {};
  request.bmiHeader.biSize = sizeof request.bmiHeader;
  request.bmiHeader.biWidth = width;
  request.bmiHeader.biHeight = -height;
  request.bmiHeader.biPlanes = 1;
  request.bmiHeader.biBitCount = 32;
  request.bmiHeader.biCompression = BI_RGB;
  std::vector<uint32_t> pixels(static_cast<size_t>(width) * height);
  HDC dc = CreateCompatibleDC(nullptr);
  int lines = GetDIBits(dc, bitmap, 0, height, pixels.data(), &request, DIB_RGB_COLORS);
  DeleteDC(dc);
  if (lines != height) pixels.clear();
  for (uint32_t& p : pixels) p &= 0xFFFFFF;
  return pixels;
}

TEST(DllHost, ADibSectionFromTheBlocksShowsWhatGdiReadsFromTheOriginal) {
  int compared = 0;
  const int kept[3] = {1, 1, 0};
  for (bool withOptions : {false, true}) {
    ReloadPlugin(withOptions ? kept : nullptr);
    for (const std::string& path : FilesIn(CorpusDir() + "/g")) {
      SCOPED_TRACE(path + (withOptions ? " (16 and 32 kept)" : ""));
      std::vector<uint8_t> original = ReadFileBytes(path), qvx;
      std::string why;
      if (!EncodeQvx(original, &qvx, &why)) continue;
      // GDI's reading of the original: a DIB section made from the file's
      // own headers and pixel bytes.
      const BITMAPINFO* stored = reinterpret_cast<const BITMAPINFO*>(original.data() + 14);
      uint32_t offBits = U32(original, 10);
      void* storedBits = nullptr;
      HBITMAP read = CreateDIBSection(nullptr, stored, DIB_RGB_COLORS, &storedBits, nullptr, 0);
      if (read == nullptr) continue;  // not a bitmap GDI reads
      DIBSECTION layout;
      ASSERT_EQ(GetObjectA(read, sizeof layout, &layout), static_cast<int>(sizeof layout));
      size_t storedBytes = static_cast<size_t>(layout.dsBm.bmWidthBytes) * layout.dsBm.bmHeight;
      ASSERT_LE(offBits + storedBytes, original.size());
      std::memcpy(storedBits, original.data() + offBits, storedBytes);
      Decoded d = HostDecodeMemory(&qvx);
      ASSERT_EQ(d.result, kResultSuccess);
      const BITMAPINFO* header = reinterpret_cast<const BITMAPINFO*>(d.info.data());
      int width = header->bmiHeader.biWidth, height = std::abs(header->bmiHeader.biHeight);
      void* bits = nullptr;
      HBITMAP section = CreateDIBSection(nullptr, header, DIB_RGB_COLORS, &bits, nullptr, 0);
      ASSERT_NE(section, nullptr);
      std::memcpy(bits, d.pixels.data(), header->bmiHeader.biSizeImage);
      std::vector<uint32_t> ours = GdiPixels(section, width, height), theirs = GdiPixels(read, width, height);
      ASSERT_FALSE(theirs.empty());
      size_t differ = 0, first = ours.size();
      for (size_t i = 0; i < ours.size(); ++i)
        if (ours[i] != theirs[i] && differ++ == 0) first = i;
      EXPECT_EQ(differ, 0u) << "first at " << first << ": " << std::hex << (first < ours.size() ? ours[first] : 0)
                            << " against " << (first < ours.size() ? theirs[first] : 0);
      DeleteObject(section);
      DeleteObject(read);
      ++compared;
    }
  }
  ReloadPlugin(nullptr);
  EXPECT_GE(compared, 30);
}

struct SharedImage {
  char* bytes;
  int32_t length;
  const Decoded* expected;
  int mismatches;
};

DWORD WINAPI DecodeSharedImage(LPVOID context) {
  SharedImage* shared = static_cast<SharedImage*>(context);
  for (int i = 0; i < 100; ++i) {
    Decoded d = CaptureDecode(Plugin.getPicture, shared->bytes, shared->length, 1, -1);
    if (d.result != kResultSuccess || d.info != shared->expected->info || d.pixels != shared->expected->pixels)
      ++shared->mismatches;
  }
  return 0;
}

TEST(DllHost, ReadOnlyAndSharedMemoryImagesAreOnlyRead) {
  for (uint16_t bits : {2, 8, 16, 24, 32}) {
    SCOPED_TRACE(std::to_string(bits) + " bits");
    std::vector<uint8_t> image = MakeQvx(ShapeOf(bits, 37, 9, bits == 2 ? 4 : 0));
    Decoded expected = HostDecodeMemory(&image);
    ASSERT_EQ(expected.result, kResultSuccess);
    char* pages = static_cast<char*>(VirtualAlloc(nullptr, image.size(), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    ASSERT_NE(pages, nullptr);
    std::memcpy(pages, image.data(), image.size());
    DWORD was = 0;
    ASSERT_TRUE(VirtualProtect(pages, image.size(), PAGE_READONLY, &was));
    SharedImage shared = {pages, static_cast<int32_t>(image.size()), &expected, 0};
    DecodeSharedImage(&shared);
    EXPECT_EQ(shared.mismatches, 0) << "read-only image";
    SharedImage perThread[2] = {shared, shared};
    HANDLE threads[2];
    for (int t = 0; t < 2; ++t) threads[t] = CreateThread(nullptr, 0, DecodeSharedImage, &perThread[t], 0, nullptr);
    WaitForMultipleObjects(2, threads, TRUE, INFINITE);
    for (int t = 0; t < 2; ++t) {
      CloseHandle(threads[t]);
      EXPECT_EQ(perThread[t].mismatches, 0) << "thread " << t;
    }
    VirtualFree(pages, 0, MEM_RELEASE);
  }
}

TEST(DllHost, PictureInfoRecordIsWrittenByteForByte) {
  // A 26-byte record for 32-bit hosts; 32 bytes for 64-bit ones, with two
  // zero padding bytes after the depth and the 8-byte handle at 24. Hosts
  // fill the record beforehand to find a misplaced handle: nothing past it
  // may change.
  const size_t size = sizeof(void*) == 8 ? 32 : 26;
  std::vector<uint8_t> image = MakeQvx(ShapeOf(8, 300, -7, 256));
  uint8_t record[48];
  std::memset(record, 0x77, sizeof record);
  ASSERT_EQ(Plugin.getPictureInfo(reinterpret_cast<char*>(image.data()), static_cast<LONG_PTR>(image.size()), 1,
                                  reinterpret_cast<PictureInfo*>(record)),
            kResultSuccess);
  std::vector<uint8_t> expected = {0, 0, 0, 0, 0, 0, 0, 0, 0x2C, 1, 0, 0, 0xF9, 0xFF, 0xFF, 0xFF, 1, 0, 1, 0, 8, 0};
  expected.resize(size, 0);
  expected.resize(sizeof record, 0x77);
  EXPECT_EQ(std::vector<uint8_t>(record, record + sizeof record), expected);
}

}  // namespace
