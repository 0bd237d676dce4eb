// The push decoder: bytes in pieces of any size, rows converted into the
// caller's layout as soon as their bytes are in, and the pull paths over it.
//
// Bytes pass through four phases: the headers and colour table (kept, at
// most 14 + 64 + 1024 bytes), the gap up to the first pixel byte (skipped),
// the rows, and done. Whole pixels of a row are converted straight from the
// caller's piece; only the bytes of one pixel that straddles two pieces are
// kept, and the complemented pixel bytes (before offset 100) are undone in a
// small copy. Row padding is skipped.
#include <cstdlib>
#include <cstring>

#include "decode/header.h"
#include "decode/layout.h"
#include "decode/qvx.h"
#include "decode/qvx_rows.h"

namespace {

const uint32_t kMaxTableEntries = 256;
const uint32_t kMaxHeadBytes = kFileHeaderBytes + kMaxRecognisedHeaderSize + 4 * kMaxTableEntries;
const uint64_t kPatchBytes = 120;               // a multiple of every stored pixel size
const uint64_t kReadPiece = 1024 * 1024;        // pieces read from a range reader

enum Phase { kHead, kGap, kRows, kDone, kFailed };

}  // namespace

struct QvxPush {
  QvxRowSpec wanted;
  Phase phase;
  QvxStatus status;
  uint64_t have;        // bytes taken so far
  uint64_t headNeed;    // head bytes wanted before the next look at them
  bool headerRead;      // the headers are read; headNeed now ends the colour table
  uint8_t head[kMaxHeadBytes];
  QvxPictureInfo info;
  bool haveTarget;
  QvxRowTarget target;
  LayoutRow convert;
  LayoutTable table;
  uint64_t rowData;     // stored bytes of a row that hold pixels
  uint32_t unit;        // stored bytes per step: 1 below 16 bits, else one pixel
  uint32_t perUnit;     // pixels per step
  uint32_t row;         // the stored row being filled
  uint32_t answered;    // rows done when the last feed answered
  uint64_t col;         // bytes of it taken
  uint8_t* dst;         // where it goes
  uint8_t carry[4];     // the start of a straddling pixel
  uint32_t carried;
};

