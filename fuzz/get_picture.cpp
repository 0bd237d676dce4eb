// GetPicture on a memory image, with the options taken from the first byte.
#include <vector>

#include "fuzz/check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  SetFuzzOptions(data[0] & 1, (data[0] >> 1) & 1, (data[0] >> 2) & 1);
  std::vector<uint8_t> image(data + 1, data + size);
  CheckedDecode(&image, nullptr, 0);
  return 0;
}
