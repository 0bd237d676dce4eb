// Recognition from file handles and memory, and the picture information entry.
#include <cstring>

#include "standin/standin.h"
#include "encode/encode.h"
#include "unit/helpers.h"

namespace {

class Recognition : public PluginTest {
 protected:
  // Answers for the same bytes given as memory and through a file handle.
  int FromMemory(std::vector<uint8_t> bytes) {
    bytes.resize(bytes.size() < 64 ? 64 : bytes.size(), 0xFF);  // caller supplies the header room
    return IsSupported(nullptr, reinterpret_cast<ULONG_PTR>(bytes.data()));
  }
  int FromHandle(const std::vector<uint8_t>& bytes) {
    std::string path = TempFile("r.qvx", bytes);
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_ARCHIVE, nullptr);
    EXPECT_NE(file, INVALID_HANDLE_VALUE);
    int answer = IsSupported(nullptr, reinterpret_cast<ULONG_PTR>(file));
    EXPECT_EQ(CloseHandle(file), TRUE) << "the caller's handle stays open";
    return answer;
  }
};

struct RecognitionCase {
  const char* name;
  PictureShape shape;
  int expected;
};

PictureShape Shape(uint32_t headerSize, uint16_t bits, uint32_t compression = 0) {
  PictureShape s = ShapeOf(bits, 4, 4, bits <= 8 ? (1u << bits) : 0, headerSize);
  s.compression = compression;
  return s;
}

class RecognitionTable : public Recognition,
                         public ::testing::WithParamInterface<RecognitionCase> {};

TEST_P(RecognitionTable, SameAnswerFromMemoryAndHandle) {
  std::vector<uint8_t> bytes = MakeQvx(GetParam().shape);
  EXPECT_EQ(FromMemory(bytes), GetParam().expected);
  EXPECT_EQ(FromHandle(bytes), GetParam().expected);
}

std::vector<RecognitionCase> RecognitionCases() {
  std::vector<RecognitionCase> cases;
  for (uint32_t header : {12u, 40u}) {
    for (uint16_t bits : {1, 2, 4, 8, 16, 24, 32})
      cases.push_back({"supported depth", Shape(header, bits), 1});
    for (uint16_t bits : {0, 3, 15, 48}) cases.push_back({"unsupported depth", Shape(header, bits), 0});
  }
  for (uint32_t header : {52u, 56u, 64u}) cases.push_back({"header size", Shape(header, 8), 1});
  for (uint32_t header : {0u, 16u}) {
    // Shorter than the 40 bytes that are read: the pixels start after them.
    PictureShape shape = Shape(header, 24);
    shape.offBits = 54;
    cases.push_back({"small header size", shape, 1});
  }
  for (uint32_t header : {65u, 108u, 124u}) cases.push_back({"header too big", Shape(header, 8), 0});
  for (uint32_t compression : {1u, 2u, 3u, 4u}) cases.push_back({"compressed", Shape(40, 8, compression), 0});
  PictureShape atHeader = Shape(40, 24);
  atHeader.offBits = 54;
  cases.push_back({"pixels right after header", atHeader, 1});
  atHeader.offBits = 53;
  cases.push_back({"pixels inside header", atHeader, 0});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Table, RecognitionTable, ::testing::ValuesIn(RecognitionCases()));

TEST_F(Recognition, RecognitionDoesNotDependOnTheOptions) {
  for (int keep : {0, 1}) {
    SetOptions(keep, keep, keep);
    EXPECT_EQ(FromMemory(MakeQvx(Shape(40, 16))), 1);
    EXPECT_EQ(FromMemory(MakeQvx(Shape(40, 32))), 1);
  }
}

TEST_F(Recognition, PlainBitmapsAndShortFilesAreRefused) {
  EXPECT_EQ(FromMemory(MakeBmp(Shape(40, 8))), 0);
  EXPECT_EQ(FromHandle(MakeBmp(Shape(40, 8))), 0);
  std::vector<uint8_t> bytes = MakeQvx(Shape(40, 8));
  EXPECT_EQ(FromHandle(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 17)), 0);
  EXPECT_EQ(FromHandle(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 40)), 0)
      << "missing header bytes read as zero and fail the tests";
}

