// Recognition of QVX data and the picture information entry.
#include <cstring>

#include "decode/bytes.h"
#include "decode/header.h"
#include "decode/options.h"
#include "plugin/source.h"

namespace {

const uint32_t kRecognitionReadBytes = 1024;
const uint32_t kCompressionNone = 0;  // BI_RGB

// Copies length bytes from offset and complements the copy.
void ComplementedCopy(const uint8_t* bytes, uint32_t offset, uint32_t length, uint8_t* copy) {
  std::memcpy(copy, bytes + offset, length);
  InvertBytes(copy, static_cast<int32_t>(length));
}

// The 40 information-header bytes at offsets 14..53, complemented. A short
// header of 16 to 39 bytes (the OS/2 2.x sizes) ends before some fields;
// the bytes past it belong to the colour table, so they read as zero.
bool IsShortHeader(uint32_t storedSize) {
  return storedSize >= kShortHeaderMin && storedSize < kInfoHeaderBytes;
}

// Where the information-header bytes that are read end.
uint32_t InfoHeaderEnd(uint32_t storedSize) {
  return IsShortHeader(storedSize) ? kFileHeaderBytes + storedSize : kInfoHeaderEnd;
}

// Reads only the bytes up to InfoHeaderEnd; the caller checked them.
void InfoHeaderCopy(const uint8_t* bytes, uint32_t storedSize, uint8_t info[kInfoHeaderBytes]) {
  uint32_t have = InfoHeaderEnd(storedSize) - kFileHeaderBytes;
  std::memset(info, 0, kInfoHeaderBytes);
  ComplementedCopy(bytes, kFileHeaderBytes, have, info);
}

// The recognition rules over the first bytes of the data. haveFileSize
// says whether the whole file's size is known (file handle input); the
// bytes must hold at least the 54 bytes of an information header.
int Recognise(const uint8_t* bytes, bool haveFileSize, uint32_t fileSize) {
  uint8_t head[kSignatureBytes];
  ComplementedCopy(bytes, 0, kSignatureBytes, head);
  if (head[0] != 'B' || head[1] != 'M') return 0;

  uint32_t bfSize = ReadU32(head + 2);
  uint32_t bfOffBits = ReadU32(head + 10);
  uint32_t biSize = ReadU32(head + 14);
  if (biSize > kMaxRecognisedHeaderSize) return 0;
  if (static_cast<uint64_t>(biSize) + kFileHeaderBytes > bfOffBits) return 0;
  if (haveFileSize && fileSize < bfSize) return 0;

  if (biSize == kCoreHeaderSize) {
    uint8_t core[kCoreHeaderEnd - kFileHeaderBytes];
    ComplementedCopy(bytes, kFileHeaderBytes, sizeof core, core);
    uint16_t bits = ReadU16(core + 10);
    return OutputDepthFor(bits) != 0 ? 1 : 0;
  }
  uint8_t info[kInfoHeaderBytes];
  InfoHeaderCopy(bytes, biSize, info);
  uint16_t bits = ReadU16(info + 14);
  if (OutputDepthFor(bits) == 0) return 0;
  return ReadU32(info + 16) == kCompressionNone ? 1 : 0;
}

int RecogniseFromHandle(HANDLE file) {
  DWORD size = GetFileSize(file, nullptr);
  if (size == INVALID_FILE_SIZE || size < kSignatureBytes) return 0;
  HLOCAL block = LocalAlloc(LMEM_MOVEABLE | LMEM_ZEROINIT, kRecognitionReadBytes);
  if (block == nullptr) return 0;
  uint8_t* bytes = static_cast<uint8_t*>(LocalLock(block));
  if (bytes == nullptr) {
    LocalFree(block);
    return 0;
  }
  // Read from wherever the caller left the handle; bytes the file does not
  // supply stay zero in the zero-filled block.
  DWORD read = 0;
  int answer = 0;
  if (ReadFile(file, bytes, kRecognitionReadBytes, &read, nullptr))
    answer = Recognise(bytes, true, size);
  LocalUnlock(block);
  LocalFree(block);
  return answer;
}

// Reads only the header bytes that the stored header size calls for.
int RecogniseFromMemory(const uint8_t* first) {
  uint8_t copy[kInfoHeaderEnd] = {0};
  std::memcpy(copy, first, kSignatureBytes);
  uint8_t size[4];
  ComplementedCopy(copy, kFileHeaderBytes, sizeof size, size);
  uint32_t end = ReadU32(size) == kCoreHeaderSize ? kCoreHeaderEnd : kInfoHeaderEnd;
  std::memcpy(copy + kSignatureBytes, first + kSignatureBytes, end - kSignatureBytes);
  return Recognise(copy, false, 0);
}

}  // namespace

