// The Qt plug-in's adapter over the decoding core. The device is read once,
// front to back, in pieces handed to the core's push decoder; once the
// headers are in, the QImage is made and the decoder writes its rows
// straight into the image's memory, top row first: colour-table indices for
// paletted pictures (packed to bits for 1-bit ones), RGB for the others.
#include "qt/qvx_image.h"

#include <QImageIOHandler>
#include <QImageReader>
#include <QVector>

#include <sys/mman.h>

#include <climits>
#include <cstring>
#include <memory>
#include <new>

#include "decode/header.h"
#include "decode/qvx_rows.h"

namespace {

// The rows of 16-, 24- and 32-bit pictures: the layout the decoder writes
// and the QImage that holds it as it is.
const QvxPixelLayout kColourLayout = kQvxRgb8;
const QImage::Format kColourFormat = QImage::Format_RGB888;
const int kColourDepth = 24;

// Bytes taken from the device at a time: large enough that a file is read
// in few calls, small enough to stay in the processor's cache until the
// decoder has turned it into rows.
const uint64_t kPieceBytes = 256 * 1024;

QString Truncated(uint64_t have, uint64_t need) {
  return QStringLiteral("the QVX picture is truncated: %1 of %2 bytes").arg(have).arg(need);
}

// A device says it failed by answering -1. A one-way device answers so at
// its end too; it failed only when it says why.
bool DeviceFailed(const QIODevice* device, qint64 got) {
  if (got >= 0) return false;
  QString said = device->errorString();  // Qt's text when none was set, translated or not
  return !device->isSequential() || (said != QIODevice::tr("Unknown error") && said != QLatin1String("Unknown error"));
}

// A picture-sized image asks for huge pages before anything is written
// into it: faulting in a fresh 48 MiB block page by page takes longer than
// decoding the file into it. A hint only; its memory stays the QImage's own.
const uintptr_t kHugePage = 2 << 20;

void AdviseHugePages(uint8_t* bits, qsizetype bytes) {
  uintptr_t start = (reinterpret_cast<uintptr_t>(bits) + kHugePage - 1) & ~(kHugePage - 1);
  uintptr_t end = (reinterpret_cast<uintptr_t>(bits) + static_cast<uintptr_t>(bytes)) & ~(kHugePage - 1);
  if (end > start) madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
}

// A fresh image of the picture's size and form; Qt 6 refuses one over
// QImageReader's allocation limit.
bool AllocateImage(const QvxHead& head, QImage* image, QString* why) {
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
  // Weighed as Qt weighs it: QImageIOHandler counts every pixel at 32 bits
  // or more, whatever the format holds.
  int limit = QImageReader::allocationLimit();
  int depth = QImage::toPixelFormat(head.format).bitsPerPixel();
  uint64_t bits = static_cast<uint64_t>(head.size.width()) * (depth > 32 ? depth : 32);
  uint64_t bytes = static_cast<uint64_t>(head.size.height()) * ((bits + 31) / 32 * 4);
  if (limit > 0 && bytes > (static_cast<uint64_t>(limit) << 20)) {
    *why = QStringLiteral("the QVX picture is too large: %1 MiB over the allocation limit of %2 MiB")
               .arg((bytes + (1 << 20) - 1) >> 20).arg(limit);
    return false;
  }
  bool made = QImageIOHandler::allocateImage(head.size, head.format, image);
#else
  *image = QImage(head.size, head.format);
  bool made = !image->isNull();
#endif
  if (!made) *why = QStringLiteral("not enough memory for the QVX picture");
  else AdviseHugePages(image->bits(), image->sizeInBytes());
  return made;
}

struct PushDeleter {
  void operator()(QvxPush* push) const { QvxPushDestroy(push); }
};

// 1-bit pictures stay one bit a pixel (Format_Mono, most significant bit
// first): the decoder writes each row's indices into one spare row, which
// is packed into the image once the decoder asks for the next row, or the
// picture ends.
struct MonoRows {
  QImage* image;
  std::unique_ptr<uint8_t[]> indices;
  int pending;  // the image row the spare row holds; -1 for none
};

void PackPending(MonoRows* mono) {
  if (mono->pending < 0) return;
  const uint8_t* src = mono->indices.get();
  uint8_t* dst = mono->image->scanLine(mono->pending);
  int width = mono->image->width();
  for (int x = 0; x < width; x += 8) {
    uint8_t bits = 0;
    for (int i = 0; i < 8; ++i) bits = static_cast<uint8_t>(bits << 1 | (x + i < width ? src[x + i] & 1 : 0));
    dst[x / 8] = bits;
  }
  mono->pending = -1;
}

uint8_t* MonoRow(void* context, uint32_t y) {
  MonoRows* mono = static_cast<MonoRows*>(context);
  PackPending(mono);
  mono->pending = static_cast<int>(y);
  return mono->indices.get();
}

// The headers are in: the image, its colour table and density, and the
// image's rows as the decoder's target. False with why set when the image
// cannot be had or is not the picture the peeked header announced.
bool Prepare(QvxPush* push, const QvxHead& head, QImage* image, MonoRows* mono, QString* why) {
  const QvxPictureInfo& info = *QvxPushInfo(push);
  bool indexed = info.layout == kQvxIndex8;
  QImage::Format format = !indexed ? kColourFormat : info.bits == 1 ? QImage::Format_Mono : QImage::Format_Indexed8;
  if (QSize(info.width, static_cast<int>(info.rows)) != head.size || format != head.format) {
    *why = QStringLiteral("not a QVX picture that can be decoded: the device changed its header");
    return false;
  }
  if (!AllocateImage(head, image, why)) return false;
  QvxRowTarget target = {image->bits(), static_cast<uint64_t>(image->bytesPerLine()), nullptr, nullptr};
  if (format == QImage::Format_Mono) {
    mono->image = image;
    mono->indices.reset(new (std::nothrow) uint8_t[info.rowBytes]);
    if (mono->indices == nullptr) {
      *why = QStringLiteral("not enough memory to decode the QVX picture");
      return false;
    }
    target = {nullptr, 0, MonoRow, mono};
  }
  if (indexed) {
    // Every index the stored bits can hold has its colour (black past the
    // table the file stores).
    QVector<QRgb> table(1 << info.bits);
    for (int i = 0; i < table.size(); ++i) table[i] = qRgb(info.colours[i][0], info.colours[i][1], info.colours[i][2]);
    image->setColorTable(table);
  }
  if (info.xPelsPerMeter > 0) image->setDotsPerMeterX(info.xPelsPerMeter);
  if (info.yPelsPerMeter > 0) image->setDotsPerMeterY(info.yPelsPerMeter);
  if (QvxPushSetTarget(push, target) != kQvxOk) {
    *why = QStringLiteral("not a QVX picture that can be decoded");
    return false;
  }
  return true;
}

}  // namespace

