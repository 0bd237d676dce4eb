// The plug-in's boundary towards the host: the six exports, their result
// codes and the records they exchange with the host.
#pragma once

#include <cstdint>

#include "plugin/win.h"

// Result of GetPictureInfo, GetPicture, GetPreview and ConfigurationDlg.
typedef int32_t ResultCode;
enum : int32_t {
  kResultNotProvided = -1,  // function not provided
  kResultSuccess = 0,
  kResultAborted = 1,       // the progress callback asked to stop
  kResultNotQvx = 2,        // not a picture of this format
  kResultTruncated = 3,     // data shorter than its header promises
  kResultNoMemory = 4,      // LocalAlloc failed
  kResultLockFailed = 5,    // LocalLock failed
  kResultFileError = 6,     // the file failed to open or to read in full
};

// The host's picture record: 26 bytes, packed, little-endian.
#pragma pack(push, 1)
struct PictureInfo {
  int32_t left;
  int32_t top;
  int32_t width;
  int32_t height;
  uint16_t horizontalDensity;
  uint16_t verticalDensity;
  int16_t bitDepth;
  uint32_t textInfoHandle;
};
#pragma pack(pop)
static_assert(sizeof(PictureInfo) == 26, "PictureInfo must be the host's 26-byte record");

// Called before each row with the row index, the height and the host's value;
// a nonzero answer stops the decode.
typedef int(WINAPI* ProgressCallback)(int rowIndex, int height, LONG_PTR userData);

// Only the low three bits of sourceFlags choose the input: all clear means a
// file name with an offset, any set means a memory image with its length.
const uint32_t kSourceMemoryMask = 7;

extern "C" {
int WINAPI GetPluginInfo(int index, char* buffer, int bufferSize);
int WINAPI IsSupported(char* fileName, ULONG_PTR handleOrBytes);
ResultCode WINAPI GetPictureInfo(char* source, int32_t offsetOrLength, uint32_t sourceFlags,
                                 PictureInfo* pictureInfo);
ResultCode WINAPI GetPicture(char* source, int32_t offsetOrLength, uint32_t sourceFlags,
                             HLOCAL* infoHandleOut, HLOCAL* bitsHandleOut,
                             ProgressCallback progress, LONG_PTR userData);
ResultCode WINAPI GetPreview(char* source, int32_t offsetOrLength, uint32_t sourceFlags,
                             HLOCAL* infoHandleOut, HLOCAL* bitsHandleOut,
                             ProgressCallback progress, LONG_PTR userData);
ResultCode WINAPI ConfigurationDlg(HWND parentWindow, int32_t functionCode);
}
