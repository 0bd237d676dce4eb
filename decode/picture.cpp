// Decoding a QVX picture into a device-independent bitmap.
#include "decode/picture.h"

#include <cstring>

#include "decode/bytes.h"
#include "decode/limits.h"
#include "decode/options.h"
#include "decode/rows.h"
#include "plugin/source.h"

namespace {

const uint32_t kBiRgb = 0;
const uint32_t kBiBitFields = 3;
const uint32_t kTrailingZeroBytes = 4;  // after the slots; never written

struct RowBytes {
  uint64_t source;
  uint64_t output;
  RowMethod method;
};

// Stored and delivered bytes per row, before rounding, for a depth whose
// delivered depth is outputDepth.
RowBytes RowBytesFor(uint32_t bits, uint32_t outputDepth, uint64_t width) {
  switch (bits) {
    case 1: return {(width + 7) / 8, (width + 7) / 8, kRowCopy};
    case 2: return {(width + 3) / 4, (width + 1) / 2, kRowExpand2To4};
    case 4: return {(width + 1) / 2, (width + 1) / 2, kRowCopy};
    case 8: return {width, width, kRowCopy};
    case 16:
      if (outputDepth == 16) return {2 * width, 2 * width, kRowCopyScan16};
      return {2 * width, 3 * width, kRow555To24};
    case 24: return {3 * width, 3 * width, kRowCopy};
    default:  // 32
      if (outputDepth == 32) return {4 * width, 4 * width, kRowCopy};
      return {4 * width, 3 * width, kRow32To24};
  }
}

// A paletted bitmap's header may name how many of its slots are used; a
// count that the delivered table cannot hold, or any count where no table
// is delivered, would send a host reading past the information block, so
// it then says 0 (the whole table, or none).
uint32_t DeliveredColoursUsed(const NormalizedHeader& header, const DecodePlan& plan) {
  if (plan.bitFields || plan.outputDepth > 8) return 0;
  return header.biClrUsed <= plan.slotCount ? header.biClrUsed : 0;
}

void WriteInfoHeader(const NormalizedHeader& header, const DecodePlan& plan, uint8_t* info) {
  // The slots always follow 40 header bytes, so biSize says 40 whatever
  // size the stored header had.
  WriteU32(info + 0, kDeliveredHeaderBytes);
  WriteU32(info + 4, static_cast<uint32_t>(plan.width));
  WriteU32(info + 8, static_cast<uint32_t>(plan.height));
  // A device-independent bitmap has exactly one plane; GDI refuses others.
  WriteU16(info + 12, 1);
  WriteU16(info + 14, plan.outputDepth);
  WriteU32(info + 16, plan.bitFields ? kBiBitFields : kBiRgb);
  WriteU32(info + 20, static_cast<uint32_t>(plan.pixelBytes));
  WriteU32(info + 24, static_cast<uint32_t>(header.biXPelsPerMeter));
  WriteU32(info + 28, static_cast<uint32_t>(header.biYPelsPerMeter));
  WriteU32(info + 32, DeliveredColoursUsed(header, plan));
  WriteU32(info + 36, header.biClrImportant);
}

void WriteMasks(uint8_t* info, uint32_t red, uint32_t green, uint32_t blue) {
  WriteU32(info + 40, red);
  WriteU32(info + 44, green);
  WriteU32(info + 48, blue);
}

// Copies the stored colour entries into the slots and complements them:
// each filled slot ends with its true blue, green, red and 0xFF.
void FillColourSlots(const uint8_t* source, const DecodePlan& plan, uint8_t* info) {
  if (plan.colourCount == 0) return;
  uint8_t* slots = info + kDeliveredHeaderBytes;
  const uint8_t* entry = source + plan.paletteOffset;
  for (uint64_t i = 0; i < plan.colourCount; ++i) {
    slots[4 * i] = entry[4 * i];
    slots[4 * i + 1] = entry[4 * i + 1];
    slots[4 * i + 2] = entry[4 * i + 2];
  }
  InvertBytes(slots, static_cast<int32_t>(4 * plan.colourCount));
}

// The stored pixel bytes before offset 100 (and before the end of the
// data) that are kept complemented.
int32_t ComplementedPixelBytes(const DecodePlan& plan, uint64_t length) {
  uint64_t end = length < kComplementedPixelsEnd ? length : kComplementedPixelsEnd;
  return plan.pixelOffset < end ? static_cast<int32_t>(end - plan.pixelOffset) : 0;
}

// Converts the rows, calling progress before each. Returns kResultAborted
// when progress asks to stop, else kResultSuccess.
ResultCode ConvertRows(const uint8_t* source, const DecodePlan& plan, uint8_t* info,
                       uint8_t* pixels, ProgressCallback progress, LONG_PTR userData) {
  if (plan.bitFields) {
    if (plan.bits == 32)
      WriteMasks(info, 0xFF0000, 0xFF00, 0xFF);
    else
      WriteMasks(info, 0x7C00, 0x03E0, 0x001F);
  }

  const int progressHeight = static_cast<int>(plan.rows);
  const uint64_t expandBytes =
      plan.outputStride / 2 < plan.sourceStride ? plan.outputStride / 2 : plan.sourceStride;
  const uint64_t width = static_cast<uint64_t>(plan.width);
  // Copied rows lie back to back in both blocks with the same stride; with
  // no one to report to between rows they move in one piece.
  if (progress == nullptr && plan.method == kRowCopy) {
    CopyRow(source + plan.pixelOffset, pixels, plan.sourceStride * plan.rows);
    return kResultSuccess;
  }
  // The same for 16-bit rows without padding, whose scan then never
  // meets a padding byte.
  if (progress == nullptr && plan.method == kRowCopyScan16 && plan.sourceStride == 2 * width) {
    uint64_t bytes = plan.sourceStride * plan.rows;
    if (CopyRowScan16(source + plan.pixelOffset, pixels, bytes, bytes / 2))
      WriteMasks(info, 0xF800, 0x07E0, 0x001F);
    return kResultSuccess;
  }
  bool bit15 = false;
  const uint8_t* src = source + plan.pixelOffset;
  uint8_t* dst = pixels;
  for (uint64_t row = 0; row < plan.rows; ++row) {
    if (progress != nullptr && progress(static_cast<int>(row), progressHeight, userData) != 0)
      return kResultAborted;
    switch (plan.method) {
      case kRowCopy: CopyRow(src, dst, plan.sourceStride); break;
      case kRowCopyScan16: bit15 |= CopyRowScan16(src, dst, plan.sourceStride, width); break;
      case kRowExpand2To4: Expand2To4(src, dst, expandBytes); break;
      case kRow555To24: Convert555To24(src, dst, width); break;
      case kRow32To24: Convert32To24(src, dst, width); break;
    }
    src += plan.sourceStride;
    dst += plan.outputStride;
  }
  // Any pixel with bit 15 set means the 16-bit data is 5-6-5, not 5-5-5.
  if (bit15) WriteMasks(info, 0xF800, 0x07E0, 0x001F);
  return kResultSuccess;
}

void SetHandles(HLOCAL* infoHandleOut, HLOCAL info, HLOCAL* bitsHandleOut, HLOCAL bits) {
  if (infoHandleOut) *infoHandleOut = info;
  if (bitsHandleOut) *bitsHandleOut = bits;
}

// Frees both blocks and leaves null in the out-parameters, so a host that
// frees whatever it holds after a failure cannot free a block twice.
void DropBlocks(HLOCAL* infoHandleOut, HLOCAL info, HLOCAL* bitsHandleOut, HLOCAL bits) {
  if (bits) LocalFree(bits);
  if (info) LocalFree(info);
  SetHandles(infoHandleOut, nullptr, bitsHandleOut, nullptr);
}

ResultCode DecodeImage(const SourceImage& image, HLOCAL* infoHandleOut, HLOCAL* bitsHandleOut,
                       ProgressCallback progress, LONG_PTR userData) {
  NormalizedHeader header;
  if (image.length < kSignatureBytes || !HasQvxSignature(image.bytes, image.length) ||
      !NormalizeHeader(image.bytes, image.length, &header))
    return kResultNotQvx;
  DecodePlan plan;
  ResultCode result = PlanDecode(header, image.length, &plan);
  if (result != kResultSuccess) return result;

  const UINT flags = LMEM_MOVEABLE | LMEM_ZEROINIT;
  HLOCAL infoBlock = LocalAlloc(flags, static_cast<SIZE_T>(plan.infoBytes));
  SetHandles(infoHandleOut, infoBlock, bitsHandleOut, nullptr);
  if (infoBlock == nullptr) return kResultNoMemory;
  uint8_t* info = static_cast<uint8_t*>(LocalLock(infoBlock));
  if (info == nullptr) {
    DropBlocks(infoHandleOut, infoBlock, bitsHandleOut, nullptr);
    return kResultLockFailed;
  }
  WriteInfoHeader(header, plan, info);

  HLOCAL bitsBlock = LocalAlloc(flags, static_cast<SIZE_T>(plan.pixelBytes));
  SetHandles(infoHandleOut, infoBlock, bitsHandleOut, bitsBlock);
  if (bitsBlock == nullptr) {
    LocalUnlock(infoBlock);
    DropBlocks(infoHandleOut, infoBlock, bitsHandleOut, nullptr);
    return kResultNoMemory;
  }
  uint8_t* pixels = static_cast<uint8_t*>(LocalLock(bitsBlock));
  if (pixels == nullptr) {
    LocalUnlock(infoBlock);
    DropBlocks(infoHandleOut, infoBlock, bitsHandleOut, bitsBlock);
    return kResultLockFailed;
  }

  FillColourSlots(image.bytes, plan, info);
  // The first pixel bytes are un-complemented in place for the rows and
  // complemented again afterwards, so the input comes back as it was.
  int32_t complemented = ComplementedPixelBytes(plan, image.length);
  InvertBytes(image.bytes + plan.pixelOffset, complemented);
  result = ConvertRows(image.bytes, plan, info, pixels, progress, userData);
  InvertBytes(image.bytes + plan.pixelOffset, complemented);

  LocalUnlock(bitsBlock);
  LocalUnlock(infoBlock);
  if (result != kResultSuccess) DropBlocks(infoHandleOut, infoBlock, bitsHandleOut, bitsBlock);
  return result;
}

}  // namespace

