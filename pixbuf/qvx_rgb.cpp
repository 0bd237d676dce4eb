// The loader's adapter over the plug-in's own entries: recognition through
// IsSupported, decoding through GetPicture from memory, then the delivered
// bitmap turned into RGB rows with one loop per delivered depth.
#include "pixbuf/qvx_rgb.h"

#include <climits>
#include <cstring>

#include "decode/bytes.h"
#include "decode/header.h"
#include "decode/limits.h"
#include "decode/picture.h"
#include "pixbuf/rgb_rows.h"
#include "plugin/spi.h"

namespace {

// Enough for every header form: the information form ends at 54, and
// IsSupported reads no further than that.
const size_t kHeadBytes = 64;
// An RGB picture is held in one block of at most this many bytes.
const uint64_t kMaxRgbBytes = 0x7FFFFFFFu;
const uint32_t kBiRgb = 0;

uint32_t Complemented32(const uint8_t* p) { return ~ReadU32(p); }

// Where the header bytes that decide recognition end, for a stored header size.
size_t HeadEnd(uint32_t storedSize) {
  if (storedSize == kCoreHeaderSize) return kCoreHeaderEnd;
  if (storedSize >= kShortHeaderMin && storedSize < kInfoHeaderBytes) return kFileHeaderBytes + storedSize;
  return kInfoHeaderEnd;
}

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
  size_t end = HeadEnd(Complemented32(head + kFileHeaderBytes));
  if (n < end) return QvxHeadKind::kNeedMore;

  // IsSupported reads up to the end of the header form it finds; it gets a
  // zero-filled copy so that it never reads past what has arrived.
  uint8_t copy[kHeadBytes] = {};
  std::memcpy(copy, head, n < kHeadBytes ? n : kHeadBytes);
  if (IsSupported(nullptr, reinterpret_cast<ULONG_PTR>(copy)) == 0) return QvxHeadKind::kNotQvx;
  NormalizedHeader header;
  if (!NormalizeHeader(copy, end, &header)) return QvxHeadKind::kNotQvx;
  DecodePlan plan;
  ResultCode planned = PlanDecode(header, UINT64_MAX, &plan);
  if (planned == kResultNoMemory) return QvxHeadKind::kTooLarge;
  if (planned != kResultSuccess) return QvxHeadKind::kNotQvx;

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

  // GetPicture complements the first pixel bytes in place for the duration
  // of the call and restores them, so the bytes come back unchanged; the
  // loader only ever passes buffers of its own. Bytes past the last row are
  // never read and are left out of the length.
  HLOCAL infoBlock = nullptr, bitsBlock = nullptr;
  ResultCode result = GetPicture(reinterpret_cast<char*>(const_cast<uint8_t*>(bytes)),
                                 static_cast<int32_t>(head.pictureBytes), 1, &infoBlock,
                                 &bitsBlock, nullptr, 0);
  QvxRgbResult answer = QvxRgbResult::kOk;
  if (result == kResultSuccess) {
    const uint8_t* info = static_cast<const uint8_t*>(LocalLock(infoBlock));
    const uint8_t* pixels = static_cast<const uint8_t*>(LocalLock(bitsBlock));
    if (info == nullptr || pixels == nullptr) {
      SetError(error, "not enough memory to decode the QVX picture");
      answer = QvxRgbResult::kNoMemory;
    } else {
      answer = DeliverRows(info, LocalSize(infoBlock), pixels, LocalSize(bitsBlock), sink, error);
    }
    if (info != nullptr) LocalUnlock(infoBlock);
    if (pixels != nullptr) LocalUnlock(bitsBlock);
  } else if (result == kResultTruncated) {
    SetError(error, "the QVX picture is truncated");
    answer = QvxRgbResult::kTruncated;
  } else if (result == kResultNoMemory || result == kResultLockFailed) {
    SetError(error, "not enough memory to decode the QVX picture");
    answer = QvxRgbResult::kNoMemory;
  } else {
    SetError(error, "not a QVX picture that can be decoded");
    answer = QvxRgbResult::kNotQvx;
  }
  if (bitsBlock != nullptr) LocalFree(bitsBlock);
  if (infoBlock != nullptr) LocalFree(infoBlock);
  return answer;
}
