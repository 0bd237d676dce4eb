// The whole input of a decoding entry as one byte range.
#pragma once

#include <cstdint>

#include "plugin/spi.h"

struct SourceImage {
  uint8_t* bytes;   // first byte of the picture
  uint32_t length;  // bytes in the picture
  HLOCAL block;     // the locked block holding a file's bytes; null for memory input
};

// Reads a file from offset to its end into a locked, zero-filled local block.
// extraBytes more bytes are allocated past the data and stay zero. Returns
// kResultSuccess, or kResultFileError, kResultNoMemory or kResultLockFailed
// with nothing left open or allocated.
ResultCode LoadSourceImage(const char* fileName, int32_t offset, uint32_t extraBytes,
                           SourceImage* image);

// Takes the input that the host named: a file from an offset, or its memory image.
ResultCode OpenSourceImage(char* source, int32_t offsetOrLength, uint32_t sourceFlags,
                           uint32_t extraBytes, SourceImage* image);

// Unlocks and frees a file's block; does nothing for memory input.
void ReleaseSourceImage(SourceImage* image);
