// The codec's way into the decoding core: the header and colour table up
// front, the rows decoded once into memory of its own.
#include "wic/picture.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>

namespace {

// The delivered information block is not needed (the colours are read up
// front); only the pixel block is kept.
struct RowBlocks {
  uint8_t* info;
  uint8_t* pixels;
  uint8_t* scratch;
  uint64_t pixelBytes;
};

// The pixel block comes straight from the system: its pages arrive zeroed
// when first touched, so no pass over the picture clears them first.
uint8_t* NewPixels(uint64_t bytes) {
  if (bytes >= SIZE_MAX) return nullptr;
  return static_cast<uint8_t*>(VirtualAlloc(nullptr, bytes ? static_cast<SIZE_T>(bytes) : 1, MEM_COMMIT | MEM_RESERVE,
                                            PAGE_READWRITE));
}

void FreePixels(uint8_t* pixels) {
  if (pixels != nullptr) VirtualFree(pixels, 0, MEM_RELEASE);
}

uint8_t* Acquire(void* context, QvxBlock which, uint64_t bytes, QvxStatus* failure) {
  RowBlocks* blocks = static_cast<RowBlocks*>(context);
  uint8_t* memory = nullptr;
  if (which == kQvxPixelBlock)
    memory = NewPixels(bytes);
  else if (bytes < SIZE_MAX)
    memory = static_cast<uint8_t*>(std::calloc(bytes ? static_cast<size_t>(bytes) : 1, 1));
  if (memory == nullptr) {
    *failure = kQvxNoMemory;
    return nullptr;
  }
  if (which == kQvxInfoBlock) {
    blocks->info = memory;
  } else if (which == kQvxPixelBlock) {
    blocks->pixels = memory;
    blocks->pixelBytes = bytes;
  } else {
    blocks->scratch = memory;
  }
  return memory;
}

void Release(void* context, QvxBlock which, bool keep) {
  RowBlocks* blocks = static_cast<RowBlocks*>(context);
  if (which == kQvxPixelBlock) {
    if (!keep) FreePixels(blocks->pixels), blocks->pixels = nullptr;
    return;
  }
  uint8_t** memory = which == kQvxInfoBlock ? &blocks->info : &blocks->scratch;
  std::free(*memory);
  *memory = nullptr;
}

}  // namespace

QvxStatus DescribePicture(const QvxSource& source, WicPicture* picture) {
  std::memset(picture, 0, sizeof *picture);
  picture->options = QvxDefaultOptions();
  uint8_t first[kQvxHeaderBytes];
  uint64_t available = source.length < kQvxHeaderBytes ? source.length : kQvxHeaderBytes;
  if (available > 0 && !source.read(source.context, 0, first, available)) return kQvxReadError;
  if (QvxReadHeader(first, available, &picture->header) != kQvxOk) {
    // A header that reads once the missing bytes are supplied was cut
    // short; anything else is not a QVX picture.
    if (available == kQvxHeaderBytes) return kQvxNotQvx;
    std::memset(first + available, 0xFF, kQvxHeaderBytes - available);
    QvxHeader padded;
    return QvxReadHeader(first, kQvxHeaderBytes, &padded) == kQvxOk && QvxIsSupported(padded, false, 0)
               ? kQvxTruncated
               : kQvxNotQvx;
  }
  if (!QvxIsSupported(picture->header, false, 0)) return kQvxNotQvx;
  QvxStatus status = QvxPlanDecode(picture->header, picture->options, source.length, &picture->plan);
  if (status != kQvxOk) return status;
  // Recognition with the length known refuses only a file shorter than
  // the size its header states.
  if (!QvxIsSupported(picture->header, true, source.length)) return kQvxTruncated;
  if (picture->plan.outputDepth <= 8) {
    uint8_t slots[4 * 256];
    status = QvxReadColours(source, picture->plan, picture->options, slots);
    if (status != kQvxOk) return status;
    // The delivered table holds every slot of the depth; slots the file
    // has no colour for are black, as in the plug-in's bitmap.
    picture->colourCount = 1u << picture->plan.outputDepth;
    for (uint32_t i = 0; i < picture->colourCount; ++i) {
      const uint8_t* slot = slots + 4 * i;
      picture->colours[i] = i < picture->plan.colourCount
                                ? 0xFF000000u | slot[2] << 16 | slot[1] << 8 | slot[0]
                                : 0xFF000000u;
    }
  }
  return kQvxOk;
}

QvxStatus DecodePictureRows(const QvxSource& source, WicPicture* picture) {
  RowBlocks blocks = {};
  QvxAllocator allocator = {Acquire, Release, &blocks};
  QvxStatus status = QvxDecode(source, picture->options, allocator, nullptr, nullptr);
  if (status != kQvxOk) return status;
  picture->pixels = blocks.pixels;
  picture->pixelBytes = blocks.pixelBytes;
  return kQvxOk;
}

const uint8_t* PictureRow(const WicPicture& picture, uint32_t y) {
  const QvxPlan& plan = picture.plan;
  uint64_t stored = plan.height < 0 ? y : plan.rows - 1 - y;  // bottom-up rows unless the height is negative
  return picture.pixels + stored * plan.outputStride;
}

void FreePictureRows(WicPicture* picture) {
  FreePixels(picture->pixels);
  picture->pixels = nullptr;
  picture->pixelBytes = 0;
}
