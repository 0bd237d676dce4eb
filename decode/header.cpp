// Reading and recognising QVX headers. Every complementing happens in
// private copies; the picture's bytes are only read.
#include "decode/header.h"

#include <cstring>

#include "decode/bytes.h"
#include "decode/qvx.h"

namespace {

// Copies length bytes from offset and complements the copy.
void ComplementedCopy(const uint8_t* bytes, uint32_t offset, uint32_t length, uint8_t* copy) {
  std::memcpy(copy, bytes + offset, length);
  InvertBytes(copy, static_cast<int32_t>(length), false);
}

bool IsShortHeader(uint32_t storedSize) {
  return storedSize >= kShortHeaderMin && storedSize < kInfoHeaderBytes;
}

}  // namespace

bool ReadSourceRange(const QvxSource& source, uint64_t offset, uint8_t* out, uint64_t count) {
  if (count == 0) return true;
  if (source.bytes != nullptr) {
    std::memcpy(out, source.bytes + offset, static_cast<size_t>(count));
    return true;
  }
  return source.read != nullptr && source.read(source.context, offset, out, count);
}

uint32_t QvxHeaderEnd(const uint8_t* first) {
  uint8_t size[4];
  ComplementedCopy(first, kFileHeaderBytes, sizeof size, size);
  uint32_t storedSize = ReadU32(size);
  // After the core header, after a short header (the bytes past it belong
  // to the colour table), or after the 40 bytes of the information form.
  if (storedSize == kCoreHeaderSize) return kCoreHeaderEnd;
  return IsShortHeader(storedSize) ? kFileHeaderBytes + storedSize : kInfoHeaderEnd;
}

QvxSource QvxMemorySource(const uint8_t* bytes, uint64_t length) {
  QvxSource source = {};
  source.bytes = bytes;
  // A null span holds nothing, whatever length comes with it.
  source.length = bytes != nullptr ? length : 0;
  return source;
}

QvxStatus QvxReadHeader(const uint8_t* first, uint64_t available, QvxHeader* header) {
  if (available < kSignatureBytes || first[0] != kStoredSignature0 || first[1] != kStoredSignature1)
    return kQvxNotQvx;
  uint8_t head[kSignatureBytes];
  ComplementedCopy(first, 0, kSignatureBytes, head);
  std::memset(header, 0, sizeof *header);
  header->bfSize = ReadU32(head + 2);
  header->bfOffBits = ReadU32(head + 10);
  header->storedSize = ReadU32(head + 14);
  uint32_t end = QvxHeaderEnd(first);
  if (available < end) return kQvxNotQvx;

  if (header->storedSize == kCoreHeaderSize) {
    uint8_t core[kCoreHeaderEnd - kFileHeaderBytes];
    ComplementedCopy(first, kFileHeaderBytes, sizeof core, core);
    header->biSize = kInfoHeaderBytes;
    header->biWidth = ReadS16(core + 4);
    header->biHeight = ReadS16(core + 6);
    header->biPlanes = ReadU16(core + 8);
    header->biBitCount = ReadU16(core + 10);
    return kQvxOk;
  }
  // Fields past a short header stay zero.
  uint8_t info[kInfoHeaderBytes] = {0};
  ComplementedCopy(first, kFileHeaderBytes, end - kFileHeaderBytes, info);
  header->biSize = header->storedSize;
  header->biWidth = ReadS32(info + 4);
  header->biHeight = ReadS32(info + 8);
  header->biPlanes = ReadU16(info + 12);
  header->biBitCount = ReadU16(info + 14);
  header->biCompression = ReadU32(info + 16);
  header->biSizeImage = ReadU32(info + 20);
  header->biXPelsPerMeter = ReadS32(info + 24);
  header->biYPelsPerMeter = ReadS32(info + 28);
  header->biClrUsed = ReadU32(info + 32);
  header->biClrImportant = ReadU32(info + 36);
  return kQvxOk;
}

QvxStatus QvxReadSourceHeader(const QvxSource& source, QvxHeader* header) {
  uint8_t first[kQvxHeaderBytes];
  uint64_t available = source.length < kQvxHeaderBytes ? source.length : kQvxHeaderBytes;
  if (available < kSignatureBytes) return kQvxNotQvx;
  if (!ReadSourceRange(source, 0, first, available)) return kQvxReadError;
  return QvxReadHeader(first, available, header);
}

bool QvxIsSupported(const QvxHeader& header, bool haveFileSize, uint64_t fileSize) {
  if (header.storedSize > kMaxRecognisedHeaderSize) return false;
  if (static_cast<uint64_t>(header.storedSize) + kFileHeaderBytes > header.bfOffBits) return false;
  if (haveFileSize && fileSize < header.bfSize) return false;
  // The depths that are delivered under every option setting.
  QvxOptions any = {};
  if (QvxOutputDepth(header.biBitCount, any) == 0) return false;
  return header.storedSize == kCoreHeaderSize || header.biCompression == kBiRgb;
}
