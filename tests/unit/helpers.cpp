#include "unit/helpers.h"

#include <sys/stat.h>

#include <cstdlib>
#include <cstring>

#include "platform/standin.h"

namespace {

struct ProgressLog {
  std::vector<int>* rows;
  std::vector<int>* heights;
  int stopAtRow;
};

int WINAPI RecordProgress(int row, int height, LONG_PTR userData) {
  ProgressLog* log = reinterpret_cast<ProgressLog*>(userData);
  log->rows->push_back(row);
  log->heights->push_back(height);
  return row == log->stopAtRow ? 1 : 0;
}

void Collect(Decoded* out) {
  if (out->result != kResultSuccess) return;
  EXPECT_EQ(standin::LockCount(out->infoHandle), 0) << "information block handed out locked";
  EXPECT_EQ(standin::LockCount(out->bitsHandle), 0) << "pixel block handed out locked";
  const uint8_t* info = static_cast<const uint8_t*>(LocalLock(out->infoHandle));
  out->info.assign(info, info + LocalSize(out->infoHandle));
  LocalUnlock(out->infoHandle);
  const uint8_t* pixels = static_cast<const uint8_t*>(LocalLock(out->bitsHandle));
  out->pixels.assign(pixels, pixels + LocalSize(out->bitsHandle));
  LocalUnlock(out->bitsHandle);
  LocalFree(out->infoHandle);
  LocalFree(out->bitsHandle);
}

}  // namespace

void PluginTest::SetUp() {
  standin::Reset();
  SetOptions(0, 0, 0);
  char pattern[] = "/tmp/tavko-test-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  dir_ = pattern;
}

void PluginTest::TearDown() {
  standin::Reset();
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
  PluginSettings.cpuHasMmx = DetectMmx();
  UpdateOutputDepths();
}

std::string PluginTest::TempFile(const std::string& name, const std::vector<uint8_t>& bytes) {
  std::string path = dir_ + "/" + name;
  EXPECT_TRUE(WriteFileBytes(path, bytes));
  return path;
}

Decoded DecodeMemory(std::vector<uint8_t>* image, int stopAtRow) {
  Decoded out;
  ProgressLog log{&out.progressRows, &out.progressHeights, stopAtRow};
  out.result = GetPicture(reinterpret_cast<char*>(image->data()), static_cast<int32_t>(image->size()),
                          1, &out.infoHandle, &out.bitsHandle, RecordProgress,
                          reinterpret_cast<LONG_PTR>(&log));
  Collect(&out);
  return out;
}

Decoded DecodeFile(const std::string& path, int32_t offset, int stopAtRow) {
  Decoded out;
  ProgressLog log{&out.progressRows, &out.progressHeights, stopAtRow};
  out.result = GetPicture(const_cast<char*>(path.c_str()), offset, 0, &out.infoHandle,
                          &out.bitsHandle, RecordProgress, reinterpret_cast<LONG_PTR>(&log));
  Collect(&out);
  return out;
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