QvxHeadKind ReadQvxHead(const QByteArray& first, QvxHead* head) {
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(first.constData());
  uint64_t n = static_cast<uint64_t>(first.size());
  if (n == 0 || bytes[0] != kStoredSignature0 || (n >= 2 && bytes[1] != kStoredSignature1))
    return QvxHeadKind::kNotQvx;
  if (n < kSignatureBytes || n < QvxHeaderEnd(bytes)) return QvxHeadKind::kTruncated;
  *head = QvxHead();
  if (QvxReadHeader(bytes, n, &head->header) != kQvxOk || !QvxIsSupported(head->header, false, 0))
    return QvxHeadKind::kNotQvx;
  // The depths the decoder delivers with the plug-in's options clear.
  QvxOptions options = {};
  options.maxBlockBytes = UINT64_MAX;
  QvxPlan& plan = head->plan;
  if (QvxPlanDecode(head->header, options, UINT64_MAX, &plan) != kQvxOk) return QvxHeadKind::kNotQvx;
  // 1-bit pictures as bits, other paletted ones as one index byte a pixel,
  // everything else in colour.
  int depth = plan.bits == 1 ? 1 : plan.bits <= 8 ? 8 : kColourDepth;
  head->format = depth == 1 ? QImage::Format_Mono : depth == 8 ? QImage::Format_Indexed8 : kColourFormat;
  // Rows may end inside the 54 header bytes of a header size below 16: the
  // headers are read whole all the same.
  uint64_t rowsEnd = plan.pixelOffset + plan.sourceStride * plan.rows, headerEnd = QvxHeaderEnd(bytes);
  head->pictureBytes = rowsEnd > headerEnd ? rowsEnd : headerEnd;
  // A QImage row's bits are counted in an int.
  if (plan.rows > INT_MAX || static_cast<uint64_t>(plan.width) * depth > INT_MAX - 31) return QvxHeadKind::kTooLarge;
  head->size = QSize(plan.width, static_cast<int>(plan.rows));
  return QvxHeadKind::kQvx;
}

