// The wide-character entries of the 64-bit module: the same answers as the
// ANSI entries, with file names in UTF-16 so that any name can be opened.
#include "plugin/entries.h"

extern "C" int WINAPI GetPluginInfoW(int index, wchar_t* buffer, int bufferSize) {
  if (buffer == nullptr || bufferSize <= 0) return 0;
  // The strings are ASCII and shorter than 64: each character widens to one
  // UTF-16 unit, cut and zero-filled as the ANSI entry does.
  char narrow[64];
  int length = GetPluginInfo(index, narrow, bufferSize < 64 ? bufferSize : 64);
  if (index < 0 || index > 3) {
    buffer[0] = L'\0';
    return 0;
  }
  for (int at = 0; at < bufferSize; ++at) buffer[at] = at < length ? static_cast<unsigned char>(narrow[at]) : L'\0';
  return length;
}

extern "C" int WINAPI IsSupportedW(const wchar_t*, ULONG_PTR handleOrBytes) {
  return IsSupported(nullptr, handleOrBytes);
}

extern "C" ResultCode WINAPI GetPictureInfoW(const wchar_t* source, LONG_PTR offsetOrLength, uint32_t sourceFlags,
                                             PictureInfo* pictureInfo) {
  HostSource input;
  ResultCode result = OpenHostSourceW(source, offsetOrLength, sourceFlags, &input);
  return result == kResultSuccess ? PictureInfoOf(&input, pictureInfo) : result;
}

extern "C" ResultCode WINAPI GetPictureW(const wchar_t* source, LONG_PTR offsetOrLength, uint32_t sourceFlags,
                                         HLOCAL* infoHandleOut, HLOCAL* bitsHandleOut, ProgressCallback progress,
                                         LONG_PTR userData) {
  HostSource input;
  ResultCode result = OpenHostSourceW(source, offsetOrLength, sourceFlags, &input);
  return result == kResultSuccess ? PictureOf(&input, infoHandleOut, bitsHandleOut, progress, userData) : result;
}

extern "C" ResultCode WINAPI GetPreviewW(const wchar_t*, LONG_PTR, uint32_t, HLOCAL*, HLOCAL*, ProgressCallback,
                                         LONG_PTR) {
  return kResultNotProvided;
}
