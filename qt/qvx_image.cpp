// The Qt plug-in's adapter over the decoding core. The device is read once,
// front to back, through a range reader that keeps the picture's first
// bytes (headers and colours, which the decoder reads again); rows land
// straight in the QImage's memory wherever the delivered bitmap has the
// QImage's layout (1, 8 and 24 bits), and are turned top row first there.
#include "qt/qvx_image.h"

#include <QImageIOHandler>
#include <QImageReader>
#include <QVector>

#include <sys/mman.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "decode/header.h"

namespace {

const uint64_t kDeliveredHeaderBytes = 40;

// 24-bit rows: blue, green, red become red, green, blue.
void RowBgrToRgb(const uint8_t* src, uint8_t* dst, int32_t width) {
  for (int32_t x = 0; x < width; ++x, src += 3, dst += 3) {
    dst[0] = src[2];
    dst[1] = src[1];
    dst[2] = src[0];
  }
}

// The picture's bytes from a device, taken in order. Bytes below head's end
// are kept and may be asked for again; later ones only once.
struct DeviceSource {
  QIODevice* device;
  std::vector<uint8_t> head;
  uint64_t taken;  // bytes of the picture taken from the device
};

bool Take(DeviceSource* source, uint8_t* out, uint64_t count) {
  while (count > 0) {
    qint64 want = count > (1u << 30) ? (1 << 30) : static_cast<qint64>(count);
    qint64 got = out != nullptr ? source->device->read(reinterpret_cast<char*>(out), want)
                                : source->device->skip(want);
    if (got == 0 && source->device->isSequential() && source->device->waitForReadyRead(kQvxWaitMs)) continue;
    if (got <= 0) return false;
    if (out != nullptr) out += got;
    count -= static_cast<uint64_t>(got);
    source->taken += static_cast<uint64_t>(got);
  }
  return true;
}

bool ReadRange(void* context, uint64_t offset, uint8_t* out, uint64_t count) {
  DeviceSource* source = static_cast<DeviceSource*>(context);
  if (offset < source->head.size()) {
    uint64_t n = source->head.size() - offset < count ? source->head.size() - offset : count;
    std::memcpy(out, source->head.data() + offset, n);
    offset += n, out += n, count -= n;
  }
  if (count == 0) return true;
  if (offset < source->taken) return false;  // already gone by on a one-way device
  return Take(source, nullptr, offset - source->taken) && Take(source, out, count);
}

// The decode's blocks: the pixel block is the image's own memory when
// direct is set, plain zeroed memory otherwise.
struct Blocks {
  QImage* direct;
  uint8_t* info;
  uint8_t* pixels;
  uint8_t* scratch;
};

uint8_t* Acquire(void* context, QvxBlock which, uint64_t bytes, QvxStatus* failure) {
  Blocks* blocks = static_cast<Blocks*>(context);
  if (which == kQvxPixelBlock && blocks->direct != nullptr) {
    // The image's rows have the delivered stride (both round up to 4 bytes).
    if (bytes == static_cast<uint64_t>(blocks->direct->sizeInBytes())) return blocks->pixels = blocks->direct->bits();
    *failure = kQvxNotQvx;
    return nullptr;
  }
  uint8_t* memory = bytes <= SIZE_MAX ? static_cast<uint8_t*>(std::calloc(bytes ? bytes : 1, 1)) : nullptr;
  if (memory == nullptr) {
    *failure = kQvxNoMemory;
    return nullptr;
  }
  (which == kQvxInfoBlock ? blocks->info : which == kQvxPixelBlock ? blocks->pixels : blocks->scratch) = memory;
  return memory;
}

void Release(void* context, QvxBlock which, bool keep) {
  Blocks* blocks = static_cast<Blocks*>(context);
  if (keep) return;  // the delivered blocks of a success are freed after use
  uint8_t*& memory = which == kQvxInfoBlock ? blocks->info : which == kQvxPixelBlock ? blocks->pixels : blocks->scratch;
  if (which != kQvxPixelBlock || blocks->direct == nullptr) std::free(memory);
  memory = nullptr;
}

// Rows in stored order in the image's memory, turned top row first, blue
// and red exchanged for 24-bit rows.
void TurnRows(const QvxPlan& plan, QImage* image) {
  int rows = image->height();
  qsizetype stride = image->bytesPerLine();
  bool bottomUp = plan.height > 0;
  bool rgb = plan.outputDepth == 24;
  std::vector<uint8_t> spare(static_cast<size_t>(stride));
  for (int y = 0; y < (bottomUp ? rows / 2 : 0); ++y) {
    uint8_t* top = image->scanLine(y);
    uint8_t* bottom = image->scanLine(rows - 1 - y);
    std::memcpy(spare.data(), top, static_cast<size_t>(stride));
    if (rgb) {
      RowBgrToRgb(bottom, top, plan.width);
      RowBgrToRgb(spare.data(), bottom, plan.width);
    } else {
      std::memcpy(top, bottom, static_cast<size_t>(stride));
      std::memcpy(bottom, spare.data(), static_cast<size_t>(stride));
    }
  }
  // Rows that stay where they are: all of a top-down picture, the middle
  // one of a bottom-up picture with an odd count.
  if (!rgb) return;
  for (int y = bottomUp ? rows / 2 : 0; y < (bottomUp ? (rows + 1) / 2 : rows); ++y) {
    std::memcpy(spare.data(), image->scanLine(y), static_cast<size_t>(stride));
    RowBgrToRgb(spare.data(), image->scanLine(y), plan.width);
  }
}

// Rows of 4-bit indexes from the plain pixel block into the image's 8-bit rows.
void WidenRows(const QvxPlan& plan, const uint8_t* pixels, QImage* image) {
  uint64_t rows = plan.rows;
  for (uint64_t y = 0; y < rows; ++y) {
    const uint8_t* src = pixels + (plan.height > 0 ? rows - 1 - y : y) * plan.outputStride;
    uint8_t* dst = image->scanLine(static_cast<int>(y));
    for (int32_t x = 0; x < plan.width; ++x) dst[x] = (src[x / 2] >> (x & 1 ? 0 : 4)) & 15;
  }
}

QVector<QRgb> ColourTable(const QvxPlan& plan, const uint8_t* info) {
  QVector<QRgb> table(plan.outputDepth <= 8 ? 1 << plan.outputDepth : 0);
  for (int i = 0; i < table.size(); ++i) {
    const uint8_t* slot = info + kDeliveredHeaderBytes + 4 * i;
    table[i] = qRgb(slot[2], slot[1], slot[0]);
  }
  return table;
}

QString Truncated(uint64_t have, uint64_t need) {
  return QStringLiteral("the QVX picture is truncated: %1 of %2 bytes").arg(have).arg(need);
}

// A picture-sized image asks for huge pages before anything is written
// into it: faulting in a fresh 48 MiB block page by page takes longer than
// reading the file into it. A hint only; its memory stays the QImage's own.
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
  bool made = QImageIOHandler::allocateImage(head.size, head.format, image);
  int limit = QImageReader::allocationLimit();
  uint64_t bits = static_cast<uint64_t>(head.size.width()) * QImage::toPixelFormat(head.format).bitsPerPixel();
  uint64_t bytes = static_cast<uint64_t>(head.size.height()) * ((bits + 31) / 32 * 4);
  if (!made && limit > 0 && bytes > (static_cast<uint64_t>(limit) << 20)) {
    *why = QStringLiteral("the QVX picture is too large: %1 MiB over the allocation limit of %2 MiB")
               .arg((bytes + (1 << 20) - 1) >> 20).arg(limit);
    return false;
  }
#else
  *image = QImage(head.size, head.format);
  bool made = !image->isNull();
#endif
  if (!made) *why = QStringLiteral("not enough memory for the QVX picture");
  else AdviseHugePages(image->bits(), image->sizeInBytes());
  return made;
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
  // The default depths; the processor does not change the plan.
  QvxOptions options = {};
  options.maxBlockBytes = UINT64_MAX;
  QvxPlan& plan = head->plan;
  if (QvxPlanDecode(head->header, options, UINT64_MAX, &plan) != kQvxOk) return QvxHeadKind::kNotQvx;
  // 1 and 8 bits as they are, 2 and 4 widened to 8, everything else 24-bit RGB.
  int depth = plan.outputDepth == 1 ? 1 : plan.outputDepth <= 8 ? 8 : 24;
  head->format = depth == 1 ? QImage::Format_Mono : depth == 8 ? QImage::Format_Indexed8 : QImage::Format_RGB888;
  head->pictureBytes = plan.pixelOffset + plan.sourceStride * plan.rows;
  // A QImage row's bits are counted in an int.
  if (plan.rows > INT_MAX || static_cast<uint64_t>(plan.width) * depth > INT_MAX - 31) return QvxHeadKind::kTooLarge;
  head->size = QSize(plan.width, static_cast<int>(plan.rows));
  return QvxHeadKind::kQvx;
}

