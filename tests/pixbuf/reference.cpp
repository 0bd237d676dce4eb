#include "tests/pixbuf/reference.h"

#include <cstring>
#include <string>

#include "plugin/spi.h"

bool ReferenceDecode(const std::vector<uint8_t>& bytes, RgbImage* image) {
  // IsSupported reads up to 54 header bytes; GetPicture works on a copy it may change.
  std::vector<uint8_t> copy(bytes);
  std::vector<uint8_t> head(64, 0);
  std::memcpy(head.data(), copy.data(), copy.size() < head.size() ? copy.size() : head.size());
  if (copy.size() < 2 || IsSupported(nullptr, reinterpret_cast<ULONG_PTR>(head.data())) == 0) return false;
  HLOCAL info = nullptr, bits = nullptr;
  if (GetPicture(reinterpret_cast<char*>(copy.data()), static_cast<int32_t>(copy.size()), 1, &info, &bits,
                 nullptr, 0) != kResultSuccess)
    return false;
  std::string why;
  bool ok = RenderDib(static_cast<const uint8_t*>(LocalLock(info)), LocalSize(info),
                      static_cast<const uint8_t*>(LocalLock(bits)), LocalSize(bits), image, &why);
  LocalUnlock(info);
  LocalUnlock(bits);
  LocalFree(info);
  LocalFree(bits);
  return ok;
}