namespace {

QvxPushEvent Fail(QvxPush* push, QvxStatus status) {
  push->phase = kFailed;
  push->status = status;
  return kQvxPushFailed;
}

// The headers and the colour table are in: the picture's description.
void Describe(QvxPush* push, const QvxHeader& header, const QvxPlan& plan, uint64_t tableEntries) {
  QvxPictureInfo& info = push->info;
  info.width = plan.width;
  info.height = plan.height;
  info.rows = static_cast<uint32_t>(plan.rows);
  info.bits = plan.bits;
  info.topDown = plan.height < 0;
  const QvxRowSpec& wanted = push->wanted;
  info.layout = !wanted.indices || plan.bits > 8 ? wanted.layout : wanted.packed ? kQvxIndexPacked : kQvxIndex8;
  switch (info.layout) {
    case kQvxIndex8: info.pixelBits = 8; break;
    case kQvxIndexPacked: info.pixelBits = plan.bits == 2 ? 4 : plan.bits; break;
    case kQvxRgb8:
    case kQvxBgr8: info.pixelBits = 24; break;
    default: info.pixelBits = 32; break;
  }
  info.rowBytes = (static_cast<uint64_t>(plan.width) * info.pixelBits + 7) / 8;
  info.colourCount = static_cast<uint32_t>(tableEntries);
  for (uint32_t i = 0; i < kMaxTableEntries; ++i) {
    uint8_t* colour = info.colours[i];
    colour[0] = colour[1] = colour[2] = 0;
    colour[3] = 255;
    if (i >= tableEntries) continue;
    // Stored blue, green, red, unused; complemented.
    const uint8_t* stored = push->head + plan.paletteOffset + 4 * i;
    colour[0] = static_cast<uint8_t>(~stored[2]);
    colour[1] = static_cast<uint8_t>(~stored[1]);
    colour[2] = static_cast<uint8_t>(~stored[0]);
  }
  info.xPelsPerMeter = header.biXPelsPerMeter;
  info.yPelsPerMeter = header.biYPelsPerMeter;
  info.pixelOffset = plan.pixelOffset;
  info.sourceStride = plan.sourceStride;
  info.pictureBytes = plan.pixelOffset + plan.sourceStride * plan.rows;

  push->convert = LayoutRowFor(plan.bits, info.layout);
  FillLayoutTable(info.layout, info.colours, push->table);
  push->rowData = (static_cast<uint64_t>(plan.width) * plan.bits + 7) / 8;
  push->unit = plan.bits <= 8 ? 1 : plan.bits / 8;
  push->perUnit = plan.bits <= 8 ? 8 / plan.bits : 1;
}

// Looks at the head bytes once headNeed of them are in. Returns true when
// the picture is described; false with headNeed raised when more are
// needed, or with the decoder failed.
bool JudgeHead(QvxPush* push) {
  if (push->headerRead) return true;
  if (push->have < kSignatureBytes) {
    push->headNeed = kSignatureBytes;
    return false;
  }
  uint32_t end = QvxHeaderEnd(push->head);
  if (push->have < end) {
    push->headNeed = end;
    return false;
  }
  QvxHeader header;
  QvxPlan plan;
  if (!QvxPlanRows(push->head, end, &header, &plan)) {
    Fail(push, kQvxNotQvx);
    return false;
  }
  uint64_t entries = plan.bits <= 8 ? plan.colourCount : 0;
  uint64_t tableEnd = plan.paletteOffset + 4 * entries;
  if (push->have < tableEnd) {
    push->headNeed = tableEnd;
    return false;
  }
  Describe(push, header, plan, entries);
  push->headerRead = true;
  return true;
}

uint32_t TargetRow(const QvxPush* push, uint32_t r) {
  return push->wanted.topFirst && !push->info.topDown ? push->info.rows - 1 - r : r;
}

// Asks for the next row's memory; false with the decoder failed when the
// sink refuses.
bool BeginRow(QvxPush* push) {
  uint32_t y = TargetRow(push, push->row);
  const QvxRowTarget& target = push->target;
  push->dst = target.pixels != nullptr ? target.pixels + y * target.stride : target.row(target.context, y);
  push->col = 0;
  if (push->dst == nullptr) Fail(push, kQvxStopped);
  return push->dst != nullptr;
}

// Converts n stored bytes (whole steps) that start col bytes into the row.
void ConvertBytes(QvxPush* push, const uint8_t* src, uint64_t n) {
  uint64_t x = push->col / push->unit * push->perUnit;
  uint64_t count = n / push->unit * push->perUnit;
  uint64_t left = static_cast<uint64_t>(push->info.width) - x;
  if (count > left) count = left;  // the last byte of a paletted row may hold fewer pixels
  // x is a whole number of stored steps, so packed pixels begin on a byte.
  push->convert(src, push->dst + x * push->info.pixelBits / 8, count, push->table, push->wanted.cpu);
  push->col += n;
}

// Undoes the complemented pixel bytes among n bytes whose first is at file offset at.
void Uncomplement(uint8_t* bytes, uint64_t at, uint64_t n) {
  for (uint64_t i = 0; i < n && at + i < kComplementedPixelsEnd; ++i) bytes[i] = static_cast<uint8_t>(~bytes[i]);
}

// Takes row bytes until the piece or the picture ends.
void TakeRows(QvxPush* push, const uint8_t** bytes, uint64_t* size) {
  const uint32_t unit = push->unit;
  while (*size > 0 && push->phase == kRows) {
    uint64_t take = 0;
    if (push->col >= push->rowData) {  // padding
      take = push->info.sourceStride - push->col;
      if (take > *size) take = *size;
      push->col += take;
    } else if (push->carried > 0 || *size < unit) {
      take = unit - push->carried;
      if (take > *size) take = *size;
      std::memcpy(push->carry + push->carried, *bytes, static_cast<size_t>(take));
      push->carried += static_cast<uint32_t>(take);
      if (push->carried == unit) {
        Uncomplement(push->carry, push->have + take - unit, unit);
        ConvertBytes(push, push->carry, unit);
        push->carried = 0;
      }
    } else {
      take = push->rowData - push->col;
      if (take > *size) take = *size;
      take -= take % unit;
      if (push->have < kComplementedPixelsEnd) {
        uint8_t patch[kPatchBytes];
        if (take > kPatchBytes) take = kPatchBytes;
        std::memcpy(patch, *bytes, static_cast<size_t>(take));
        Uncomplement(patch, push->have, take);
        ConvertBytes(push, patch, take);
      } else {
        ConvertBytes(push, *bytes, take);
      }
    }
    *bytes += take, *size -= take, push->have += take;
    if (push->col < push->info.sourceStride) continue;
    if (++push->row == push->info.rows) {
      push->phase = kDone;
    } else if (!BeginRow(push)) {
      return;
    }
  }
}

}  // namespace