bool ReadQvxImage(QIODevice* device, const QvxHead& head, QImage* image, QString* why) {
  const QvxPlan& plan = head.plan;
  if (!device->isSequential()) {
    qint64 left = device->size() - device->pos();
    uint64_t have = left > 0 ? static_cast<uint64_t>(left) : 0;
    if (have < head.pictureBytes) {
      *why = Truncated(have, head.pictureBytes);
      return false;
    }
  }
  QImage decoded;
  if (!AllocateImage(head, &decoded, why)) return false;

  // The headers and the colour table are read again.
  DeviceSource reader = {device, {}, 0};
  uint64_t keep = plan.paletteOffset + 4 * plan.colourCount;
  if (keep < kQvxHeaderBytes) keep = kQvxHeaderBytes;
  if (keep > head.pictureBytes) keep = head.pictureBytes;
  reader.head.resize(keep);
  if (!Take(&reader, reader.head.data(), keep)) {
    *why = Truncated(reader.taken, head.pictureBytes);
    return false;
  }
  QvxSource source = {nullptr, head.pictureBytes, ReadRange, &reader};

  // 2- and 4-bit rows are delivered as 4-bit rows, which a QImage does not hold.
  bool direct = plan.outputDepth != 4;
  Blocks blocks = {direct ? &decoded : nullptr, nullptr, nullptr, nullptr};
  QvxAllocator allocator = {Acquire, Release, &blocks};
  QvxStatus status = QvxDecode(source, QvxDefaultOptions(), allocator, nullptr, nullptr);
  if (status == kQvxOk) {
    if (direct) {
      TurnRows(plan, &decoded);
      // Converted rows leave their padding unwritten (the decoder never
      // reads the pixel block back).
      qsizetype used = (static_cast<qsizetype>(plan.width) * decoded.depth() + 7) / 8;
      for (int y = 0; y < decoded.height(); ++y)
        std::memset(decoded.scanLine(y) + used, 0, static_cast<size_t>(decoded.bytesPerLine() - used));
    } else {
      WidenRows(plan, blocks.pixels, &decoded);
    }
    if (plan.outputDepth <= 8) decoded.setColorTable(ColourTable(plan, blocks.info));
    if (head.header.biXPelsPerMeter > 0) decoded.setDotsPerMeterX(head.header.biXPelsPerMeter);
    if (head.header.biYPelsPerMeter > 0) decoded.setDotsPerMeterY(head.header.biYPelsPerMeter);
  }
  std::free(blocks.info);
  if (!direct) std::free(blocks.pixels);
  switch (status) {
    case kQvxOk:
      *image = decoded;
      return true;
    case kQvxReadError:
    case kQvxTruncated: *why = Truncated(reader.taken, head.pictureBytes); break;
    case kQvxNoMemory:
    case kQvxLockFailed: *why = QStringLiteral("not enough memory to decode the QVX picture"); break;
    default: *why = QStringLiteral("not a QVX picture that can be decoded"); break;
  }
  return false;
}
