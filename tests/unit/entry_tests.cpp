// Information strings, the preview entry and loading the input from files.
#include <cstring>

#include "standin/standin.h"
#include "plugin/source.h"
#include "unit/helpers.h"

namespace {

struct InfoCase {
  int index;
  int bufferSize;
  const char* stored;
  int length;
};

class InfoStrings : public ::testing::TestWithParam<InfoCase> {};

TEST_P(InfoStrings, StoresTheStringCutToTheBuffer) {
  const InfoCase& c = GetParam();
  char buffer[128];
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(GetPluginInfo(c.index, buffer, c.bufferSize), c.length);
  EXPECT_STREQ(buffer, c.stored);
  // A known index writes exactly bufferSize bytes, zeros after the string;
  // an unknown one writes only the terminator.
  int written = c.index >= 0 && c.index <= 3 ? c.bufferSize : 1;
  for (int i = static_cast<int>(std::strlen(c.stored)); i < written; ++i)
    EXPECT_EQ(buffer[i], '\0') << "at " << i;
  for (int i = written; i < static_cast<int>(sizeof buffer); ++i)
    EXPECT_EQ(buffer[i], 'x') << "written past the buffer at " << i;
}

INSTANTIATE_TEST_SUITE_P(
    Table, InfoStrings,
    ::testing::Values(InfoCase{0, 5, "00IN", 4}, InfoCase{0, 3, "00", 2}, InfoCase{0, 1, "", 0},
                      InfoCase{1, 100, "QVX(PELKO) to DIB filter version.0.04", 37},
                      InfoCase{2, 100, "*.QVX", 5},
                      InfoCase{3, 64, "QVX(PELKO)(1,2,4,8,16(15),24,32bit)", 35},
                      InfoCase{3, 11, "QVX(PELKO)", 10}, InfoCase{4, 16, "", 0},
                      InfoCase{-1, 16, "", 0}, InfoCase{1000, 2, "", 0}));

TEST(InfoStringsEdge, NoRoomWritesNothing) {
  char buffer[4] = {'a', 'b', 'c', 'd'};
  EXPECT_EQ(GetPluginInfo(0, buffer + 1, 0), 0);
  EXPECT_EQ(GetPluginInfo(0, buffer + 1, -5), 0);
  EXPECT_EQ(std::memcmp(buffer, "abcd", 4), 0);
}

TEST(Preview, IsNotProvided) {
  HLOCAL info = reinterpret_cast<HLOCAL>(0x1234), bits = reinterpret_cast<HLOCAL>(0x5678);
  EXPECT_EQ(GetPreview(nullptr, 0, 0, &info, &bits, nullptr, 0), -1);
  EXPECT_EQ(GetPreview(const_cast<char*>("x"), 5, 1, nullptr, nullptr, nullptr, 7), -1);
  EXPECT_EQ(info, reinterpret_cast<HLOCAL>(0x1234));
  EXPECT_EQ(bits, reinterpret_cast<HLOCAL>(0x5678));
}

class SourceLoading : public PluginTest {};

TEST_F(SourceLoading, ReadsRangesFromTheOffsetToTheEnd) {
  std::vector<uint8_t> bytes = {1, 2, 3, 4, 5, 6, 7};
  std::string path = TempFile("seven", bytes);
  HostSource input;
  ASSERT_EQ(OpenHostSource(const_cast<char*>(path.c_str()), 2, 0, &input), kResultSuccess);
  EXPECT_EQ(input.source.length, 5u);
  uint8_t range[3] = {0};
  ASSERT_TRUE(input.source.read(input.source.context, 1, range, 3));
  EXPECT_EQ(std::memcmp(range, bytes.data() + 3, 3), 0);
  EXPECT_FALSE(input.source.read(input.source.context, 4, range, 2)) << "past the end is a failed read";
  EXPECT_EQ(standin::LiveBlocks(), 0) << "a file is read in ranges, not into a block";
  CloseHostSource(&input);
}

struct LoadFailure {
  standin::Op op;
  ResultCode result;
};

class SourceLoadingFailures : public PluginTest,
                              public ::testing::WithParamInterface<LoadFailure> {};

TEST_P(SourceLoadingFailures, ReleaseEverythingAndReport) {
  std::string path = TempFile("p.qvx", MakeQvx(ShapeOf(8, 4, 4, 256)));
  standin::FailNth(GetParam().op, 1);
  PictureInfo info;
  EXPECT_EQ(GetPictureInfo(const_cast<char*>(path.c_str()), 0, 0, &info), GetParam().result);
  EXPECT_EQ(standin::LiveBlocks(), 0);
  EXPECT_EQ(standin::OpenFiles(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    EveryAcquireStep, SourceLoadingFailures,
    ::testing::Values(LoadFailure{standin::kCreateFile, kResultFileError},
                      LoadFailure{standin::kGetFileSize, kResultFileError},
                      LoadFailure{standin::kSetFilePointer, kResultFileError},
                      LoadFailure{standin::kReadFile, kResultFileError},
                      LoadFailure{standin::kReadFileShort, kResultFileError}));

TEST_F(SourceLoading, BadFilesAndOffsets) {
  std::string path = TempFile("ten", std::vector<uint8_t>(10, 1));
  struct Case {
    std::string name;
    int32_t offset;
    ResultCode result;
  } cases[] = {
      {dir_ + "/missing", 0, kResultFileError},
      {dir_, 0, kResultFileError},  // a folder is no file
      {path, -1, kResultFileError},
      {path, INT32_MIN, kResultFileError},
      {path, 11, kResultNoMemory},  // past the end
  };
  for (const Case& c : cases) {
    HostSource input;
    EXPECT_EQ(OpenHostSource(const_cast<char*>(c.name.c_str()), c.offset, 0, &input), c.result)
        << c.name << " at " << c.offset;
  }
  HostSource input;
  ASSERT_EQ(OpenHostSource(const_cast<char*>(path.c_str()), 10, 0, &input), kResultSuccess) << "offset at the end";
  EXPECT_EQ(input.source.length, 0u);
  CloseHostSource(&input);
}

}  // namespace
