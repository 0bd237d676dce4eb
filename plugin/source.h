// The input of GetPictureInfo and GetPicture as the decoding core reads it:
// the host's memory image as it is, or a file read range by range.
#pragma once

#include <cstdint>

#include "decode/qvx.h"
#include "plugin/spi.h"

struct HostSource {
  QvxSource source;
  HANDLE file;       // open while the entry runs; INVALID_HANDLE_VALUE for memory input
  uint64_t offset;   // where the picture starts in the file
};

// Opens the input the host named: a file from an offset (sourceFlags & 7
// clear) or a memory image of offsetOrLength bytes. For a file: 6 when it
// cannot be opened or sized or the offset is negative, 4 when the offset
// lies past its end (no block could hold a negative count); nothing is
// left open on failure. For memory in the 64-bit module: 2 when the length
// is negative. The file name is ANSI, or UTF-16 in the wide form.
ResultCode OpenHostSource(const char* source, LONG_PTR offsetOrLength, uint32_t sourceFlags, HostSource* out);
#if defined(_WIN64)
ResultCode OpenHostSourceW(const wchar_t* source, LONG_PTR offsetOrLength, uint32_t sourceFlags, HostSource* out);
#endif

// The whole size of an open file, in 64 bits; false when it cannot be had.
bool HostFileSize(HANDLE file, uint64_t* size);

// Closes the file of a file input.
void CloseHostSource(HostSource* source);
