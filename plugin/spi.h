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

// The host's picture record, packed, little-endian: 26 bytes for 32-bit
// hosts; for 64-bit hosts two padding bytes follow bitDepth, so the
// text-information handle lies at offset 24 and the record is 32 bytes.
#pragma pack(push, 1)
struct PictureInfo {
  int32_t left;
  int32_t top;
  int32_t width;
  int32_t height;
  uint16_t horizontalDensity;
  uint16_t verticalDensity;
  int16_t bitDepth;
#if defined(_WIN64)
  uint16_t padding;
  HLOCAL textInfoHandle;
#else
  uint32_t textInfoHandle;
#endif
};
#pragma pack(pop)
#if defined(_WIN64)
static_assert(sizeof(PictureInfo) == 32, "PictureInfo must be the 64-bit host's 32-byte record");
#else
static_assert(sizeof(PictureInfo) == 26, "PictureInfo must be the host's 26-byte record");
#endif

// Called before each row with the row index, the height and the host's value;
// a nonzero answer stops the decode.
typedef int(WINAPI* ProgressCallback)(int rowIndex, int height, LONG_PTR userData);

// Only the low three bits of sourceFlags choose the input: all clear means a
// file name with an offset, any set means a memory image with its length.
const uint32_t kSourceMemoryMask = 7;

// The length or offset argument and the user value are pointer-sized: 32
// bits in TAVKO.SPI, 64 in TAVKO.SPH.
extern "C" {
int WINAPI GetPluginInfo(int index, char* buffer, int bufferSize);
int WINAPI IsSupported(char* fileName, ULONG_PTR handleOrBytes);
ResultCode WINAPI GetPictureInfo(char* source, LONG_PTR offsetOrLength, uint32_t sourceFlags,
                                 PictureInfo* pictureInfo);
ResultCode WINAPI GetPicture(char* source, LONG_PTR offsetOrLength, uint32_t sourceFlags,
                             HLOCAL* infoHandleOut, HLOCAL* bitsHandleOut,
                             ProgressCallback progress, LONG_PTR userData);
ResultCode WINAPI GetPreview(char* source, LONG_PTR offsetOrLength, uint32_t sourceFlags,
                             HLOCAL* infoHandleOut, HLOCAL* bitsHandleOut,
                             ProgressCallback progress, LONG_PTR userData);
ResultCode WINAPI ConfigurationDlg(HWND parentWindow, int32_t functionCode);

#if defined(_WIN64)
// The wide-character entries of the 64-bit module: file names as UTF-16,
// opened with CreateFileW; memory images as in the entries above.
int WINAPI GetPluginInfoW(int index, wchar_t* buffer, int bufferSize);
int WINAPI IsSupportedW(const wchar_t* fileName, ULONG_PTR handleOrBytes);
ResultCode WINAPI GetPictureInfoW(const wchar_t* source, LONG_PTR offsetOrLength, uint32_t sourceFlags,
                                  PictureInfo* pictureInfo);
ResultCode WINAPI GetPictureW(const wchar_t* source, LONG_PTR offsetOrLength, uint32_t sourceFlags,
                              HLOCAL* infoHandleOut, HLOCAL* bitsHandleOut, ProgressCallback progress,
                              LONG_PTR userData);
ResultCode WINAPI GetPreviewW(const wchar_t* source, LONG_PTR offsetOrLength, uint32_t sourceFlags,
                              HLOCAL* infoHandleOut, HLOCAL* bitsHandleOut, ProgressCallback progress,
                              LONG_PTR userData);
#endif
}
