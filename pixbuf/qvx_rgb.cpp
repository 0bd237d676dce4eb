// The loader's adapter over the decoding core's rows: RGB rows, top row
// first, the loader's size limits, and the refusals put into words.
#include "pixbuf/qvx_rgb.h"

#include <climits>

namespace {

// An RGB picture is held in one block of at most this many bytes.
const uint64_t kMaxRgbBytes = 0x7FFFFFFFu;

void SetError(std::string* error, const std::string& text) {
  if (error != nullptr) *error = text;
}

QvxRowSpec RgbSpec() { return QvxDefaultRowSpec(); }

// The sizes were checked by QvxReadHead on the same bytes.
QvxStatus PrepareRows(void* context, const QvxPictureInfo& info, QvxRowTarget* target) {
  const QvxRgbSink* sink = static_cast<const QvxRgbSink*>(context);
  size_t stride = 0;
  uint8_t* rows = sink->prepare(sink->context, info.width, static_cast<int32_t>(info.rows), &stride);
  if (rows == nullptr) return kQvxNoMemory;
  *target = {rows, stride, nullptr, nullptr};
  return kQvxOk;
}

}  // namespace

bool QvxRgbFits(const QvxPictureInfo& info) {
  if (info.pixelOffset > INT32_MAX) return false;
  uint64_t rowsLimit = (INT32_MAX - info.pixelOffset) / info.sourceStride;
  uint64_t rgbRow = 3 * static_cast<uint64_t>(info.width);
  return info.rows <= rowsLimit && rgbRow <= INT32_MAX - 3 && info.rows <= kMaxRgbBytes / rgbRow;
}

QvxHeadKind QvxReadHead(const uint8_t* head, size_t n, QvxHead* out) {
  QvxPush* push = QvxPushCreate(RgbSpec());
  if (push == nullptr) return QvxHeadKind::kNeedMore;
  uint64_t used = 0;
  QvxPushEvent event = QvxPushFeed(push, head, n, &used);
  QvxHeadKind kind = event == kQvxPushFailed ? QvxHeadKind::kNotQvx : QvxHeadKind::kNeedMore;
  if (event == kQvxPushHeader) {
    const QvxPictureInfo& info = *QvxPushInfo(push);
    kind = QvxRgbFits(info) ? QvxHeadKind::kQvx : QvxHeadKind::kTooLarge;
    if (out != nullptr) {
      out->width = info.width;
      out->height = static_cast<int32_t>(info.rows);
      out->pictureBytes = info.pictureBytes;
    }
  }
  QvxPushDestroy(push);
  return kind;
}

QvxRgbResult DecodeQvxToRgb(const uint8_t* bytes, size_t n, const QvxRgbSink& sink, std::string* error) {
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
  QvxStatus status = QvxDecodeRows(QvxMemorySource(bytes, n), RgbSpec(), PrepareRows, const_cast<QvxRgbSink*>(&sink));
  if (status == kQvxOk) return QvxRgbResult::kOk;
  if (status == kQvxNoMemory) {
    SetError(error, "not enough memory for the decoded picture");
    return QvxRgbResult::kNoMemory;
  }
  SetError(error, "not a QVX picture that can be decoded");
  return QvxRgbResult::kNotQvx;
}