bool ReadQvxImage(QIODevice* device, const QvxHead& head, QImage* image, QString* why) {
  const uint64_t need = head.pictureBytes;
  if (!device->isSequential()) {
    qint64 left = device->size() - device->pos();
    uint64_t have = left > 0 ? static_cast<uint64_t>(left) : 0;
    if (have < need) {
      *why = Truncated(have, need);
      return false;
    }
  }
  QvxRowSpec wanted = QvxDefaultRowSpec();
  wanted.layout = kColourLayout;
  wanted.indices = true;
  wanted.topFirst = true;
  std::unique_ptr<QvxPush, PushDeleter> push(QvxPushCreate(wanted));
  const uint64_t pieceBytes = need < kPieceBytes ? need : kPieceBytes;
  std::unique_ptr<uint8_t[]> piece(new (std::nothrow) uint8_t[pieceBytes]);
  if (push == nullptr || piece == nullptr) {
    *why = QStringLiteral("not enough memory to decode the QVX picture");
    return false;
  }

  // Never more than the picture's bytes are taken, so the device is left
  // right after its last row.
  QImage decoded;
  MonoRows mono = {nullptr, nullptr, -1};
  uint64_t taken = 0;
  QvxPushEvent event = kQvxPushNeedMore;
  while (taken < need && event != kQvxPushFinished && event != kQvxPushFailed) {
    qint64 want = static_cast<qint64>(need - taken < pieceBytes ? need - taken : pieceBytes);
    qint64 got = device->read(reinterpret_cast<char*>(piece.get()), want);
    if (got == 0 && device->isSequential() && device->waitForReadyRead(kQvxWaitMs)) continue;
    if (DeviceFailed(device, got)) {
      *why = QStringLiteral("read error after %1 of %2 bytes: %3").arg(taken).arg(need).arg(device->errorString());
      return false;
    }
    if (got <= 0) break;
    taken += static_cast<uint64_t>(got);
    const uint8_t* bytes = piece.get();
    uint64_t left = static_cast<uint64_t>(got);
    while (left > 0 && event != kQvxPushFinished && event != kQvxPushFailed) {
      uint64_t used = 0;
      event = QvxPushFeed(push.get(), bytes, left, &used);
      bytes += used, left -= used;
      if (event == kQvxPushHeader && !Prepare(push.get(), head, &decoded, &mono, why)) return false;
    }
  }
  switch (QvxPushEnd(push.get())) {
    case kQvxOk: break;
    case kQvxTruncated: *why = Truncated(taken, need); return false;
    case kQvxNoMemory: *why = QStringLiteral("not enough memory to decode the QVX picture"); return false;
    default: *why = QStringLiteral("not a QVX picture that can be decoded"); return false;
  }
  PackPending(&mono);
  // The decoder writes each row's pixels only; the rest of the row is the image's padding.
  qsizetype used = (static_cast<qsizetype>(decoded.width()) * decoded.depth() + 7) / 8;
  if (decoded.bytesPerLine() > used)
    for (int y = 0; y < decoded.height(); ++y)
      std::memset(decoded.scanLine(y) + used, 0, static_cast<size_t>(decoded.bytesPerLine() - used));
  *image = decoded;
  return true;
}
