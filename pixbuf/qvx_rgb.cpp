// The loader's adapter over the decoding core: recognition and the plan of
// the decode from the header, decoding from memory into plain blocks, then
// the delivered bitmap turned into RGB rows with one loop per delivered
// depth. The options are the defaults.
#include "pixbuf/qvx_rgb.h"

#include <climits>
#include <cstring>

#include "decode/bytes.h"
#include "decode/header.h"
#include "native/qvx_native.h"
#include "pixbuf/rgb_rows.h"

namespace {

// An RGB picture is held in one block of at most this many bytes.
const uint64_t kMaxRgbBytes = 0x7FFFFFFFu;
const uint64_t kDeliveredHeaderBytes = 40;

uint64_t RowStride(uint64_t k) { return (k + 3) / 4 * 4; }

void SetError(std::string* error, const std::string& text) {
  if (error != nullptr) *error = text;
}

// Turns the delivered bitmap into the sink's rows. The blocks' sizes are
// checked against the header before anything is read.
QvxRgbResult DeliverRows(const uint8_t* info, size_t infoBytes, const uint8_t* pixels,
                         size_t pixelBytes, const QvxRgbSink& sink, std::string* error) {
  int32_t width = ReadS32(info + 4);
  int32_t height = ReadS32(info + 8);
  uint32_t bits = ReadU16(info + 14);
  uint64_t rows = height < 0 ? 0 - static_cast<int64_t>(height) : static_cast<uint64_t>(height);
  uint64_t stride = RowStride((static_cast<uint64_t>(width) * bits + 7) / 8);
  uint64_t slots = bits <= 8 ? (1u << bits) : 0;
  bool known = bits == 1 || bits == 4 || bits == 8 || bits == 24;
  if (!known || ReadU32(info + 16) != kBiRgb || width <= 0 || rows == 0 || rows > INT32_MAX ||
      infoBytes < kDeliveredHeaderBytes + 4 * slots || pixelBytes / stride < rows) {
    SetError(error, "the decoder delivered a bitmap of an unexpected form");
    return QvxRgbResult::kNotQvx;
  }
  RgbTable table = {};
  for (uint64_t i = 0; i < slots; ++i) {
    const uint8_t* slot = info + kDeliveredHeaderBytes + 4 * i;
    table[i][0] = slot[2];
    table[i][1] = slot[1];
    table[i][2] = slot[0];
  }
  size_t outStride = 0;
  // The delivered bitmap is a copy: the input is no longer needed.
  uint8_t* out = sink.prepare(sink.context, width, static_cast<int32_t>(rows), true, &outStride);
  if (out == nullptr) {
    SetError(error, "not enough memory for the decoded picture");
    return QvxRgbResult::kNoMemory;
  }
  // Bottom-up rows are read from the last delivered row back.
  bool bottomUp = height > 0;
  for (uint64_t y = 0; y < rows; ++y) {
    const uint8_t* src = pixels + (bottomUp ? rows - 1 - y : y) * stride;
    uint8_t* dst = out + y * outStride;
    switch (bits) {
      case 24: RowBgrToRgb(src, dst, width); break;
      case 8: Row8ToRgb(src, dst, width, table); break;
      case 4: Row4ToRgb(src, dst, width, table); break;
      default: Row1ToRgb(src, dst, width, table); break;
    }
  }
  return QvxRgbResult::kOk;
}

}  // namespace

QvxHeadKind QvxReadHead(const uint8_t* head, size_t n, QvxHead* out) {
  if (n >= 1 && head[0] != kStoredSignature0) return QvxHeadKind::kNotQvx;
  if (n >= 2 && head[1] != kStoredSignature1) return QvxHeadKind::kNotQvx;
  if (n < kSignatureBytes) return QvxHeadKind::kNeedMore;
  size_t end = QvxHeaderEnd(head);
  if (n < end) return QvxHeadKind::kNeedMore;

  QvxHeader header;
  if (QvxReadHeader(head, end, &header) != kQvxOk || !QvxIsSupported(header, false, 0)) return QvxHeadKind::kNotQvx;
  // The plan needs the default depths only, not the processor.
  QvxOptions options = {};
  options.maxBlockBytes = UINT64_MAX;
  QvxPlan plan;
  QvxStatus planned = QvxPlanDecode(header, options, UINT64_MAX, &plan);
  if (planned == kQvxNoMemory) return QvxHeadKind::kTooLarge;
  if (planned != kQvxOk) return QvxHeadKind::kNotQvx;

  // The memory entry takes a 32-bit length; the RGB picture needs one block
  // and an int row stride.
  if (plan.pixelOffset > INT32_MAX) return QvxHeadKind::kTooLarge;
  uint64_t rowsLimit = (INT32_MAX - plan.pixelOffset) / plan.sourceStride;
  uint64_t rgbRow = 3 * static_cast<uint64_t>(plan.width);
  if (plan.rows > rowsLimit || rgbRow > INT32_MAX - 3 || plan.rows > kMaxRgbBytes / rgbRow)
    return QvxHeadKind::kTooLarge;
  if (out != nullptr) {
    out->width = plan.width;
    out->height = static_cast<int32_t>(plan.rows);
    out->pictureBytes = plan.pixelOffset + plan.sourceStride * plan.rows;
  }
  return QvxHeadKind::kQvx;
}

QvxRgbResult DecodeQvxToRgb(const uint8_t* bytes, size_t n, const QvxRgbSink& sink,
                            std::string* error) {
  QvxHead head;
  switch (QvxReadHead(bytes, n, &head)) {
    case QvxHeadKind::kNeedMore:
      SetError(error, n == 0 ? "the file is empty" : "the QVX picture is truncated: the file ends inside its header");
      return n == 0 ? QvxRgbResult::kNotQvx : QvxRgbResult::kTruncated;
    case QvxHeadKind::kNotQvx:
      SetError(error, "not a QVX picture, or one with a depth or compression that cannot be decoded");
      return QvxRgbResult::kNotQvx;
    case QvxHeadKind::kTooLarge:
      SetError(error, "the QVX picture is too large");
      return QvxRgbResult::kTooLarge;
    case QvxHeadKind::kQvx: break;
  }
  if (n < head.pictureBytes) {
    SetError(error, "the QVX picture is truncated: " + std::to_string(n) + " of " +
                        std::to_string(head.pictureBytes) + " bytes");
    return QvxRgbResult::kTruncated;
  }

  // Bytes past the last row are never read and are left out of the length.
  NativeBitmap bitmap;
  QvxStatus status = DecodeQvxMemory(bytes, head.pictureBytes, QvxDefaultOptions(), nullptr, nullptr, &bitmap);
  QvxRgbResult answer = QvxRgbResult::kOk;
  if (status == kQvxOk) {
    answer = DeliverRows(bitmap.info, bitmap.infoBytes, bitmap.pixels, bitmap.pixelBytes, sink, error);
  } else if (status == kQvxTruncated) {
    SetError(error, "the QVX picture is truncated");
    answer = QvxRgbResult::kTruncated;
  } else if (status == kQvxNoMemory || status == kQvxLockFailed) {
    SetError(error, "not enough memory to decode the QVX picture");
    answer = QvxRgbResult::kNoMemory;
  } else {
    SetError(error, "not a QVX picture that can be decoded");
    answer = QvxRgbResult::kNotQvx;
  }
  FreeNativeBitmap(&bitmap);
  return answer;
}
