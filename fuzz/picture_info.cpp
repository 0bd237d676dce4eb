// GetPictureInfo on a memory image.
#include <cstring>
#include <vector>

#include "fuzz/check.h"
#include "standin/standin.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> bytes(data, data + size);
  std::vector<uint8_t> before = bytes;
  PictureInfo info;
  std::memset(&info, 0xA5, sizeof info);
  ResultCode result = GetPictureInfo(reinterpret_cast<char*>(bytes.data()), static_cast<int32_t>(bytes.size()), 1, &info);
  Require(result == kResultSuccess || result == kResultNotQvx, "GetPictureInfo result");
  Require(bytes == before, "memory image changed");
  if (result != kResultSuccess) {
    for (size_t i = 0; i < sizeof info; ++i)
      Require(reinterpret_cast<uint8_t*>(&info)[i] == 0xA5, "record written on failure");
  } else {
    Require(info.left == 0 && info.top == 0 && info.horizontalDensity == 1 && info.verticalDensity == 1 &&
                info.textInfoHandle == 0,
            "fixed record fields");
  }
  Require(standin::LiveBlocks() == 0, "a block leaked");
  return 0;
}