bool QvxPlanRows(const uint8_t* first, uint64_t available, QvxHeader* header, QvxPlan* plan) {
  QvxOptions options = {};  // the plug-in's depths with its options clear
  options.maxBlockBytes = UINT64_MAX;
  return QvxReadHeader(first, available, header) == kQvxOk && QvxIsSupported(*header, false, 0) &&
         QvxPlanDecode(*header, options, UINT64_MAX, plan) == kQvxOk && plan->rows <= INT32_MAX;
}

QvxRowSpec QvxDefaultRowSpec() {
  QvxRowSpec wanted = {};
  wanted.layout = kQvxRgb8;
  wanted.topFirst = true;
  wanted.cpu = QvxDetectCpu();
  return wanted;
}

QvxPush* QvxPushCreate(const QvxRowSpec& wanted) {
  QvxPush* push = static_cast<QvxPush*>(std::calloc(1, sizeof(QvxPush)));
  if (push == nullptr) return nullptr;
  push->wanted = wanted;
  // True-colour pictures need a colour layout.
  if (wanted.layout == kQvxIndex8 || wanted.layout == kQvxIndexPacked) push->wanted.layout = kQvxRgb8;
  push->headNeed = kSignatureBytes;
  return push;
}

void QvxPushDestroy(QvxPush* push) { std::free(push); }

QvxPushEvent QvxPushFeed(QvxPush* push, const uint8_t* bytes, uint64_t size, uint64_t* used) {
  *used = 0;
  while (size > 0 && push->phase != kDone && push->phase != kFailed) {
    uint64_t take = 0;
    if (push->phase == kHead) {
      take = push->headNeed - push->have;
      if (take > size) take = size;
      std::memcpy(push->head + push->have, bytes, static_cast<size_t>(take));
      // The signature rules a file out from its first byte on.
      for (uint64_t at = push->have; at < push->have + take && at < 2; ++at)
        if (push->head[at] != (at == 0 ? kStoredSignature0 : kStoredSignature1)) return Fail(push, kQvxNotQvx);
      push->have += take, *used += take;
      if (push->have == push->headNeed && JudgeHead(push)) {
        push->phase = kGap;
        return kQvxPushHeader;
      }
      if (push->phase == kFailed) return kQvxPushFailed;
      bytes += take, size -= take;
      continue;
    }
    if (!push->haveTarget) return Fail(push, kQvxStopped);
    if (push->phase == kGap) {
      take = push->info.pixelOffset - push->have;
      if (take > size) take = size;
      push->have += take, *used += take, bytes += take, size -= take;
      if (push->have == push->info.pixelOffset) {
        push->phase = kRows;
        if (!BeginRow(push)) return kQvxPushFailed;
      }
      continue;
    }
    uint64_t before = size;
    TakeRows(push, &bytes, &size);
    *used += before - size;
  }
  if (push->phase == kFailed) return kQvxPushFailed;
  if (push->phase == kDone) return kQvxPushFinished;
  bool rows = push->row > push->answered;
  push->answered = push->row;
  return rows ? kQvxPushRows : kQvxPushNeedMore;
}

const QvxPictureInfo* QvxPushInfo(const QvxPush* push) { return push->headerRead ? &push->info : nullptr; }

QvxStatus QvxPushSetTarget(QvxPush* push, const QvxRowTarget& target) {
  if (push->phase == kFailed) return push->status;
  bool usable = push->headerRead && !push->haveTarget &&
                (target.pixels != nullptr ? target.stride >= push->info.rowBytes : target.row != nullptr);
  if (!usable) {
    Fail(push, kQvxNotQvx);
    return kQvxNotQvx;
  }
  push->target = target;
  push->haveTarget = true;
  if (push->have > push->info.pixelOffset) {
    // A header size below 16 still has 54 header bytes read, and the rows
    // may begin among them: those taken already go through now.
    const uint8_t* kept = push->head + push->info.pixelOffset;
    uint64_t keptBytes = push->have - push->info.pixelOffset;
    push->have = push->info.pixelOffset;
    push->phase = kRows;
    if (!BeginRow(push)) return push->status;
    TakeRows(push, &kept, &keptBytes);
  }
  return kQvxOk;
}

uint32_t QvxPushRowsDone(const QvxPush* push) { return push->row; }

uint32_t QvxPushTargetRow(const QvxPush* push, uint32_t r) { return TargetRow(push, r); }

QvxStatus QvxPushStatus(const QvxPush* push) { return push->phase == kFailed ? push->status : kQvxOk; }

