// Plain memory and pread for the decoding core.
#include "native/qvx_native.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

// A reader over an open file from offset.
struct NativeFileSource {
  int fd;
  uint64_t offset;
  QvxSource source;
};

struct PlainBlocks {
  NativeBitmap* out;
  uint8_t* scratch;
};

uint8_t* Acquire(void* context, QvxBlock which, uint64_t bytes, QvxStatus* failure) {
  PlainBlocks* blocks = static_cast<PlainBlocks*>(context);
  // calloc hands large blocks out as fresh zero pages, touched only when written.
  uint8_t* memory = bytes <= SIZE_MAX ? static_cast<uint8_t*>(std::calloc(bytes ? bytes : 1, 1)) : nullptr;
  if (memory == nullptr) {
    *failure = kQvxNoMemory;
    return nullptr;
  }
  if (which == kQvxInfoBlock) {
    blocks->out->info = memory;
    blocks->out->infoBytes = bytes;
  } else if (which == kQvxPixelBlock) {
    blocks->out->pixels = memory;
    blocks->out->pixelBytes = bytes;
  } else {
    blocks->scratch = memory;
  }
  return memory;
}

void Release(void* context, QvxBlock which, bool keep) {
  PlainBlocks* blocks = static_cast<PlainBlocks*>(context);
  if (which == kQvxScratchBlock) {
    std::free(blocks->scratch);
    blocks->scratch = nullptr;
  } else if (!keep) {
    uint8_t** memory = which == kQvxInfoBlock ? &blocks->out->info : &blocks->out->pixels;
    std::free(*memory);
    *memory = nullptr;
  }
}

bool ReadRange(void* context, uint64_t offset, uint8_t* out, uint64_t count) {
  NativeFileSource* file = static_cast<NativeFileSource*>(context);
  uint64_t at = file->offset + offset;
  while (count > 0) {
    ssize_t got = pread(file->fd, out, count > (1u << 30) ? (1u << 30) : static_cast<size_t>(count),
                        static_cast<off_t>(at));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;  // an error, or a file that shrank
    out += got, at += static_cast<uint64_t>(got), count -= static_cast<uint64_t>(got);
  }
  return true;
}

QvxStatus Decode(const QvxSource& source, const QvxOptions& options, QvxProgress progress, void* context,
                 NativeBitmap* out) {
  std::memset(out, 0, sizeof *out);
  PlainBlocks blocks = {out, nullptr};
  QvxAllocator allocator = {Acquire, Release, &blocks};
  QvxStatus status = QvxDecode(source, options, allocator, progress, context);
  if (status != kQvxOk) std::memset(out, 0, sizeof *out);
  return status;
}

}  // namespace

void FreeNativeBitmap(NativeBitmap* bitmap) {
  std::free(bitmap->info);
  std::free(bitmap->pixels);
  std::memset(bitmap, 0, sizeof *bitmap);
}

QvxStatus DecodeQvxMemory(const uint8_t* bytes, uint64_t length, const QvxOptions& options, QvxProgress progress,
                          void* progressContext, NativeBitmap* out) {
  return Decode(QvxMemorySource(bytes, length), options, progress, progressContext, out);
}

QvxStatus DecodeQvxFile(int fd, uint64_t offset, uint64_t fileSize, const QvxOptions& options,
                        QvxProgress progress, void* progressContext, NativeBitmap* out) {
  NativeFileSource file = {fd, offset, {}};
  file.source = QvxSource{nullptr, offset <= fileSize ? fileSize - offset : 0, ReadRange, &file};
  return Decode(file.source, options, progress, progressContext, out);
}
