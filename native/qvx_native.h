// The decoding core on Linux: delivered bitmaps in plain zero-filled
// memory, files read range by range with pread. Used by the tavko tool
// and the desktop loader; no Windows services, no test hooks.
#pragma once

#include <cstdint>

#include "decode/qvx.h"

// A delivered bitmap: the information block and the pixel block.
struct NativeBitmap {
  uint8_t* info;
  uint64_t infoBytes;
  uint8_t* pixels;
  uint64_t pixelBytes;
};

// Zero-filled memory for a picture: blocks of 8 MiB and more are mapped on
// their own, aligned to huge pages and asking for them; smaller ones come
// from calloc. Null when it cannot be had.
uint8_t* AllocatePictureBlock(uint64_t bytes);
// Frees a block of AllocatePictureBlock, given its size.
void FreePictureBlock(uint8_t* block, uint64_t bytes);

// Frees both blocks and clears the record.
void FreeNativeBitmap(NativeBitmap* bitmap);

// Decodes a picture held in memory.
QvxStatus DecodeQvxMemory(const uint8_t* bytes, uint64_t length, const QvxOptions& options, QvxProgress progress,
                          void* progressContext, NativeBitmap* out);

// Decodes the picture that starts offset bytes into an open file. A read
// that fails or comes back short is kQvxReadError.
QvxStatus DecodeQvxFile(int fd, uint64_t offset, uint64_t fileSize, const QvxOptions& options,
                        QvxProgress progress, void* progressContext, NativeBitmap* out);