bool HasQvxSignature(const uint8_t* bytes, uint64_t length) {
  return length >= 2 && bytes[0] == kStoredSignature0 && bytes[1] == kStoredSignature1;
}

bool NormalizeHeader(const uint8_t* bytes, uint64_t length, NormalizedHeader* header) {
  if (length < kSignatureBytes) return false;
  uint8_t head[kSignatureBytes];
  ComplementedCopy(bytes, 0, kSignatureBytes, head);
  std::memset(header, 0, sizeof *header);
  header->bfSize = ReadU32(head + 2);
  header->bfOffBits = ReadU32(head + 10);
  header->storedSize = ReadU32(head + 14);

  if (header->storedSize == kCoreHeaderSize) {
    if (length < kCoreHeaderEnd) return false;
    uint8_t core[kCoreHeaderEnd - kFileHeaderBytes];
    ComplementedCopy(bytes, kFileHeaderBytes, sizeof core, core);
    header->biSize = 40;
    header->biWidth = ReadS16(core + 4);
    header->biHeight = ReadS16(core + 6);
    header->biPlanes = ReadU16(core + 8);
    header->biBitCount = ReadU16(core + 10);
    return true;
  }
  // A short header needs only its own bytes; the rest of it reads as zero.
  if (length < InfoHeaderEnd(header->storedSize)) return false;
  uint8_t info[kInfoHeaderBytes];
  InfoHeaderCopy(bytes, header->storedSize, info);
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
  return true;
}

uint64_t PaletteOffset(const NormalizedHeader& header) {
  if (header.storedSize == kCoreHeaderSize) return kCoreHeaderEnd;
  return static_cast<uint64_t>(kFileHeaderBytes) + header.storedSize;
}

extern "C" int WINAPI IsSupported(char*, ULONG_PTR handleOrBytes) {
  // Values below 0x10000 are file handles; anything else points to the bytes.
  if ((handleOrBytes & ~static_cast<ULONG_PTR>(0xFFFF)) == 0)
    return RecogniseFromHandle(reinterpret_cast<HANDLE>(handleOrBytes));
  return RecogniseFromMemory(reinterpret_cast<const uint8_t*>(handleOrBytes));
}

extern "C" ResultCode WINAPI GetPictureInfo(char* source, int32_t offsetOrLength,
                                            uint32_t sourceFlags, PictureInfo* pictureInfo) {
  SourceImage image;
  // A file is read with one spare zero byte past its end.
  ResultCode result = OpenSourceImage(source, offsetOrLength, sourceFlags, 1, &image);
  if (result != kResultSuccess) return result;

  NormalizedHeader header;
  if (!HasQvxSignature(image.bytes, image.length) ||
      !NormalizeHeader(image.bytes, image.length, &header)) {
    result = kResultNotQvx;
  } else if (pictureInfo != nullptr) {
    pictureInfo->left = 0;
    pictureInfo->top = 0;
    pictureInfo->width = header.biWidth;
    pictureInfo->height = header.biHeight;
    pictureInfo->horizontalDensity = 1;
    pictureInfo->verticalDensity = 1;
    pictureInfo->bitDepth = static_cast<int16_t>(OutputDepthFor(header.biBitCount));
    pictureInfo->textInfoHandle = 0;
  }
  ReleaseSourceImage(&image);
  return result;
}