TEST_F(Recognition, DeclaredFileSizeIsCheckedOnlyForHandles) {
  std::vector<uint8_t> bytes = MakeBmp(Shape(40, 8));
  uint32_t size = static_cast<uint32_t>(bytes.size() + 1);
  std::memcpy(&bytes[2], &size, 4);
  ComplementQvxRegions(&bytes);
  EXPECT_EQ(FromHandle(bytes), 0);
  EXPECT_EQ(FromMemory(bytes), 1);
}

TEST_F(Recognition, HandlePositionAdvancesByWhatWasRead) {
  std::vector<uint8_t> picture = MakeQvx(Shape(40, 8));  // 1078 + 16 bytes
  std::vector<uint8_t> file = AfterFill(100, 0x11, picture);
  std::string path = TempFile("at.qvx", file);
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_ARCHIVE, nullptr);
  ASSERT_EQ(SetFilePointer(handle, 100, nullptr, FILE_BEGIN), 100u);
  EXPECT_EQ(IsSupported(nullptr, reinterpret_cast<ULONG_PTR>(handle)), 1);
  EXPECT_EQ(standin::Calls(standin::kSetFilePointer), 1) << "recognition does not seek";
  uint8_t next;
  DWORD read = 0;
  ASSERT_TRUE(ReadFile(handle, &next, 1, &read, nullptr));
  EXPECT_EQ(read, 1u);
  EXPECT_EQ(next, file[100 + 1024]) << "the handle moved on by 1024 bytes";
  CloseHandle(handle);
}

TEST_F(Recognition, EveryFailedStepAnswersNoAndReleases) {
  std::vector<uint8_t> bytes = MakeQvx(Shape(40, 8));
  for (standin::Op op : {standin::kGetFileSize, standin::kLocalAlloc, standin::kLocalLock,
                         standin::kReadFile}) {
    std::string path = TempFile("f.qvx", bytes);
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_ARCHIVE, nullptr);
    standin::FailNth(op, 1);
    EXPECT_EQ(IsSupported(nullptr, reinterpret_cast<ULONG_PTR>(file)), 0) << op;
    EXPECT_EQ(standin::LiveBlocks(), 0) << op;
    EXPECT_EQ(standin::OpenFiles(), 1) << "the caller's handle stays open";
    CloseHandle(file);
    standin::Reset();
  }
}

class PictureInformation : public PluginTest {};

TEST_F(PictureInformation, ReportsSizeAndDeliveredDepth) {
  struct Case {
    uint32_t header;
    uint16_t bits;
    int32_t width, height;
    int keep;
    int16_t depth;
  } cases[] = {
      {40, 1, 7, 3, 0, 1},    {40, 2, 5, 4, 0, 4},     {40, 4, 9, -2, 0, 4},
      {40, 8, 3, 3, 0, 8},    {40, 16, 2, 2, 0, 24},   {40, 16, 2, 2, 1, 16},
      {40, 24, 2, 2, 0, 24},  {40, 32, 2, 2, 0, 24},   {40, 32, 2, 2, 1, 32},
      {40, 3, 2, 2, 0, 0},    {12, 8, 300, -16, 0, 8}, {12, 24, 5, 6, 0, 24},
      {108, 8, 4, 5, 0, 8},   {64, 4, 4, 5, 0, 4},
  };
  for (const Case& c : cases) {
    SetOptions(c.keep, c.keep, 0);
    PictureShape shape = Shape(c.header, c.bits);
    shape.width = c.width;
    shape.height = c.height;
    std::vector<uint8_t> bytes = MakeQvx(shape);
    std::vector<uint8_t> before = bytes;
    PictureInfo info;
    std::memset(&info, 0x5A, sizeof info);
    ASSERT_EQ(GetPictureInfo(reinterpret_cast<char*>(bytes.data()), static_cast<int32_t>(bytes.size()),
                             1, &info),
              kResultSuccess);
    EXPECT_EQ(+info.left, 0);
    EXPECT_EQ(+info.top, 0);
    EXPECT_EQ(+info.width, c.width);
    EXPECT_EQ(+info.height, c.height);
    EXPECT_EQ(+info.horizontalDensity, 1);
    EXPECT_EQ(+info.verticalDensity, 1);
    EXPECT_EQ(+info.bitDepth, c.depth) << c.bits << " bits, header " << c.header;
    EXPECT_EQ(+info.textInfoHandle, 0u);
    EXPECT_EQ(bytes, before) << "the memory image is not changed";
  }
}

