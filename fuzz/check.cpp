#include "fuzz/check.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "settings/options.h"
#include "standin/standin.h"

namespace {

struct ProgressLog {
  int calls;
  int height;
  bool inOrder;
};

int WINAPI Progress(int row, int height, LONG_PTR userData) {
  ProgressLog* log = reinterpret_cast<ProgressLog*>(userData);
  if (row != log->calls || (log->calls > 0 && height != log->height) || height <= 0) log->inOrder = false;
  log->height = height;
  ++log->calls;
  return 0;
}

uint32_t Get32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24); }

void CheckBlocks(HLOCAL infoHandle, HLOCAL bitsHandle, const ProgressLog& log) {
  Require(standin::LockCount(infoHandle) == 0 && standin::LockCount(bitsHandle) == 0, "blocks handed out locked");
  size_t infoBytes = LocalSize(infoHandle), pixelBytes = LocalSize(bitsHandle);
  Require(infoBytes >= 44, "information block too small for its header");
  const uint8_t* info = static_cast<const uint8_t*>(LocalLock(infoHandle));
  int32_t width = static_cast<int32_t>(Get32(info + 4));
  int32_t height = static_cast<int32_t>(Get32(info + 8));
  uint32_t bits = info[14] | (info[15] << 8);
  uint32_t compression = Get32(info + 16);
  uint32_t sizeImage = Get32(info + 20);
  Require(Get32(info) == 40, "delivered biSize is not 40");
  Require(width > 0 && height != 0, "a picture without pixels was delivered");
  Require(bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32, "delivered depth");
  uint64_t rows = height < 0 ? -static_cast<int64_t>(height) : height;
  uint64_t stride = (static_cast<uint64_t>(width) * bits + 31) / 32 * 4;
  Require(pixelBytes == stride * rows && sizeImage == (pixelBytes >> 32 == 0 ? pixelBytes : 0), "pixel block size");
  uint64_t slots = (infoBytes - 44) / 4;
  Require((infoBytes - 44) % 4 == 0, "information block size");
  Require(Get32(info + 12) == (1u | (bits << 16)), "planes other than 1");
  if (compression == 3)
    Require(slots == 4 && (bits == 16 || bits == 32), "bit-field block");
  else if (bits <= 8)
    Require(slots == (1ull << bits), "a paletted bitmap without its whole table");
  else
    Require(compression == 0 && (slots == 0 || slots == (1ull << 24)), "colour slots");
  // The colour count names only slots that are there.
  Require(Get32(info + 32) <= (bits <= 8 ? slots : 0), "colour count beyond the slots");
  Require(log.inOrder && (log.calls == 0 || static_cast<uint64_t>(log.calls) == rows),
          "progress rows out of order");
  Require(log.calls == 0 || static_cast<uint64_t>(log.height) == rows, "progress height");
  LocalUnlock(infoHandle);
}

}  // namespace

void Require(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "broken rule: %s\n", what);
  std::abort();
}

void SetFuzzOptions(int keep16, int keep32, int useMmx) {
  PluginSettings.keep16 = keep16;
  PluginSettings.keep32 = keep32;
  PluginSettings.useMmx = useMmx;
  DetectProcessor();
  UpdateOutputDepths();
}

void CheckedDecode(std::vector<uint8_t>* image, const char* path, int32_t offset) {
  std::vector<uint8_t> before = *image;
  int blocks = standin::LiveBlocks(), locked = standin::LockedBlocks(), files = standin::OpenFiles();
  ProgressLog log{0, 0, true};
  HLOCAL infoHandle = nullptr, bitsHandle = nullptr;
  ResultCode result =
      path ? GetPicture(const_cast<char*>(path), offset, 0, &infoHandle, &bitsHandle, Progress,
                        reinterpret_cast<LONG_PTR>(&log))
           : GetPicture(reinterpret_cast<char*>(image->data()), static_cast<int32_t>(image->size()), 1,
                        &infoHandle, &bitsHandle, Progress, reinterpret_cast<LONG_PTR>(&log));
  Require(result >= 0 && result <= 6 && result != kResultAborted, "unknown result code");
  Require(*image == before, "memory image changed");
  Require(standin::OpenFiles() == files, "file left open");
  if (result == kResultSuccess) {
    Require(standin::LiveBlocks() == blocks + 2, "blocks other than the two handed out are held");
    CheckBlocks(infoHandle, bitsHandle, log);
    LocalFree(infoHandle);
    LocalFree(bitsHandle);
  } else {
    Require(log.calls == 0, "progress called for a refused picture");
  }
  Require(standin::LiveBlocks() == blocks, "a block leaked");
  Require(standin::LockedBlocks() == locked, "a block left locked");
}
