#include "unit/helpers.h"

#include <sys/stat.h>

#include <cstdlib>
#include <cstring>

#include "standin/standin.h"

void PluginTest::SetUp() {
  standin::Reset();
  SetOptions(0, 0, 0);
  char pattern[] = "/tmp/tavko-test-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  dir_ = pattern;
}

void PluginTest::TearDown() {
  standin::Reset();
  SetWideRows(true);
  EXPECT_EQ(standin::LiveBlocks(), 0) << "a local block was not freed";
  EXPECT_EQ(standin::OpenFiles(), 0) << "a file was left open";
  SetOptions(0, 0, 0);
  std::string command = "rm -rf '" + dir_ + "'";
  if (std::system(command.c_str()) != 0) ADD_FAILURE() << "could not remove " << dir_;
}

void PluginTest::SetOptions(int keep16, int keep32, int useMmx) {
  PluginSettings.keep16 = keep16;
  PluginSettings.keep32 = keep32;
  PluginSettings.useMmx = useMmx;
  DetectProcessor();
  UpdateOutputDepths();
}

void PluginTest::SetWideRows(bool wide) {
  DetectProcessor();
  if (!wide) PluginCpu.sse2 = PluginCpu.ssse3 = false;
}

std::string PluginTest::TempFile(const std::string& name, const std::vector<uint8_t>& bytes) {
  std::string path = dir_ + "/" + name;
  EXPECT_TRUE(WriteFileBytes(path, bytes));
  return path;
}

Decoded DecodeMemory(std::vector<uint8_t>* image, int stopAtRow) {
  return CaptureDecode(GetPicture, reinterpret_cast<char*>(image->data()), static_cast<int32_t>(image->size()), 1,
                       stopAtRow);
}

Decoded DecodeFile(const std::string& path, int32_t offset, int stopAtRow) {
  return CaptureDecode(GetPicture, const_cast<char*>(path.c_str()), offset, 0, stopAtRow);
}

uint32_t U32At(const std::vector<uint8_t>& bytes, size_t at) {
  uint32_t v = 0;
  std::memcpy(&v, &bytes.at(at + 3) - 3, 4);
  return v;
}

uint16_t U16At(const std::vector<uint8_t>& bytes, size_t at) {
  uint16_t v = 0;
  std::memcpy(&v, &bytes.at(at + 1) - 1, 2);
  return v;
}
