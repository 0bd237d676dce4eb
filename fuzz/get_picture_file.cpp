// GetPicture from a file, the picture starting at an offset taken from the
// first two bytes.
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "fuzz/check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  static const std::string path = "/tmp/tavko-fuzz-" + std::to_string(getpid()) + ".bin";
  int32_t offset = (data[0] | (data[1] << 8)) % 1024;
  std::vector<uint8_t> file(static_cast<size_t>(offset), 0x5A);
  file.insert(file.end(), data + 2, data + size);
  FILE* out = std::fopen(path.c_str(), "wb");
  Require(out != nullptr, "cannot write the fuzz file");
  std::fwrite(file.data(), 1, file.size(), out);
  std::fclose(out);
  SetFuzzOptions(0, 0, 0);
  std::vector<uint8_t> none;
  CheckedDecode(&none, path.c_str(), offset);
  // An offset past the end of the file must fail cleanly too.
  CheckedDecode(&none, path.c_str(), static_cast<int32_t>(file.size()) + 1 + offset);
  return 0;
}
