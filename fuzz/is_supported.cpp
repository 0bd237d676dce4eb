// IsSupported on a memory image: never reads past the header room, never
// changes the bytes.
#include <vector>

#include "fuzz/check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A caller hands over at least the first bytes of a whole header.
  std::vector<uint8_t> bytes(data, data + size);
  if (bytes.size() < 54) bytes.resize(54, 0);
  std::vector<uint8_t> before = bytes;
  int answer = IsSupported(nullptr, reinterpret_cast<ULONG_PTR>(bytes.data()));
  Require(answer == 0 || answer == 1, "IsSupported answered other than 0 or 1");
  Require(bytes == before, "memory image changed");
  return 0;
}
