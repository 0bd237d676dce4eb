// Delivered depths and the plan of a decode: sizes, colour counts and row
// method, worked out in 64 bits from the headers before anything is
// allocated.
#include <cstring>

#include "decode/header.h"
#include "decode/qvx.h"

namespace {

const uint64_t kDeliveredHeaderBytes = 40;
const uint64_t kTrailingZeroBytes = 4;  // after the slots; never written

struct RowBytes {
  uint64_t source;
  uint64_t output;
  QvxRowMethod method;
};

// Stored and delivered bytes per row, before rounding.
RowBytes RowBytesFor(uint32_t bits, uint32_t outputDepth, uint64_t width) {
  switch (bits) {
    case 1: return {(width + 7) / 8, (width + 7) / 8, kQvxRowCopy};
    case 2: return {(width + 3) / 4, (width + 1) / 2, kQvxRowExpand2To4};
    case 4: return {(width + 1) / 2, (width + 1) / 2, kQvxRowCopy};
    case 8: return {width, width, kQvxRowCopy};
    case 16:
      if (outputDepth == 16) return {2 * width, 2 * width, kQvxRowCopyScan16};
      return {2 * width, 3 * width, kQvxRow555To24};
    case 24: return {3 * width, 3 * width, kQvxRowCopy};
    default:  // 32
      if (outputDepth == 32) return {4 * width, 4 * width, kQvxRowCopy};
      return {4 * width, 3 * width, kQvxRow32To24};
  }
}

// Row stride: k bytes rounded up to a multiple of 4.
uint64_t RowStride(uint64_t k) { return (k + 3) / 4 * 4; }

}  // namespace

QvxOptions QvxDefaultOptions() {
  QvxOptions options = {};
  options.cpu = QvxDetectCpu();
  options.maxBlockBytes = UINT64_MAX;
  return options;
}

uint32_t QvxOutputDepth(uint32_t bits, const QvxOptions& options) {
  switch (bits) {
    case 1: return 1;
    case 2:
    case 4: return 4;
    case 8: return 8;
    case 16: return options.keep16 ? 16 : 24;
    case 24: return 24;
    case 32: return options.keep32 ? 32 : 24;
    default: return 0;
  }
}

QvxStatus QvxPlanDecode(const QvxHeader& header, const QvxOptions& options, uint64_t length,
                        QvxPlan* plan) {
  std::memset(plan, 0, sizeof *plan);
  plan->bits = header.biBitCount;
  plan->outputDepth = QvxOutputDepth(plan->bits, options);
  // Depths without a delivered form, and pictures with no columns or no
  // rows, have nothing that could be decoded.
  if (plan->outputDepth == 0 || header.biWidth <= 0 || header.biHeight == 0) return kQvxNotQvx;
  // Compressed or bit-field rows are refused as recognition refuses them;
  // decoding them as plain rows would be a wrong picture reported as success.
  if (header.storedSize != kCoreHeaderSize && header.biCompression != kBiRgb) return kQvxNotQvx;
  // Pixels that would start inside the file header or the stored header
  // (26 for the core form; a stored size near 4 GiB cannot be followed by
  // any) would decode header bytes as rows: refused, as recognition does.
  if (static_cast<uint64_t>(kFileHeaderBytes) + header.storedSize > header.bfOffBits) return kQvxNotQvx;
  plan->width = header.biWidth;
  plan->height = header.biHeight;
  plan->rows = header.biHeight < 0 ? 0 - static_cast<int64_t>(header.biHeight)
                                   : static_cast<uint64_t>(header.biHeight);
  plan->pixelOffset = header.bfOffBits;
  plan->paletteOffset = header.storedSize == kCoreHeaderSize
                            ? kCoreHeaderEnd
                            : static_cast<uint64_t>(kFileHeaderBytes) + header.storedSize;

  RowBytes row = RowBytesFor(plan->bits, plan->outputDepth, static_cast<uint64_t>(plan->width));
  plan->sourceStride = RowStride(row.source);
  plan->outputStride = RowStride(row.output);
  plan->method = row.method;
  plan->bitFields = (plan->bits == 16 && plan->outputDepth == 16) ||
                    (plan->bits == 32 && plan->outputDepth == 32);

  // The pixel data must hold every stored row; written as a division so
  // that no product can wrap.
  if (plan->pixelOffset > length) return kQvxTruncated;
  if (plan->rows > (length - plan->pixelOffset) / plan->sourceStride) return kQvxTruncated;

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
  if (plan->infoBytes > options.maxBlockBytes || plan->pixelBytes > options.maxBlockBytes)
    return kQvxNoMemory;
  return kQvxOk;
}
