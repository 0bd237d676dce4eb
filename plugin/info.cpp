// Information strings and the preview entry, which this plug-in declines.
#include "plugin/info_strings.h"
#include "plugin/spi.h"

extern "C" int WINAPI GetPluginInfo(int index, char* buffer, int bufferSize) {
  // The host promises at least one byte; with none there is nowhere even for
  // the terminator, and writing before the buffer would corrupt the host.
  if (buffer == nullptr || bufferSize <= 0) return 0;
  if (index < 0 || index > 3) {
    buffer[0] = '\0';
    return 0;
  }
  // Fill exactly bufferSize - 1 bytes: the string, then zeros, then the
  // terminator, so a string that does not fit comes back cut short.
  const char* text = kInfoStrings[index];
  int at = 0;
  for (; at < bufferSize - 1 && text[at] != '\0'; ++at) buffer[at] = text[at];
  for (; at < bufferSize - 1; ++at) buffer[at] = '\0';
  buffer[bufferSize - 1] = '\0';
  return lstrlenA(buffer);
}

extern "C" ResultCode WINAPI GetPreview(char*, LONG_PTR, uint32_t, HLOCAL*, HLOCAL*,
                                        ProgressCallback, LONG_PTR) {
  return kResultNotProvided;
}