QvxStatus QvxPushEnd(const QvxPush* push) {
  if (push->phase == kDone) return kQvxOk;
  if (push->phase == kFailed) return push->status;
  // As a whole decode says it: data ending inside the headers is no QVX picture.
  return push->have < kSignatureBytes || (push->phase == kHead && push->have < QvxHeaderEnd(push->head))
             ? kQvxNotQvx
             : kQvxTruncated;
}

namespace {

// Feeds bytes[0..size) and answers as the pull path sees it: kQvxOk while
// the decode may go on (all taken, or the header reached with *used set).
QvxStatus FeedAll(QvxPush* push, const uint8_t* bytes, uint64_t size, uint64_t* used, bool* header) {
  *header = false;
  QvxPushEvent event = QvxPushFeed(push, bytes, size, used);
  if (event == kQvxPushFailed) return QvxPushStatus(push);
  *header = event == kQvxPushHeader;
  return kQvxOk;
}

// After the header: a source too short for the rows is refused before any
// row is written, then the caller says where the rows go.
QvxStatus Prepare(QvxPush* push, uint64_t length, QvxPrepareRows prepare, void* context) {
  const QvxPictureInfo& info = *QvxPushInfo(push);
  if (info.pictureBytes > length) return kQvxTruncated;
  QvxRowTarget target = {};
  QvxStatus status = prepare(context, info, &target);
  if (status != kQvxOk) return status;
  return QvxPushSetTarget(push, target);
}

QvxStatus DecodeSpan(QvxPush* push, const uint8_t* bytes, uint64_t length, QvxPrepareRows prepare,
                     void* context) {
  uint64_t used = 0;
  bool header = false;
  QvxStatus status = FeedAll(push, bytes, length, &used, &header);
  if (status != kQvxOk || !header) return status != kQvxOk ? status : QvxPushEnd(push);
  status = Prepare(push, length, prepare, context);
  if (status != kQvxOk) return status;
  uint64_t more = 0;
  status = FeedAll(push, bytes + used, QvxPushInfo(push)->pictureBytes - used, &more, &header);
  return status != kQvxOk ? status : QvxPushEnd(push);
}

// From a reader: the head bytes first, then the rows from the first pixel
// byte in pieces; the gap between them is not read.
QvxStatus DecodeReader(QvxPush* push, const QvxSource& source, QvxPrepareRows prepare, void* context) {
  uint8_t first[kMaxHeadBytes];
  uint64_t at = 0, used = 0;
  bool header = false;
  while (!header) {
    uint64_t want = push->headNeed - push->have;
    if (want > source.length - at) return QvxPushEnd(push);
    if (!ReadSourceRange(source, at, first, want)) return kQvxReadError;
    QvxStatus status = FeedAll(push, first, want, &used, &header);
    if (status != kQvxOk) return status;
    at += used;
  }
  QvxStatus status = Prepare(push, source.length, prepare, context);
  if (status != kQvxOk) return status;
  const QvxPictureInfo& info = *QvxPushInfo(push);
  if (push->phase == kGap) {
    push->have = info.pixelOffset;
    push->phase = kRows;
    if (!BeginRow(push)) return push->status;
  }
  if (push->phase != kRows) return QvxPushEnd(push);
  uint64_t rowBytes = info.pictureBytes - push->have;
  uint64_t pieceBytes = rowBytes < kReadPiece ? rowBytes : kReadPiece;
  uint8_t* piece = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(pieceBytes)));
  if (piece == nullptr) return kQvxNoMemory;
  for (at = push->have; status == kQvxOk && at < info.pictureBytes; at += pieceBytes) {
    uint64_t n = info.pictureBytes - at < pieceBytes ? info.pictureBytes - at : pieceBytes;
    status = ReadSourceRange(source, at, piece, n) ? FeedAll(push, piece, n, &used, &header) : kQvxReadError;
  }
  std::free(piece);
  return status != kQvxOk ? status : QvxPushEnd(push);
}

}  // namespace

QvxStatus QvxDecodeRows(const QvxSource& source, const QvxRowSpec& wanted, QvxPrepareRows prepare, void* context) {
  QvxPush* push = QvxPushCreate(wanted);
  if (push == nullptr) return kQvxNoMemory;
  QvxStatus status = source.bytes != nullptr ? DecodeSpan(push, source.bytes, source.length, prepare, context)
                                             : DecodeReader(push, source, prepare, context);
  QvxPushDestroy(push);
  return status;
}
