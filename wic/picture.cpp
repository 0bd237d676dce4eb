// The codec's way into the decoding core: the header and colour table up
// front, the rows decoded into the caller's memory or, once, into memory
// of its own.
#include "wic/picture.h"

#include <windows.h>

#include <cstring>

namespace {

// The picture's own rows come straight from the system: its pages arrive
// zeroed when first touched, so no pass over the picture clears them first.
uint8_t* NewPixels(uint64_t bytes) {
  if (bytes >= SIZE_MAX) return nullptr;
  return static_cast<uint8_t*>(VirtualAlloc(nullptr, bytes ? static_cast<SIZE_T>(bytes) : 1, MEM_COMMIT | MEM_RESERVE,
                                            PAGE_READWRITE));
}

void FreePixels(uint8_t* pixels) {
  if (pixels != nullptr) VirtualFree(pixels, 0, MEM_RELEASE);
}

struct Destination {
  const WicPicture* picture;
  uint8_t* pixels;
  uint64_t stride;
};

// The rows go where the destination says, once the decode has found the
// picture that was described: the memory was sized for that one.
QvxStatus Aim(void* context, const QvxPictureInfo& info, QvxRowTarget* target) {
  const Destination* to = static_cast<const Destination*>(context);
  const QvxPlan& plan = to->picture->plan;
  if (info.width != plan.width || info.rows != plan.rows || info.rowBytes != to->picture->rowBytes) return kQvxNotQvx;
  *target = {to->pixels, to->stride, nullptr, nullptr};
  return kQvxOk;
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
  // WIC counts rows in an INT, and the row decoder refuses more: a height
  // of -2^31 has no row count a frame could report, however long the data.
  if (picture->header.biHeight == INT32_MIN) return kQvxNotQvx;
  QvxStatus status = QvxPlanDecode(picture->header, picture->options, source.length, &picture->plan);
  if (status != kQvxOk) return status;
  // Recognition with the length known refuses only a file shorter than
  // the size its header states.
  if (!QvxIsSupported(picture->header, true, source.length)) return kQvxTruncated;
  picture->rowBytes = (static_cast<uint64_t>(picture->plan.width) * picture->plan.outputDepth + 7) / 8;
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

QvxStatus DecodePictureInto(const QvxSource& source, const WicPicture& picture, uint8_t* pixels, uint64_t stride) {
  QvxRowSpec wanted = QvxDefaultRowSpec();
  wanted.layout = kQvxBgr8;
  wanted.indices = wanted.packed = true;
  Destination to = {&picture, pixels, stride};
  return QvxDecodeRows(source, wanted, Aim, &to);
}

QvxStatus DecodePictureRows(const QvxSource& source, WicPicture* picture) {
  uint64_t rows = picture->plan.rows;
  if (picture->rowBytes != 0 && rows > UINT64_MAX / picture->rowBytes) return kQvxNoMemory;
  uint8_t* pixels = NewPixels(picture->rowBytes * rows);
  if (pixels == nullptr) return kQvxNoMemory;
  QvxStatus status = DecodePictureInto(source, *picture, pixels, picture->rowBytes);
  if (status != kQvxOk) {
    FreePixels(pixels);
    return status;
  }
  picture->pixels = pixels;
  return kQvxOk;
}

void FreePictureRows(WicPicture* picture) {
  FreePixels(picture->pixels);
  picture->pixels = nullptr;
}
