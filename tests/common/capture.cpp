#include "common/capture.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include "standin/standin.h"
#endif

namespace {

struct ProgressLog {
  Decoded* out;
  int stopAtRow;
};

int WINAPI RecordProgress(int row, int height, LONG_PTR userData) {
  ProgressLog* log = reinterpret_cast<ProgressLog*>(userData);
  log->out->progressRows.push_back(row);
  log->out->progressHeights.push_back(height);
  return row == log->stopAtRow ? 1 : 0;
}

int LockCount(HLOCAL block) {
#ifdef _WIN32
  return static_cast<int>(LocalFlags(block) & LMEM_LOCKCOUNT);
#else
  return standin::LockCount(block);
#endif
}

std::vector<uint8_t> CopyOut(HLOCAL block) {
  const uint8_t* bytes = static_cast<const uint8_t*>(LocalLock(block));
  std::vector<uint8_t> copy(bytes, bytes + LocalSize(block));
  LocalUnlock(block);
  return copy;
}

}  // namespace

Decoded CaptureDecode(GetPictureFunction getPicture, char* source, LONG_PTR offsetOrLength, uint32_t sourceFlags,
                      int stopAtRow) {
  Decoded out;
  ProgressLog log{&out, stopAtRow};
  out.result = getPicture(source, offsetOrLength, sourceFlags, &out.infoHandle, &out.bitsHandle, RecordProgress,
                          reinterpret_cast<LONG_PTR>(&log));
  if (out.result != kResultSuccess) return out;
  EXPECT_EQ(LockCount(out.infoHandle), 0) << "information block handed out locked";
  EXPECT_EQ(LockCount(out.bitsHandle), 0) << "pixel block handed out locked";
  out.info = CopyOut(out.infoHandle);
  out.pixels = CopyOut(out.bitsHandle);
  EXPECT_EQ(LocalFree(out.infoHandle), nullptr);
  EXPECT_EQ(LocalFree(out.bitsHandle), nullptr);
  return out;
}