TEST_F(PictureInformation, RefusalsLeaveTheRecordAlone) {
  std::vector<uint8_t> qvx = MakeQvx(Shape(40, 8));
  std::vector<uint8_t> core = MakeQvx(Shape(12, 8));
  std::vector<std::vector<uint8_t>> refused = {
      std::vector<uint8_t>(qvx.begin(), qvx.begin() + 17),
      std::vector<uint8_t>(qvx.begin(), qvx.begin() + 53),  // ends inside its header
      std::vector<uint8_t>(core.begin(), core.begin() + 25),
      MakeBmp(Shape(40, 8)),
      {},
  };
  for (auto& bytes : refused) {
    PictureInfo info;
    std::memset(&info, 0x5A, sizeof info);
    EXPECT_EQ(GetPictureInfo(reinterpret_cast<char*>(bytes.data()), static_cast<int32_t>(bytes.size()),
                             1, &info),
              kResultNotQvx)
        << bytes.size() << " bytes";
    for (size_t i = 0; i < sizeof info; ++i) EXPECT_EQ(reinterpret_cast<uint8_t*>(&info)[i], 0x5A);
    std::string path = TempFile("short", bytes);
    EXPECT_EQ(GetPictureInfo(const_cast<char*>(path.c_str()), 0, 0, &info), kResultNotQvx);
  }
  EXPECT_EQ(GetPictureInfo(nullptr, 100, 1, nullptr), kResultNotQvx) << "no image at all";
  std::vector<uint8_t> enough(qvx.begin(), qvx.begin() + 54);
  PictureInfo info;
  EXPECT_EQ(GetPictureInfo(reinterpret_cast<char*>(enough.data()), 54, 1, &info), kResultSuccess);
}

TEST_F(PictureInformation, FromAFileAtAnOffset) {
  PictureShape shape = Shape(40, 24);
  shape.width = 33;
  shape.height = 17;
  std::vector<uint8_t> picture = MakeQvx(shape);
  std::vector<uint8_t> file = AfterFill(1000, 0x42, picture);
  std::string path = TempFile("inside.bin", file);
  PictureInfo info{};
  ASSERT_EQ(GetPictureInfo(const_cast<char*>(path.c_str()), 1000, 0x10 /* high bits ignored */, &info),
            kResultSuccess);
  EXPECT_EQ(+info.width, 33);
  EXPECT_EQ(+info.height, 17);
  EXPECT_EQ(GetPictureInfo(const_cast<char*>(path.c_str()), 0, 0, &info), kResultNotQvx);
  EXPECT_EQ(GetPictureInfo(const_cast<char*>((dir_ + "/none").c_str()), 0, 0, &info), kResultFileError);
  for (standin::Op op : {standin::kCreateFile, standin::kGetFileSize, standin::kSetFilePointer, standin::kReadFile,
                         standin::kReadFileShort}) {
    standin::FailNth(op, 1);
    EXPECT_NE(GetPictureInfo(const_cast<char*>(path.c_str()), 1000, 0, &info), kResultSuccess);
    standin::Reset();
    EXPECT_EQ(standin::LiveBlocks(), 0);
    EXPECT_EQ(standin::OpenFiles(), 0);
  }
}

}  // namespace