ResultCode PlanDecode(const NormalizedHeader& header, uint64_t length, DecodePlan* plan) {
  std::memset(plan, 0, sizeof *plan);
  plan->bits = header.biBitCount;
  plan->outputDepth = static_cast<uint32_t>(OutputDepthFor(plan->bits));
  // Depths without a delivered form, and pictures with no columns or no
  // rows, have nothing that could be decoded.
  if (plan->outputDepth == 0 || header.biWidth <= 0 || header.biHeight == 0) return kResultNotQvx;
  plan->width = header.biWidth;
  plan->height = header.biHeight;
  plan->rows = header.biHeight < 0 ? 0 - static_cast<int64_t>(header.biHeight)
                                   : static_cast<uint64_t>(header.biHeight);
  // Recognition refuses every information header with compressed or
  // bit-field rows; decoding them as plain rows would be a wrong picture
  // reported as success.
  if (header.storedSize != kCoreHeaderSize && header.biCompression != kBiRgb) return kResultNotQvx;
  plan->pixelOffset = header.bfOffBits;
  plan->paletteOffset = PaletteOffset(header);

  RowBytes row = RowBytesFor(plan->bits, plan->outputDepth, static_cast<uint64_t>(plan->width));
  plan->sourceStride = RowStride(row.source);
  plan->outputStride = RowStride(row.output);
  plan->method = row.method;
  plan->bitFields = (plan->bits == 16 && plan->outputDepth == 16) ||
                    (plan->bits == 32 && plan->outputDepth == 32);

  // The pixel data must hold every stored row; written as a division so
  // that no product can wrap.
  if (plan->pixelOffset > length) return kResultTruncated;
  if (plan->rows > (length - plan->pixelOffset) / plan->sourceStride) return kResultTruncated;

  if (plan->bitFields) {
    plan->slotCount = 4;
  } else {
    uint64_t fullTable = static_cast<uint64_t>(1) << plan->bits;
    if (plan->paletteOffset + 4 * fullTable <= plan->pixelOffset) {
      plan->colourCount = fullTable;
      plan->slotCount = static_cast<uint64_t>(1) << plan->outputDepth;
    } else if (plan->bits <= 8 && plan->pixelOffset > plan->paletteOffset) {
      plan->colourCount = (plan->pixelOffset - plan->paletteOffset) / 4;
    }
    // A paletted bitmap always carries its whole table, zero where the
    // file stores no colour, so a host never reads past the block.
    if (plan->outputDepth <= 8) plan->slotCount = static_cast<uint64_t>(1) << plan->outputDepth;
  }
  plan->infoBytes = kDeliveredHeaderBytes + 4 * plan->slotCount + kTrailingZeroBytes;
  // Safe from wrapping: the length test bounds rows * sourceStride by the
  // data's length, and no delivered row is more than twice its stored row.
  plan->pixelBytes = plan->outputStride * plan->rows;
  if (plan->infoBytes > kMaxBlockBytes || plan->pixelBytes > kMaxBlockBytes)
    return kResultNoMemory;
  return kResultSuccess;
}

extern "C" ResultCode WINAPI GetPicture(char* source, int32_t offsetOrLength,
                                        uint32_t sourceFlags, HLOCAL* infoHandleOut,
                                        HLOCAL* bitsHandleOut, ProgressCallback progress,
                                        LONG_PTR userData) {
  SourceImage image;
  ResultCode result = OpenSourceImage(source, offsetOrLength, sourceFlags, 0, &image);
  if (result != kResultSuccess) return result;
  result = DecodeImage(image, infoHandleOut, bitsHandleOut, progress, userData);
  ReleaseSourceImage(&image);
  return result;
}
