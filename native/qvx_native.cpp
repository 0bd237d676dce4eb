// Plain memory and pread for the decoding core.
#include "native/qvx_native.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

const uint64_t kHugePage = 2 << 20;
const uint64_t kLargeBlock = 4 * kHugePage;

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
  uint8_t* memory = which == kQvxPixelBlock ? AllocatePictureBlock(bytes)
                    : bytes <= SIZE_MAX    ? static_cast<uint8_t*>(std::calloc(bytes ? bytes : 1, 1))
                                           : nullptr;
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
  } else if (!keep && which == kQvxInfoBlock) {
    std::free(blocks->out->info);
    blocks->out->info = nullptr;
  } else if (!keep) {
    FreePictureBlock(blocks->out->pixels, blocks->out->pixelBytes);
    blocks->out->pixels = nullptr;
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

// Fresh mappings are zero pages; a large block is mapped with a huge page
// to spare and trimmed to an aligned one, so that the system can supply it
// in huge pages: writing 48 MiB into pages faulted in 4 KiB at a time costs
// as much as converting the rows.
uint8_t* AllocatePictureBlock(uint64_t bytes) {
  if (bytes < kLargeBlock) return static_cast<uint8_t*>(std::calloc(bytes ? bytes : 1, 1));
  if (bytes > SIZE_MAX - kHugePage) return nullptr;
  size_t size = static_cast<size_t>(bytes);
  void* mapped = mmap(nullptr, size + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) return nullptr;
  uintptr_t at = reinterpret_cast<uintptr_t>(mapped);
  uintptr_t aligned = (at + kHugePage - 1) / kHugePage * kHugePage;
  if (aligned > at) munmap(mapped, aligned - at);
  size_t tail = kHugePage - (aligned - at);
  if (tail > 0) munmap(reinterpret_cast<uint8_t*>(aligned) + size, tail);
  madvise(reinterpret_cast<void*>(aligned), size, MADV_HUGEPAGE);  // a hint only
  return reinterpret_cast<uint8_t*>(aligned);
}

void FreePictureBlock(uint8_t* block, uint64_t bytes) {
  if (block == nullptr) return;
  if (bytes < kLargeBlock)
    std::free(block);
  else
    munmap(block, static_cast<size_t>(bytes));
}

void FreeNativeBitmap(NativeBitmap* bitmap) {
  std::free(bitmap->info);
  FreePictureBlock(bitmap->pixels, bitmap->pixelBytes);
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
